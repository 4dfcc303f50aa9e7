#include "ModuleResources.h"

#include <string>

#include "JLocales.h"
#include "LocaleServices.h"

namespace {

struct TEnumState {
  std::uint32_t type;
  std::vector<TResListEntry>* out;
  bool failed = false;
};

BOOL CALLBACK AddResource(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
  auto* state = reinterpret_cast<TEnumState*>(param);
  try {
    HRSRC info = FindResourceW(module, name, type);
    if (!info) return TRUE;
    HGLOBAL handle = LoadResource(module, info);
    const void* data = handle ? LockResource(handle) : nullptr;
    DWORD size = SizeofResource(module, info);
    if (!data) return TRUE;
    TResListEntry e;
    e.Type = state->type;
    if (IS_INTRESOURCE(name)) {
      e.Name = std::to_string(reinterpret_cast<ULONG_PTR>(name) & 0xFFFF);
      e.Numbered = true;
    } else {
      e.Name = WideToAnsiCodePage(reinterpret_cast<const char16_t*>(name), LocaleServices().AnsiCodePage());
    }
    e.Data = std::string_view(static_cast<const char*>(data), size);
    state->out->push_back(std::move(e));
    return TRUE;
  } catch (...) {
    state->failed = true;
    return FALSE;
  }
}

}  // namespace

std::vector<TResListEntry> ReadModuleResources(HMODULE module) {
  std::vector<TResListEntry> out;
  for (std::uint32_t type : {std::uint32_t{kRTString}, std::uint32_t{kRTRCData}}) {
    TEnumState state{type, &out};
    EnumResourceNamesW(module, MAKEINTRESOURCEW(type), AddResource, reinterpret_cast<LONG_PTR>(&state));
    if (state.failed) throw EOutOfMemory("Out of memory while reading the module's resources");
  }
  return out;
}

void InstallModuleResourceReader() {
  TResProcessor::SetModuleResourceReader(
      [](void* module) { return ReadModuleResources(static_cast<HMODULE>(module)); });
}
