// wizdriver STEP...
//
// Finds the running wizard's window, walks it step by step the way a user
// does (button clicks are window messages), and checks what it shows. Texts
// of windows are read with WM_GETTEXT; the state of a control that has no
// window of its own (a label) is asked by the control's name from a test
// build of the wizard, which answers a WM_COPYDATA query (the shipped program
// does not). Steps, one argument each:
//
//   serialport=COMn[,COMm]  list these ports, and no other of the driver's, in the system's serial-port
//                           map (for this session); forgets the Bluetooth ports of earlier runs
//   bluetooth=COMn          make COMn a Bluetooth serial port: a device in the enumeration tree with
//                           that port name and a Bluetooth friendly name
//   start=EXE [ARGS]        start the program
//   regclear                delete the phone manager's "Common" settings
//   regexpect=N=V;N=V...    "Common" holds exactly these string values (empty: none at all)
//   regprint                print the values of "Common"
//   window                  wait for the wizard's window
//   click=CAPTION           click the visible, enabled button (or radio button) with that caption
//   wideclick=CAPTION       the same, the caption compared with the button's wide text (GetWindowTextW, in UTF-8)
//   hastext=TEXT            wait for a visible window of the wizard with exactly that text
//   wait=NAME:PART          wait until the state of the named control ("visible=1;enabled=1;text=...",
//                           in UTF-8, as PART is compared) contains PART (a test build of the wizard only)
//   state=TEXT:PART         the same for the wizard's window with that text (a button's caption), as the
//                           window itself shows it
//   widestate=TEXT:PART     the same, the window found by its wide text (GetWindowTextW, compared in UTF-8);
//                           split at the last ':', so TEXT may hold one
//   ansitext=HEX            wait for a window of the wizard whose ANSI text (WM_GETTEXT) is exactly these bytes
//   noquery=NAME            the wizard does not answer the query for the named control
//   checkedshot=FILE.bmp    fits, then shot=FILE.bmp
//   fits                    every text of the wizard's controls fits where it is drawn, on every page, shown
//                           or not (a test build of the wizard only: it measures them)
//   dialog=PART:BUTTON      wait for a message box whose text contains PART, print it, press BUTTON
//                           (by its caption, or "#N" by its identifier: #1 OK, #6 Yes, #7 No, whatever the
//                           system's language)
//   widedialog=TITLE:PART:BUTTON  the same by the wide texts (GetWindowTextW, compared in UTF-8): the box's
//                           title is exactly TITLE, its text contains PART (PART may hold ':', TITLE and
//                           BUTTON may not)
//   widetexts               print "widetext: <class> <text>" for each visible window of the wizard that has
//                           a text, as GetWindowTextW gives it, in UTF-8
//   nodialog=MS             no message box may appear within MS milliseconds
//   key=F1                  press F1 with the wizard in front (the keyboard's way, through the system)
//   helpwindow              wait for a help window (class "HH Parent") of the program this driver started
//   nohelpwindow=MS         no such help window may appear within MS milliseconds
//   close                   ask the wizard to close (as its title bar's close box does)
//   exit                    wait until the wizard's window is gone (and the program started, if any, has ended)
//   shot=FILE.bmp           save a picture of the wizard's window (its client area, as the screen shows it),
//                           once the wizard has painted and the picture stays the same; meanwhile the wizard
//                           stands on top in the screen's bottom right corner, and a window of another program
//                           over it is waited out
//   sleep=MS                pause
//   timeout=MS              how long later steps wait (default 20000)
//
// Prints one line per step; exits 0 when every step passed, 1 at the first
// that failed, 2 for a step it does not know.
#include <windows.h>
// After windows.h.
#include <shellapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr ULONG_PTR kControlQuery = 0x50514331;
constexpr ULONG_PTR kControlAnswer = 0x50514332;
constexpr ULONG_PTR kFitQuery = 0x50514333;

