#include "EHookWin.h"

#include <algorithm>
#include <cstring>

#include "ECore.h"
#include "ECoreWin.h"
#include "SysUtils.h"

// --- Process memory -----------------------------------------------------------------------------------
bool ProcessMemoryReader::IsReadable(std::uint64_t address, std::size_t length) {
  return IsReadableMemory(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)), length);
}

bool ProcessMemoryReader::Read(std::uint64_t address, void* buffer, std::size_t length) {
  const void* p = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address));
  if (!IsReadableMemory(p, length)) return false;
  std::memcpy(buffer, p, length);
  return true;
}

ProcessMemoryReader& ProcessMemory() {
  static ProcessMemoryReader reader;
  return reader;
}

namespace {

struct HookedSlot {
  void** table;
  void* original;
  int index;
};

// The pointer-slot records and their lock.
struct HookedMethodsList {
  CRITICAL_SECTION lock;
  std::vector<HookedSlot> slots;
  HookedMethodsList() { InitializeCriticalSection(&lock); }
  ~HookedMethodsList() {
    EnterCriticalSection(&lock);
    for (const HookedSlot& s : slots) WritePointerSlot(s.table, s.index, s.original);
    slots.clear();
    LeaveCriticalSection(&lock);
    DeleteCriticalSection(&lock);
  }
};

struct CodeHook {
  void* entry;
  void* trampoline;
  std::size_t trampolineSize;
  std::vector<std::uint8_t> saved;
};

struct ImportPatch {
  HMODULE module;
  std::string dllName;
  void* original;
  void* replacement;
};

int g_hookInits = 0;
std::vector<ImportPatch>* g_imports = nullptr;
HookedMethodsList* g_methods = nullptr;
std::vector<CodeHook>* g_codeHooks = nullptr;

class SlotLock {
 public:
  explicit SlotLock(HookedMethodsList* list) : list_(list) { EnterCriticalSection(&list_->lock); }
  ~SlotLock() { LeaveCriticalSection(&list_->lock); }

 private:
  HookedMethodsList* list_;
};

std::string ModuleFileNameOf(HMODULE module) {
  char buf[MAX_PATH + 1];
  const DWORD n = GetModuleFileNameA(module, buf, MAX_PATH);
  return std::string(buf, n);
}

bool IsSharedArea(const void* address) {
  return GetCoreSystemApi().IsWin9x() && reinterpret_cast<std::uintptr_t>(address) >= 0x80000000u;
}

std::string SharedAreaModuleName(const void* address) {
  MEMORY_BASIC_INFORMATION mbi{};
  VirtualQuery(address, &mbi, sizeof mbi);
  return ModuleFileNameOf(static_cast<HMODULE>(mbi.AllocationBase));
}

void EHookInitStep() {
  g_imports = new std::vector<ImportPatch>;
  g_methods = new HookedMethodsList;
  g_codeHooks = new std::vector<CodeHook>;
}

void EHookDoneStep() {
  if (g_imports) {
    for (const ImportPatch& p : *g_imports)
      PatchImportInModule(p.module, p.dllName, p.replacement, true, true, std::string(), p.original);
    delete g_imports;
    g_imports = nullptr;
  }
  delete g_methods;  // writes the saved originals back
  g_methods = nullptr;
  if (g_codeHooks) {
    while (!g_codeHooks->empty()) UnhookProcedureCode(g_codeHooks->back().entry);
    delete g_codeHooks;
    g_codeHooks = nullptr;
  }
}

}  // namespace

void InitEHook() {
  if (g_hookInits++ == 0) RunGuardedStep(EHookInitStep, "EHook.Init");
}

void DoneEHook() {
  if (g_hookInits == 0 || --g_hookInits > 0) return;
  RunGuardedStep(EHookDoneStep, "EHook.Done");
}

// --- Writing ------------------------------------------------------------------------------------------
bool WriteCodeBytes(void* address, const void* bytes, std::size_t size) {
  DWORD old = 0;
  if (!VirtualProtect(address, size, PAGE_EXECUTE_READWRITE, &old)) return false;
  SIZE_T written = 0;
  const bool ok = WriteProcessMemory(GetCurrentProcess(), address, bytes, size, &written) && written == size;
  DWORD ignored;
  VirtualProtect(address, size, old, &ignored);  // whatever the write did
  FlushInstructionCache(GetCurrentProcess(), address, size);
  return ok;
}

