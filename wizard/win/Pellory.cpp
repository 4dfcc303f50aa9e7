#include "Pellory.h"

#include <windows.h>

#include <cstddef>
#include <exception>
#include <iterator>

#include "Animate.h"
#include "ECoreWin.h"
#include "EDebugWin.h"
#include "EDisAsm.h"
#include "EHash.h"
#include "EHookWin.h"
#include "ELeaksWin.h"
#include "EReportFilesWin.h"
#include "ESocketsWin.h"
#include "EWebToolsWin.h"
#include "ExceptionLogWin.h"
#include "FinderDevicesWin.h"
#include "Forms.h"
#include "HTMLabel.h"
#include "JpegImage.h"
#include "LocOnFly.h"
#include "Main.h"
#include "ModuleResources.h"
#include "NokiaUtilsWin.h"
#include "PhoneFind.h"
#include "PhoneLink.h"
#include "PhonePlatformWin.h"
#include "PlatformIdWin.h"
#include "QVCtrls.h"
#include "QhrContextMap.h"
#include "QhrHelpRouter.h"
#include "QhrHelpRouterWin.h"
#include "QhrHhApiWin.h"
#include "ClipIcon.h"
#include "QvCursors.h"
#include "QvGIFWin.h"
#include "Swallow.h"
#include "SysUtils.h"
#include "SysUtilsWin.h"
#include "TimersWin.h"
#include "UcxActnList.h"
#include "UcxButtonNames.h"
#include "UcxControls.h"
#include "UcxForms.h"
#include "UcxGlobalObject.h"
#include "UcxMenus.h"
#include "UcxStdCtrls.h"
#include "UcxSysUtils.h"
#include "UcxSystem.h"
#include "Units.h"
#include "VirtualTreesWin.h"
#include "Win32Platform.h"
#include "Win32WidePlatform.h"
#include "WinLocOnFly.h"
#include "WinLocUtils.h"
#include "WinLocaleServices.h"

namespace {

void RestorePhonePlatform() {
  SetPhonePlatform(nullptr);
}

TPelloryStartupHook g_deviceHook = nullptr;

// The real infrared and DKU-2 devices for the finder; then the start-up hook,
// which may put others in their place before the finder is made.
void InstallFinderDevices() {
  UseWinFinderDevices();
  if (g_deviceHook) g_deviceHook();
}

// The Unicode label's class for form streaming.
void RegisterUcxStdCtrlsClasses() {
  RegisterClasses({&TUcxLabel::StaticClass()});
}

// The units in the order their initializations run: the framework, the locale
// services, the language-library swap and the on-the-fly localizer, the form
// components (mark-up label, shadow label, their cursors, the GIF format, the
// icon clipboard format), the string and platform routines, the JPEG format, the phone engine with the finder (whose search thread
// starts here), the animated image, the Unicode layer with its label (then its
// application companion, message hook and popup-menu list), the
// tree view (its shared resources only; no tree is made), the help map and
// router, and the wizard last.
UnitEntry g_units[] = {
    // The exception-reporting library: without a data block it only installs its filter.
    // The leak catcher first: without a block it leaves the memory manager alone.
    {"ELeaks", InitELeaks, nullptr},
    {"ECore", InitECoreWin, DoneECoreWin},
    {"EDebug", InitEDebug, DoneEDebug},
    {"EDisAsm", InitEDisAsm, DoneEDisAsm},
    {"EHash", InitEHash, nullptr},
    {"EListView", nullptr, nullptr},
    {"EEncrypt", nullptr, nullptr},
    {"EBase64", nullptr, nullptr},
    {"EXMLBuilder", InitEXMLBuilder, DoneEXMLBuilder},
    {"ELogManager", nullptr, nullptr},
    {"EWebTools", InitEWebTools, DoneEWebTools},
    {"EZlib2", nullptr, nullptr},
    {"EZip", nullptr, nullptr},
    {"ESockets", InitESocketsWin, DoneESocketsWin},
    {"EHook", InitEHook, DoneEHook},
    {"ExceptionLog", InitExceptionLog, DoneExceptionLog},
    {"Forms", InitForms, DoneForms},
    {"WinLocaleServices", InstallWinLocaleServices, nullptr},
    {"ModuleResources", InstallModuleResourceReader, nullptr},
    {"LocUtils", InitWinLocUtils, DoneLocUtils},
    {"LocOnFly", InitWinLocOnFly, DoneLocOnFly},
    {"HTMLabel", RegisterHTMLabelClasses, nullptr},
    {"QVCtrls", RegisterQvCtrlsClasses, nullptr},
    {"QvCursors", InitQvCursors, nullptr},
    {"QvGIF", InitQvGIF, DoneQvGIF},
    {"ClipIcon", InitClipIcon, nullptr},
    {"PlatformIdWin", InitPlatformId, nullptr},
    {"JpegImage", InitJpegImage, DoneJpegImage},
    {"TimersWin", UseMultimediaClock, nullptr},
    {"PhonePlatformWin", UseWinPhonePlatform, RestorePhonePlatform},
    {"NokiaUtilsWin", InitNokiaUtilsWin, DoneNokiaUtilsWin},
    {"FinderDevicesWin", InstallFinderDevices, nullptr},
    {"PhoneFind", PhoneFindInitialization, PhoneFindFinalization},
    {"Animate", RegisterAnimateClasses, nullptr},
    {"Win32WidePlatform", UseWin32WidePlatform, nullptr},
    {"UcxSysUtils", InitUcxSysUtils, nullptr},
    {"UcxSystem", InitUcxSystem, DoneUcxSystem},
    {"UcxControls", nullptr, DoneUcxControls},
    {"UcxStdCtrls", RegisterUcxStdCtrlsClasses, nullptr},
    {"UcxActnList", InitUcxActnList, nullptr},
    {"UcxMenus", InitUcxMenus, DoneUcxMenus},
    {"UcxForms", InitUcxForms, DoneUcxForms},
    {"UcxButtonNames", InitUcxButtonNames, DoneUcxButtonNames},
    {"UcxGlobalObject", nullptr, DoneUcxGlobalObject},
    {"VirtualTrees", InitVirtualTrees, DoneVirtualTrees},
    {"QhrHhApiWin", InitQhrHhApiWin, DoneQhrHhApiWin},
    {"QhrContextMap", InitQhrContextMap, nullptr},
    {"QhrHelpRouter", InitQhrHelpRouter, nullptr},
    {"QhrHelpRouterWin", InitQhrHelpRouterWin, DoneQhrHelpRouterWin},
    {"Main", InitMain, nullptr},
};

}  // namespace

