// The help router with a recording host: every call it makes to HTML Help,
// WinHelp and the cursor is noted and checked.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "QhrHelpRouter.h"

namespace {

struct HtmlCall {
  HelpWindow window;
  std::string file;  // "<none>" for a null file
  unsigned command;
  std::uintptr_t data;
  // The popup record of a text popup, copied during the call.
  HhPopup popup;
  std::string popupFont;
  bool operator==(const HtmlCall& o) const {
    return window == o.window && file == o.file && command == o.command && data == o.data;
  }
};

struct WinHelpCall {
  HelpWindow window;
  std::string file;
  unsigned command;
  std::intptr_t data;
  bool operator==(const WinHelpCall&) const = default;
};

struct Recorder {
  std::vector<HtmlCall> html;
  std::vector<WinHelpCall> winHelp;
  int loads = 0;
  int frees = 0;
  bool loadFails = false;
  HelpWindow htmlResult = 0x77;
  bool winHelpResult = true;
  std::int32_t cursorX = 400, cursorY = 300;
  int cursorAsked = 0;
} g_rec;

int g_library = 0, g_entry = 0;

const HtmlHelpLibraryApi g_fakeLibrary = {
    [] {
      ++g_rec.loads;
      return g_rec.loadFails ? nullptr : static_cast<void*>(&g_library);
    },
    [](void* library) { return library == &g_library ? static_cast<void*>(&g_entry) : nullptr; },
    [](void*) { ++g_rec.frees; },
    [](void* entry, HelpWindow caller, const char* file, unsigned command, std::uintptr_t data) -> HelpWindow {
      EXPECT_EQ(entry, &g_entry);
      HtmlCall call{caller, file ? file : "<none>", command, data, {}, {}};
      if (command == HhDisplayTextPopup) {
        call.popup = *reinterpret_cast<const HhPopup*>(data);
        call.popupFont = call.popup.pszFont ? call.popup.pszFont : "";
        call.popup.pszFont = nullptr;
        call.data = 0;  // an address: compared by its contents instead
      }
      g_rec.html.push_back(call);
      return g_rec.htmlResult;
    }};

bool RecordWinHelp(HelpWindow window, const std::string& file, unsigned command, std::intptr_t data) {
  g_rec.winHelp.push_back({window, file, command, data});
  return g_rec.winHelpResult;
}

bool RecordCursor(std::int32_t& x, std::int32_t& y) {
  ++g_rec.cursorAsked;
  x = g_rec.cursorX;
  y = g_rec.cursorY;
  return true;
}

constexpr HelpWindow AppWindow = 0x100;
constexpr HelpWindow FormWindowHandle = 0x200;

class TFakeForm : public TComponent {
  FW_CLASS(TFakeForm, TComponent)
 public:
  using TComponent::TComponent;
  HelpWindow window = 0;
  std::string helpFile;
};

class FakeHost : public HelpHost {
 public:
  THelpEvent onHelp;
  std::string helpFile = "C:\\app\\app.hlp";
  TComponent* active = nullptr;
  std::vector<TComponent*> windowsMade;
  THelpEvent& ApplicationOnHelp() override { return onHelp; }
  std::string ApplicationHelpFile() override { return helpFile; }
  HelpWindow ApplicationWindow() override { return AppWindow; }
  TComponent* ActiveForm() override { return active; }
  bool IsForm(TComponent* c) override { return c->InheritsFrom(TFakeForm::StaticClass()); }
  HelpWindow FormWindow(TComponent* form, bool create) override {
    auto* f = static_cast<TFakeForm*>(form);
    if (!f->window && create) {
      f->window = FormWindowHandle;
      windowsMade.push_back(form);
    }
    return f->window;
  }
  std::string FormHelpFile(TComponent* form) override { return static_cast<TFakeForm*>(form)->helpFile; }
};

// A handler that was the application's before the router came.
struct EarlierHandler {
  int calls = 0;
  bool clear = false;
  bool result = false;
  bool OnHelp(std::uint16_t, std::intptr_t, bool& callHelp) {
    ++calls;
    if (clear) callHelp = false;
    return result;
  }
};

}  // namespace

FW_IMPLEMENT_CLASS(TFakeForm)