constexpr const char* kCommonKey = "Software\\Talvex\\Corvessa\\Options\\Common";
// Where the driver's Bluetooth serial ports stand in the enumeration tree.
constexpr const char* kBluetoothKey = "SYSTEM\\CurrentControlSet\\Enum\\BTHENUM\\PelloryTest";

DWORD g_timeout = 20000;
HANDLE g_process = nullptr;
DWORD g_processId = 0;

// The wizard's window: of the program this driver started, else any.
HWND FindWizard() {
  HWND found = nullptr;
  for (HWND wnd = FindWindowExA(nullptr, nullptr, "TWizardForm", nullptr); wnd;
       wnd = FindWindowExA(nullptr, wnd, "TWizardForm", nullptr)) {
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    if (!g_processId || pid == g_processId) found = wnd;
  }
  return found;
}
HWND g_wizard = nullptr;
HWND g_receiver = nullptr;
std::string g_answer;
bool g_answered = false;

std::string TextOf(HWND wnd) {
  char buffer[1024];
  const LRESULT n = SendMessageTimeoutA(wnd, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                                        SMTO_ABORTIFHUNG, 2000, nullptr)
                        ? static_cast<LRESULT>(strnlen(buffer, sizeof buffer - 1))
                        : 0;
  return std::string(buffer, static_cast<std::size_t>(n));
}

std::string WithoutAmpersands(const std::string& s) {
  std::string out;
  for (char ch : s)
    if (ch != '&') out += ch;
  return out;
}

std::string ClassOf(HWND wnd);

// The state of a window as the query gives it: "visible=0|1;enabled=0|1;text=...".
std::string WindowState(HWND wnd) {
  return std::string("visible=") + (IsWindowVisible(wnd) ? "1" : "0") +
         ";enabled=" + (IsWindowEnabled(wnd) ? "1" : "0") + ";text=" + TextOf(wnd);
}

std::string ClassOf(HWND wnd) {
  char name[256] = {};
  GetClassNameA(wnd, name, sizeof name);
  return name;
}

// Handles this thread's messages for `ms` milliseconds.
void Pump(DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
  }
}

template <class F>
bool WaitFor(F done, DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    if (GetTickCount() - start >= ms) return false;
    Pump(50);
  }
}

BOOL CALLBACK CollectWindow(HWND wnd, LPARAM data) {
  reinterpret_cast<std::vector<HWND>*>(data)->push_back(wnd);
  return TRUE;
}

// Message boxes of the program this driver started (else any): other programs
// share the display while tests run side by side, and their boxes are theirs.
BOOL CALLBACK CollectDialog(HWND wnd, LPARAM data) {
  if (!IsWindowVisible(wnd) || ClassOf(wnd) != "#32770") return TRUE;
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  if (!g_processId || pid == g_processId) reinterpret_cast<std::vector<HWND>*>(data)->push_back(wnd);
  return TRUE;
}

// The visible help windows of the program this driver started (else any).
BOOL CALLBACK CollectHelpWindow(HWND wnd, LPARAM data) {
  if (!IsWindowVisible(wnd) || ClassOf(wnd) != "HH Parent") return TRUE;
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  if (!g_processId || pid == g_processId) reinterpret_cast<std::vector<HWND>*>(data)->push_back(wnd);
  return TRUE;
}

std::vector<HWND> HelpWindows() {
  std::vector<HWND> all;
  EnumWindows(CollectHelpWindow, reinterpret_cast<LPARAM>(&all));
  return all;
}

std::vector<HWND> Descendants(HWND parent) {
  std::vector<HWND> all;
  EnumChildWindows(parent, CollectWindow, reinterpret_cast<LPARAM>(&all));
  return all;
}

std::vector<HWND> Dialogs() {
  std::vector<HWND> all;
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&all));
  return all;
}

// The text of a message box: its static texts (the icon has none).
std::string DialogText(HWND dialog) {
  std::string text;
  for (HWND child : Descendants(dialog))
    if (ClassOf(child) == "Static") {
      const std::string t = TextOf(child);
      if (!t.empty()) text += (text.empty() ? "" : " ") + t;
    }
  return text;
}

