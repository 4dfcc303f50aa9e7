// The wizard's timings, measured from outside on the real program:
//  - start-up: from starting Pellory.exe to its first page on the screen,
//    beside the same for PelloryWithoutTree.exe (the program without the tree
//    view's unit start-up), in pairs whose order turns, so the unit's share
//    shows pair by pair;
//  - the language's share of the start-up: English (no switch) beside German
//    at its first start (the language library is made) and German again (the
//    library is reused);
//  - search: from the Connect click (data cable, DAU9P/FBUS) to the model
//    shown on page 3, for the simulated NPE-4 and NSE-3 phones whose COM ports
//    the environment names (PELLORY_PHONESIM_PORT, PELLORY_PHONESIM_NSE3_PORT),
//    with only that port in the system's serial-port map.
// The program is the Pellory.exe of the same build (..\wizard beside bench\).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string g_exe;
HANDLE g_process = nullptr;
DWORD g_pid = 0;

double Now() {
  static LARGE_INTEGER freq{};
  if (!freq.QuadPart) QueryPerformanceFrequency(&freq);
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

void Pump(DWORD ms) {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_ALLINPUT);
}

template <class F>
bool WaitFor(F done, double ms, DWORD step = 5) {
  const double end = Now() + ms;
  while (!done()) {
    if (Now() > end) return false;
    Pump(step);
  }
  return true;
}

std::string TextOf(HWND wnd) {
  char buffer[512] = {};
  DWORD_PTR n = 0;
  if (!SendMessageTimeoutA(wnd, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000,
                           &n))
    return "";
  return std::string(buffer, std::min<std::size_t>(n, sizeof buffer - 1));
}

HWND Wizard() {
  for (HWND wnd = FindWindowExA(nullptr, nullptr, "TWizardForm", nullptr); wnd;
       wnd = FindWindowExA(nullptr, wnd, "TWizardForm", nullptr)) {
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    if (pid == g_pid && IsWindowVisible(wnd)) return wnd;
  }
  return nullptr;
}

struct TSearch {
  const std::string* text;
  bool button;
  HWND found;
};

BOOL CALLBACK FindIn(HWND wnd, LPARAM data) {
  auto* s = reinterpret_cast<TSearch*>(data);
  char cls[64] = {};
  GetClassNameA(wnd, cls, sizeof cls);
  if (IsWindowVisible(wnd) && (!s->button || std::strstr(cls, "Button")) && TextOf(wnd) == *s->text) {
    s->found = wnd;
    return FALSE;
  }
  return TRUE;
}