class HelpRouter : public ::testing::Test {
 protected:
  void SetUp() override {
    g_rec = Recorder{};
    SetHtmlHelpLibraryApi(&g_fakeLibrary);
    SetHelpHost(&host_);
    HelpRouterWinHelp = &RecordWinHelp;
    HelpRouterCursorPos = &RecordCursor;
    form_.reset(New<TFakeForm>(nullptr));
    router_ = New<THelpRouter>(form_.get());
  }
  void TearDown() override {
    form_.reset();
    SetHelpHost(nullptr);
    SetHtmlHelpLibraryApi(nullptr);
    HelpRouterWinHelp = previousWinHelp_;
    HelpRouterCursorPos = previousCursor_;
  }
  // A request as the application makes it: its OnHelp, then (CallHelp left true) its own handling.
  bool Request(std::uint16_t command, std::intptr_t data, bool* callHelpOut = nullptr) {
    bool callHelp = true;
    bool result = host_.onHelp ? host_.onHelp(command, data, callHelp) : false;
    if (callHelpOut) *callHelpOut = callHelp;
    return result;
  }
  FakeHost host_;
  TOwned<TFakeForm> form_;
  THelpRouter* router_ = nullptr;
  HelpWinHelpFunc previousWinHelp_ = HelpRouterWinHelp;
  HelpCursorPosFunc previousCursor_ = HelpRouterCursorPos;
};