// The localizer keeps its language files and libraries in "Languages" beside
// the program. Its errors here show in its message box; only afterwards does
// it turn silent.
namespace {

// A folder of the user's own for the language libraries the program's folder
// can't take (a program folder the user may not write); empty when none.
std::string UserLibraryFolder() {
  HMODULE lib = LoadSystemLibrary("shfolder.dll");
  if (!lib) return {};
  using TGetFolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
  auto getFolderPath =
      reinterpret_cast<TGetFolderPath>(reinterpret_cast<void*>(GetProcAddress(lib, "SHGetFolderPathA")));
  char buffer[MAX_PATH + 1] = {};
  const int kLocalAppData = 0x001C;
  const bool found = getFolderPath && getFolderPath(nullptr, kLocalAppData, nullptr, 0, buffer) == S_OK && buffer[0];
  FreeLibrary(lib);
  if (!found) return {};
  std::string folder = IncludeTrailingPathDelimiter(buffer) + "Pellory";
  CreateDirectoryA(folder.c_str(), nullptr);
  folder += "\\Languages";
  CreateDirectoryA(folder.c_str(), nullptr);
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
  return folder;
}

}  // namespace

void SetUpLanguages() {
  TJLocalizerOnFly* localizer = LocalizerOnFly();
  if (!localizer) return;
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string folder = ExtractFilePath(std::string(path, n < MAX_PATH ? n : 0)) + "Languages";
  try {
    localizer->Initialize(folder);
    localizer->SetLanguagesFolder(folder);
  } catch (...) {
    // The localizer has shown its own errors; whatever else went wrong with the
    // language data, the wizard starts in the program's own language.
    SwallowException("Pellory.SetUpLanguages: the language data");
  }
  try {
    localizer->SetDLLFolder(localizer->GetLanguagesFolder());
  } catch (...) {
    // The missing folder has been reported above; the program goes on in its own language.
    SwallowException("Pellory.SetUpLanguages: the language-library folder");
  }
  localizer->UserLibraryPath = UserLibraryFolder();
  localizer->ErrorMode = 2;
}

namespace {

void ShowStartupError(std::exception_ptr error) {
  char buffer[1024];
  const char* text = ExceptionMessage(error, buffer, sizeof buffer);
  MessageBoxA(nullptr, text && *text ? text : "The program could not start.", "Pellory", MB_OK | MB_ICONERROR);
}

void Finalize() {
  try {
    RunUnitFinalizations();
  } catch (...) {
    // Every unit has had its turn; only the debug log is left to tell.
    SwallowException("Pellory.Finalize: ending the units");
  }
}

}  // namespace

int RunPellory(TPelloryStartupHook installDevices, TPelloryFormHook formMade) {
  g_deviceHook = installDevices;
  try {
    SetUnitTable(g_units, std::size(g_units));
    RunUnitInitializations();
  } catch (...) {
    ShowStartupError(std::current_exception());
    Finalize();
    return 1;
  }
  int exitCode = 0;
  try {
    Application->Initialize();
    SetUpLanguages();
    Application->SetTitle("Pellory");
    TWizardForm* form = Application->CreateForm<TWizardForm>();
    if (formMade) formMade(form);
    Application->Run();
  } catch (...) {
    if (Application)
      Application->HandleException(nullptr, std::current_exception());
    else
      ShowStartupError(std::current_exception());
    exitCode = 1;
  }
  // The form goes before the units end: the finder's shut-down must find no
  // form to call.
  try {
    if (Application) {
      TCustomForm* form = Application->MainForm();
      Application->SetMainForm(nullptr);
      FreeObject(form);
    }
  } catch (...) {
    exitCode = 1;
  }
  Finalize();
  return exitCode;
}
