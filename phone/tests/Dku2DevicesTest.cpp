#include "Dku2Devices.h"

#include <gtest/gtest.h>

#include <string>

TEST(Dku2Devices, ClassFilter) {
  const bool filtered[] = {false, true, false, true};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(Dku2ClassListed(i, true), filtered[i]) << i;
    EXPECT_TRUE(Dku2ClassListed(i, false)) << i;
  }
  EXPECT_FALSE(Dku2ClassListed(4, false));
}

TEST(Dku2Devices, DetailPath) {
  const std::string path = "\\\\?\\usb#vid_0421&pid_0401#5&1a2b#{4f919102-4adf-11d5-882d-00b0d02fe381}";
  struct Case {
    const char* name;
    std::string record;
    std::size_t offset;
    std::string path;
  };
  const std::string size = std::string("\x05\x00\x00\x00", 4);
  const std::vector<Case> cases = {
      {"terminated", size + path + std::string(1, '\0'), 4, path},
      {"terminated early, junk after", size + "abc" + std::string(1, '\0') + "junk", 4, "abc"},
      {"unterminated: up to the end", size + path, 4, path},
      {"empty path", size + std::string(1, '\0'), 4, ""},
      {"no room for the path", size, 4, ""},
      {"shorter than the size field", "\x05", 4, ""},
      {"empty record", "", 4, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Dku2DetailPath(c.record, c.offset), c.path) << c.name;
}

TEST(Dku2Devices, Providers) {
  EXPECT_TRUE(ListDku2DevicePaths(true).empty());
  TDku2PathListProvider fake({"/dev/one", "COM21"});
  SetDku2Provider(&fake);
  EXPECT_EQ(ListDku2DevicePaths(true), (std::vector<std::string>{"/dev/one", "COM21"}));
  SetDku2Provider(nullptr);
  EXPECT_TRUE(ListDku2DevicePaths(false).empty());
}
