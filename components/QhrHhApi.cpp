#include "QhrHhApi.h"

#include "Swallow.h"

namespace {

const HtmlHelpLibraryApi* g_api = nullptr;
void* g_library = nullptr;
void* g_entry = nullptr;

}  // namespace

void SetHtmlHelpLibraryApi(const HtmlHelpLibraryApi* api) {
  FreeHtmlHelpLibrary();
  g_api = api;
}

bool LoadHtmlHelpLibrary() {
  if (!g_library) {
    g_entry = nullptr;
    if (!g_api) return false;
    try {
      g_library = g_api->Load();
    } catch (...) {
      SwallowException("LoadHtmlHelpLibrary: loading the library");
    }
    if (g_library) {
      try {
        g_entry = g_api->Find(g_library);
      } catch (...) {
        SwallowException("LoadHtmlHelpLibrary: looking up HtmlHelpA");
      }
    }
  }
  return g_library != nullptr;
}

bool EnsureHtmlHelp() {
  if (!g_library) LoadHtmlHelpLibrary();
  return g_entry != nullptr;
}

HelpWindow CallHtmlHelp(HelpWindow caller, const char* file, unsigned command, std::uintptr_t data) {
  if (!g_entry || !g_api) return 0;
  return g_api->Call(g_entry, caller, file, command, data);
}

void FreeHtmlHelpLibrary() {
  if (g_library && g_api) g_api->Free(g_library);
  g_library = nullptr;
  g_entry = nullptr;
}
