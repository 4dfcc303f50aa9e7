// PelloryFakeLinks.exe: the program with stand-ins for the infrared adapter
// and the DKU-2 cable (see FakeLinkDevices.h), for the end-to-end tests; its
// wizard also answers the test driver's control query (ControlQuery.h).
// Without the environment that names the simulators, it runs as Pellory.exe
// with that query.
#include <windows.h>

#include "ControlQuery.h"
#include "FakeLinkDevices.h"
#include "Pellory.h"

namespace {

void InstallFakeLinkDevices() {
  UseFakeLinkDevices();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return RunPellory(InstallFakeLinkDevices, AnswerControlQueries);
}
