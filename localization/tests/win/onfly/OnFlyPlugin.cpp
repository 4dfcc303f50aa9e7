// A library that switches its own resources when asked: the exports another
// module's localizer calls. It records each call for the test.
#include <windows.h>

#include <cstring>

#include "LocOnFly.h"

namespace {
int g_switches = 0;
int g_backs = 0;
char g_lastPath[MAX_PATH] = {};
}  // namespace

extern "C" {

__declspec(dllexport) BOOL WINAPI SwitchToFile(const char* path, TSwitchRecord* record) {
  ++g_switches;
  lstrcpynA(g_lastPath, path, MAX_PATH);
  std::memset(record, 0, sizeof *record);
  lstrcpynA(record->FileName, path, sizeof record->FileName);
  record->Locale = 0x0407;
  record->Version = 92;
  lstrcpynA(record->EnglishName, "German", sizeof record->EnglishName);
  record->Build = 0;
  return TRUE;
}

__declspec(dllexport) void WINAPI BackToModuleRes(HMODULE) {
  ++g_backs;
}

__declspec(dllexport) int WINAPI PluginCalls(int which, char* lastPath) {
  if (lastPath) lstrcpynA(lastPath, g_lastPath, MAX_PATH);
  return which == 0 ? g_switches : g_backs;
}
}
