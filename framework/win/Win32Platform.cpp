#include "Win32Platform.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "FileApi.h"
#include "Modules.h"
#include "PumpingWait.h"
#include "ResStrings.h"
#include "Swallow.h"
#include "SysUtils.h"
#include "SysUtilsWin.h"
#include "Thread.h"
#include "Win32Registry.h"

namespace {

// --- Threads -----------------------------------------------------------------------------------

DWORD WINAPI ThreadEntry(LPVOID param) {
  TThreadStartPair start = *static_cast<TThreadStartPair*>(param);
  delete static_cast<TThreadStartPair*>(param);
  try {
    start.entry(start.arg);
  } catch (...) {
    HandleCallbackException(std::current_exception());
  }
  return 0;
}

class Win32NativeThread : public NativeThread {
 public:
  Win32NativeThread(HANDLE handle, DWORD id) : handle_(handle), id_(id) {}
  ~Win32NativeThread() override {
    if (handle_) CloseHandle(handle_);
  }
  void Join() override {
    if (handle_) WaitForSingleObject(handle_, INFINITE);
  }
  void Detach() override {
    if (handle_) CloseHandle(handle_);
    handle_ = nullptr;
  }
  ThreadId Id() const override { return id_; }
  std::uintptr_t Handle() const override { return reinterpret_cast<std::uintptr_t>(handle_); }
  void SetPriority(int priority) override {
    static const int kPriorities[] = {
        THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,  THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
        THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST, THREAD_PRIORITY_TIME_CRITICAL};
    if (handle_ && priority >= 0 && priority < static_cast<int>(sizeof kPriorities / sizeof kPriorities[0]))
      SetThreadPriority(handle_, kPriorities[priority]);
  }

 private:
  HANDLE handle_;
  DWORD id_;
};

class Win32ThreadApi : public ThreadApi {
 public:
  std::unique_ptr<NativeThread> Start(void (*entry)(void*), void* arg) override {
    auto* start = new TThreadStartPair{entry, arg};
    DWORD id = 0;
    HANDLE h = CreateThread(nullptr, 0, &ThreadEntry, start, 0, &id);
    if (!h) {
      DWORD err = GetLastError();
      delete start;
      throw EThread("Thread creation error: " + SysErrorMessage(err));
    }
    return std::make_unique<Win32NativeThread>(h, id);
  }
  ThreadId CurrentThreadId() override { return GetCurrentThreadId(); }
};

}  // namespace

LPTHREAD_START_ROUTINE FrameworkThreadStartRoutine() {
  return &ThreadEntry;
}

namespace {

// --- Waking the main thread --------------------------------------------------------------------

std::atomic<HWND> g_appWnd{nullptr};
HANDLE g_syncEvent = nullptr;
std::atomic<bool> g_wakePosted{false};
AppWindowHandler g_appHandler = nullptr;
void* g_appHandlerData = nullptr;

class Win32Waker : public MainThreadWaker {
 public:
  void Wake() override {
    if (g_syncEvent) SetEvent(g_syncEvent);
    HWND wnd = g_appWnd.load();
    // One wake message at a time is enough: its handler serves the whole queue.
    if (wnd && !g_wakePosted.exchange(true)) {
      if (!PostMessageA(wnd, CM_SYNCHRONIZE, 0, 0)) g_wakePosted = false;
    }
  }
};

LRESULT CALLBACK AppWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  try {
    if (msg == CM_SYNCHRONIZE) {
      g_wakePosted = false;
      CheckSynchronize();
      return 0;
    }
    if (g_appHandler) {
      TMessage m{msg, wp, lp, 0};
      if (g_appHandler(g_appHandlerData, m)) return m.Result;
    }
  } catch (...) {
    HandleCallbackException(std::current_exception());
    return 0;
  }
  return DefWindowProcA(wnd, msg, wp, lp);
}

// --- Files -------------------------------------------------------------------------------------

