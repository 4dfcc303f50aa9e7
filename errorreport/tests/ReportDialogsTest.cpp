#include <gtest/gtest.h>

#include "EListView.h"
#include "EReportDialogs.h"
#include "ESystem.h"
#include "ExceptionLog.h"

namespace {

// Every character is 7 pixels wide.
int SevenEach(std::string_view s) {
  return static_cast<int>(s.size()) * 7;
}

TEST(ReportDialogs, MeasureTextHeightCountsLinesAndWraps) {
  struct Case {
    const char* text;
    int width;
    int lines;
  };
  const Case cases[] = {
      {"", 100, 1},                            // an empty text is one blank line
      {"short", 100, 1},                       // 35 of 94 pixels
      {"one\r\ntwo\r\n\r\nfour", 100, 4},      // an empty line counts
      {"aaaaaaaaaa bbbbbbbbbb cccc", 100, 3},  // 77 + 77 > 94, then 77 + 28 > 94
      {"x", 6, 8},                             // no room left: 1 pixel per line, no division by zero
  };
  for (const Case& c : cases) EXPECT_EQ(MeasureTextHeight(c.text, c.width, 13, &SevenEach), c.lines * 13) << c.text;
}

TEST(ReportDialogs, MeasureTextHeightSplitsAtTheBreakCharacters) {
  std::vector<std::string> seen;
  MeasureTextHeight("a-b(c)?d", 500, 10, [&](std::string_view w) {
    seen.emplace_back(w);
    return 1;
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"a-", "b(", "c)", "?", "d"}));
}

TEST(ReportDialogs, StartTabMapsToShownPages) {
  struct Case {
    int startTab;
    std::uint8_t logFlags;
    int tab;
  };
  const Case cases[] = {{3, 0x00, 0}, {1, 0x00, 1}, {3, 0x10, 3}, {4, 0x20, 2},
                        {5, 0x30, 5}, {2, 0x20, 0}, {9, 0x30, 0}, {0, 0x30, 0}};
  for (const Case& c : cases) EXPECT_EQ(StartTabIndex(c.startTab, c.logFlags), c.tab) << c.startTab;
  EXPECT_EQ(PageOfTabIndex(2, 0x20), rpAssemblerPage);
  EXPECT_EQ(PageOfTabIndex(3, 0x20), rpCpuPage);
  EXPECT_EQ(PageOfTabIndex(2, 0x30), rpModulesPage);
  EXPECT_EQ(ShownReportPages(0).size(), 2u);
  EXPECT_EQ(ShownReportPages(0x30).size(), 6u);
}

TEST(ReportDialogs, PlacementDefaultsAndRecentring) {
  const TDialogRect work{0, 0, 1280, 994};
  TDialogPlacement p = DefaultDialogPlacement(work, 34);
  EXPECT_EQ(p.Width, 745);
  EXPECT_EQ(p.Height, 468);
  EXPECT_EQ(p.Left, (1280 - 745) / 2);
  EXPECT_EQ(p.Top, (994 - 468 - 34) / 2);

  TDialogPlacement inside{600, 400, 10, 20, 1};
  KeepPlacementOnWorkArea(inside, work);
  EXPECT_EQ(inside.Left, 10);
  EXPECT_EQ(inside.Top, 20);

  TDialogPlacement gone{601, 401, 2000, -50, 1};  // the monitor it was on is gone
  KeepPlacementOnWorkArea(gone, work);
  EXPECT_EQ(gone.Left, (1280 - 601) / 2);
  EXPECT_EQ(gone.Top, (994 - 401) / 2);
  EXPECT_EQ(gone.Width, 601);

  EXPECT_EQ(PlacementNumber("300", 7), 300);
  EXPECT_EQ(PlacementNumber("wide", 7), 7);
}