bool WritePointerSlot(void** table, int index, void* pointer) {
  void** slot = table + index;
  MEMORY_BASIC_INFORMATION mbi{};
  if (VirtualQuery(slot, &mbi, sizeof mbi) == 0 || mbi.AllocationBase == nullptr || mbi.State != MEM_COMMIT)
    return false;
  return WriteCodeBytes(slot, &pointer, sizeof pointer);
}

bool WriteJumpAt(void* address, const void* target) {
  const auto at = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address));
  const auto to = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(target));
  const std::vector<std::uint8_t> jump = JumpBytes(at, to);
  return WriteCodeBytes(address, jump.data(), jump.size());
}

// --- Pointer slots ------------------------------------------------------------------------------------
void* HookPointerSlot(void** table, int index, void* newPointer) {
  if (!g_methods || !table) return nullptr;
  SlotLock lock(g_methods);
  void* old = table[index];
  if (old == newPointer) {
    for (const HookedSlot& s : g_methods->slots)
      if (s.table == table && s.index == index) return s.original;
    return newPointer;
  }
  if (!WritePointerSlot(table, index, newPointer)) return old;
  g_methods->slots.push_back({table, old, index});
  return old;
}

bool UnhookPointerSlot(void** table, int index) {
  if (!g_methods) return false;
  SlotLock lock(g_methods);
  auto& slots = g_methods->slots;
  for (auto it = slots.begin(); it != slots.end(); ++it) {
    if (it->table == table && it->index == index) {
      WritePointerSlot(table, index, it->original);
      slots.erase(it);
      return true;
    }
  }
  return false;
}

// --- Code hooks ---------------------------------------------------------------------------------------
void* HookProcedureCode(void* procedure, void* replacement, const std::string& name) {
  if (procedure) procedure = const_cast<void*>(FollowImportJump(procedure));
  if (replacement) replacement = const_cast<void*>(FollowImportJump(replacement));
  if (!procedure) throw EProcNull(Format(kProcNullMessage, name));
#if defined(__i386__)
  if (IsSharedArea(procedure)) throw ESharedArea(Format(kSharedAreaMessage, SharedAreaModuleName(procedure)));
  if (!g_codeHooks || !replacement) throw EHookingError(Format(kHookingErrorMessage, name));
  for (const CodeHook& h : *g_codeHooks)
    if (h.entry == procedure) return h.trampoline;  // an entry is never patched twice
  // The block is placed first, so that the copy is relocated for its address.
  std::uint8_t probe[5 + kMaxDecodedBytes];
  const std::size_t got = ProcessMemory().ReadUpTo(reinterpret_cast<std::uintptr_t>(procedure), probe, sizeof probe);
  if (got < 5) throw EHookingError(Format(kHookingErrorMessage, name));
  const std::size_t blockSize = GetTrampolineSize(probe, got) + 5 + 5 * 4;
  void* block = VirtualAlloc(nullptr, blockSize, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
  if (!block) throw EHookingError(Format(kHookingErrorMessage, name));
  TCodeTrampoline t;
  try {
    t = BuildCodeTrampoline(ProcessMemory(), static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(procedure)),
                            static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(block)), name);
  } catch (...) {
    VirtualFree(block, 0, MEM_RELEASE);
    throw;
  }
  if (t.Code.size() > blockSize) {
    VirtualFree(block, 0, MEM_RELEASE);
    throw EHookingError(Format(kHookingErrorMessage, name));
  }
  std::memcpy(block, t.Code.data(), t.Code.size());
  FlushInstructionCache(GetCurrentProcess(), block, t.Code.size());
  g_codeHooks->push_back({procedure, block, t.Code.size(), t.Saved});
  if (!WriteJumpAt(procedure, replacement)) {
    g_codeHooks->pop_back();
    VirtualFree(block, 0, MEM_RELEASE);
    throw EHookingError(Format(kHookingErrorMessage, name));
  }
  return block;
#else
  // Code hooks use 32-bit jumps and a 32-bit decoder.
  (void)IsSharedArea;
  (void)SharedAreaModuleName;
  throw EHookingError(Format(kHookingErrorMessage, name));
#endif
}

