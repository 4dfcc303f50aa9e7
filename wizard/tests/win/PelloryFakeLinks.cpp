// PelloryFakeLinks.exe: the program with stand-ins for the infrared adapter
// and the DKU-2 cable (see FakeLinkDevices.h), for the end-to-end tests.
// Without the environment that names the simulators, it runs as Pellory.exe.
#include <windows.h>

#include "FakeLinkDevices.h"
#include "Pellory.h"

namespace {

void InstallFakeLinkDevices() {
  UseFakeLinkDevices();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return RunPellory(InstallFakeLinkDevices);
}
