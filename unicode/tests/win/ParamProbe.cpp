// A small program the Unicode layer's Windows tests start: it reports, one
// UTF-8 line each, into the file named by its second parameter:
//   its first parameter (WideCommandLineParam(1)),
//   its own path (WideCommandLineParam(0)),
//   IsUnicodePlatform as 0 or 1,
//   a window's text after SetWindowTextWide of "Caf\u00E9 \u0416", read back wide.
#include <windows.h>

#include <string>

#include "UcxSysUtils.h"
#include "UcxSystem.h"
#include "UcxWindows.h"
#include "Win32WidePlatform.h"

int main() {
  try {
    UseWin32WidePlatform();
    InitUcxSysUtils();
    InitUcxSystem();
    std::string report = Utf8FromWide(WideCommandLineParam(1)) + "\n";
    report += Utf8FromWide(WideCommandLineParam(0)) + "\n";
    report += IsUnicodePlatform ? "1\n" : "0\n";
    HWND wnd = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    if (!wnd) return 3;
    SetWindowTextWide(wnd, u"Caf\u00E9 \u0416");
    wchar_t text[64] = {};
    GetWindowTextW(wnd, text, 64);
    DestroyWindow(wnd);
    report += Utf8FromWide(reinterpret_cast<const char16_t*>(text)) + "\n";

    const WideString out = WideCommandLineParam(2);
    HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(out.c_str()), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
    CloseHandle(file);
    return ok ? 0 : 2;
  } catch (...) {
    return 1;
  }
}
