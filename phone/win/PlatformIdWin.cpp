#include "PlatformIdWin.h"

#include <windows.h>

#include "SerialPorts.h"

void InitPlatformId() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (::GetVersionExA(&info)) SetPlatformId(static_cast<int>(info.dwPlatformId));
}
