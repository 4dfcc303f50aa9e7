// Menus: the system menus built from the items, commands, hints, actions,
// owner-drawn measuring and menus read from form text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ActnList.h"
#include "FormFromText.h"
#include "Forms.h"
#include "Menus.h"

namespace {

std::string MenuString(HMENU menu, UINT command) {
  char buf[256] = {};
  const int n = GetMenuStringA(menu, command, buf, sizeof buf, MF_BYCOMMAND);
  return std::string(buf, static_cast<std::size_t>(n > 0 ? n : 0));
}

struct Clicks : TComponent {
  using TComponent::TComponent;
  std::vector<std::string> log;
  void Click(TObject* sender) { log.push_back(static_cast<TComponent*>(sender)->Name()); }
  void Measure(TObject*, TCanvas*, int& width, int&) { width += 7; }
};

TMenuItem* Item(TComponent* owner, const char* name, const char* caption, TShortCut shortCut = scNone) {
  auto* item = New<TMenuItem>(owner);
  item->SetName(name);
  item->SetCaption(caption);
  item->SetShortCut(shortCut);
  return item;
}

class MenusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitForms();
    clicks = New<Clicks>(nullptr);
    form = TCustomForm::CreateNew<TForm>(Application);
    form->SetBounds(50, 50, 300, 200);
  }
  void TearDown() override {
    form->Free();
    clicks->Free();
    Application->SetHint("");
  }
  Clicks* clicks = nullptr;
  TForm* form = nullptr;
};

TEST_F(MenusTest, SystemMenusShowCaptionsShortCutsAndStates) {
  auto* popup = New<TPopupMenu>(form);
  TMenuItem* open = Item(form, "Open", "&Open", scCtrl | 'O');
  TMenuItem* line = Item(form, "Line", "-");
  TMenuItem* recent = Item(form, "Recent", "&Recent", scCtrl | 'R');
  TMenuItem* first = Item(form, "First", "First file");
  for (TMenuItem* i : {open, line, recent}) popup->Items()->Add(i);
  recent->Add(first);
  HMENU menu = popup->Handle();
  EXPECT_EQ(GetMenuItemCount(menu), 3);
  EXPECT_EQ(MenuString(menu, open->Command()), "&Open\tCtrl+O");
  EXPECT_EQ(MenuString(menu, recent->Command()), "&Recent") << "an item with sub-items shows no shortcut";
  EXPECT_EQ(GetSubMenu(menu, 2), recent->Handle());
  EXPECT_EQ(GetMenuState(menu, line->Command(), MF_BYCOMMAND) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));

  open->SetCaption("&Open...");
  open->SetEnabled(false);
  EXPECT_EQ(MenuString(menu, open->Command()), "&Open...\tCtrl+O");
  EXPECT_NE(GetMenuState(menu, open->Command(), MF_BYCOMMAND) & MF_GRAYED, 0u);
  line->SetVisible(false);
  EXPECT_EQ(GetMenuItemCount(menu), 2);
  first->Free();
  EXPECT_EQ(recent->Count(), 0);

  auto* bar = New<TMainMenu>(form);
  TMenuItem* file = Item(form, "File", "&File", scCtrl | 'F');
  TMenuItem* quit = Item(form, "Quit", "&Quit", scAlt | 0x73);
  bar->Items()->Add(file);
  file->Add(quit);
  form->SetMenu(bar);
  form->HandleNeeded();
  EXPECT_EQ(GetMenu(form->WindowHandle()), bar->Handle());
  EXPECT_EQ(MenuString(bar->Handle(), file->Command()), "&File") << "the bar shows no shortcuts";
  EXPECT_EQ(MenuString(file->Handle(), quit->Command()), "&Quit\tAlt+F4");
}