TEST(ReportDialogs, SizesAndBands) {
  EXPECT_EQ(StripAccelerator("&Send && go"), "Send & go");
  EXPECT_EQ(ReportButtonWidth(30, 2), 75);
  EXPECT_EQ(ReportButtonWidth(80, 2), 104);
  EXPECT_EQ(CheckBoxStripHeight(true, true, false, false), 34);
  EXPECT_EQ(CheckBoxStripHeight(false, false, true, true), 34);
  EXPECT_EQ(CheckBoxStripHeight(true, false, true, false), 20);
  EXPECT_EQ(CheckBoxStripHeight(false, false, false, false), 0);
  // RGB(130,155,194) -> RGB(125,149,186); stored 0x00BBGGRR.
  EXPECT_EQ(NextBandColour(0x00C29B82u), 0x00BA957Du);
  EXPECT_EQ(NextBandColour(0x00FFFFFFu), 0x00F5F5F5u);
}

TEST(ReportDialogs, EmailCheckAndSenderLine) {
  EXPECT_FALSE(IsAcceptableEmail("a@b"));
  EXPECT_FALSE(IsAcceptableEmail("a.b"));
  EXPECT_TRUE(IsAcceptableEmail("a@b.c"));
  const std::string report = "Head\r\n  3.2 Name : x\r\n  3.3 Email      : old@x.y\r\n  3.4 Next : z\r\n";
  EXPECT_EQ(ReplaceSenderLine(report, "me@there.org"),
            "Head\r\n  3.2 Name : x\r\n  3.3 Email      : me@there.org\r\n  3.4 Next : z\r\n");
  EXPECT_EQ(ReplaceSenderLine("no such line", "me@there.org"), "no such line");
}

TEST(ReportDialogs, SourceLineRecordLayout) {
  TSourceLine line;
  line.UnitName = "Shapes";
  line.ClassName = "TCircle";
  line.ProcedureName = std::string(200, 'p');  // cut to 89 bytes and a zero
  line.Line = 123;
  line.SecondLine = -1;
  line.ModuleValue1 = 0x11223344;
  line.ModuleValue2 = 0xA0B0C0D0;
  const auto r = PackSourceLineRecord(line);
  ASSERT_EQ(r.size(), 376u);
  for (int i = 0; i < 90; ++i) EXPECT_EQ(r[i], 0) << i;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r[90])), "Shapes");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r[180])), "TCircle");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r[270])), std::string(89, 'p'));
  EXPECT_EQ(r[359], 0);
  const std::uint8_t tail[] = {123, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x44, 0x33, 0x22, 0x11, 0xD0, 0xC0, 0xB0, 0xA0};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(r[360 + i], tail[i]) << i;

  std::int32_t l = 0, s = 0;
  EXPECT_TRUE(ParseLineColumn("123[45]", l, s));
  EXPECT_EQ(l, 123);
  EXPECT_EQ(s, 45);
  EXPECT_TRUE(ParseLineColumn("  7", l, s));
  EXPECT_EQ(s, -1);
  EXPECT_FALSE(ParseLineColumn("", l, s));
  EXPECT_FALSE(ParseLineColumn("99999999999", l, s));
  EXPECT_EQ(SourceLineMailslotName(1234, false), "\\\\.\\mailslot\\VantorLog0");
  EXPECT_EQ(SourceLineMailslotName(1234, true), "\\\\.\\mailslot\\VantorLog1234");
}

TEST(ReportDialogs, ModulesAndProcessesRowsShowKbAndFolders) {
  using Row = std::vector<std::string>;
  TVantorModuleInfo exe;
  exe.Handle = 0x00400000;
  exe.FileName = "C:\\Program Files\\Sample\\sample.exe";
  exe.Description = "Sample";
  exe.Version = "1.2.3.4";
  exe.FileSize = 1536;  // 1.5 Kb: halves go to the even number
  exe.FileTime = 46000.375;
  EXPECT_EQ(ModulePageRow(exe), (Row{"00400000", "sample.exe", "Sample", "1.2.x", "2 Kb", "2025-12-09 09:00:00",
                                     "C:\\Program Files\\Sample"}));
  TVantorModuleInfo root;
  root.Handle = 0x10000000;
  root.FileName = "C:\\boot.dll";
  root.FileSize = 2560;  // 2.5 Kb
  EXPECT_EQ(ModulePageRow(root), (Row{"10000000", "boot.dll", "", "", "2 Kb", "", "C:\\"}));
  root.FileSize = 0;
  EXPECT_EQ(ModulePageRow(root)[4], "");

  TVantorProcessInfo process;
  process.ProcessId = 1580;
  process.FileName = "C:\\WINDOWS\\explorer.exe";
  process.Description = "Shell";
  process.Version = "6.0.2900.5512";
  process.PriorityClass = 0x20;
  process.Memory = 20480000;  // 20000 Kb
  process.Threads = 14;
  EXPECT_EQ(ProcessPageRow(process), (Row{"1580", "explorer.exe", "Shell", "6.0.x", "20000 Kb",
                                          GetPriorityClassName(0x20), "14", "C:\\WINDOWS"}));
  process.Memory = 1023 * 1024 + 513;
  process.Threads = 0;
  const Row r = ProcessPageRow(process);
  EXPECT_EQ(r[4], "1024 Kb");
  EXPECT_EQ(r[6], "??");
}

