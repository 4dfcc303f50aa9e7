// The component library's cursors: a pointing hand and a dragging hand, loaded
// from the program's resources "QV_HANDCUR" and "QV_DRAGCUR" into the
// screen's cursor list by the unit's initialization.
#pragma once

#include "Controls.h"

constexpr TCursor crQvHand = 14000;
constexpr TCursor crQvDrag = 14001;

// The unit's initialization (after the forms unit's: it needs Screen).
void InitQvCursors();
