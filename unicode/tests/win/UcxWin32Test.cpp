#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../RecordingWidePlatform.h"
#include "UcxSysUtils.h"
#include "UcxSystem.h"
#include "UcxWindows.h"
#include "Win32WidePlatform.h"

namespace {

const wchar_t* W(const std::u16string& s) {
  return reinterpret_cast<const wchar_t*>(s.c_str());
}

std::u16string U(const wchar_t* s) {
  return reinterpret_cast<const char16_t*>(s);
}

class Win32Wide : public ::testing::Test {
 protected:
  Win32WidePlatform platform_;
  WidePlatformScope scope_{&platform_, true, true};

  void SetUp() override {
    InitUcxSysUtils();
    InitUcxSystem();
  }
  void TearDown() override { DoneUcxSystem(); }

  static std::u16string TestFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::u16string p = U(path);
    return p.substr(0, p.find_last_of(u'\\') + 1);
  }
  static std::u16string TempFolder() {
    wchar_t path[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, path);
    return U(path);
  }

  // Runs the probe program and gives its report, one entry a line.
  static std::vector<std::u16string> RunProbe(const std::u16string& exe, const std::u16string& param) {
    const std::u16string out = TempFolder() + u"ucx_probe_" + Utf16Number(GetCurrentProcessId()) + u".txt";
    DeleteFileW(W(out));
    std::u16string line = u"\"" + exe + u"\" \"" + param + u"\" \"" + out + u"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(W(exe), reinterpret_cast<wchar_t*>(line.data()), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi)) {
      ADD_FAILURE() << "cannot start the probe: " << GetLastError();
      return {};
    }
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(code, 0u);
    std::vector<std::u16string> lines;
    HANDLE f = CreateFileW(W(out), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
      ADD_FAILURE() << "no report from the probe";
      return lines;
    }
    char buffer[4096];
    DWORD n = 0;
    ReadFile(f, buffer, sizeof buffer, &n, nullptr);
    CloseHandle(f);
    DeleteFileW(W(out));
    std::string text(buffer, n);
    std::size_t start = 0;
    for (std::size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', start)) {
      lines.push_back(WideFromUtf8(text.substr(start, nl - start)));
      start = nl + 1;
    }
    return lines;
  }
  static std::u16string Utf16Number(unsigned n) {
    std::u16string s;
    do {
      s.insert(s.begin(), static_cast<char16_t>(u'0' + n % 10));
      n /= 10;
    } while (n);
    return s;
  }
  // A copy of the probe at `folder` + `name`.
  static std::u16string CopyProbe(const std::u16string& folder, const std::u16string& name) {
    CreateDirectoryW(W(folder), nullptr);
    const std::u16string target = folder + name;
    EXPECT_TRUE(CopyFileW(W(TestFolder() + u"unicode_param_probe.exe"), W(target), FALSE)) << GetLastError();
    return target;
  }
  static void RemoveProbe(const std::u16string& folder, const std::u16string& exe) {
    DeleteFileW(W(exe));
    RemoveDirectoryW(W(folder));
  }
  // What narrowing to the ANSI code page and back makes of `text`.
  static std::u16string ThroughAnsi(const std::u16string& text) {
    char bytes[256] = {};
    WideCharToMultiByte(CP_ACP, 0, W(text), -1, bytes, sizeof bytes, nullptr, nullptr);
    wchar_t back[256] = {};
    MultiByteToWideChar(CP_ACP, 0, bytes, -1, back, 256);
    return U(back);
  }
};

const char16_t kHello[] = u"\u041F\u0440\u0438\u0432\u0435\u0442 \u043C\u0438\u0440";

TEST_F(Win32Wide, AChildSeesItsQuotedCyrillicParameterAndItsCyrillicPath) {
  const std::u16string folder = TempFolder() + u"\u041F\u0430\u043F\u043A\u0430 ucx\\";
  const std::u16string exe = CopyProbe(folder, u"unicode_param_probe.exe");
  const std::vector<std::u16string> lines = RunProbe(exe, kHello);
  RemoveProbe(folder, exe);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], kHello);
  EXPECT_EQ(CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, W(lines[1]), -1, W(exe), -1), CSTR_EQUAL)
      << WideToUtf8(lines[1]);
  EXPECT_EQ(lines[2], u"1");
  EXPECT_EQ(lines[3], u"Caf\u00E9 \u0416");
}

