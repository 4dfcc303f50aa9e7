#include "Debug.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

TEST(Debug, HexDump) {
  std::string text = "old";
  ASSERT_NE(DebugEngine, nullptr);
  DebugEngine->HexDump(std::string("\x1E\x00\xFF", 3), text);
  EXPECT_EQ(text, "[1E][00][FF]");
  DebugEngine->HexDump("", text);
  EXPECT_EQ(text, "");
  EXPECT_EQ(HexDumpText("\xab\x0c"), "[AB][0C]");
  DebugEngine->LogEvent("Connect OK", 2, -1);
}

TEST(Debug, LinkLogLines) {
  const std::string frame("\x1E\x00\x10\x7F", 4);
  EXPECT_EQ(LinkLogLine("12:34:56", TLinkLogDirection::ldSent, frame), "12:34:56>> [1E][00][10][7F]");
  EXPECT_EQ(LinkLogLine("12:34:56", TLinkLogDirection::ldReceived, frame), "12:34:56-- [1E][00][10][7F]");
}

TEST(Debug, AppendsLinesToTheLogFile) {
  const std::string path = testing::TempDir() + "pellory_link_log.txt";
  std::remove(path.c_str());
  ASSERT_TRUE(TouchLinkLog(path));
  ASSERT_TRUE(AppendLinkLogLine(path, "a>> [01]"));
  ASSERT_TRUE(AppendLinkLogLine(path, "b-- [02]"));
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_EQ(content.str(), "a>> [01]\r\nb-- [02]\r\n");
  std::remove(path.c_str());
  EXPECT_FALSE(AppendLinkLogLine(testing::TempDir() + "no/such/folder/log.txt", "x"));
}