TEST_F(MenusTest, CommandsClickTheirItemsAndSelectionsSetTheHint) {
  auto* popup = New<TPopupMenu>(form);
  TMenuItem* open = Item(form, "Open", "&Open");
  open->SetHint("Open|Opens a file");
  open->OnClick = TNotifyEvent::Bind<&Clicks::Click>(clicks);
  popup->Items()->Add(open);
  popup->Handle();
  SendMessageA(PopupList->Window(), WM_COMMAND, open->Command(), 0);
  EXPECT_EQ(clicks->log, (std::vector<std::string>{"Open"}));

  auto* bar = New<TMainMenu>(form);
  TMenuItem* file = Item(form, "File", "&File");
  TMenuItem* save = Item(form, "Save", "&Save");
  save->SetHint("Save|Saves the settings");
  save->OnClick = TNotifyEvent::Bind<&Clicks::Click>(clicks);
  bar->Items()->Add(file);
  file->Add(save);
  form->SetMenu(bar);
  HWND wnd = form->Handle();
  SendMessageA(wnd, WM_MENUSELECT, MAKEWPARAM(save->Command(), 0), reinterpret_cast<LPARAM>(file->Handle()));
  EXPECT_EQ(Application->GetHint(), "Saves the settings");
  SendMessageA(PopupList->Window(), WM_MENUSELECT, MAKEWPARAM(open->Command(), 0),
               reinterpret_cast<LPARAM>(popup->Handle()));
  EXPECT_EQ(Application->GetHint(), "Opens a file");
  SendMessageA(wnd, WM_COMMAND, save->Command(), 0);
  EXPECT_EQ(clicks->log, (std::vector<std::string>{"Open", "Save"}));
}

TEST_F(MenusTest, ItemsFollowTheirAction) {
  auto* popup = New<TPopupMenu>(form);
  TMenuItem* item = Item(form, "Connect", "");
  popup->Items()->Add(item);
  auto* action = New<TAction>(form);
  action->SetCaption("&Connect");
  action->SetShortCut(scCtrl | 'K');
  action->SetOnExecute(TNotifyEvent::Bind<&Clicks::Click>(clicks));
  action->SetName("ConnectAction");
  item->SetAction(action);
  EXPECT_STREQ(item->ActionLink()->ClassName(), "TMenuActionLink");
  EXPECT_EQ(MenuString(popup->Handle(), item->Command()), "&Connect\tCtrl+K");
  action->SetCaption("&Search");
  EXPECT_EQ(MenuString(popup->Handle(), item->Command()), "&Search\tCtrl+K");
  item->Click();
  EXPECT_EQ(clicks->log, (std::vector<std::string>{"ConnectAction"}));
}

TEST_F(MenusTest, OwnerDrawnItemsAreMeasuredByTheirTextAndTheEvent) {
  auto* popup = New<TPopupMenu>(form);
  popup->SetOwnerDraw(true);
  TMenuItem* small = Item(form, "Small", "A");
  TMenuItem* wide = Item(form, "Wide", "A much longer caption");
  popup->Items()->Add(small);
  popup->Items()->Add(wide);
  popup->Handle();
  EXPECT_NE(GetMenuState(popup->Handle(), small->Command(), MF_BYCOMMAND) & MF_OWNERDRAW, 0u);
  auto measure = [&](TMenuItem* item) {
    MEASUREITEMSTRUCT mis{};
    mis.CtlType = ODT_MENU;
    mis.itemID = item->Command();
    SendMessageA(PopupList->Window(), WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&mis));
    return static_cast<int>(mis.itemWidth);
  };
  const int a = measure(small), b = measure(wide);
  EXPECT_GT(a, 0);
  EXPECT_GT(b, a);
  small->OnMeasureItem = TMenuMeasureItemEvent::Bind<&Clicks::Measure>(clicks);
  EXPECT_EQ(measure(small), a + 7);
}

TEST_F(MenusTest, MenusReadFromFormTextKeepTheirTree) {
  TForm* read = ReadFormText(R"(object MenuForm: TForm
  Menu = MainMenu1
  object MainMenu1: TMainMenu
    object File1: TMenuItem
      Caption = '&File'
      object Exit1: TMenuItem
        Caption = 'E&xit'
        Hint = 'Exit|Ends the program'
        ShortCut = 32883
      end
    end
  end
  object PopupMenu1: TPopupMenu
    Alignment = paRight
    object Copy1: TMenuItem
      Caption = '&Copy'
    end
  end
end
)");
  auto* bar = As<TMainMenu>(read->FindComponent("MainMenu1"));
  ASSERT_EQ(bar->Items()->Count(), 1);
  TMenuItem* file = bar->Items()->Items(0);
  ASSERT_EQ(file->Count(), 1);
  EXPECT_EQ(file->Items(0)->GetShortCut(), scAlt | 0x73);
  EXPECT_EQ(read->GetMenu(), bar);
  auto* popup = As<TPopupMenu>(read->FindComponent("PopupMenu1"));
  EXPECT_EQ(popup->GetAlignment(), paRight);
  EXPECT_EQ(popup->Items()->Items(0)->GetParentComponent(), popup);
  read->HandleNeeded();
  EXPECT_EQ(MenuString(file->Handle(), file->Items(0)->Command()), "E&xit\tAlt+F4");
  read->Free();
}

}  // namespace
