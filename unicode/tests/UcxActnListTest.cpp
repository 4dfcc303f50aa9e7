#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RecordingWidePlatform.h"
#include "UcxActnListCore.h"
#include "UcxButtonNames.h"
#include "UcxGlobalObject.h"
#include "UcxMenusCore.h"
#include "UcxStdActns.h"

namespace {

// A client link that records, while it is told of a new caption or hint, what
// it hands its client and what a reader of the action gets at that moment.
class TWideRecordingLink : public TActionLink {
  FW_CLASS(TWideRecordingLink, TActionLink)
 public:
  std::vector<WideString> forClient, actionHad;
  void SetCaption(const std::string& v) override {
    forClient.push_back(ActionCaptionForClient(action_, v));
    actionHad.push_back(GetActionWideCaption(As<TCustomAction>(action_)));
  }
  void SetHint(const std::string& v) override {
    forClient.push_back(ActionHintForClient(action_, v));
    actionHad.push_back(GetActionWideHint(As<TCustomAction>(action_)));
  }
};

}  // namespace

FW_IMPLEMENT_CLASS(TWideRecordingLink)

namespace {

const WideString kFile = u"\u0424\u0430\u0439\u043B";              // "Файл": Windows-1252 cannot hold it
const WideString kEdit = u"\u041F\u0440\u0430\u0432\u043A\u0430";  // "Правка"

int HelperCount(TComponent* c) {
  int n = 0;
  for (int i = 0; i < c->ComponentCount(); ++i) n += dynamic_cast<TCustomActionHelper*>(c->Components(i)) != nullptr;
  return n;
}

class UcxActnList : public ::testing::Test {
 protected:
  void SetUp() override { owner = New<TComponent>(nullptr); }
  void TearDown() override { owner->Free(); }
  RecordingWidePlatform platform;
  WidePlatformScope scope{&platform, true};
  TComponent* owner = nullptr;
};

TEST_F(UcxActnList, LinksGetTheNewWideTextWhileReadersStillSeeThePreviousOne) {
  auto* action = New<TUcxAction>(owner);
  action->SetWideCaption(u"&" + kFile);
  auto* link = As<TWideRecordingLink>(CreateActionLink(&TWideRecordingLink::StaticClass(), nullptr));
  link->SetAction(action);
  action->SetWideCaption(u"&" + kEdit);
  EXPECT_EQ(link->forClient, (std::vector<WideString>{u"&" + kEdit}));
  EXPECT_EQ(link->actionHad, (std::vector<WideString>{u"&" + kFile}));
  EXPECT_EQ(action->GetWideCaption(), u"&" + kEdit);
  EXPECT_EQ(action->GetCaption(), "&??????");

  // Same ANSI form ("????" both): the ANSI caption is first emptied, so the
  // links still hear of it; during the empty step they are handed "" as it is.
  link->forClient.clear();
  link->actionHad.clear();
  action->SetWideCaption(kFile);
  action->SetWideCaption(u"\u0416\u0416\u0416\u0416");
  EXPECT_EQ(link->forClient, (std::vector<WideString>{kFile, u"", u"\u0416\u0416\u0416\u0416"}));
  EXPECT_EQ(link->actionHad, (std::vector<WideString>{u"&" + kEdit, kFile, u""}));
  EXPECT_EQ(action->GetWideCaption(), u"\u0416\u0416\u0416\u0416");

  // The hint works the same way.
  link->forClient.clear();
  link->actionHad.clear();
  action->SetWideHint(kFile + u"|" + kEdit);
  EXPECT_EQ(link->forClient, (std::vector<WideString>{kFile + u"|" + kEdit}));
  EXPECT_EQ(link->actionHad, (std::vector<WideString>{u""}));
  EXPECT_EQ(action->GetWideHint(), kFile + u"|" + kEdit);

  // Someone sets the ANSI caption behind the wide one: the wide one follows.
  action->SetCaption("Plain");
  EXPECT_EQ(action->GetWideCaption(), u"Plain");
  link->Free();
}

TEST_F(UcxActnList, HelpersAreMadeOnlyForWideActionsAndOnlyOnce) {
  auto* plain = New<TAction>(owner);
  EXPECT_EQ(FindActionHelper(plain), nullptr);
  SetActionWideCaption(plain, kFile);
  EXPECT_EQ(plain->GetCaption(), "????");
  EXPECT_EQ(GetActionWideCaption(plain), u"????");
  EXPECT_EQ(plain->ComponentCount(), 0) << "a plain action gets no helper";

  auto* wide = New<TUcxAction>(owner);
  EXPECT_EQ(wide->ComponentCount(), 0);
  EXPECT_EQ(wide->GetWideCaption(), u"");
  TCustomActionHelper* helper = FindActionHelper(wide);
  ASSERT_NE(helper, nullptr);
  EXPECT_EQ(helper->Action, wide);
  wide->GetWideHint();
  wide->SetWideCaption(kFile);
  EXPECT_EQ(FindActionHelper(wide), helper);
  EXPECT_EQ(HelperCount(wide), 1);
  EXPECT_EQ(wide->GetWideCaption(), kFile) << "a caption the code page cannot hold reads back unchanged";

  EXPECT_THROW(FindActionHelper(nullptr), EUcxInternalError);
}

TEST_F(UcxActnList, AssigningCopiesTheWideTextsNarrowed) {
  auto* wide = New<TUcxAction>(owner);
  wide->SetWideCaption(u"Caf\u00E9 " + kFile);
  wide->SetWideHint(u"Hint " + kEdit);
  auto* plain = New<TAction>(owner);
  plain->Assign(wide);
  EXPECT_EQ(plain->GetCaption(), "Caf\xE9 ????");
  auto* other = New<TUcxAction>(owner);
  other->Assign(wide);
  EXPECT_EQ(other->GetWideCaption(), u"Caf\u00E9 ????") << "characters outside the code page are not copied";
  EXPECT_EQ(other->GetWideHint(), u"Hint ??????");

  // The wide hint action: its hint round-trips; a plain hint action's is widened.
  auto* hint = New<TUcxHintAction>(owner);
  hint->SetWideHint(kEdit);
  EXPECT_EQ(hint->GetWideHint(), kEdit);
  EXPECT_EQ(hint->GetHint(), "??????");
  auto* plainHint = New<THintAction>(owner);
  plainHint->SetHint("Caf\xE9");
  hint->Assign(plainHint);
  EXPECT_EQ(hint->GetWideHint(), u"Caf\u00E9");
  EXPECT_FALSE(hint->DisableIfNoHandler);
}

TEST_F(UcxActnList, ControlTextsComeThroughTheInstalledReader) {
  auto* action = New<TUcxAction>(owner);
  auto* source = New<TComponent>(owner);
  action->Assign(New<TAction>(owner));  // nothing to copy from a plain empty action
  SetControlWideTextReader([](TPersistent* p, WideString& text, WideString& hint) {
    if (!dynamic_cast<TComponent*>(p)) return false;
    text = u"\u00C4rger \u0424\u0430\u0439\u043B";
    hint = u"h";
    return true;
  });
  CopyActionTexts(action, source);
  SetControlWideTextReader(nullptr);
  EXPECT_EQ(action->GetWideCaption(), u"\u00C4rger ????");
  EXPECT_EQ(action->GetWideHint(), u"h");
}

// --- Hot keys and shortcut texts ---------------------------------------------------------------

TEST(UcxMenusRules, SyncHotKeyPositionMovesTheMarkTheFrameworkMoved) {
  RecordingWidePlatform platform;
  WidePlatformScope scope(&platform, true);
  // The framework moved "&" from before the first letter to before the second.
  EXPECT_EQ(SyncHotKeyPosition(u"?&???", u"&" + kFile), u"\u0424&\u0430\u0439\u043B");
  EXPECT_EQ(SyncHotKeyPosition(u"?&&&???", u"&\u0424&&\u0430\u0439\u043B"), u"\u0424&&&\u0430\u0439\u043B")
      << "a doubled ampersand stays one character";
  // Same ANSI forms: nothing to do; other captions: left alone.
  EXPECT_EQ(SyncHotKeyPosition(u"&????", u"&" + kFile), u"&" + kFile);
  EXPECT_EQ(SyncHotKeyPosition(u"&Other", u"&" + kFile), u"&" + kFile);
}

// A locale that calls different captions the same (as linguistic comparisons
// may): the marks are moved, the ANSI forms still differ, and the error names both.
class LenientComparePlatform : public RecordingWidePlatform {
 public:
  int CompareStringW(unsigned, unsigned, const char16_t*, int, const char16_t*, int) override { return 2; }
};

TEST(UcxMenusRules, SyncHotKeyPositionRaisesWhenTheRepairFails) {
  LenientComparePlatform platform;
  WidePlatformScope scope(&platform, true);
  try {
    SyncHotKeyPosition(u"A&B", u"XY");
    FAIL() << "no error";
  } catch (const EUcxInternalError& e) {
    EXPECT_STREQ(e.what(), "Internal Error: SyncHotKeyPosition Failed (\"A&B\" <> \"X&Y\").");
  }
}

TEST(UcxMenusRules, SyncHotKeyPositionKeepsFarEastGroupsWhole) {
  RecordingWidePlatform platform;
  WidePlatformScope scope(&platform, true);
  const bool farEast = IsFarEastSystem;
  IsFarEastSystem = true;
  EXPECT_EQ(SyncHotKeyPosition(u"????"
                               u"(&F)",
                               kFile),
            kFile + u"(&F)");
  IsFarEastSystem = farEast;
}

struct FakeKeys : WideKeyNames {
  char16_t KeyChar(std::uint8_t key) override { return key == 'Z' ? u'\u042F' : static_cast<char16_t>(key); }
  WideString KeyName(std::uint8_t key) override { return key == 0xBA ? WideString(u"\u0416") : WideString(); }
};

TEST(UcxMenusRules, WideShortCutTextsTakeTheKeyboardsCharactersAndNames) {
  RecordingWidePlatform platform;
  WidePlatformScope scope(&platform, true);
  FakeKeys keys;
  const struct {
    std::uint16_t shortCut;
    WideString text;
  } cases[] = {
      {scShift | scCtrl | 'Z', u"Shift+Ctrl+\u042F"},  // the keyboard's character for Z
      {scAlt | '5', u"Alt+5"},
      {0x61, u"a"},                  // the numeric pad: the mapped character too
      {scCtrl | 0x2E, u"Ctrl+Del"},  // named keys: the framework's text
      {scShift | 0x7B, u"Shift+F12"},
      {scCtrl | 0xBA, u"Ctrl+\u0416"},  // other keys: the keyboard's name
      {scCtrl | 0xBB, u""},             // no name: no text
  };
  for (const auto& c : cases) EXPECT_EQ(WideShortCutToText(c.shortCut, &keys), c.text) << c.shortCut;

  IsUnicodePlatform = false;  // the 9x line: the framework's text widened
  EXPECT_EQ(WideShortCutToText(scShift | scCtrl | 'Z', &keys), u"Shift+Ctrl+Z");
}

TEST(UcxSmallUnits, ButtonNamesAndTheGlobalObjectLiveBetweenStartAndEnd) {
  EXPECT_EQ(UcxButtonName(0), u"");
  InitUcxButtonNames();
  EXPECT_EQ(UcxButtonName(0), u"Yes");
  EXPECT_EQ(UcxButtonName(8), u"NoToAll");
  EXPECT_EQ(UcxButtonName(UcxButtonNameCount - 1), u"Help");
  EXPECT_EQ(UcxButtonName(UcxButtonNameCount), u"");
  DoneUcxButtonNames();
  EXPECT_EQ(UcxButtonName(0), u"");

  SetUcxGlobalObject(New<TComponent>(nullptr));
  EXPECT_NE(UcxGlobalObject(), nullptr);
  DoneUcxGlobalObject();
  EXPECT_EQ(UcxGlobalObject(), nullptr);
}

}  // namespace