class Win32FileApi : public FileApi {
 public:
  Handle Open(const std::string& name, unsigned mode, std::string& error) override {
    static const DWORD kShare[] = {0, 0, FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE};
    const unsigned shareIndex = (mode >> 4) & 7;
    const DWORD share = shareIndex < 5 ? kShare[shareIndex] : 0;
    DWORD access, disposition;
    if ((mode & 0xFF00) == fmCreate) {
      access = GENERIC_READ | GENERIC_WRITE;
      disposition = CREATE_ALWAYS;
    } else {
      switch (mode & 3) {
        case fmOpenRead:
          access = GENERIC_READ;
          break;
        case fmOpenWrite:
          access = GENERIC_WRITE;
          break;
        case fmOpenReadWrite:
          access = GENERIC_READ | GENERIC_WRITE;
          break;
        default:
          error = "Invalid file open mode";
          return nullptr;
      }
      disposition = OPEN_EXISTING;
    }
    HANDLE h = CreateFileA(name.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      error = SysErrorMessage(GetLastError());
      return nullptr;
    }
    return h;
  }
  void Close(Handle h) override { CloseHandle(h); }
  std::int64_t Read(Handle h, void* buffer, std::size_t count) override {
    std::int64_t total = 0;
    auto* p = static_cast<char*>(buffer);
    while (count > 0) {
      DWORD chunk = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count), got = 0;
      if (!ReadFile(h, p, chunk, &got, nullptr)) return total > 0 ? total : -1;
      total += got;
      p += got;
      count -= got;
      if (got < chunk) break;
    }
    return total;
  }
  std::int64_t Write(Handle h, const void* buffer, std::size_t count) override {
    std::int64_t total = 0;
    auto* p = static_cast<const char*>(buffer);
    while (count > 0) {
      DWORD chunk = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count), put = 0;
      if (!WriteFile(h, p, chunk, &put, nullptr)) return total > 0 ? total : -1;
      total += put;
      p += put;
      count -= put;
      if (put < chunk) break;
    }
    return total;
  }
  std::int64_t Seek(Handle h, std::int64_t offset, SeekOrigin origin) override {
    LARGE_INTEGER dist, pos;
    dist.QuadPart = offset;
    DWORD how = origin == SeekOrigin::Beginning ? FILE_BEGIN : origin == SeekOrigin::Current ? FILE_CURRENT : FILE_END;
    if (!SetFilePointerEx(h, dist, &pos, how)) return -1;
    return pos.QuadPart;
  }
  bool SetSize(Handle h, std::int64_t size) override {
    std::int64_t pos = Seek(h, 0, SeekOrigin::Current);
    if (pos < 0 || Seek(h, size, SeekOrigin::Beginning) < 0) return false;
    bool ok = SetEndOfFile(h) != 0;
    Seek(h, pos, SeekOrigin::Beginning);
    return ok;
  }
  bool FileExists(const std::string& name) override {
    DWORD attr = GetFileAttributesA(name.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
  }
  bool DeleteFile(const std::string& name) override { return DeleteFileA(name.c_str()) != 0; }
  bool DirectoryExists(const std::string& name) override {
    DWORD attr = GetFileAttributesA(name.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
  }
  std::vector<TSearchEntry> FindFiles(const std::string& pattern, unsigned attributes) override {
    std::vector<TSearchEntry> out;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(pattern.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return out;
    constexpr unsigned kExcluded = faHidden | faSysFile | faDirectory;
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      const unsigned attr = found.dwFileAttributes & faAnyFile;
      if ((attr & kExcluded) & ~attributes) continue;
      out.push_back({name, attr});
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return out;
  }
  std::string FullPathName(const std::string& name) override {
    DWORD n = GetFullPathNameA(name.c_str(), 0, nullptr, nullptr);
    if (n == 0) return name;
    std::string out(n, '\0');
    DWORD got = GetFullPathNameA(name.c_str(), n, out.data(), nullptr);
    if (got == 0 || got >= n) return name;
    out.resize(got);
    return out;
  }
};

// --- Resources ---------------------------------------------------------------------------------

LPCSTR ResName(const ResourceId& id) {
  return id.isId ? MAKEINTRESOURCEA(id.id) : id.name.c_str();
}

BOOL CALLBACK EnumNamesProc(HMODULE, LPCSTR, LPSTR name, LONG_PTR param) {
  auto* out = reinterpret_cast<std::vector<ResourceId>*>(param);
  try {
    if (IS_INTRESOURCE(name))
      out->emplace_back(static_cast<std::uint16_t>(reinterpret_cast<std::uintptr_t>(name)));
    else
      out->emplace_back(std::string(name));
    return TRUE;
  } catch (...) {
    return FALSE;  // out of memory: stop with what was found
  }
}

class Win32ResourceSource : public ResourceSource {
 public:
  std::optional<std::string_view> Find(ModuleHandle module, const ResourceId& type, const ResourceId& name) override {
    auto m = reinterpret_cast<HMODULE>(module);
    HRSRC info = FindResourceA(m, ResName(name), ResName(type));
    if (!info) return std::nullopt;
    HGLOBAL data = LoadResource(m, info);
    if (!data) return std::nullopt;
    const void* bytes = LockResource(data);
    DWORD size = SizeofResource(m, info);
    if (!bytes && size != 0) return std::nullopt;
    return std::string_view(static_cast<const char*>(bytes), size);
  }
  std::vector<ResourceId> EnumNames(ModuleHandle module, const ResourceId& type) override {
    std::vector<ResourceId> names;
    EnumResourceNamesA(reinterpret_cast<HMODULE>(module), ResName(type), &EnumNamesProc,
                       reinterpret_cast<LONG_PTR>(&names));
    return names;
  }
};

// --- Locale and code page ----------------------------------------------------------------------

int ClampLength(std::size_t n) {
  return n > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
}

int LocaleCompare(std::string_view a, std::string_view b, bool ignoreCase) {
  int r = CompareStringA(LOCALE_USER_DEFAULT, ignoreCase ? NORM_IGNORECASE : 0, a.data(), ClampLength(a.size()),
                         b.data(), ClampLength(b.size()));
  if (r == 0) return a.compare(b) < 0 ? -1 : a == b ? 0 : 1;  // the comparison failed: byte order
  return r - CSTR_EQUAL;
}

std::string WideToAnsiCp(const std::u16string& text) {
  if (text.empty()) return {};
  auto src = reinterpret_cast<const wchar_t*>(text.data());
  int len = ClampLength(text.size());
  int n = WideCharToMultiByte(CP_ACP, 0, src, len, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return WideToAnsi(text);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, src, len, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

std::u16string CodePageToWide(UINT codePage, std::string_view text) {
  if (text.empty()) return {};
  const int len = ClampLength(text.size());
  const int n = MultiByteToWideChar(codePage, 0, text.data(), len, nullptr, 0);
  if (n <= 0) return {};
  std::u16string out(static_cast<std::size_t>(n), u'\0');
  MultiByteToWideChar(codePage, 0, text.data(), len, reinterpret_cast<LPWSTR>(out.data()), n);
  return out;
}

std::string WideToCodePage(UINT codePage, std::u16string_view text) {
  if (text.empty()) return {};
  auto src = reinterpret_cast<const wchar_t*>(text.data());
  const int len = ClampLength(text.size());
  const int n = WideCharToMultiByte(codePage, 0, src, len, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, src, len, out.data(), n, nullptr, nullptr);
  return out;
}

namespace {

// The user locale's time format in the framework's notation (h, n, s, AM/PM).
std::string LocaleTimeFormat() {
  char buf[80] = {};
  if (!GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, buf, sizeof buf)) return {};
  std::string out;
  for (const char* p = buf; *p; ++p) {
    const char c = *p;
    if (c == '\'') {  // quoted text stays as it is, quotes included
      out += c;
      while (*++p && *p != '\'') out += *p;
      if (!*p) break;
      out += '\'';
    } else if (c == 'H' || c == 'h') {
      out += 'h';
    } else if (c == 'm') {
      out += 'n';
    } else if (c == 't') {
      if (p[1] == 't') ++p;
      out += "AM/PM";
    } else {
      out += c;
    }
  }
  return out;
}

// --- State -------------------------------------------------------------------------------------

std::atomic<CallbackExceptionHandler> g_exceptionHandler{nullptr};
std::atomic<bool> g_active{false};
Win32ThreadApi* g_threadApi = nullptr;
Win32Waker* g_waker = nullptr;
Win32FileApi* g_fileApi = nullptr;
Win32ResourceSource* g_resources = nullptr;
LocaleCompareFunc g_savedCompare = nullptr;
const char kAppClass[] = "TApplication";

void DefaultExceptionReport(std::exception_ptr error) {
  char text[1024];
  const char* msg = ExceptionMessage(error, text, sizeof text);
  if (!*msg) return;
  char line[1100];
  std::snprintf(line, sizeof line, "Unhandled exception: %s\n", msg);
  OutputDebugStringA(line);
  std::fputs(line, stderr);
}

// An error dropped on purpose leaves a line in the debug log.
void LogSwallowedException(const char* where, const std::exception_ptr& error) {
  char text[1024];
  char line[1200];
  std::snprintf(line, sizeof line, "Swallowed exception in %s: %s\n", where,
                ExceptionMessage(error, text, sizeof text));
  OutputDebugStringA(line);
}

}  // namespace

void InitWin32Platform() {
  if (g_active) return;
  if (!g_threadApi) {
    g_threadApi = new Win32ThreadApi;
    g_waker = new Win32Waker;
    g_fileApi = new Win32FileApi;
    g_resources = new Win32ResourceSource;
  }
  SetThreadApi(g_threadApi);
  SetMainThreadID(GetCurrentThreadId());
  InitPlatformVersion();
  if (!GetSwallowedExceptionHook()) SetSwallowedExceptionHook(&LogSwallowedException);
  SetFileApi(g_fileApi);
  SetResourceSource(g_resources);
  ModuleHandle self = reinterpret_cast<ModuleHandle>(GetModuleHandleA(nullptr));
  SetMainInstance(self);
  RegisterModule(self);
  g_savedCompare = AnsiCompareHook;
  AnsiCompareHook = &LocaleCompare;
  SetResStringConverter(&WideToAnsiCp);
  InstallWin32RegistryBackend(true);
  char sep[8] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, sep, sizeof sep) && sep[0]) DecimalSeparator = sep[0];
  std::string timeFormat = LocaleTimeFormat();
  if (!timeFormat.empty()) LongTimeFormat = timeFormat;

  if (!g_syncEvent) g_syncEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  WNDCLASSA wc = {};
  wc.lpfnWndProc = &AppWndProc;
  wc.hInstance = MainHInstance();
  wc.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.lpszClassName = kAppClass;
  RegisterClassA(&wc);  // fails harmlessly when already registered
  HWND wnd = CreateWindowExA(WS_EX_TOOLWINDOW, kAppClass, "", WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU,
                             GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0, nullptr,
                             nullptr, MainHInstance(), nullptr);
  g_appWnd = wnd;
  g_wakePosted = false;
  SetMainThreadWaker(g_waker);
  SetMainThreadWaiter(&PumpingMainThreadWaiter());
  g_active = true;
}

void DoneWin32Platform() {
  if (!g_active) return;
  SetMainThreadWaiter(nullptr);
  SetMainThreadWaker(nullptr);
  HWND wnd = g_appWnd.exchange(nullptr);
  if (wnd) DestroyWindow(wnd);
  g_appHandler = nullptr;
  g_appHandlerData = nullptr;
  InstallWin32RegistryBackend(false);
  SetResStringConverter(nullptr);
  if (g_savedCompare) AnsiCompareHook = g_savedCompare;
  SetResourceSource(nullptr);
  SetFileApi(nullptr);
  // The thread API stays: threads started with it may still run.
  g_active = false;
}

bool Win32PlatformActive() {
  return g_active;
}

HINSTANCE MainHInstance() {
  return GetModuleHandleA(nullptr);
}

HWND ApplicationWindow() {
  return g_appWnd.load();
}

void SetApplicationWindowHandler(AppWindowHandler handler, void* data) {
  g_appHandler = handler;
  g_appHandlerData = data;
}

HANDLE SynchronizeEvent() {
  return g_syncEvent;
}

CallbackExceptionHandler SetCallbackExceptionHandler(CallbackExceptionHandler handler) {
  return g_exceptionHandler.exchange(handler);
}

void HandleCallbackException(std::exception_ptr error) noexcept {
  // The handler shows messages and runs the application's OnException: that
  // is the main thread's work. Another thread queues the error for it and
  // goes on; without a main thread to serve the queue the error is reported
  // here.
  if (g_active && MainThreadID() != 0 && !IsMainThread()) {
    try {
      QueueMainThreadCall([error] { HandleCallbackException(error); });
      return;
    } catch (...) {
      // The error is reported here instead, below.
      SwallowException("HandleCallbackException: queueing the error for the main thread");
    }
  }
  try {
    if (CallbackExceptionHandler h = g_exceptionHandler.load())
      h(error);
    else
      DefaultExceptionReport(error);
  } catch (...) {
    try {
      DefaultExceptionReport(std::current_exception());
    } catch (...) {
      // The swallowed-error hook only logs; it never comes back here.
      SwallowException("HandleCallbackException: the default report failed");
    }
  }
}

const char* ExceptionMessage(const std::exception_ptr& error, char* buffer, std::size_t size) noexcept {
  if (!buffer || size == 0) return "";
  buffer[0] = '\0';
  if (!error) return buffer;
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
  } catch (const Exception& e) {
    std::snprintf(buffer, size, "%s", e.Message.c_str());
  } catch (const std::exception& e) {
    std::snprintf(buffer, size, "%s", e.what());
  } catch (...) {
    std::snprintf(buffer, size, "%s", "Unknown exception");
  }
  return buffer;
}

std::string SysErrorMessage(DWORD code) {
  char* text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string s;
  if (n && text) s.assign(text, n);
  if (text) LocalFree(text);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) s.pop_back();
  if (s.empty()) s = "System error " + std::to_string(code);
  return s;
}

std::uint64_t MonotonicMilliseconds() {
  static LARGE_INTEGER freq = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<std::uint64_t>(now.QuadPart / freq.QuadPart * 1000 +
                                    (now.QuadPart % freq.QuadPart) * 1000 / freq.QuadPart);
}