TEST_F(Win32Wide, AProgramToldItRunsOnWindows98TakesTheAnsiCalls) {
  const std::u16string name = u"ucx_probe_98_" + Utf16Number(GetCurrentProcessId()) + u".exe";
  const std::u16string key = u"Software\\Wine\\AppDefaults\\" + name;
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, W(key), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  const wchar_t version[] = L"win98";
  RegSetValueExW(k, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), sizeof version);
  RegCloseKey(k);
  const std::u16string folder = TempFolder() + u"ucx98\\";
  const std::u16string exe = CopyProbe(folder, name);
  const std::vector<std::u16string> lines = RunProbe(exe, u"x");
  RemoveProbe(folder, exe);
  RegDeleteKeyW(HKEY_CURRENT_USER, W(key));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], u"0");
  const std::u16string narrowed = ThroughAnsi(u"Caf\u00E9 \u0416");
  // No single-byte ANSI code page holds both the accented Latin letter and the
  // Cyrillic one, so the narrowed text always differs.
  EXPECT_NE(narrowed, u"Caf\u00E9 \u0416");
  EXPECT_EQ(lines[3], narrowed);
}

TEST_F(Win32Wide, KeyboardCodePageIsTheLayoutLanguagesAnsiCodePage) {
  char text[6] = {};
  const LCID language = LOWORD(reinterpret_cast<std::uintptr_t>(GetKeyboardLayout(0)));
  ASSERT_GT(GetLocaleInfoA(language, LOCALE_IDEFAULTANSICODEPAGE, text, sizeof text), 0);
  EXPECT_EQ(KeyboardCodePage(), static_cast<unsigned>(atoi(text)));
  wchar_t expected = 0;
  const char byte = static_cast<char>(0xC0);
  MultiByteToWideChar(KeyboardCodePage(), MB_USEGLYPHCHARS, &byte, 1, &expected, 1);
  EXPECT_EQ(WideCharFromKeyboardChar(0xC0), static_cast<char16_t>(expected));
}

TEST_F(Win32Wide, FitsAnsiAndNarrowingAgreeWithTheSystemConversion) {
  const char16_t units[] = {u'a', u'?', u'\u00E9', u'\u20AC', u'\u0416', u'\u4E2D', 0xD800};
  for (unsigned codePage : {0u, 1251u, 1252u}) {
    ConversionCodePage = codePage;
    for (char16_t u : units) {
      BOOL used = FALSE;
      char bytes[8] = {};
      const wchar_t w = u;
      const int n = WideCharToMultiByte(codePage, 0, &w, 1, bytes, sizeof bytes, nullptr, &used);
      EXPECT_EQ(WideCharFitsAnsi(u), n > 0 && !used) << codePage << " " << int(u);
      if (codePage == 0) {
        EXPECT_EQ(NarrowToAnsi(std::u16string(1, u)), std::string(bytes, n)) << int(u);
      }
    }
  }
}

TEST_F(Win32Wide, TheWrappersReachTheSystemOnBothLines) {
  HWND wnd = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(wnd, nullptr);
  const std::u16string text = u"\u0416\u0434\u0438\u0442\u0435 \u00E9";
  for (bool unicode : {true, false}) {
    IsUnicodePlatform = unicode;
    EXPECT_NE(SetWindowTextWide(wnd, text.c_str()), 0);
    wchar_t back[64] = {};
    GetWindowTextW(wnd, back, 64);
    EXPECT_EQ(U(back), unicode ? text : ThroughAnsi(text)) << unicode;

    HDC dc = GetDC(wnd);
    RECT r{0, 0, 200, 50};
    EXPECT_GT(DrawTextWide(dc, text.c_str(), -1, &r, DT_CALCRECT | DT_SINGLELINE), 0) << unicode;
    ReleaseDC(wnd, dc);

    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_EQ(ModuleFileNameWide(nullptr), U(self)) << unicode;
    EXPECT_EQ(UpperCaseWide(u"abc"), u"ABC") << unicode;
  }
  DestroyWindow(wnd);
  IsUnicodePlatform = true;
  EXPECT_EQ(UpperCaseWide(u"\u0436\u00E9"), u"\u0416\u00C9");
  EXPECT_EQ(WideCompareByLocale(u"a", u"B"), -1);  // by the locale on the NT line
  IsUnicodePlatform = false;
  EXPECT_EQ(WideCompareByLocale(u"a", u"B"), 1);  // by units otherwise
  // A character that fits the conversion code page but not the ANSI one is
  // left as it is, not turned into the default character.
  const char16_t outside = GetACP() == 1251 ? u'\u00E9' : u'\u0436';
  ConversionCodePage = GetACP() == 1251 ? 1252 : 1251;
  EXPECT_TRUE(WideCharFitsAnsi(outside));
  EXPECT_EQ(UpperCaseWide(std::u16string(1, outside) + u"a"), std::u16string(1, outside) + u"A");
  EXPECT_EQ(WideCompareByLocaleNoCase(u"a", u"A"), 0);
}

}  // namespace
