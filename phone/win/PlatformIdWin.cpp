#include "PlatformIdWin.h"

#include "SysUtilsWin.h"

void InitPlatformId() {
  InitPlatformVersion();
}