// A visible window of the wizard with exactly this text (buttons: class *Button*).
HWND Find(const std::string& text, bool button) {
  HWND wizard = Wizard();
  if (!wizard) return nullptr;
  TSearch search{&text, button, nullptr};
  EnumChildWindows(wizard, FindIn, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool Click(const std::string& caption) {
  HWND target = nullptr;
  if (!WaitFor([&] { return (target = Find(caption, true)) && IsWindowEnabled(target); }, 20000, 20)) return false;
  PostMessageA(target, BM_CLICK, 0, 0);
  return true;
}

bool Start(const std::string& args = "") {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::string command = "\"" + g_exe + "\"" + (args.empty() ? "" : " " + args);
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  CloseHandle(pi.hThread);
  g_process = pi.hProcess;
  g_pid = pi.dwProcessId;
  return true;
}

void Stop() {
  if (!g_process) return;
  TerminateProcess(g_process, 0);
  WaitForSingleObject(g_process, 10000);
  CloseHandle(g_process);
  g_process = nullptr;
  g_pid = 0;
}

// The serial-port map with only `port` in it; the values taken out come back with Restore.
struct TSavedValue {
  std::string name;
  std::vector<BYTE> data;
  DWORD type;
};
std::vector<TSavedValue> g_saved;
const char* const kMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

void MapOnly(int port) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kMap, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return;
  for (;;) {
    char name[256];
    BYTE data[256];
    DWORD nameLen = sizeof name, dataLen = sizeof data, type = 0;
    if (RegEnumValueA(key, 0, name, &nameLen, nullptr, &type, data, &dataLen) != ERROR_SUCCESS) break;
    const std::string n(name, nameLen);
    if (n.rfind("\\Device\\PelloryBench", 0) != 0)
      g_saved.push_back({n, std::vector<BYTE>(data, data + dataLen), type});
    RegDeleteValueA(key, name);
  }
  const std::string value = "COM" + std::to_string(port);
  RegSetValueExA(key, "\\Device\\PelloryBench", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
}

void RestoreMap() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMap, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  RegDeleteValueA(key, "\\Device\\PelloryBench");
  for (const TSavedValue& v : g_saved)
    RegSetValueExA(key, v.name.c_str(), 0, v.type, v.data.data(), static_cast<DWORD>(v.data.size()));
  g_saved.clear();
  RegCloseKey(key);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Start-up times of the program g_exe names; empty when it never showed its first page.
// With ARGS, the first page shows NEXT as its Next button's caption.
std::vector<double> StartUpTimes(int runs, const std::string& args = "", const std::string& next = "Next >") {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const double t0 = Now();
    if (!Start(args)) {
      std::printf("start-up: cannot start %s\n", g_exe.c_str());
      break;
    }
    if (WaitFor([&] { return Find(next, true) != nullptr; }, 30000)) times.push_back(Now() - t0);
    Stop();
  }
  return times;
}

// One start-up time of the program `exe` names (negative: the first page never showed).
double OneStartUp(const std::string& exe, const std::string& args = "", const std::string& next = "Next >") {
  const std::string program = g_exe;
  g_exe = exe;
  const std::vector<double> t = StartUpTimes(1, args, next);
  g_exe = program;
  return t.empty() ? -1 : t[0];
}

void StartUp(int runs, const std::string& withoutTree) {
  // Pairs, the order turned each time (with first, then without first), after
  // one pair that is not counted: a slow spell of the machine, or the cost of
  // starting right after another program ended, hits both alike, and the share
  // is read pair by pair.
  const std::string program = g_exe;
  OneStartUp(program);
  OneStartUp(withoutTree);
  std::vector<double> with, without, share, ratio;
  for (int i = 0; i < runs; ++i) {
    double a, b;
    if (i % 2 == 0) {
      a = OneStartUp(program);
      b = OneStartUp(withoutTree);
    } else {
      b = OneStartUp(withoutTree);
      a = OneStartUp(program);
    }
    if (a >= 0) with.push_back(a);
    if (b >= 0) without.push_back(b);
    if (a >= 0 && b > 0) {
      share.push_back(a - b);
      ratio.push_back(a / b);
    }
  }
  if (with.empty()) {
    std::printf("start-up: the first page never showed\n");
    return;
  }
  std::printf("start-up to the first page: median %.0f ms, best %.0f ms (%zu runs)\n", Median(with),
              *std::min_element(with.begin(), with.end()), with.size());
  if (share.empty()) {
    std::printf("start-up without the tree view's unit: the first page never showed\n");
    return;
  }
  std::printf(
      "start-up with / without the tree view's unit: median %.0f / %.0f ms; pair by pair (%zu pairs, order turned"
      " each pair) the unit's share is median %.0f ms, ratio %.3f (goal: a few ms)\n",
      Median(with), Median(without), share.size(), Median(share), Median(ratio));
}

// English, German at its first start (no library in "Languages" beside the
// program) and German with the library the run before made, by turns.
void LanguageStartUp(int runs) {
  const std::string library = g_exe.substr(0, g_exe.find_last_of('\\') + 1) + "Languages\\Pellory.DEU";
  std::vector<double> english, first, reused, added;
  for (int i = 0; i < runs; ++i) {
    // The English start goes before the German pair one time and after it the next.
    const double before = i % 2 == 0 ? OneStartUp(g_exe) : -1;
    DeleteFileA(library.c_str());
    for (double t : StartUpTimes(1, "1031", "Weiter >")) first.push_back(t);
    if (GetFileAttributesA(library.c_str()) == INVALID_FILE_ATTRIBUTES) {
      std::printf("start-up in German: no language library %s was made\n", library.c_str());
      return;
    }
    const double german = OneStartUp(g_exe, "1031", "Weiter >");
    const double plain = i % 2 == 0 ? before : OneStartUp(g_exe);
    if (plain >= 0) english.push_back(plain);
    if (german >= 0) reused.push_back(german);
    if (plain >= 0 && german >= 0) added.push_back(german - plain);
  }
  DeleteFileA(library.c_str());
  if (english.empty() || first.empty() || reused.empty()) {
    std::printf("start-up by language: a first page never showed\n");
    return;
  }
  std::printf(
      "start-up to the first page, English / German first start (library made) / German with the library reused:"
      " median %.0f / %.0f / %.0f ms, best %.0f / %.0f / %.0f ms (%zu runs)\n",
      Median(english), Median(first), Median(reused), *std::min_element(english.begin(), english.end()),
      *std::min_element(first.begin(), first.end()), *std::min_element(reused.begin(), reused.end()), english.size());
  std::printf("the reused German start adds %.0f ms to the English one, pair by pair (goal: under 100 ms)\n",
              added.empty() ? 0.0 : Median(added));
}

// The waits the connect road prescribes on the FBUS cable: the sender's two
// 50 ms pauses, then 20 ms and 30 ms around the family's initialisation, and for
// family 4 the deadlines of its three initialisation messages that no reply ends
// (5 ticks of 55 ms each). The idle search thread takes the marked port up at its
// next pass (up to 200 ms more).
constexpr double kCableWaits = 50 + 50 + 20 + 30;
constexpr double kUnansweredInitWaits = 3 * 5 * 55.0;

void Search(const char* persona, const char* portVariable, const std::string& model, double prescribed, int runs) {
  const char* portText = std::getenv(portVariable);
  if (!portText) {
    std::printf("%s: no simulator (%s is not set; scripts/run-benchmarks starts one)\n", persona, portVariable);
    return;
  }
  MapOnly(std::atoi(portText));
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    if (!Start()) break;
    bool ok = Click("Next >") && Click("Data cable") && Click("Next >") && Click("DAU9P/FBUS") && Click("Next >");
    HWND connect = nullptr;
    ok = ok && WaitFor([&] { return (connect = Find("Connect", true)) && IsWindowEnabled(connect); }, 20000);
    if (ok) {
      const double t0 = Now();
      PostMessageA(connect, BM_CLICK, 0, 0);
      if (WaitFor([&] { return Find("Nokia " + model, false) != nullptr; }, 60000, 2)) times.push_back(Now() - t0);
    }
    Stop();
  }
  RestoreMap();
  if (times.empty()) {
    std::printf("%s: the model never showed\n", persona);
    return;
  }
  std::printf(
      "%s (Nokia %s): Connect to model shown median %.0f ms, best %.0f ms (%zu runs); prescribed waits %.0f ms"
      " + up to 200 ms until the search thread's next pass\n",
      persona, model.c_str(), Median(times), *std::min_element(times.begin(), times.end()), times.size(), prescribed);
}

}  // namespace

int main() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string self(path, n);
  g_exe = self.substr(0, self.find_last_of("\\/") + 1) + "..\\wizard\\Pellory.exe";
  if (GetFileAttributesA(g_exe.c_str()) == INVALID_FILE_ATTRIBUTES) {
    std::printf("bench_wizard: %s not found\n", g_exe.c_str());
    return 1;
  }
  std::string withoutTree = self.substr(0, self.find_last_of("\\/") + 1) + "..\\wizard\\PelloryWithoutTree.exe";
  StartUp(7, withoutTree);
  LanguageStartUp(7);
  Search("NPE-4", "PELLORY_PHONESIM_PORT", "6310", kCableWaits + kUnansweredInitWaits, 3);
  Search("NSE-3", "PELLORY_PHONESIM_NSE3_PORT", "6110", kCableWaits, 3);
  return 0;
}