TEST_F(HelpRouter, HtmlHelpCommandTable) {
  router_->SetHelpType(htHTMLhelp);
  router_->Helpfile = "C:\\help\\connect.hlp";
  const std::string chm = "C:\\help\\connect.chm";
  const char* keyword = "modem";
  auto key = reinterpret_cast<std::intptr_t>(keyword);
  struct Case {
    std::uint16_t command;
    std::intptr_t data;
    std::vector<HtmlCall> calls;
    bool result;
  } cases[] = {
      {HelpContextCommand, 620, {{AppWindow, chm, HhHelpContext, 620, {}, {}}}, true},
      {HelpQuitCommand, 5, {{AppWindow, "<none>", HhCloseAll, 0, {}, {}}}, true},
      {HelpContentsCommand, 5, {{AppWindow, chm, HhDisplayToc, 0, {}, {}}}, true},
      {HelpFinderCommand, 5, {{AppWindow, chm, HhDisplayToc, 0, {}, {}}}, true},
      {HelpTabCommand, 0, {{AppWindow, chm, HhDisplayToc, 0, {}, {}}}, true},
      {HelpTabCommand, 3, {{AppWindow, chm, HhDisplayIndex, 0, {}, {}}}, true},
      {HelpKeyCommand, key, {{AppWindow, chm, HhDisplayIndex, static_cast<std::uintptr_t>(key), {}, {}}}, true},
      {HelpPartialKeyCommand, key, {{AppWindow, chm, HhDisplayIndex, static_cast<std::uintptr_t>(key), {}, {}}}, true},
      {HelpSetPopupPosCommand, 0, {}, false},
      {4, 1, {}, false},
      {0, 1, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    g_rec.html.clear();
    bool callHelp = true;
    EXPECT_EQ(Request(c.command, c.data, &callHelp), c.result);
    EXPECT_FALSE(callHelp);
    EXPECT_EQ(g_rec.html, c.calls);
  }
  EXPECT_TRUE(g_rec.winHelp.empty());
  EXPECT_EQ(LastResolvedHelpFile(), chm);
  EXPECT_EQ(LastResolvedHelpWindow(), AppWindow);

  // A call that opens no window gives false.
  g_rec.htmlResult = 0;
  EXPECT_FALSE(Request(HelpContextCommand, 999));
}

TEST_F(HelpRouter, ContextPopups) {
  router_->SetHelpType(htHTMLhelp);
  router_->Helpfile = "D:\\x\\connect.chm";
  // With the router's own file: "<file>.chm::/<topics>", the context as idString.
  EXPECT_TRUE(Request(HelpSetPopupPosCommand, static_cast<std::intptr_t>(0xFFF6'0014u)) == false);
  EXPECT_TRUE(Request(HelpContextPopupCommand, 620));
  ASSERT_EQ(g_rec.html.size(), 1u);
  const HtmlCall& first = g_rec.html[0];
  EXPECT_EQ(first.window, AppWindow);
  EXPECT_EQ(first.file, "D:\\x\\connect.chm::/CSHelp.txt");
  EXPECT_EQ(first.command, HhDisplayTextPopup);
  EXPECT_EQ(first.popup.cbStruct, static_cast<std::int32_t>(sizeof(HhPopup)));
  EXPECT_EQ(first.popup.idString, 620u);
  EXPECT_EQ(first.popup.hinst, nullptr);
  EXPECT_EQ(first.popup.pt.x, 20) << "the low half, signed";
  EXPECT_EQ(first.popup.pt.y, -10) << "the high half, signed";
  EXPECT_EQ(first.popup.clrForeground, 0xFFFFFFFFu);
  EXPECT_EQ(first.popup.clrBackground, 0xFFFFFFFFu);
  EXPECT_EQ(first.popup.rcMargins.left, -1);
  EXPECT_EQ(first.popup.rcMargins.bottom, -1);
  EXPECT_EQ(first.popupFont, "MS Sans Serif, 8");
  EXPECT_EQ(g_rec.cursorAsked, 0);

  // A second popup without a position is placed at the cursor; an empty topic file name is mended.
  router_->CHMPopupTopics = "";
  EXPECT_TRUE(Request(HelpContextPopupCommand, 300));
  ASSERT_EQ(g_rec.html.size(), 2u);
  EXPECT_EQ(g_rec.cursorAsked, 1);
  EXPECT_EQ(g_rec.html[1].popup.pt.x, 400);
  EXPECT_EQ(g_rec.html[1].popup.pt.y, 300);
  EXPECT_EQ(g_rec.html[1].file, "D:\\x\\connect.chm::/CSHelp.txt");
  EXPECT_EQ(router_->CHMPopupTopics, "CSHelp.txt");

  // A popup of a given text goes to the target form's window, with no file.
  g_rec.html.clear();
  EXPECT_TRUE(router_->ShowTextPopup(5, 6, "Some text", 0));
  ASSERT_EQ(g_rec.html.size(), 1u);
  EXPECT_EQ(g_rec.html[0].window, FormWindowHandle) << "the owner form's window, made for it";
  EXPECT_EQ(g_rec.html[0].file, "<none>");
  EXPECT_EQ(g_rec.html[0].popup.idString, 0u);
  EXPECT_EQ(host_.windowsMade.size(), 1u);

  // A popup is served even when HTML Help shows nothing; ShowTextPopup says so.
  g_rec.htmlResult = 0;
  EXPECT_TRUE(Request(HelpContextPopupCommand, 620));
  EXPECT_FALSE(router_->ShowTextPopup(1, 1, "", 620));
}

TEST_F(HelpRouter, ShowTypeMainTurnsPopupsIntoTopics) {
  router_->SetHelpType(htHTMLhelp);
  router_->ShowType = stMain;
  router_->Helpfile = "C:\\w\\connect.chm";
  EXPECT_FALSE(Request(HelpSetPopupPosCommand, 0x00100010));
  EXPECT_TRUE(g_rec.html.empty()) << "the position request becomes command 0";
  EXPECT_TRUE(Request(HelpContextPopupCommand, 620));
  EXPECT_EQ(g_rec.html, (std::vector<HtmlCall>{{AppWindow, "C:\\w\\connect.chm", HhHelpContext, 620, {}, {}}}));
}

TEST_F(HelpRouter, WinHelpAndMixedMode) {
  router_->Helpfile = "C:\\w\\connect.chm";
  // htWinhelp: every command goes to WinHelp with the ".hlp" name; command 0 is served without a call.
  EXPECT_TRUE(Request(HelpContextCommand, 100));
  g_rec.winHelpResult = false;
  EXPECT_FALSE(Request(HelpContextPopupCommand, 620));
  EXPECT_TRUE(Request(0, 0));
  router_->ShowType = stMain;
  EXPECT_TRUE(Request(HelpSetPopupPosCommand, 7)) << "stMain makes it command 0";
  EXPECT_EQ(g_rec.winHelp, (std::vector<WinHelpCall>{{AppWindow, "C:\\w\\connect.hlp", HelpContextCommand, 100},
                                                     {AppWindow, "C:\\w\\connect.hlp", HelpContextPopupCommand, 620}}));
  EXPECT_EQ(g_rec.loads, 0) << "WinHelp needs no HTML Help library";
  EXPECT_TRUE(g_rec.html.empty());

  // Mixed mode: popups and their positions to WinHelp, the rest to HTML Help.
  router_->ShowType = stDefault;
  g_rec.winHelp.clear();
  g_rec.winHelpResult = true;
  router_->SetHelpType(htMixedMode);
  EXPECT_EQ(g_rec.loads, 1) << "the library is loaded when the type is set";
  EXPECT_TRUE(Request(HelpContextPopupCommand, 620));
  EXPECT_TRUE(Request(HelpSetPopupPosCommand, 0x00050005));
  EXPECT_TRUE(Request(HelpContextCommand, 300));
  EXPECT_TRUE(Request(HelpContentsCommand, 0));
  EXPECT_EQ(g_rec.winHelp,
            (std::vector<WinHelpCall>{{AppWindow, "C:\\w\\connect.hlp", HelpContextPopupCommand, 620},
                                      {AppWindow, "C:\\w\\connect.hlp", HelpSetPopupPosCommand, 0x00050005}}));
  EXPECT_EQ(g_rec.html, (std::vector<HtmlCall>{{AppWindow, "C:\\w\\connect.chm", HhHelpContext, 300, {}, {}},
                                               {AppWindow, "C:\\w\\connect.chm", HhDisplayToc, 0, {}, {}}}));
}

TEST_F(HelpRouter, TheHelpFileIsResolvedInOrder) {
  router_->SetHelpType(htHTMLhelp);
  struct Case {
    const char* what;
    std::string formFile;
    HelpWindow formWindow;
    bool active;
    std::string routerFile;
    std::string file;
    HelpWindow window;
  } cases[] = {
      {"the application's", "", 0, false, "", "C:\\app\\app.chm", AppWindow},
      {"a form without a window", "C:\\f\\form.hlp", 0, false, "", "C:\\app\\app.chm", AppWindow},
      {"the owner form's", "C:\\f\\form.hlp", 0x300, false, "", "C:\\f\\form.chm", 0x300},
      {"the active form's", "C:\\a\\active.hlp", 0x400, true, "", "C:\\a\\active.chm", 0x400},
      {"the router's wins", "C:\\f\\form.hlp", 0x300, false, "C:\\r\\router", "C:\\r\\router.chm", AppWindow},
  };
  TOwned<TFakeForm> other(New<TFakeForm>(nullptr));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TFakeForm* target = c.active ? other.get() : form_.get();
    form_->helpFile = other->helpFile = "";
    form_->window = other->window = 0;
    target->helpFile = c.formFile;
    target->window = c.formWindow;
    host_.active = c.active ? other.get() : nullptr;
    router_->Helpfile = c.routerFile;
    g_rec.html.clear();
    Request(HelpContextCommand, 1);
    ASSERT_EQ(g_rec.html.size(), 1u);
    EXPECT_EQ(g_rec.html[0].file, c.file);
    EXPECT_EQ(g_rec.html[0].window, c.window);
  }
  host_.active = nullptr;

  // An owner that is no form is an invalid cast.
  router_->Free();
  TOwned<TComponent> plainOwner(New<TComponent>(nullptr));
  New<THelpRouter>(plainOwner.get())->SetHelpType(htHTMLhelp);
  EXPECT_THROW(Request(HelpContextCommand, 1), EInvalidCast);
}

TEST_F(HelpRouter, HandlersComeFirst) {
  router_->SetHelpType(htHTMLhelp);
  router_->Helpfile = "C:\\w\\connect.chm";
  EarlierHandler own;
  router_->OnHelp = THelpEvent::Bind<&EarlierHandler::OnHelp>(&own);

  // OnHelp clearing CallHelp stops everything; its result stands.
  own.clear = true;
  own.result = true;
  EXPECT_TRUE(Request(HelpContextCommand, 1));
  own.result = false;
  EXPECT_FALSE(Request(HelpContextCommand, 1));
  EXPECT_EQ(own.calls, 2);
  EXPECT_TRUE(g_rec.html.empty());

  // Leaving it set, the routing goes on.
  own.clear = false;
  EXPECT_TRUE(Request(HelpContextCommand, 1));
  EXPECT_EQ(g_rec.html.size(), 1u);
}

TEST_F(HelpRouter, TheKeptHandlerIsAskedAndGivenBack) {
  router_->Free();
  EarlierHandler earlier;
  host_.onHelp = THelpEvent::Bind<&EarlierHandler::OnHelp>(&earlier);
  THelpRouter* router = New<THelpRouter>(form_.get());
  router->SetHelpType(htHTMLhelp);
  router->Helpfile = "C:\\w\\connect.chm";
  EXPECT_EQ(LiveHelpRouter(), router);

  earlier.clear = true;
  earlier.result = true;
  EXPECT_TRUE(Request(HelpContextCommand, 1));
  EXPECT_EQ(earlier.calls, 1);
  EXPECT_TRUE(g_rec.html.empty());
  earlier.clear = false;
  earlier.result = false;
  EXPECT_TRUE(Request(HelpContextCommand, 1));
  EXPECT_EQ(earlier.calls, 2);
  EXPECT_EQ(g_rec.html.size(), 1u);

  router->Free();
  EXPECT_EQ(LiveHelpRouter(), nullptr);
  EXPECT_TRUE(host_.onHelp == THelpEvent::Bind<&EarlierHandler::OnHelp>(&earlier));
  Request(HelpContextCommand, 1);
  EXPECT_EQ(earlier.calls, 3);
  EXPECT_EQ(g_rec.html.size(), 1u);

  // A handler installed after the router stays when the router goes.
  router = New<THelpRouter>(form_.get());
  EarlierHandler later;
  host_.onHelp = THelpEvent::Bind<&EarlierHandler::OnHelp>(&later);
  router->Free();
  EXPECT_TRUE(host_.onHelp == THelpEvent::Bind<&EarlierHandler::OnHelp>(&later));
}

TEST_F(HelpRouter, OneLiveRouterAndNoneWhileDesigning) {
  EXPECT_EQ(LiveHelpRouter(), router_);
  try {
    New<THelpRouter>(form_.get());
    ADD_FAILURE() << "a second router was made";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "Multiple instances of THelpRouter are not allowed");
  }
  EXPECT_EQ(form_->ComponentCount(), 1) << "the refused router is freed";
  EXPECT_EQ(LiveHelpRouter(), router_);
  EXPECT_TRUE(host_.onHelp == THelpEvent::Bind<&THelpRouter::RouteHelp>(router_));

  router_->Free();
  EXPECT_FALSE(host_.onHelp) << "the application had no handler before";
  TOwned<TFakeForm> designed(New<TFakeForm>(nullptr));
  designed->SetDesigning(true);
  THelpRouter* atDesign = New<THelpRouter>(designed.get());
  EXPECT_TRUE(atDesign->ComponentState().Contains(csDesigning));
  atDesign->SetHelpType(htHTMLhelp);
  EXPECT_EQ(LiveHelpRouter(), nullptr);
  EXPECT_FALSE(host_.onHelp);
  EXPECT_EQ(g_rec.loads, 0) << "no library at design time";
}

TEST_F(HelpRouter, ALibraryThatFailsToLoadIsTriedAgain) {
  g_rec.loadFails = true;
  router_->SetHelpType(htHTMLhelp);
  EXPECT_EQ(g_rec.loads, 1);
  router_->Helpfile = "C:\\w\\connect.chm";
  bool callHelp = false;
  EXPECT_FALSE(Request(HelpContextCommand, 1, &callHelp));
  EXPECT_TRUE(callHelp) << "the application performs the request itself";
  EXPECT_EQ(g_rec.loads, 2);
  EXPECT_FALSE(router_->ShowTextPopup(1, 1, "", 620));
  EXPECT_EQ(g_rec.loads, 3);

  g_rec.loadFails = false;
  EXPECT_TRUE(Request(HelpContextCommand, 1, &callHelp));
  EXPECT_FALSE(callHelp);
  EXPECT_EQ(g_rec.loads, 4);
  EXPECT_TRUE(Request(HelpContextCommand, 1));
  EXPECT_EQ(g_rec.loads, 4) << "a loaded library is kept";
  FreeHtmlHelpLibrary();
  EXPECT_EQ(g_rec.frees, 1);
}
