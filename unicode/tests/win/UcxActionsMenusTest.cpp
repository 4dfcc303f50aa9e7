// Wide actions on Unicode controls and menu items, and Unicode menus on real windows.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "../RecordingWidePlatform.h"
#include "Forms.h"
#include "Menus.h"
#include "ObjectConvert.h"
#include "Scope.h"
#include "Streams.h"
#include "UcxActnList.h"
#include "UcxControls.h"
#include "UcxMenus.h"
#include "UcxStdCtrls.h"
#include "UcxSysUtils.h"
#include "UcxSystem.h"
#include "Win32WidePlatform.h"

namespace {

const WideString kFile = u"\u0424\u0430\u0439\u043B";  // "Файл"
const WideString kHint =
    u"\u041E\u0442\u043A\u0440\u044B\u0442\u044C|\u0424\u0430\u0439\u043B\u044B";  // "Открыть|Файлы"

WideString MenuStringW(HMENU menu, UINT command) {
  wchar_t buf[256] = {};
  const int n = GetMenuStringW(menu, command, buf, 256, MF_BYCOMMAND);
  return WideString(reinterpret_cast<const char16_t*>(buf), static_cast<std::size_t>(n > 0 ? n : 0));
}

class TPlainEdit : public TUcxCustomEdit {
  FW_CLASS(TPlainEdit, TUcxCustomEdit)
 public:
  explicit TPlainEdit(TComponent* owner) : TUcxCustomEdit(owner) {}
  using TUcxCustomEdit::GetActionLinkClass;
};

class UcxActionsMenus : public ::testing::Test {
 protected:
  Win32WidePlatform platform_;
  WidePlatformScope scope_{&platform_, true, true};
  TForm* form = nullptr;

  void SetUp() override {
    InitUcxSysUtils();
    InitUcxSystem();
    ASSERT_TRUE(IsUnicodePlatform);
    InitForms();
    InitUcxActnList();
    InitUcxMenus();
    form = TCustomForm::CreateNew<TForm>(Application);
    form->SetBounds(0, 0, 400, 300);
  }
  void TearDown() override {
    form->Free();
    DoneUcxMenus();
    DoneUcxSystem();
  }
  template <class T>
  T* Add(const char* name) {
    auto* c = New<T>(form);
    c->SetName(name);
    c->SetBounds(10, 10, 200, 24);
    c->SetParent(form);
    return c;
  }
  TUcxMenuItem* Item(const WideString& caption, TShortCut shortCut = scNone) {
    auto* item = New<TUcxMenuItem>(form);
    item->SetWideCaption(caption);
    item->SetShortCut(shortCut);
    return item;
  }
};

}  // namespace

FW_IMPLEMENT_CLASS(TPlainEdit)

