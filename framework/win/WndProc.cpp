#include "WndProc.h"

#include <cstring>
#include <exception>
#include <mutex>
#include <new>

#include "Exceptions.h"
#include "Win32Platform.h"

namespace {

const char kUtilClass[] = "TPUtilWindow";

LRESULT CALLBACK UtilWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* method = reinterpret_cast<TWndMethod*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
  if (!method) return DefWindowProcA(wnd, msg, wp, lp);
  TMessage m{msg, wp, lp, 0};
  try {
    (*method)(m);
  } catch (...) {
    HandleCallbackException(std::current_exception());
    return 0;
  }
  return m.Result;
}

void RegisterUtilClass() {
  WNDCLASSA existing;
  if (GetClassInfoA(MainHInstance(), kUtilClass, &existing)) return;
  WNDCLASSA wc = {};
  wc.lpfnWndProc = &UtilWndProc;
  wc.hInstance = MainHInstance();
  wc.lpszClassName = kUtilClass;
  RegisterClassA(&wc);
}

// --- Object instances ------------------------------------------------------------------------

#if defined(__x86_64__) || defined(_M_X64)
constexpr std::size_t kThunkSize = 22;  // mov rcx, rec; mov rax, proc; jmp rax
#elif defined(__i386__) || defined(_M_IX86)
constexpr std::size_t kThunkSize = 15;  // mov dword [esp+4], rec; mov eax, proc; jmp eax
#else
#error "object instances are written for i686 and x86_64"
#endif

struct ObjectInstance {
  unsigned char code[24];
  ObjectInstance* next;  // in the free list
  TWndMethod method;
};
static_assert(kThunkSize <= sizeof(ObjectInstance{}.code), "thunk too long");

std::mutex& InstanceLock() {
  static std::mutex lock;
  return lock;
}
ObjectInstance* g_freeInstances = nullptr;

LRESULT CALLBACK StdWndProc(ObjectInstance* rec, UINT msg, WPARAM wp, LPARAM lp) {
  TMessage m{msg, wp, lp, 0};
  try {
    rec->method(m);
  } catch (...) {
    HandleCallbackException(std::current_exception());
  }
  return m.Result;
}

void WriteThunk(ObjectInstance* rec) {
  unsigned char* p = rec->code;
  auto put = [&p](const void* v, std::size_t n) {
    std::memcpy(p, v, n);
    p += n;
  };
#if defined(__x86_64__) || defined(_M_X64)
  const unsigned char movRcx[] = {0x48, 0xB9}, movRax[] = {0x48, 0xB8}, jmpRax[] = {0xFF, 0xE0};
  const std::uint64_t self = reinterpret_cast<std::uintptr_t>(rec);
  const std::uint64_t proc = reinterpret_cast<std::uintptr_t>(&StdWndProc);
  put(movRcx, 2);
  put(&self, 8);
  put(movRax, 2);
  put(&proc, 8);
  put(jmpRax, 2);
#else
  const unsigned char movArg[] = {0xC7, 0x44, 0x24, 0x04}, movEax[] = {0xB8}, jmpEax[] = {0xFF, 0xE0};
  const std::uint32_t self = reinterpret_cast<std::uintptr_t>(rec);
  const std::uint32_t proc = reinterpret_cast<std::uintptr_t>(&StdWndProc);
  put(movArg, 4);
  put(&self, 4);
  put(movEax, 1);
  put(&proc, 4);
  put(jmpEax, 2);
#endif
  FlushInstructionCache(GetCurrentProcess(), rec->code, sizeof rec->code);
}

}  // namespace

WNDPROC MakeObjectInstance(TWndMethod method) {
  std::lock_guard<std::mutex> g(InstanceLock());
  if (!g_freeInstances) {
    const std::size_t blockSize = 4096;
    void* block = VirtualAlloc(nullptr, blockSize, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    if (!block) throw EOutOfResources("Cannot allocate window procedure instances");
    auto* recs = static_cast<ObjectInstance*>(block);
    for (std::size_t i = 0; i < blockSize / sizeof(ObjectInstance); ++i) {
      new (&recs[i]) ObjectInstance{};
      recs[i].next = g_freeInstances;
      g_freeInstances = &recs[i];
    }
  }
  ObjectInstance* rec = g_freeInstances;
  g_freeInstances = rec->next;
  rec->next = nullptr;
  rec->method = method;
  WriteThunk(rec);
  return reinterpret_cast<WNDPROC>(static_cast<void*>(rec->code));
}

void FreeObjectInstance(WNDPROC instance) {
  if (!instance) return;
  auto* rec = reinterpret_cast<ObjectInstance*>(reinterpret_cast<void*>(instance));
  std::lock_guard<std::mutex> g(InstanceLock());
  rec->method = TWndMethod();
  rec->next = g_freeInstances;
  g_freeInstances = rec;
}

HWND AllocateHWnd(TWndMethod method) {
  RegisterUtilClass();
  HWND wnd = CreateWindowExA(WS_EX_TOOLWINDOW, kUtilClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, MainHInstance(),
                             nullptr);
  if (!wnd) throw EOutOfResources("Cannot create a window: " + SysErrorMessage(GetLastError()));
  if (method) SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new TWndMethod(method)));
  return wnd;
}

void DeallocateHWnd(HWND wnd) {
  if (!wnd) return;
  auto* method = reinterpret_cast<TWndMethod*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
  SetWindowLongPtrA(wnd, GWLP_USERDATA, 0);
  DestroyWindow(wnd);
  delete method;
}
