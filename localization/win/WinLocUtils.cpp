#include "WinLocUtils.h"

#include <windows.h>

#include <vector>

ModuleHandle TWinLibraryLoader::LoadDataFile(const std::string& path) {
  const auto module = reinterpret_cast<ModuleHandle>(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (module) {
    std::lock_guard<std::mutex> hold(lock_);
    dataFiles_[module] = path;
  }
  return module;
}

void TWinLibraryLoader::FreeLibrary(ModuleHandle module) {
  if (!module) return;
  {
    std::lock_guard<std::mutex> hold(lock_);
    dataFiles_.erase(module);
  }
  ::FreeLibrary(reinterpret_cast<HMODULE>(module));
}

std::string TWinLibraryLoader::ModuleFileName(ModuleHandle module) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = dataFiles_.find(module);
    if (found != dataFiles_.end()) return found->second;
  }
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameA(reinterpret_cast<HMODULE>(module), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return std::string(buffer.data(), n);
    if (buffer.size() >= 32768) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

void InitWinLocUtils() {
  static TWinLibraryLoader loader;
  SetLocUtilsLoader(&loader);
  InitLocUtils();
}
