#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "RecordingWidePlatform.h"
#include "UcxControlsCore.h"
#include "UcxMenusCore.h"
#include "UcxStdCtrlsCore.h"
#include "UcxSystem.h"

namespace {

// A code page of more than one byte a character: UTF-8 stands in for a
// double-byte ANSI code page.
class MultiByteWidePlatform : public PortableWidePlatform {
 public:
  std::string ToAnsi(unsigned, std::u16string_view text, bool* usedDefault) override {
    if (usedDefault) *usedDefault = false;
    return WideToUtf8(std::u16string(text));
  }
  std::u16string FromAnsi(unsigned, std::string_view bytes, unsigned) override {
    return Utf8ToWide(std::string(bytes));
  }
};

struct SetCase {
  const char* what;
  std::u16string stored;
  std::string ansi;
  std::u16string value;
  std::vector<std::string> setterCalls;
  std::u16string storedAfter;
};

TEST(WideShadow, ReadGivesStoredValueUntilTheAnsiValueChanges) {
  WidePlatformScope scope(nullptr, true);
  WideString stored = u"\u0416\u0434\u0438\u0442\u0435";  // cannot be held by Windows-1252
  EXPECT_EQ(GetSyncedWideString(stored, "?????"), stored);
  EXPECT_EQ(GetSyncedWideString(stored, "Caf\xE9"), u"Caf\u00E9");
  EXPECT_EQ(stored, u"Caf\u00E9");
}

TEST(WideShadow, WriteRules) {
  WidePlatformScope scope(nullptr, true);
  const SetCase cases[] = {
      {"plain value", u"old", "old", u"new", {"new"}, u"new"},
      {"same value again sets nothing", u"same", "same", u"same", {}, u"same"},
      {"same wide value whose ANSI form is lossy", u"\u0416", "?", u"\u0416", {}, u"\u0416"},
      {"lossy value with the current ANSI form is set empty first",
       u"???",
       "???",
       u"\u0416\u0443\u043A",
       {"", "???"},
       u"\u0416\u0443\u043A"},
      {"lossy value with another ANSI form", u"abc", "abc", u"\u0416", {"?"}, u"\u0416"},
      {"the ANSI value changed behind the stored one", u"\u0416", "x", u"\u0416", {"?"}, u"\u0416"},
      {"the ANSI value changed to the new value itself", u"old", "new", u"new", {}, u"new"},
  };
  for (const SetCase& c : cases) {
    SCOPED_TRACE(c.what);
    WideString stored = c.stored;
    std::string ansi = c.ansi;
    std::vector<std::string> calls;
    SetSyncedWideString(c.value, stored, ansi, [&](const std::string& s) {
      calls.push_back(s);
      ansi = s;
    });
    EXPECT_EQ(calls, c.setterCalls);
    EXPECT_EQ(stored, c.storedAfter);
    EXPECT_EQ(GetSyncedWideString(stored, ansi), c.value);
  }
}

TEST(WideHint, ShortAndLongParts) {
  struct {
    std::u16string hint, shortPart, longPart;
  } const cases[] = {
      {u"", u"", u""},
      {u"plain", u"plain", u"plain"},
      {u"\u0416\u0434\u0438\u0442\u0435|long", u"\u0416\u0434\u0438\u0442\u0435", u"long"},
      {u"a|b|c", u"a", u"b|c"},
      {u"|only long", u"", u"only long"},
      {u"only short|", u"only short", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WideGetShortHint(c.hint), c.shortPart);
    EXPECT_EQ(WideGetLongHint(c.hint), c.longPart);
  }
}

class TPlainPart : public TComponent {
  FW_CLASS(TPlainPart, TComponent)
 public:
  using TComponent::TComponent;
};
FW_IMPLEMENT_CLASS(TPlainPart)

bool HoldersSorted() {
  const TList& list = WideCaptionHolders();
  for (int i = 1; i < list.Count(); ++i) {
    auto a = reinterpret_cast<std::uintptr_t>(static_cast<TWideCaptionHolder*>(list[i - 1])->Control());
    auto b = reinterpret_cast<std::uintptr_t>(static_cast<TWideCaptionHolder*>(list[i])->Control());
    if (a >= b) return false;
  }
  return true;
}

TEST(WideCaptionHolders, SortedThroughInsertsAndRemovalsOneHolderAControl) {
  FreeWideCaptionHolders();
  std::vector<TComponent*> parts;
  for (int i = 0; i < 24; ++i) parts.push_back(New<TPlainPart>(nullptr));
  // Insert in an order unrelated to the addresses.
  for (int i = 0; i < 24; ++i) {
    TComponent* c = parts[static_cast<std::size_t>((i * 7) % 24)];
    EXPECT_EQ(FindWideCaptionHolder(c, false), nullptr);
    TWideCaptionHolder* h = FindWideCaptionHolder(c, true);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->Control(), c);
    EXPECT_EQ(FindWideCaptionHolder(c, true), h);  // never a second holder
    ASSERT_TRUE(HoldersSorted());
  }
  EXPECT_EQ(WideCaptionHolders().Count(), 24);
  const WideString zhe(1, u'\u0416');
  FindWideCaptionHolder(parts[5], false)->Caption = zhe;
  // Freeing a control frees its holder.
  for (int i = 0; i < 24; i += 3) {
    parts[static_cast<std::size_t>(i)]->Free();
    parts[static_cast<std::size_t>(i)] = nullptr;
    ASSERT_TRUE(HoldersSorted());
  }
  EXPECT_EQ(WideCaptionHolders().Count(), 16);
  EXPECT_EQ(FindWideCaptionHolder(parts[5], false)->Caption, zhe);
  FreeWideCaptionHolders();
  EXPECT_EQ(WideCaptionHolders().Count(), 0);
  for (TComponent* c : parts)
    if (c) c->Free();  // their holders are gone already
}