namespace {

TEST_F(UcxActionsMenus, AWideActionReachesLabelsEditsAndMenuItemsAsWideText) {
  auto* action = New<TUcxAction>(form);
  action->SetWideCaption(u"&" + kFile);
  action->SetWideHint(kHint);
  auto* label = Add<TUcxLabel>("Label1");
  auto* edit = Add<TPlainEdit>("Edit1");
  edit->HandleNeeded();
  auto* popup = New<TPopupMenu>(form);
  TUcxMenuItem* item = Item(u"");
  popup->Items()->Add(item);
  popup->Handle();
  label->SetAction(action);
  edit->SetAction(action);
  item->SetAction(action);
  EXPECT_EQ(label->GetWideCaption(), u"&" + kFile);
  EXPECT_EQ(label->GetWideHint(), kHint);
  EXPECT_EQ(edit->GetWideText(), u"&" + kFile);
  EXPECT_EQ(edit->GetWideHint(), kHint);
  EXPECT_EQ(item->GetWideCaption(), u"&" + kFile);
  EXPECT_EQ(item->GetWideHint(), kHint);
  EXPECT_EQ(MenuStringW(popup->Handle(), item->Command()), u"&" + kFile);

  // A new wide caption reaches every linked client through the links.
  const WideString next = u"\u041F\u0440\u0430\u0432\u043A\u0430";  // "Правка"
  action->SetWideCaption(next);
  EXPECT_EQ(label->GetWideCaption(), next);
  EXPECT_EQ(edit->GetWideText(), next);
  EXPECT_EQ(item->GetWideCaption(), next);
  EXPECT_EQ(MenuStringW(popup->Handle(), item->Command()), next);

  EXPECT_STREQ(label->ActionLink()->ClassName(), "TUcxControlActionLink");
  EXPECT_STREQ(edit->ActionLink()->ClassName(), "TUcxWinControlActionLink");
  EXPECT_STREQ(item->ActionLink()->ClassName(), "TUcxMenuActionLink");
}

TEST_F(UcxActionsMenus, MenuCaptionsStayLinkedAcrossHotKeysAndCaseLabelsDoNot) {
  auto* action = New<TUcxAction>(form);
  action->SetWideCaption(kFile);
  auto* label = Add<TUcxLabel>("Label1");
  label->SetAction(action);
  auto* popup = New<TPopupMenu>(form);
  TUcxMenuItem* item = Item(u"");
  popup->Items()->Add(item);
  item->SetAction(action);

  const WideString lowerWithKey = u"&\u0444\u0430\u0439\u043B";  // "&файл"
  item->SetWideCaption(lowerWithKey);
  EXPECT_TRUE(item->ActionLink()->IsCaptionLinked());
  label->SetWideCaption(u"\u0444\u0430\u0439\u043B");  // "файл": its ANSI form is the action's, the wide one is not
  EXPECT_FALSE(label->ActionLink()->IsCaptionLinked());
  label->SetWideCaption(kFile);
  EXPECT_TRUE(label->ActionLink()->IsCaptionLinked());
}

TEST_F(UcxActionsMenus, LinkClassesAreChosenByTheKindOfControl) {
  auto* button = Add<TButton>("Button1");
  auto* edit = Add<TPlainEdit>("Edit1");
  auto* label = Add<TUcxLabel>("Label1");
  EXPECT_EQ(WideActionLinkClassFor(button, &TButtonActionLink::StaticClass()), &TUcxButtonActionLink::StaticClass());
  EXPECT_EQ(WideActionLinkClassFor(edit, &TWinControlActionLink::StaticClass()),
            &TUcxWinControlActionLink::StaticClass());
  EXPECT_EQ(WideActionLinkClassFor(label, &TControlActionLink::StaticClass()), &TUcxControlActionLink::StaticClass());
  EXPECT_THROW(WideActionLinkClassFor(edit, &TControlActionLink::StaticClass()), EUcxInternalError);
}

TEST_F(UcxActionsMenus, CheckDefaultsKeepsATextSetByHand) {
  auto* action = New<TUcxAction>(form);
  action->SetWideCaption(kFile);
  action->SetWideHint(kHint);
  auto* label = Add<TUcxLabel>("Label1");
  label->SetWideCaption(u"\u0416 by hand");
  ApplyActionToControl(label, action, true);
  EXPECT_EQ(label->GetWideCaption(), u"\u0416 by hand");
  EXPECT_EQ(label->GetWideHint(), kHint) << "an empty hint takes the action's";
  auto* named = Add<TUcxLabel>("Label2");
  named->SetWideCaption(u"Label2");
  ApplyActionToControl(named, action, true);
  EXPECT_EQ(named->GetWideCaption(), kFile) << "a text that is the control's name is a default";
  ApplyActionToControl(label, action, false);
  EXPECT_EQ(label->GetWideCaption(), kFile);
  ApplyActionToControl(named, New<TAction>(form), false);  // a plain action: nothing here
  EXPECT_EQ(named->GetWideCaption(), kFile);
}

TEST_F(UcxActionsMenus, MenuItemsShowTheWideCaptionAndShortCut) {
  auto* popup = New<TPopupMenu>(form);
  TUcxMenuItem* item = Item(u"&" + kFile, scCtrl | scShift | 'Z');
  popup->Items()->Add(item);
  const WideString z(1, static_cast<char16_t>(MapVirtualKeyW('Z', 2)));
  EXPECT_EQ(MenuStringW(popup->Handle(), item->Command()), u"&" + kFile + u"\tShift+Ctrl+" + z);

  auto* bar = New<TMainMenu>(form);
  TUcxMenuItem* top = Item(kFile, scCtrl | 'F');
  TUcxMenuItem* sub = Item(u"\u0416", scCtrl | 'Q');
  bar->Items()->Add(top);
  top->Add(sub);
  form->SetMenu(bar);
  form->HandleNeeded();
  EXPECT_EQ(MenuStringW(bar->Handle(), top->Command()), kFile) << "a top-level item shows no shortcut";
  EXPECT_EQ(MenuStringW(top->Handle(), sub->Command()), u"\u0416\tCtrl+Q");

  // A change of another item rebuilds the parent's menu: every wide caption stays.
  TUcxMenuItem* second = Item(u"\u0417");
  top->Add(second);
  sub->SetEnabled(false);
  EXPECT_EQ(MenuStringW(top->Handle(), sub->Command()), u"\u0416\tCtrl+Q");
  EXPECT_EQ(MenuStringW(top->Handle(), second->Command()), u"\u0417");

  // The framework moves the hot key in the ANSI caption: the wide caption follows.
  item->TMenuItem::SetCaption("?&???");
  EXPECT_EQ(item->GetWideCaption(), u"\u0424&\u0430\u0439\u043B");
}

TEST_F(UcxActionsMenus, PopupListSelectionsGiveTheLongWideHint) {
  TPopupList* framework = PopupList;
  PopupList = UcxPopupList();  // menus made now register with the Unicode list
  auto* popup = New<TPopupMenu>(form);
  PopupList = framework;
  TUcxMenuItem* item = Item(kFile);
  item->SetWideHint(u"short|long \u00E9");
  popup->Items()->Add(item);
  popup->Handle();
  SendMessageW(UcxPopupList()->Window(), WM_MENUSELECT, MAKEWPARAM(item->Command(), 0),
               reinterpret_cast<LPARAM>(popup->Handle()));
  EXPECT_EQ(Application->GetHint(), "long \xE9");
  SendMessageW(UcxPopupList()->Window(), WM_MENUSELECT, MAKEWPARAM(9999, 0), reinterpret_cast<LPARAM>(popup->Handle()));
  EXPECT_EQ(Application->GetHint(), "");
  EXPECT_EQ(UcxPopupList()->FrameworkList, framework);
}

TEST_F(UcxActionsMenus, OwnerDrawnItemsMeasureTheWideCaption) {
  auto* popup = New<TPopupMenu>(form);
  popup->SetOwnerDraw(true);
  TUcxMenuItem* item = Item(kFile);
  popup->Items()->Add(item);
  popup->Handle();
  auto measure = [&](TMenuItem* i) {
    MEASUREITEMSTRUCT mis{};
    mis.CtlType = ODT_MENU;
    mis.itemID = i->Command();
    SendMessageA(PopupList->Window(), WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&mis));
    return static_cast<int>(mis.itemWidth);
  };
  const int wide = measure(item);
  // The framework's measure of the same item, and the two text widths.
  const TMenuMeasureItemEvent own = item->OnMeasureItem;
  item->OnMeasureItem = nullptr;
  const int ansi = measure(item);
  item->OnMeasureItem = own;
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, Screen->MenuFont()->Handle());
  RECT rw{0, 0, 0, 0}, ra{0, 0, 0, 0};
  const UINT flags = DT_LEFT | DT_CALCRECT | DT_NOCLIP | DT_EXPANDTABS | DT_SINGLELINE;
  DrawTextW(dc, reinterpret_cast<LPCWSTR>(kFile.c_str()), static_cast<int>(kFile.size()), &rw, flags);
  DrawTextA(dc, "????", 4, &ra, flags);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  EXPECT_NE(rw.right, ra.right);
  EXPECT_EQ(wide - ansi, rw.right - ra.right);
  EXPECT_TRUE(item->HasOwnMeasureHandler());
}

