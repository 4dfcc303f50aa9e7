// The help-name hash and its byte weights.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "QhrHshTb.h"

TEST(HashHelpName, KnownNamesAndCaseInsensitivity) {
  EXPECT_EQ(HashHelpName(""), 0);
  EXPECT_EQ(HashHelpName("A"), 17);
  EXPECT_EQ(HashHelpName("abc"), 32226);
  EXPECT_EQ(HashHelpName("ABC"), 32226);
  EXPECT_EQ(HashHelpName("IDH_Topic"), HashHelpName("idh_topic"));
  EXPECT_EQ(HashHelpName(std::string(5, '\0')), 0);
}

TEST(HashHelpName, EachRowOfTheWeightTable) {
  struct Case {
    int code;
    std::int32_t weight;
  } cases[] = {
      {0, 0},    {1, 209},    {31, 239},   {32, -16}, {33, 11},   {34, -14},   {35, 243},   {37, 245},
      {38, -10}, {41, -7},    {42, 250},   {43, 251}, {44, -4},   {45, -3},    {46, 12},    {47, -1},
      {48, 10},  {49, 1},     {57, 9},     {58, 10},  {64, 16},   {65, 17},    {90, 42},    {91, 11},
      {92, 12},  {93, 13},    {94, 14},    {95, 13},  {96, 16},   {97, 17},    {122, 42},   {123, 43},
      {127, 47}, {128, -176}, {144, -160}, {145, 97}, {151, 103}, {152, -152}, {200, -104}, {255, -49},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HelpNameWeights[static_cast<std::size_t>(c.code)], c.weight) << "byte " << c.code;
    EXPECT_EQ(HashHelpName(std::string(1, static_cast<char>(c.code))), c.weight) << "byte " << c.code;
  }
}

TEST(HashHelpName, WrapsInThirtyTwoBitsAndReadsSigned) {
  // A long name overflows many times; the reference keeps 64 bits and cuts at the end.
  std::string name;
  for (int i = 0; i < 40; ++i) name += static_cast<char>(33 + (i * 37) % 220);
  std::uint64_t h = 0;
  for (unsigned char c : name)
    h = (h * 43 + static_cast<std::uint64_t>(static_cast<std::int64_t>(HelpNameWeights[c]))) & 0xFFFFFFFFu;
  EXPECT_EQ(HashHelpName(name), static_cast<std::int32_t>(static_cast<std::uint32_t>(h)));
  EXPECT_EQ(HashHelpName("ZZZZZZZZZ"), -166073782) << "a hash past 2^31 reads as negative";
}
