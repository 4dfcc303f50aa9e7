#include "NokiaUtils.h"

#include <gtest/gtest.h>

#include <string>

TEST(ModelTable, HasEveryLine) {
  const auto& table = ModelTable();
  ASSERT_EQ(table.size(), 384u);
  EXPECT_STREQ(table.front().code, "RH-18");
  EXPECT_STREQ(table.back().name, "Constellation F");
}

TEST(ModelTable, NameFromCode) {
  struct Case {
    const char* code;
    int hint;
    const char* name;
  };
  const Case cases[] = {
      {"NPE-4", 0, "6310"},
      {"npe-4", 0, "6310"},
      {"Npe-4", 0, "6310"},
      {"XYZ-9", 0, ""},
      {"", 0, ""},
      {"NHL-4", 6610, "6610"},
      {"NHL-4", 0, "7210"},
      {"NPM-6X", 0, "5100A"},
      {"RM-126", 0, "6126"},
      {"RM-126H", 0, "6126h"},
      {"RM-268", 0, "6288"},
      {"RM-325", 0, "6600 fold"},
      {"RHV-3", 0, "AscentM"},
      {"NHL-4", 9998, "AscentM"},
      {"NHL-4", 9990, "9990"},
      {"NSE-3", 1234, "6110"},
      {"RM-394", 0, "1680 classic"},
      {"rm-389v", 0, "Constellation F"},
      {"NPE-4 ", 0, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ModelNameFromCode(c.code, c.hint), c.name) << c.code << " " << c.hint;
}

TEST(ModelTable, ParseModelNumber) {
  struct Case {
    const char* s;
    int number;
  };
  const Case cases[] = {
      {"", 0},          {"6310", 6310},    {"6310i", 6310},           {"NPL-1", 6310},
      {"NPE-4", 6310},  {"RM-389V", 9992}, {"Constellation F", 9992}, {"RHV-5", 9998},
      {"RHV-1", 9999},  {"RM-689", 4100},  {"C1-00", 4100},           {"X3-02", 9302},
      {"RM-639", 9302}, {"Ascent", 9999},  {"Signature 2008", 9993},  {"XYZ-9", 0},
      {"RM-394", 1680}, {"NPM-10", 3595},  {"99999999999", 0},        {"0042", 42},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseModelNumber(c.s), c.number) << c.s;
}

TEST(ModelTable, ModelClasses) {
  struct Case {
    int n;
    int cls;
  };
  const Case cases[] = {
      {0, 0},    {999, 0},  {1000, 1}, {2100, 1}, {6310, 4}, {8310, 4}, {6230, 5}, {7110, 3}, {9999, 3},
      {4500, 5}, {6210, 3}, {6250, 3}, {6110, 1}, {3310, 1}, {3210, 1}, {3220, 5}, {3100, 5}, {1600, 0},
      {2200, 4}, {2255, 5}, {2310, 4}, {2112, 4}, {1220, 1}, {8910, 4}, {9500, 5}, {9800, 1}, {7210, 5},
      {2650, 5}, {3300, 5}, {3320, 4}, {9998, 5}, {6021, 5}, {6500, 5}, {3510, 4}, {3610, 5}, {6360, 4},
  };
  for (const Case& c : cases) EXPECT_EQ(ModelClassOfNumber(c.n), c.cls) << c.n;
  EXPECT_EQ(ModelClassOf("NPE-4"), 4);
  EXPECT_EQ(ModelClassOf("NSE-5"), 3);
  EXPECT_EQ(ModelClassOf("XYZ-9"), 0);
}

TEST(ModelTable, SpecialCases) {
  EXPECT_TRUE(UsesStandardImei("NPE-4"));
  EXPECT_TRUE(UsesStandardImei("NSE-3"));
  EXPECT_FALSE(UsesStandardImei("NPW-2"));  // 6360
  EXPECT_FALSE(UsesStandardImei("RH-40"));  // 2220: 22xx
  EXPECT_FALSE(UsesStandardImei("NPC-1"));  // 3320
  EXPECT_TRUE(UsesStandardImei("XYZ-9"));

  EXPECT_TRUE(NeedsDaCheck("RHV-3"));   // 9998
  EXPECT_TRUE(NeedsDaCheck("RH-37"));   // 3220
  EXPECT_TRUE(NeedsDaCheck("RM-30"));   // 6020: 602x
  EXPECT_TRUE(NeedsDaCheck("RM-166"));  // 5070
  EXPECT_FALSE(NeedsDaCheck("NPE-4"));

  EXPECT_TRUE(IsSeriesModel("RM-325"));
  EXPECT_TRUE(IsSeriesModel("RM-689"));  // 4100
  EXPECT_FALSE(IsSeriesModel("NPE-4"));
  EXPECT_EQ(CapabilityLevel("NPE-4"), 0);   // class 4
  EXPECT_EQ(CapabilityLevel("RH-12"), 2);   // 6230
  EXPECT_EQ(CapabilityLevel("RM-76"), 2);   // 6101
  EXPECT_EQ(CapabilityLevel("RM-165"), 3);  // 8800 Sirocco by code, then 8800 in step 6
  EXPECT_EQ(CapabilityLevel("RH-86"), 3);   // 2610
  EXPECT_EQ(CapabilityLevel("RM-233"), 5);
  EXPECT_EQ(CapabilityLevel("RM-20"), 1);  // 6012
}

TEST(ModelTable, BatteryFactor) {
  struct Case {
    const char* s;
    double factor;
  };
  const Case cases[] = {
      {"NPE-4", 14.29}, {"NHM-7", 25.0}, {"RHV-3", 20.0}, {"RHV-2", 20.0},  {"NHM-4", 25.0},
      {"NKC-1", 25.0},  {"RH-86", 25.0}, {"RM-76", 25.0}, {"RH-12", 14.29}, {"XYZ-9", 14.29},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(BatteryFactor(c.s), c.factor) << c.s;
}