// A form whose wide label, edit and menu item take their texts from a wide
// action: none of them writes the texts the action supplies, and a menu item
// read back (its action is streamed by name) shows the action's texts.
TEST_F(UcxActionsMenus, LinkedWideTextsAreNotWrittenByTheirClients) {
  RegisterClasses({&TUcxLabel::StaticClass(), &TPlainEdit::StaticClass(), &TUcxMenuItem::StaticClass(),
                   &TPopupMenu::StaticClass(), &TUcxAction::StaticClass()});
  form->SetName("ActionForm");
  auto makeAction = [](TComponent* owner) {
    auto* action = New<TUcxAction>(owner);
    action->SetName("Action1");
    action->SetWideCaption(kFile);
    action->SetWideHint(kHint);
    return action;
  };
  TUcxAction* action = makeAction(form);
  auto* label = Add<TUcxLabel>("Label1");
  auto* edit = Add<TPlainEdit>("Edit1");
  auto* popup = New<TPopupMenu>(form);
  popup->SetName("Popup1");
  TUcxMenuItem* item = Item(u"");
  item->SetName("Item1");
  popup->Items()->Add(item);
  label->SetAction(action);
  edit->SetAction(action);
  item->SetAction(action);
  // A label of its own keeps its texts.
  auto* own = Add<TUcxLabel>("Label2");
  own->SetWideCaption(kHint);

  TOwned<TStringStream> out(New<TStringStream>(""));
  TOwned<TWriter> writer(New<TWriter>(*out));
  writer->WriteDescendent(form, nullptr);
  writer.reset();
  const std::string binary = out->DataString();
  const std::string text = ObjectBinaryToText(binary);
  auto section = [&](const std::string& name) {
    // From "object NAME:" to the "end" at its own indent.
    const std::size_t at = text.find("object " + name + ":");
    if (at == std::string::npos) return std::string();
    const std::size_t lineStart = text.rfind('\n', at) + 1;
    const std::string end = "\n" + text.substr(lineStart, at - lineStart) + "end";
    return text.substr(at, text.find(end, at) - at);
  };
  for (const char* name : {"Label1", "Edit1", "Item1"}) {
    const std::string part = section(name);
    ASSERT_FALSE(part.empty()) << name << "\n" << text;
    EXPECT_EQ(part.find("Hint"), std::string::npos) << name << "\n" << text;
    EXPECT_EQ(part.find("_UTF7"), std::string::npos) << name << "\n" << text;
  }
  EXPECT_EQ(section("Label1").find("Caption"), std::string::npos) << text;
  EXPECT_EQ(section("Item1").find("Caption"), std::string::npos) << text;
  EXPECT_NE(section("Label2").find("Caption_UTF7 = '" + Utf7FromWide(kHint) + "'"), std::string::npos) << text;

  TForm* copy = TCustomForm::CreateNew<TForm>(Application);
  TScopeExit freeCopy([copy]() noexcept { copy->Free(); });
  makeAction(copy);
  ReadComponentData(binary.data(), binary.size(), copy);
  auto* item1 = dynamic_cast<TUcxMenuItem*>(copy->FindComponent("Item1"));
  auto* label2 = dynamic_cast<TUcxLabel*>(copy->FindComponent("Label2"));
  ASSERT_TRUE(item1 && label2) << text;
  EXPECT_EQ(item1->GetWideCaption(), kFile);
  EXPECT_EQ(item1->GetWideHint(), kHint);
  EXPECT_EQ(label2->GetWideCaption(), kHint);
}

}  // namespace