HWND FindVisibleWithText(const std::string& text, bool buttonsOnly) {
  if (!g_wizard) return nullptr;
  for (HWND wnd : Descendants(g_wizard)) {
    if (!IsWindowVisible(wnd)) continue;
    if (buttonsOnly && ClassOf(wnd).find("Button") == std::string::npos) continue;
    const std::string t = TextOf(wnd);
    if (t == text || (buttonsOnly && WithoutAmpersands(t) == text)) return wnd;
  }
  return nullptr;
}

LRESULT CALLBACK ReceiverProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lp);
    if (data && data->dwData == kControlAnswer) {
      g_answer.assign(static_cast<const char*>(data->lpData), data->cbData);
      g_answered = true;
      return 1;
    }
  }
  return DefWindowProcA(wnd, msg, wp, lp);
}

// The state of a named control, as the wizard describes it ("" for none);
// with kind kFitQuery, the texts that do not fit.
bool Query(const std::string& name, std::string& answer, ULONG_PTR kind = kControlQuery) {
  if (!g_receiver) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = ReceiverProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "PelloryWizDriver";
    RegisterClassA(&wc);
    g_receiver = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  }
  g_answered = false;
  COPYDATASTRUCT query{kind, static_cast<DWORD>(name.size()), const_cast<char*>(name.data())};
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(g_wizard, WM_COPYDATA, reinterpret_cast<WPARAM>(g_receiver),
                           reinterpret_cast<LPARAM>(&query), SMTO_ABORTIFHUNG, 5000, &result) ||
      !g_answered)
    return false;
  answer = g_answer;
  return true;
}

// A visible top-level window of another program that lies over the
// wizard's client area `r` (screen coordinates): its process and rectangle in
// `what`. The system's order of the windows is not trusted: a window that
// another program has just shown may be drawn above the wizard whatever that
// order says.
bool ForeignWindowOver(const RECT& r, std::string& what) {
  DWORD wizardPid = 0;
  GetWindowThreadProcessId(g_wizard, &wizardPid);
  for (HWND wnd = GetTopWindow(nullptr); wnd; wnd = GetWindow(wnd, GW_HWNDNEXT)) {
    if (wnd == g_wizard || !IsWindowVisible(wnd)) continue;
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    if (pid == wizardPid) continue;  // the wizard's own windows are part of its picture
    RECT w, common;
    if (!GetWindowRect(wnd, &w) || !IntersectRect(&common, &w, &r)) continue;
    what = "process " + std::to_string(pid) + ", class " + ClassOf(wnd) + ", at " + std::to_string(w.left) + "," +
           std::to_string(w.top) + " " + std::to_string(w.right - w.left) + "x" + std::to_string(w.bottom - w.top);
    return true;
  }
  return false;
}

// The client area `r` as the screen shows it, in 24-bit rows of `stride` bytes.
bool Capture(const RECT& r, std::vector<unsigned char>& pixels, BITMAPINFOHEADER& header) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  if (dib) {
    HGDIOBJ old = SelectObject(mem, dib);
    ok = BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY) != FALSE;
    SelectObject(mem, old);
    GdiFlush();
    const DWORD stride = ((static_cast<DWORD>(w) * 3 + 3) & ~3u);
    const auto* begin = static_cast<const unsigned char*>(bits);
    pixels.assign(begin, begin + stride * static_cast<DWORD>(h));
    header = bi.bmiHeader;
    DeleteObject(dib);
  }
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return ok;
}

