// Pellory.exe: the program's entry.
#include <windows.h>

#include "Pellory.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return RunPellory();
}
