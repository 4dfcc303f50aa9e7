// vtprobe: runs the tree view unit's start-up the way a program does and
// prints what it made: the platform, the registered formats in priority
// order, the seven image lists and whether the visual-styles library was
// loaded. Then it shuts the unit down, checks that OLE was left
// uninitialised and runs a second start-up and shut-down pair.
#include <windows.h>

#include <ole2.h>

#include <cstdio>
#include <exception>

#include "SysUtils.h"
#include "Themes.h"
#include "VirtualTreesWin.h"
#include "Win32Platform.h"

namespace {

int BitsPerPixel(TImageList* list) {
  IMAGEINFO info{};
  if (!list || list->Count() == 0 || !ImageList_GetImageInfo(list->Handle(), 0, &info)) return 0;
  BITMAP bitmap{};
  GetObjectA(info.hbmImage, sizeof bitmap, &bitmap);
  return bitmap.bmBitsPixel;
}

void Report() {
  std::printf("platform %d %d.%d\n", Win32Platform, Win32MajorVersion, Win32MinorVersion);
  TClipboardFormatList* formats = ClipboardFormats();
  for (std::size_t i = 0; i < formats->Count(); ++i) {
    const TClipboardFormatEntry& e = formats->Item(i);
    std::printf("format %u \"%s\" priority %d class %s\n", static_cast<unsigned>(e.FormatEtc.cfFormat),
                e.Description.c_str(), static_cast<int>(e.Priority), e.TreeClass ? e.TreeClass->Name() : "-");
  }
  std::printf("format %u \"Virtual Tree Reference\" registered\n", static_cast<unsigned>(CF_VTREFERENCE));
  for (int i = 0; i < kTreeImageListCount; ++i) {
    TImageList* list = TreeImageList(i);
    std::printf("list %d %s cells %d size %dx%d bits %d\n", i, TreeImageListResource(i), list->Count(),
                list->GetWidth(), list->GetHeight(), BitsPerPixel(list));
  }
  std::printf("uxtheme %s\n", ThemeLibraryLoaded() ? "loaded" : "not loaded");
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // every line out at once, also when the probe dies
  try {
    InitWin32Platform();
    InitVirtualTrees();
    Report();
    DoneVirtualTrees();
    const HRESULT again = OleInitialize(nullptr);
    std::printf("ole after shut-down: %s\n", again == S_OK ? "uninitialised" : "still initialised");
    if (SUCCEEDED(again)) OleUninitialize();
    InitVirtualTrees();
    const bool second = VirtualTreesInitialized() && TreeImageList(0) && TreeImageList(0)->Count() > 0;
    DoneVirtualTrees();
    std::printf("second start-up and shut-down: %s\n", second && !VirtualTreesInitialized() ? "ok" : "failed");
    std::fflush(stdout);
    return 0;
  } catch (const std::exception& e) {
    std::printf("error: %s\n", e.what());
    return 1;
  }
}
