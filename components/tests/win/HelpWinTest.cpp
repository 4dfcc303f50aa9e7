// The help router and map on Windows: the real HTML Help library with a small
// compiled help file, the application's help handler, and the popup record.
#include <gtest/gtest.h>

#include <windows.h>

#include <htmlhelp.h>

#include <string>
#include <vector>

#include "FormFromText.h"
#include "Forms.h"
#include "PumpingWait.h"
#include "QhrContextMap.h"
#include "QhrHelpRouter.h"
#include "QhrHelpRouterWin.h"
#include "QhrHhApiWin.h"
#include "SysUtils.h"

namespace {

// The test help file as Windows names it (drive Z: is the root folder).
std::string HelpFile() {
  std::string path = "Z:" + std::string(PELLORY_TEST_CHM);
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

BOOL CALLBACK CollectHelpWindow(HWND w, LPARAM p) {
  try {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    char name[64] = {};
    GetClassNameA(w, name, sizeof name);
    if (pid == GetCurrentProcessId() && std::string(name) == "HH Parent" && IsWindowVisible(w))
      reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
    return TRUE;
  } catch (...) {
    return FALSE;
  }
}

// The visible help windows of this process.
std::vector<HWND> HelpWindows() {
  std::vector<HWND> found;
  EnumWindows(&CollectHelpWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

struct EarlierHandler {
  int calls = 0;
  std::uint16_t command = 0;
  std::intptr_t data = 0;
  // Leaves CallHelp set: the request goes on.
  bool OnHelp(std::uint16_t c, std::intptr_t d, bool&) {
    ++calls;
    command = c;
    data = d;
    return true;
  }
};

struct PopupRecord {
  std::string file;
  unsigned command = 0;
  std::uint32_t idString = 0;
  std::int32_t cbStruct = 0;
};
std::vector<PopupRecord> g_popups;

int g_fakeLibrary;
const HtmlHelpLibraryApi g_recordingLibrary = {
    [] { return static_cast<void*>(&g_fakeLibrary); }, [](void* library) { return library; }, [](void*) {},
    [](void*, HelpWindow, const char* file, unsigned command, std::uintptr_t data) -> HelpWindow {
      PopupRecord r{file ? file : "", command, 0, 0};
      if (command == HhDisplayTextPopup) {
        const auto* popup = reinterpret_cast<const HH_POPUP*>(data);
        r.idString = popup->idString;
        r.cbStruct = popup->cbStruct;
      }
      g_popups.push_back(r);
      return 1;
    }};

TForm* ReadHelpForm() {
  return ReadFormText(
      "object HelpForm: TForm\r\n"
      "  object TLQHelpContextMap: THelpContextMap\r\n"
      "  end\r\n"
      "  object TLQHelpRouter: THelpRouter\r\n"
      "    HelpType = htHTMLhelp\r\n"
      "    ShowType = stMain\r\n"
      "    CHMPopupTopics = 'CSHelp.txt'\r\n"
      "    ValidateID = False\r\n"
      "  end\r\n"
      "end\r\n");
}

class HelpWin : public ::testing::Test {
 protected:
  void SetUp() override {
    InitForms();
    InitQhrContextMap();
    InitQhrHelpRouter();
    InitQhrHhApiWin();
    InitQhrHelpRouterWin();
    Application->OnHelp = THelpEvent::Bind<&EarlierHandler::OnHelp>(&earlier_);
    g_popups.clear();
  }
  void TearDown() override {
    DoneQhrHelpRouterWin();
    DoneQhrHhApiWin();
    Application->OnHelp = nullptr;
  }
  EarlierHandler earlier_;
};

}  // namespace

TEST_F(HelpWin, AContextOpensTheHelpWindowAndQuitClosesIt) {
  ASSERT_TRUE(FileExists(HelpFile())) << HelpFile();
  TOwned<TForm> form(ReadHelpForm());
  auto* map = static_cast<THelpContextMap*>(form->FindComponent("TLQHelpContextMap"));
  auto* router = static_cast<THelpRouter*>(form->FindComponent("TLQHelpRouter"));
  ASSERT_NE(map, nullptr);
  ASSERT_NE(router, nullptr);
  EXPECT_EQ(router->GetHelpType(), htHTMLhelp);
  EXPECT_EQ(LiveHelpRouter(), router);

  // The wizard's hook-up: the compiled file as the map's file, then as the router's.
  map->SetFileName(HelpFile());
  EXPECT_EQ(map->Count(), 0) << "a compiled help file holds no map text";
  router->Helpfile = map->GetFileName();

  // The library comes from the system folder.
  HMODULE library = GetModuleHandleA("hhctrl.ocx");
  ASSERT_NE(library, nullptr) << "loaded when the type was set";
  char loaded[MAX_PATH] = {};
  GetModuleFileNameA(library, loaded, MAX_PATH);
  EXPECT_TRUE(SameText(loaded, HtmlHelpLibraryPath())) << loaded << " vs " << HtmlHelpLibraryPath();

  ASSERT_TRUE(HelpWindows().empty());
  EXPECT_TRUE(Application->HelpContext(620));
  EXPECT_EQ(earlier_.calls, 1) << "the kept handler is asked first";
  PumpingWaitUntil(5000, [] { return !HelpWindows().empty(); });
  EXPECT_FALSE(HelpWindows().empty()) << "a help window appears";
  EXPECT_EQ(LastResolvedHelpFile(), HelpFile());

  EXPECT_FALSE(Application->HelpContext(999)) << "a context the file does not map";

  Application->HelpCommand(HELP_QUIT, 0);
  PumpingWaitUntil(5000, [] { return HelpWindows().empty(); });
  EXPECT_TRUE(HelpWindows().empty()) << "HELP_QUIT closes it";

  // The unit's finalization closes what is open before the library goes.
  EXPECT_TRUE(Application->HelpContext(300));
  PumpingWaitUntil(5000, [] { return !HelpWindows().empty(); });
  ASSERT_FALSE(HelpWindows().empty());
  DoneQhrHhApiWin();
  PumpingWaitUntil(5000, [] { return HelpWindows().empty(); });
  EXPECT_TRUE(HelpWindows().empty());
  EXPECT_EQ(GetModuleHandleA("hhctrl.ocx"), nullptr);
}

TEST_F(HelpWin, ContextPopupsAskForTheTopicFileInsideTheHelpFile) {
  TOwned<TForm> form(ReadHelpForm());
  auto* router = static_cast<THelpRouter*>(form->FindComponent("TLQHelpRouter"));
  ASSERT_NE(router, nullptr);
  router->ShowType = stDefault;
  router->Helpfile = HelpFile();
  // The host stays; the library is one that records (the platform's does not show text popups).
  SetHtmlHelpLibraryApi(&g_recordingLibrary);
  EXPECT_TRUE(Application->HelpCommand(HELP_SETPOPUP_POS, MAKELONG(30, 40)) == false);
  EXPECT_TRUE(Application->HelpCommand(HELP_CONTEXTPOPUP, 620));
  ASSERT_EQ(g_popups.size(), 1u);
  EXPECT_EQ(g_popups[0].command, static_cast<unsigned>(HH_DISPLAY_TEXT_POPUP));
  EXPECT_EQ(g_popups[0].file, HelpFile() + "::/CSHelp.txt");
  EXPECT_EQ(g_popups[0].idString, 620u);
  EXPECT_EQ(g_popups[0].cbStruct, static_cast<std::int32_t>(sizeof(HH_POPUP)));
  if (sizeof(void*) == 4) {
    EXPECT_EQ(sizeof(HH_POPUP), 52u);
  }
}

TEST_F(HelpWin, AfterTheRouterIsFreedHelpReachesTheEarlierHandler) {
  {
    TOwned<TForm> form(ReadHelpForm());
    EXPECT_NE(LiveHelpRouter(), nullptr);
  }
  EXPECT_EQ(LiveHelpRouter(), nullptr);
  EXPECT_TRUE(Application->OnHelp == THelpEvent::Bind<&EarlierHandler::OnHelp>(&earlier_));
  EXPECT_TRUE(Application->HelpContext(300));
  EXPECT_EQ(earlier_.calls, 1);
  EXPECT_EQ(earlier_.command, HELP_CONTEXT);
  EXPECT_EQ(earlier_.data, 300);
  // A second form may hold a router again.
  TOwned<TForm> again(ReadHelpForm());
  EXPECT_NE(LiveHelpRouter(), nullptr);
}
