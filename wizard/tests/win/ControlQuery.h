// The wizard's control query, for test builds of the program only: the test
// driver (tools/wizdriver) asks the state of a control by its name, also of a
// control without a window of its own (a label), which it cannot read from
// outside.
//
// The driver sends the wizard's window WM_COPYDATA with dwData kControlQuery
// and a component's name, and gets the answer sent back to the window in
// wParam as WM_COPYDATA with dwData kControlAnswer:
// "visible=0|1;enabled=0|1;text=<caption or text>" in UTF-8 (a mark-up label
// gives its mark-up text, the Unicode label its wide caption; "" when no component has
// that name). Visible means shown on screen: the control and all its parents
// are visible.
//
// With dwData kFitQuery (no data) the answer lists the texts of the form that
// do not fit where they are drawn, one "name: why" per line ("" when all fit):
// every control of every page, shown or not, measured in its own font against
// the room its painting gives the text, and that room against its parents'.
#pragma once

#include <windows.h>

class TCustomForm;

constexpr ULONG_PTR kControlQuery = 0x50514331;   // "PQC1"
constexpr ULONG_PTR kControlAnswer = 0x50514332;  // "PQC2"
constexpr ULONG_PTR kFitQuery = 0x50514333;       // "PQC3"

// Makes `form` answer control queries, in front of its own message handling.
void AnswerControlQueries(TCustomForm* form);