bool SaveShot(const std::string& file, std::string& why) {
  RECT home;
  if (!g_wizard || !GetWindowRect(g_wizard, &home)) {
    why = "no wizard window";
    return false;
  }
  // Other programs share the display while tests run side by side, and most
  // put their windows in the middle of the screen or at its top left: the
  // wizard's picture is taken in the bottom right corner, with the wizard
  // above every window that is not kept on top; it goes back afterwards. A
  // window of another program that still lies over it is waited out.
  const int width = home.right - home.left, height = home.bottom - home.top;
  const int x = std::max(0, GetSystemMetrics(SM_CXSCREEN) - width);
  const int y = std::max(0, GetSystemMetrics(SM_CYSCREEN) - height);
  SetWindowPos(g_wizard, HWND_TOPMOST, x, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
  struct TGoBack {
    RECT home;
    ~TGoBack() { SetWindowPos(g_wizard, HWND_NOTOPMOST, home.left, home.top, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE); }
  } goBack{home};
  SetForegroundWindow(g_wizard);
  RECT r;  // the client area on the screen
  if (!GetClientRect(g_wizard, &r)) {
    why = "no wizard window";
    return false;
  }
  MapWindowPoints(g_wizard, nullptr, reinterpret_cast<POINT*>(&r), 2);
  if (r.right <= r.left || r.bottom <= r.top) {
    why = "the wizard's client area is empty";
    return false;
  }
  // Every window of the wizard paints what it has to paint before the picture
  // is taken, and the picture is taken again until two in a row are the same
  // (a page being drawn is not taken half-drawn); the waiting animation never
  // holds still, so after a bounded time the last picture is kept. A picture
  // taken while a window of another program lay over the wizard, just before
  // or just after, does not count.
  std::vector<unsigned char> last, now;
  BITMAPINFOHEADER header{};
  std::string over;
  DWORD start = GetTickCount();
  const DWORD begin = start;
  for (;;) {
    if (GetTickCount() - begin >= g_timeout) {
      why = "windows of other programs keep lying over the wizard: " + over;
      return false;
    }
    DWORD_PTR result = 0;
    SendMessageTimeoutA(g_wizard, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
    RedrawWindow(g_wizard, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    Pump(150);
    const bool coveredBefore = ForeignWindowOver(r, over);
    if (!Capture(r, now, header)) {
      why = "cannot read the screen";
      return false;
    }
    if (coveredBefore || ForeignWindowOver(r, over)) {
      last.clear();
      start = GetTickCount();
      continue;
    }
    if (now == last || (!last.empty() && GetTickCount() - start >= 3000)) break;
    last.swap(now);
  }
  BITMAPFILEHEADER fh{};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  fh.bfSize = fh.bfOffBits + static_cast<DWORD>(now.size());
  bool ok = false;
  if (FILE* out = std::fopen(file.c_str(), "wb")) {
    ok = std::fwrite(&fh, sizeof fh, 1, out) == 1 && std::fwrite(&header, sizeof header, 1, out) == 1 &&
         std::fwrite(now.data(), 1, now.size(), out) == now.size();
    ok = std::fclose(out) == 0 && ok;
  }
  if (!ok) why = "cannot write " + file;
  return ok;
}

// Splits "A:B" at the first colon.
void SplitAt(const std::string& s, char sep, std::string& a, std::string& b) {
  const std::size_t at = s.find(sep);
  a = s.substr(0, at);
  b = at == std::string::npos ? "" : s.substr(at + 1);
}

// The values of "Common" as "name=value" in the system's order ("name=<type N>" for a non-string).
std::vector<std::string> CommonValues() {
  std::vector<std::string> values;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kCommonKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return values;
  for (DWORD i = 0;; ++i) {
    char name[256];
    BYTE data[1024];
    DWORD nameLen = sizeof name, dataLen = sizeof data - 1, type = 0;
    if (RegEnumValueA(key, i, name, &nameLen, nullptr, &type, data, &dataLen) != ERROR_SUCCESS) break;
    data[dataLen] = 0;
    std::string text = type == REG_SZ
                           ? std::string(reinterpret_cast<char*>(data), strnlen(reinterpret_cast<char*>(data), dataLen))
                           : "<type " + std::to_string(type) + ">";
    values.push_back(std::string(name, nameLen) + "=" + text);
  }
  RegCloseKey(key);
  return values;
}

std::vector<std::string> SplitList(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  while (from < s.size()) {
    std::size_t at = s.find(sep, from);
    if (at == std::string::npos) at = s.size();
    if (at > from) parts.push_back(s.substr(from, at - from));
    from = at + 1;
  }
  return parts;
}

// Deletes a key with all its subkeys.
void DeleteKeyTree(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  std::vector<std::string> subkeys;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD len = sizeof name;
    if (RegEnumKeyExA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    subkeys.emplace_back(name, len);
  }
  RegCloseKey(key);
  for (const std::string& sub : subkeys) DeleteKeyTree(root, path + "\\" + sub);
  RegDeleteKeyA(root, path.c_str());
}

int Fail(const std::string& step, const std::string& why) {
  std::printf("FAIL %s: %s\n", step.c_str(), why.c_str());
  std::fflush(stdout);
  return 1;
}

// The step being run as its command-line argument reads in UTF-8 (the query
// answers in UTF-8; the window texts are read in the ANSI code page).
std::string g_stepUtf8;

std::string Utf8FromWideText(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return "";
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}

// A window's text as GetWindowTextW gives it, in UTF-8.
std::string WideTextOf(HWND wnd) {
  wchar_t buffer[1024] = {};
  GetWindowTextW(wnd, buffer, static_cast<int>(std::size(buffer)));
  return Utf8FromWideText(buffer);
}

int RunStep(const std::string& step) {
  std::string verb, arg;
  SplitAt(step, '=', verb, arg);
  if (verb == "serialport") {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
      return Fail(step, "cannot open the serial-port map");
    // Only the port of this run: ports listed by earlier runs go.
    std::vector<std::string> stale;
    for (DWORD i = 0;; ++i) {
      char valueName[256];
      DWORD len = sizeof valueName;
      if (RegEnumValueA(key, i, valueName, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      if (std::string(valueName, len).rfind("\\Device\\PelloryTest", 0) == 0) stale.emplace_back(valueName, len);
    }
    for (const std::string& v : stale) RegDeleteValueA(key, v.c_str());
    LONG rc = ERROR_SUCCESS;
    for (const std::string& port : SplitList(arg, ',')) {
      const std::string name = "\\Device\\PelloryTest" + port;
      if (rc == ERROR_SUCCESS)
        rc = RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()),
                            static_cast<DWORD>(port.size() + 1));
    }
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return Fail(step, "cannot write the serial-port map");
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kBluetoothKey);
  } else if (verb == "bluetooth") {
    // A device key with the friendly name, and its port name under "Device Parameters".
    const std::string device = std::string(kBluetoothKey) + "\\" + arg;
    const std::string friendly = "Standard Serial over Bluetooth link (" + arg + ")";
    bool ok = true;
    for (const auto& [path, value, data] :
         {std::tuple{device, "FriendlyName", friendly}, std::tuple{device + "\\Device Parameters", "PortName", arg}}) {
      HKEY key = nullptr;
      ok = ok && RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_SET_VALUE,
                                 nullptr, &key, nullptr) == ERROR_SUCCESS;
      if (!key) continue;
      ok = ok && RegSetValueExA(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
      RegCloseKey(key);
    }
    if (!ok) return Fail(step, "cannot write the enumeration tree");
  } else if (verb == "start") {
    std::string command = arg;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      return Fail(step, "cannot start the program (error " + std::to_string(GetLastError()) + ")");
    CloseHandle(pi.hThread);
    g_process = pi.hProcess;
    g_processId = pi.dwProcessId;
  } else if (verb == "regclear") {
    RegDeleteKeyA(HKEY_CURRENT_USER, kCommonKey);
  } else if (verb == "regprint") {
    for (const std::string& v : CommonValues()) std::printf("  %s\n", v.c_str());
  } else if (verb == "regexpect") {
    std::vector<std::string> want = SplitList(arg, ';'), have = CommonValues();
    std::sort(want.begin(), want.end());
    std::sort(have.begin(), have.end());
    if (want != have) {
      std::string text;
      for (const std::string& v : have) text += (text.empty() ? "" : ";") + v;
      return Fail(step, "\"Common\" holds " + (text.empty() ? std::string("nothing") : text));
    }
  } else if (verb == "window") {
    if (!WaitFor([] { return (g_wizard = FindWizard()) && IsWindowVisible(g_wizard); }, g_timeout))
      return Fail(step, "no wizard window");
  } else if (verb == "timeout") {
    g_timeout = static_cast<DWORD>(std::atoi(arg.c_str()));
  } else if (verb == "sleep") {
    Pump(static_cast<DWORD>(std::atoi(arg.c_str())));
  } else if (verb == "click") {
    HWND target = nullptr;
    if (!WaitFor([&] { return (target = FindVisibleWithText(arg, true)) && IsWindowEnabled(target); }, g_timeout))
      return Fail(step, target ? "the control stays disabled" : "no such control shown");
    PostMessageA(target, BM_CLICK, 0, 0);
    Pump(100);
  } else if (verb == "wideclick") {
    const std::size_t eq = g_stepUtf8.find('=');
    const std::string caption = eq == std::string::npos ? arg : g_stepUtf8.substr(eq + 1);
    HWND target = nullptr;
    const auto find = [&] {
      target = nullptr;
      if (!g_wizard) return false;
      for (HWND wnd : Descendants(g_wizard))
        if (IsWindowVisible(wnd) && ClassOf(wnd).find("Button") != std::string::npos &&
            WithoutAmpersands(WideTextOf(wnd)) == caption) {
          target = wnd;
          return IsWindowEnabled(wnd) != FALSE;
        }
      return false;
    };
    if (!WaitFor(find, g_timeout)) return Fail(step, target ? "the control stays disabled" : "no such control shown");
    PostMessageA(target, BM_CLICK, 0, 0);
    Pump(100);
  } else if (verb == "hastext") {
    if (!WaitFor([&] { return FindVisibleWithText(arg, false) != nullptr; }, g_timeout))
      return Fail(step, "no window shows this text");
  } else if (verb == "wait") {
    std::string name, part, answer;
    const std::size_t eq = g_stepUtf8.find('=');
    SplitAt(eq == std::string::npos ? arg : g_stepUtf8.substr(eq + 1), ':', name, part);
    if (!WaitFor([&] { return Query(name, answer) && answer.find(part) != std::string::npos; }, g_timeout))
      return Fail(step, "the control shows \"" + answer + "\"");
  } else if (verb == "state") {
    std::string text, part, state;
    SplitAt(arg, ':', text, part);
    const auto find = [&] {
      if (!g_wizard) return false;
      for (HWND wnd : Descendants(g_wizard))
        if (WithoutAmpersands(TextOf(wnd)) == text) return (state = WindowState(wnd)).find(part) != std::string::npos;
      return false;
    };
    if (!WaitFor(find, g_timeout))
      return Fail(step, state.empty() ? "no window shows this text" : "the window shows \"" + state + "\"");
  } else if (verb == "widestate") {
    std::string text, part, state;
    const std::size_t eq = g_stepUtf8.find('=');
    // At the last ':': the text may hold one (a group box's "Type:").
    const std::string spec = eq == std::string::npos ? arg : g_stepUtf8.substr(eq + 1);
    const std::size_t colon = spec.rfind(':');
    text = spec.substr(0, colon);
    part = colon == std::string::npos ? "" : spec.substr(colon + 1);
    const auto find = [&] {
      if (!g_wizard) return false;
      for (HWND wnd : Descendants(g_wizard))
        if (WithoutAmpersands(WideTextOf(wnd)) == text) {
          state = WindowState(wnd);
          return state.find(part) != std::string::npos;
        }
      return false;
    };
    if (!WaitFor(find, g_timeout))
      return Fail(step, state.empty() ? "no window shows this wide text" : "the window shows \"" + state + "\"");
  } else if (verb == "ansitext") {
    const auto hex = [](const std::string& bytes) {
      static const char digits[] = "0123456789abcdef";
      std::string out;
      for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
      }
      return out;
    };
    std::string want = arg;
    std::transform(want.begin(), want.end(), want.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    const auto find = [&] {
      if (!g_wizard) return false;
      for (HWND wnd : Descendants(g_wizard))
        if (hex(TextOf(wnd)) == want) return true;
      return false;
    };
    if (!WaitFor(find, g_timeout)) return Fail(step, "no window has these bytes as its ANSI text");
  } else if (verb == "noquery") {
    std::string answer;
    if (Query(arg, answer)) return Fail(step, "the wizard answers \"" + answer + "\"");
  } else if (verb == "dialog") {
    std::string part, button;
    SplitAt(arg, ':', part, button);
    HWND dialog = nullptr;
    if (!WaitFor(
            [&] {
              for (HWND d : Dialogs())
                if (DialogText(d).find(part) != std::string::npos) return (dialog = d) != nullptr;
              return false;
            },
            g_timeout))
      return Fail(step, "no such message box");
    std::printf("dialog: %s\n", DialogText(dialog).c_str());
    HWND press = nullptr;
    const int id = button.size() > 1 && button[0] == '#' ? std::atoi(button.c_str() + 1) : 0;
    for (HWND child : Descendants(dialog))
      if (ClassOf(child) == "Button" && (id ? GetDlgCtrlID(child) == id : WithoutAmpersands(TextOf(child)) == button))
        press = child;
    if (!press) return Fail(step, "the message box has no button " + button);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(press), BN_CLICKED), reinterpret_cast<LPARAM>(press));
    if (!WaitFor([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, g_timeout))
      return Fail(step, "the message box stays open");
  } else if (verb == "widedialog") {
    const std::size_t eq = g_stepUtf8.find('=');
    const std::string spec = eq == std::string::npos ? arg : g_stepUtf8.substr(eq + 1);
    const std::size_t first = spec.find(':'), last = spec.rfind(':');
    if (first == std::string::npos || first == last) return Fail(step, "wants TITLE:PART:BUTTON");
    const std::string title = spec.substr(0, first), part = spec.substr(first + 1, last - first - 1),
                      button = spec.substr(last + 1);
    const auto wideDialogText = [](HWND dialog) {
      std::string text;
      for (HWND child : Descendants(dialog))
        if (ClassOf(child) == "Static") {
          const std::string t = WideTextOf(child);
          if (!t.empty()) text += (text.empty() ? "" : " ") + t;
        }
      return text;
    };
    HWND dialog = nullptr;
    std::string seen;
    if (!WaitFor(
            [&] {
              for (HWND d : Dialogs()) {
                seen = WideTextOf(d) + ": " + wideDialogText(d);
                if (WideTextOf(d) == title && wideDialogText(d).find(part) != std::string::npos)
                  return (dialog = d) != nullptr;
              }
              return false;
            },
            g_timeout))
      return Fail(step, seen.empty() ? "no such message box" : "the message box reads \"" + seen + "\"");
    std::printf("widedialog: %s: %s\n", WideTextOf(dialog).c_str(), wideDialogText(dialog).c_str());
    HWND press = nullptr;
    for (HWND child : Descendants(dialog))
      if (ClassOf(child) == "Button" && WithoutAmpersands(WideTextOf(child)) == button) press = child;
    if (!press) return Fail(step, "the message box has no button " + button);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(press), BN_CLICKED), reinterpret_cast<LPARAM>(press));
    if (!WaitFor([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, g_timeout))
      return Fail(step, "the message box stays open");
  } else if (verb == "widetexts") {
    if (!g_wizard) return Fail(step, "no wizard window");
    std::printf("widetext: %s %s\n", ClassOf(g_wizard).c_str(), WideTextOf(g_wizard).c_str());
    for (HWND wnd : Descendants(g_wizard)) {
      if (!IsWindowVisible(wnd)) continue;
      const std::string text = WideTextOf(wnd);
      if (!text.empty()) std::printf("widetext: %s %s\n", ClassOf(wnd).c_str(), text.c_str());
    }
  } else if (verb == "nodialog") {
    std::string seen;
    if (WaitFor(
            [&] {
              for (HWND d : Dialogs()) {
                seen = DialogText(d);
                return true;
              }
              return false;
            },
            static_cast<DWORD>(std::atoi(arg.c_str()))))
      return Fail(step, "a message box appeared: " + seen);
  } else if (verb == "key") {
    if (arg != "F1") {
      std::printf("unknown key: %s\n", arg.c_str());
      return 2;
    }
    if (!g_wizard) return Fail(step, "no wizard window");
    // Other programs' windows share the display and may take the front back
    // at any time: the key goes once the wizard holds it.
    SetForegroundWindow(g_wizard);
    Pump(200);
    if (!WaitFor(
            [] {
              if (GetForegroundWindow() == g_wizard) return true;
              SetForegroundWindow(g_wizard);
              return false;
            },
            g_timeout))
      return Fail(step, "the wizard does not come to the front");
    INPUT keys[2] = {};
    keys[0].type = keys[1].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = keys[1].ki.wVk = VK_F1;
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    if (SendInput(2, keys, sizeof(INPUT)) != 2) return Fail(step, "cannot press the key");
    Pump(100);
  } else if (verb == "helpwindow") {
    if (!WaitFor([] { return !HelpWindows().empty(); }, g_timeout)) return Fail(step, "no help window");
  } else if (verb == "nohelpwindow") {
    if (WaitFor([] { return !HelpWindows().empty(); }, static_cast<DWORD>(std::atoi(arg.c_str()))))
      return Fail(step, "a help window appeared");
  } else if (verb == "close") {
    PostMessageA(g_wizard, WM_CLOSE, 0, 0);
    Pump(100);
  } else if (verb == "exit") {
    if (!WaitFor([] { return !IsWindow(g_wizard); }, g_timeout)) return Fail(step, "the wizard stays open");
    if (g_process) {
      if (!WaitFor([] { return WaitForSingleObject(g_process, 0) == WAIT_OBJECT_0; }, g_timeout))
        return Fail(step, "the program does not end");
      DWORD code = 0;
      GetExitCodeProcess(g_process, &code);
      CloseHandle(g_process);
      g_process = nullptr;
      if (code != 0) return Fail(step, "the program ended with exit code " + std::to_string(code));
    }
  } else if (verb == "fits" || verb == "checkedshot") {
    std::string cuts;
    if (!Query("", cuts, kFitQuery)) return Fail(step, "the wizard does not answer the fit query");
    if (!cuts.empty()) return Fail(step, "texts are cut:\n" + cuts);
    std::string why;
    if (verb == "checkedshot" && !SaveShot(arg, why)) return Fail(step, why);
  } else if (verb == "shot") {
    std::string why;
    if (!SaveShot(arg, why)) return Fail(step, why);
  } else {
    std::printf("unknown step: %s\n", step.c_str());
    return 2;
  }
  std::printf("ok %s\n", step.c_str());
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("usage: wizdriver STEP...\n");
    return 2;
  }
  int wideCount = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &wideCount);
  for (int i = 1; i < argc; ++i) {
    g_stepUtf8 = wide && wideCount == argc ? Utf8FromWideText(wide[i]) : std::string(argv[i]);
    if (int rc = RunStep(argv[i])) {
      // A program this run started does not outlive a failed run.
      if (g_process) TerminateProcess(g_process, 3);
      return rc;
    }
  }
  return 0;
}