bool UnhookProcedureCode(void* address) {
  if (!g_codeHooks || !address) return false;
  bool found = false;
  for (std::size_t i = g_codeHooks->size(); i-- > 0;) {
    CodeHook& h = (*g_codeHooks)[i];
    if (h.entry != address && h.trampoline != address) continue;
    WriteCodeBytes(h.entry, h.saved.data(), h.saved.size());
    VirtualFree(h.trampoline, 0, MEM_RELEASE);
    g_codeHooks->erase(g_codeHooks->begin() + static_cast<std::ptrdiff_t>(i));
    found = true;
  }
  return found;
}

// --- Imports ------------------------------------------------------------------------------------------
const IMAGE_NT_HEADERS* GetPeNtHeaders(HMODULE module) {
  auto base = reinterpret_cast<const std::uint8_t*>(module);
  if (!module || !IsReadableMemory(base, 64)) return nullptr;
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0) return nullptr;
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (!IsReadableMemory(nt, sizeof(IMAGE_NT_HEADERS)) || nt->Signature != IMAGE_NT_SIGNATURE) return nullptr;
  return nt;
}

namespace {

// The 9x line's system stub: push imm32, then jmp at offset 5.
bool IsPushJumpStub(const void* p, std::uint32_t& pushed) {
  auto b = static_cast<const std::uint8_t*>(p);
  if (!IsReadableMemory(b, 10) || b[0] != 0x68 || b[5] != 0xE9) return false;
  std::memcpy(&pushed, b + 1, 4);
  return true;
}

}  // namespace

void* PatchImportInModule(HMODULE module, const std::string& dllName, void* oldProc, bool noRecord, bool noError,
                          const std::string& label, void* newProc) {
  if (!oldProc) throw EProcNull(Format(kProcNullMessage, label));
  if (IsSharedArea(module)) throw ESharedArea(Format(kSharedAreaMessage, ModuleFileNameOf(module)));
  std::uint32_t stubPush = 0;
  const bool stub = GetCoreSystemApi().IsWin9x() && IsPushJumpStub(oldProc, stubPush);
  const IMAGE_NT_HEADERS* nt = GetPeNtHeaders(module);
  const IMAGE_DATA_DIRECTORY* dir = nt && nt->OptionalHeader.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_IMPORT
                                        ? &nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT]
                                        : nullptr;
  if (!dir || dir->VirtualAddress == 0) {
    if (!noError) throw EHookingError(Format(kHookingErrorMessage, label));
    return nullptr;
  }
  auto base = reinterpret_cast<std::uint8_t*>(module);
  const std::size_t imageSize = nt->OptionalHeader.SizeOfImage;
  bool patched = false;
  for (auto desc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir->VirtualAddress);
       IsReadableMemory(desc, sizeof *desc) && desc->Name != 0; ++desc) {
    if (desc->Name >= imageSize || desc->FirstThunk == 0 || desc->FirstThunk >= imageSize) continue;
    const char* name = reinterpret_cast<const char*>(base + desc->Name);
    if (!IsReadableMemory(name, 1) || !SameText(std::string(name, strnlen(name, imageSize - desc->Name)), dllName))
      continue;
    for (auto slot = reinterpret_cast<void**>(base + desc->FirstThunk); IsReadableMemory(slot, sizeof *slot) && *slot;
         ++slot) {
      std::uint32_t pushed = 0;
      const bool matches = stub ? (IsPushJumpStub(*slot, pushed) && pushed == stubPush) : *slot == oldProc;
      if (!matches) continue;
      if (WriteCodeBytes(slot, &newProc, sizeof newProc)) {
        patched = true;
        if (!noRecord && g_imports) g_imports->push_back({module, dllName, oldProc, newProc});
      }
    }
  }
  if (!patched) {
    if (!noError) throw EHookingError(Format(kHookingErrorMessage, label));
    return nullptr;
  }
  return oldProc;
}

bool HookImportInModules(const std::vector<std::string>& moduleNames, const std::string& dllName, bool noError,
                         void*& oldProc, void* newProc, const std::string& procName) {
  HMODULE dll = GetModuleHandleA(dllName.c_str());
  oldProc = dll ? reinterpret_cast<void*>(GetProcAddress(dll, procName.c_str())) : nullptr;
  bool any = false;
  for (const std::string& name : moduleNames) {
    HMODULE module = name.empty() ? nullptr : GetModuleHandleA(name.c_str());
    if (!module) continue;
    if (PatchImportInModule(module, dllName, oldProc, false, noError, dllName + "." + procName, newProc)) any = true;
  }
  return any;
}
