#include "QvCursors.h"

#include "Forms.h"

void InitQvCursors() {
  HINSTANCE module = GetModuleHandleA(nullptr);
  Screen->SetCursors(crQvHand, LoadCursorA(module, "QV_HANDCUR"));
  Screen->SetCursors(crQvDrag, LoadCursorA(module, "QV_DRAGCUR"));
}
