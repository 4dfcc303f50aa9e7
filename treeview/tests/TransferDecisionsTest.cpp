// Format matching, the data object's query answers, the enumerator's
// stepping, the drop effect from the keys and the drop source's answers.
#include <gtest/gtest.h>

#include "VirtualTreeInput.h"
#include "VirtualTreeTransfer.h"

namespace {

TFormatEtc Format(std::uint16_t cf, std::uint32_t tymed, std::uint32_t aspect = 1, std::int32_t index = -1) {
  TFormatEtc f;
  f.cfFormat = cf;
  f.tymed = tymed;
  f.dwAspect = aspect;
  f.lindex = index;
  return f;
}

TEST(TransferDecisions, QueryGetDataErrorOrder) {
  const std::vector<TFormatEtc> offered = {Format(0xC001, 1 | 4), Format(13, 1), Format(1, 1)};
  struct Case {
    TFormatEtc wanted;
    std::int32_t result;
  };
  const Case cases[] = {
      {Format(0xC001, 4), vtresult::S_Ok},
      {Format(0xC001, 1), vtresult::S_Ok},
      {Format(0xC002, 1), vtresult::DV_E_ClipFormat},
      {Format(13, 4), vtresult::DV_E_Tymed},
      {Format(13, 1, 4), vtresult::DV_E_DVAspect},
      {Format(13, 1, 1, 0), vtresult::DV_E_LIndex},
      {Format(13, 4, 4, 0), vtresult::DV_E_Tymed},  // the storage kind is checked first
  };
  for (const Case& c : cases) EXPECT_EQ(QueryGetDataResult(offered, c.wanted), c.result) << c.wanted.cfFormat;
  // The last entry with the format decides when none matches fully; a full match wins at once.
  const std::vector<TFormatEtc> twice = {Format(13, 1, 4), Format(13, 4)};
  EXPECT_EQ(QueryGetDataResult(twice, Format(13, 1)), vtresult::DV_E_Tymed);
  EXPECT_EQ(QueryGetDataResult(twice, Format(13, 4)), vtresult::S_Ok);
  EXPECT_EQ(FindMatchingFormat(twice, Format(13, 4 | 1)), 1);
  EXPECT_EQ(FindMatchingFormat(twice, Format(1, 1)), -1);
}

TEST(TransferDecisions, FormatsMatchOnSixteenBitsAndASharedStorageKind) {
  int device = 0;
  TFormatEtc a = Format(0xC001, 1 | 4), b = Format(0xC001, 4);
  EXPECT_TRUE(FormatEtcMatches(a, b));
  b.ptd = &device;
  EXPECT_FALSE(FormatEtcMatches(a, b));
  EXPECT_FALSE(FormatEtcMatches(a, Format(0xC001, 2)));
}

TEST(TransferDecisions, CursorStepsAndSkipsWithinTheList) {
  TFormatCursor cursor(3);
  EXPECT_EQ(cursor.Next(2), 2u);
  EXPECT_EQ(cursor.Skip(2), vtresult::S_False);  // past the end: no move
  EXPECT_EQ(cursor.Index(), 2u);
  EXPECT_EQ(cursor.Skip(1), vtresult::S_Ok);
  EXPECT_EQ(cursor.Next(5), 0u);
  cursor.Reset();
  EXPECT_EQ(cursor.Next(5), 3u);
  TFormatCursor clone(3, 1);
  EXPECT_EQ(clone.Next(5), 2u);
}

TEST(TransferDecisions, DropEffectFromTheKeys) {
  const std::uint32_t all = kDropEffectCopy | kDropEffectMove | kDropEffectLink;
  struct Case {
    bool fromThisTree;
    std::uint8_t shift;
    std::uint32_t allowed;
    std::uint32_t effect;
  };
  const Case cases[] = {
      {true, 0, all, kDropEffectMove},
      {false, 0, all, kDropEffectCopy},
      {true, 0, kDropEffectCopy | kDropEffectLink, kDropEffectCopy | kDropEffectLink},
      {false, 0, kDropEffectMove, kDropEffectMove},
      {true, kKeyCtrl | kKeyShift, all, kDropEffectLink},
      {true, kKeyCtrl | kKeyShift, kDropEffectCopy | kDropEffectMove, kDropEffectMove},
      {true, kKeyCtrl, all, kDropEffectCopy},
      {true, kKeyCtrl, kDropEffectMove, kDropEffectMove},
      {false, kKeyShift, all, kDropEffectMove},
      {false, kKeyShift, kDropEffectCopy, kDropEffectCopy},
      {false, kKeyAlt, all, kDropEffectLink},
      {false, kKeyAlt, kDropEffectCopy | kDropEffectMove, kDropEffectCopy},
      {true, kKeyCtrl | kKeyAlt, all, kDropEffectCopy},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DetermineDropEffect(c.fromThisTree, c.shift, c.allowed), c.effect)
        << c.fromThisTree << " " << int(c.shift) << " " << c.allowed;
  EXPECT_EQ(ShiftStateFromKeyState(0x04 | 0x08 | 0x20 | 0x01), kKeyShift | kKeyCtrl | kKeyAlt);
}

TEST(TransferDecisions, QueryContinueDrag) {
  EXPECT_EQ(QueryContinueDragResult(true, 1), vtresult::DragDrop_S_Cancel);
  EXPECT_EQ(QueryContinueDragResult(false, 3), vtresult::DragDrop_S_Cancel);
  EXPECT_EQ(QueryContinueDragResult(false, 1), vtresult::S_Ok);
  EXPECT_EQ(QueryContinueDragResult(false, 2 | 8), vtresult::S_Ok);
  EXPECT_EQ(QueryContinueDragResult(false, 8), vtresult::DragDrop_S_Drop);
}

}  // namespace
