#include "Clipbrd.h"

#include "Exceptions.h"
#include "SysUtilsWin.h"

FW_IMPLEMENT_CLASS(TClipboard)

void TClipboard::Open() {
  if (openCount_ == 0) {
    if (!window_)
      window_ =
          CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr), nullptr);
    // Another program may hold the clipboard for a moment.
    BOOL opened = FALSE;
    for (int attempt = 0; attempt < 10 && !(opened = OpenClipboard(window_)); ++attempt) Sleep(10);
    if (!opened) RaiseLastOSError();
    emptied_ = false;
  }
  ++openCount_;
}

void TClipboard::Close() {
  if (openCount_ == 0) return;
  if (--openCount_ == 0) CloseClipboard();
}

void TClipboard::Clear() {
  Open();
  EmptyClipboard();
  emptied_ = true;
  Close();
}

void TClipboard::Adding() {
  if (!emptied_) {
    EmptyClipboard();
    emptied_ = true;
  }
}

bool TClipboard::HasFormat(std::uint32_t format) const {
  return IsClipboardFormatAvailable(format) != FALSE;
}

HANDLE TClipboard::GetAsHandle(std::uint32_t format) {
  Open();
  HANDLE h = GetClipboardData(format);
  Close();
  return h;
}

void TClipboard::SetAsHandle(std::uint32_t format, HANDLE data) {
  Open();
  try {
    Adding();
    if (!SetClipboardData(format, data)) RaiseLastOSError();
  } catch (...) {
    Close();
    throw;
  }
  Close();
}

std::uint32_t TClipboard::RegisterFormat(const char* name) {
  return RegisterClipboardFormatA(name);
}

TClipboard* Clipboard() {
  static TClipboard* clipboard = new TClipboard();
  return clipboard;
}