std::vector<std::string> VisibleFirstTexts(TListViewRowList& rows) {
  std::vector<std::string> out;
  for (int i = 0; i < rows.Count(); ++i)
    if (rows.Row(i).Visible) out.push_back(rows.Row(i).IsGroup ? rows.Row(i).Title : rows.Row(i).Texts[0]);
  return out;
}

TEST(ReportListView, GroupsSeparatorsAndIndent) {
  TListViewRowList rows;
  rows.Add({""}, "Main", true, 1, -1, "  ");
  rows.Add({"a1"}, "", false, 0, 2, "  ");
  rows.Add({"  "}, "", false, 0, -1, "  ");  // separator: ends the group
  rows.Add({""}, "Worker", true, 0, -1, "  ");
  rows.Add({""}, "Creator", true, 2, -1, "  ");  // nested
  rows.Add({"c1"}, "", false, 0, 0, "  ");
  EXPECT_TRUE(rows.Row(2).IsSeparator);
  EXPECT_EQ(rows.Row(2).Parent, nullptr);
  EXPECT_EQ(rows.Row(1).Parent, &rows.Row(0));
  EXPECT_EQ(rows.Row(1).Indent, 0);
  EXPECT_EQ(rows.Row(4).Indent, 1);
  EXPECT_EQ(rows.Row(5).Indent, 1);
  EXPECT_EQ(rows.Row(5).Texts[0], "  c1");
  EXPECT_EQ(rows.Row(5).Parent, &rows.Row(4));
  EXPECT_TRUE(TListViewRowList::IsOnSign(rows.Row(0), 5, 5, 14));
  EXPECT_FALSE(TListViewRowList::IsOnSign(rows.Row(4), 5, 5, 14));
  EXPECT_TRUE(TListViewRowList::IsOnSign(rows.Row(4), 20, 5, 14));
  EXPECT_FALSE(TListViewRowList::IsOnSign(rows.Row(1), 5, 5, 14));
}

TEST(ReportListView, ToggleRemovesAndRestoresRowsInOrder) {
  TListViewRowList rows;
  rows.Add({""}, "G1", true, 1, -1, "");
  rows.Add({"r1"}, "", false, 0, -1, "");
  rows.Add({"r2"}, "", false, 0, -1, "");
  rows.Add({""}, "", false, 0, -1, "");
  rows.Add({""}, "G2", true, 0, -1, "");
  rows.Add({"r3"}, "", false, 0, -1, "");
  const auto all = VisibleFirstTexts(rows);

  auto closed = rows.Toggle(0);
  ASSERT_EQ(closed.size(), 2u);
  EXPECT_FALSE(closed[0].Insert);
  EXPECT_EQ(closed[0].Position, 1);
  EXPECT_EQ(closed[1].Position, 1);  // the second row moved up into the same place
  EXPECT_EQ(VisibleFirstTexts(rows), (std::vector<std::string>{"G1", "", "G2", "r3"}));

  auto opened = rows.Toggle(0);
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_TRUE(opened[0].Insert);
  EXPECT_EQ(opened[0].Position, 1);
  EXPECT_EQ(opened[0].Row, 1);
  EXPECT_EQ(opened[1].Position, 2);
  EXPECT_EQ(opened[1].Row, 2);
  EXPECT_EQ(VisibleFirstTexts(rows), all);

  EXPECT_TRUE(rows.Toggle(1).empty());  // not a group
  EXPECT_EQ(rows.ListPosition(5), 5);
}

}  // namespace