TEST(HotKeys, PositionKeyAndStripping) {
  struct {
    std::u16string caption;
    std::size_t pos;
    std::u16string key, stripped, strippedFarEast;
  } const cases[] = {
      {u"", 0, u"", u"", u""},
      {u"&Next", 1 + 1, u"N", u"Next", u"Next"},
      {u"&One &Two", 7, u"T", u"One Two", u"One Two"},
      {u"Fish && Chips", 0, u"", u"Fish & Chips", u"Fish & Chips"},
      {u"&&&&", 0, u"", u"&&", u"&&"},
      {u"A&&&b", 5, u"b", u"A&b", u"A&b"},
      {u"Trailing&", 0, u"", u"Trailing", u"Trailing"},
      {u"&\u0416\u0443\u043A", 2, u"\u0416", u"\u0416\u0443\u043A", u"\u0416\u0443\u043A"},
      {u"File(&F)", 7, u"F", u"File(F)", u"File"},
      {u"(&F)ile", 3, u"F", u"(F)ile", u"ile"},
      {u"Keep(&&)", 0, u"", u"Keep(&)", u"Keep(&)"},
  };
  const bool saved = IsFarEastSystem;
  for (const auto& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.caption));
    IsFarEastSystem = false;
    EXPECT_EQ(WideGetHotKeyPos(c.caption), c.pos);
    EXPECT_EQ(WideGetHotKey(c.caption), c.key);
    EXPECT_EQ(WideStripHotKey(c.caption), c.stripped);
    IsFarEastSystem = true;
    EXPECT_EQ(WideStripHotKey(c.caption), c.strippedFarEast);
    EXPECT_EQ(WideGetHotKeyPos(c.caption), c.pos);
  }
  IsFarEastSystem = saved;
}

TEST(HotKeys, SameCaption) {
  WidePlatformScope scope(nullptr, true);
  EXPECT_TRUE(WideSameCaption(u"&Next", u"nex&t"));
  EXPECT_FALSE(WideSameCaptionStr(u"&Next", u"nex&t"));
  EXPECT_TRUE(WideSameCaptionStr(u"&Next", u"Nex&t"));
  EXPECT_FALSE(WideSameCaption(u"&Next", u"Back"));
}

TEST(WideAccel, KeyCharacterAgainstTheCaptionsHotKey) {
  WidePlatformScope scope(nullptr, true);
  struct {
    unsigned code;
    std::u16string caption;
    bool accel;
  } const cases[] = {
      {0x0416, u"&\u0416\u0443\u043A", true},  // above 255: taken as it is (Cyrillic case: under Wine)
      {0x0417, u"&\u0416\u0443\u043A", false},
      {'n', u"&Next", true},
      {'N', u"&next", true},
      {0xE9, u"Caf&\u00C9", true},  // a byte of the keyboard's code page
      {'x', u"&Next", false},
      {'n', u"Next", false},
      {'&', u"Fish && Chips", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.caption));
    EXPECT_EQ(IsWideCharAccel(c.code, c.caption), c.accel);
  }
}

TEST(NineXSelection, CountsUnitsAgainstBytesOfTheAnsiText) {
  MultiByteWidePlatform platform;
  WidePlatformScope scope(&platform, false);
  // "aЖ𝄞b": units a, Ж, two of the surrogate pair, b; UTF-8 bytes 1, 2, 4, 1.
  const WideString wide = u"a\u0416\U0001D11Eb";
  const std::string ansi = WideToUtf8(wide);
  struct {
    std::size_t ansiPos, widePos;
  } const starts[] = {{0, 0}, {1, 1}, {3, 2}, {7, 4}, {8, 5}, {100, 5}};
  for (const auto& s : starts) EXPECT_EQ(WideSelStartFromAnsi(ansi, s.ansiPos), s.widePos) << s.ansiPos;
  struct {
    std::size_t widePos, ansiPos;
  } const back[] = {{0, 0}, {1, 1}, {2, 3}, {4, 7}, {5, 8}, {9, 8}};
  for (const auto& b : back) EXPECT_EQ(AnsiSelStartFromWide(wide, b.widePos), b.ansiPos) << b.widePos;
  EXPECT_EQ(AnsiSelLengthFromWide(wide, 1, 3), 6u);
  EXPECT_EQ(AnsiSelLengthFromWide(wide, 0, 100), 8u);
  EXPECT_EQ(AnsiSelLengthFromWide(wide, 5, 2), 0u);
  EXPECT_EQ(AnsiSelLengthFromWide(wide, 99, 2), 0u);
}

TEST(WidePasswordChar, AnsiForm) {
  EXPECT_EQ(AnsiPasswordChar(0), '\0');
  EXPECT_EQ(AnsiPasswordChar(u'#'), '#');
  EXPECT_EQ(AnsiPasswordChar(0xFF), '\xFF');
  EXPECT_EQ(AnsiPasswordChar(0x25CF), '*');
}

}  // namespace
