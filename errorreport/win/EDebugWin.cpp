#include "EDebugWin.h"

#include "ECore.h"
#include "ECoreWin.h"
#include "EHookWin.h"
#include "ESystemWin.h"
#include "ExceptionLogWin.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

class ProcessModules : public DebugModuleAccess {
 public:
  std::string ModuleFileName(ModuleHandle module) override {
    char buf[MAX_PATH + 1];
    const DWORD n = GetModuleFileNameA(reinterpret_cast<HMODULE>(module), buf, MAX_PATH);
    return std::string(buf, n);
  }
  bool ModuleImage(ModuleHandle module, const std::uint8_t*& image, std::size_t& size) override {
    auto base = reinterpret_cast<const std::uint8_t*>(module);
    if (!base || !IsReadableMemory(base, sizeof(IMAGE_DOS_HEADER))) return false;
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0) return false;
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (!IsReadableMemory(nt, sizeof(IMAGE_NT_HEADERS)) || nt->Signature != IMAGE_NT_SIGNATURE) return false;
    // Sections without access (guard pages, discarded parts) end the part the readers see.
    const std::size_t whole = nt->OptionalHeader.SizeOfImage;
    std::size_t readable = 0;
    while (readable < whole) {
      MEMORY_BASIC_INFORMATION mbi;
      if (!VirtualQuery(base + readable, &mbi, sizeof mbi) || mbi.State != MEM_COMMIT) break;
      const std::size_t end =
          static_cast<std::size_t>(static_cast<const std::uint8_t*>(mbi.BaseAddress) - base) + mbi.RegionSize;
      if (!IsReadableMemory(base + readable, end - readable)) break;
      readable = end;
    }
    if (readable == 0) return false;
    image = base;
    size = std::min(readable, whole);
    return true;
  }
};

class ProcessLocations : public LocationEnvironment {
 public:
  TVantorModuleInfo* ModuleEntryOf(std::uint64_t address) override {
    return GetModuleEntryOfAddress(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)));
  }
  bool IsOwnUnit(const std::string& unitName) override { return IsOwnUnitName(unitName); }
  bool ReportingOwnFailure() override { return InternalFailureRunning(); }
  MemoryReader* Memory() override { return &ProcessMemory(); }
};

ProcessModules g_modules;
ProcessLocations g_locations;
int g_inits = 0;

}  // namespace

void InitEDebug() {
  if (g_inits++ != 0) return;
  SetDebugModuleAccess(&g_modules);
  SetLocationEnvironment(&g_locations);
}

void DoneEDebug() {
  if (g_inits == 0 || --g_inits != 0) return;
  if (GetDebugModuleAccess() == &g_modules) SetDebugModuleAccess(nullptr);
  if (GetLocationEnvironment() == &g_locations) SetLocationEnvironment(nullptr);
}

const void* LoadModuleResource(HMODULE module, const char* name, const char* type, DWORD& size) {
  size = 0;
  HRSRC res = FindResourceA(module, name, type);
  if (!res) return nullptr;
  HGLOBAL loaded = LoadResource(module, res);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (data) size = SizeofResource(module, res);
  return data;
}

bool GetDataBlockSymbolValue(std::uint8_t id, std::uint32_t& value) {
  HMODULE self = reinterpret_cast<HMODULE>(&__ImageBase);
  DWORD size = 0;
  const void* data = LoadModuleResource(self, "VLDATA", MAKEINTRESOURCEA(10), size);
  std::uint32_t offset = 0;
  return data && FindDataBlockSymbolEntry(std::string_view(static_cast<const char*>(data), size), id, offset, value);
}

void* GetDataBlockSymbolAddress(std::uint8_t id) {
  HMODULE self = reinterpret_cast<HMODULE>(&__ImageBase);
  DWORD size = 0;
  const void* data = LoadModuleResource(self, "VLDATA", MAKEINTRESOURCEA(10), size);
  if (!data) return nullptr;
  std::uint32_t offset = 0;
  if (!FindDataBlockSymbol(std::string_view(static_cast<const char*>(data), size), id, offset)) return nullptr;
  return reinterpret_cast<void*>(
      static_cast<std::uintptr_t>(CodeAddressFromOffset(reinterpret_cast<ModuleHandle>(self), offset)));
}
