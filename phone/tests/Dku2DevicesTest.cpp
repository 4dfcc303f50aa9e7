#include "Dku2Devices.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using TMember = TDku2DeviceSource::TMember;

// Scripted classes: per class identifier, whether its set can be made and its members.
class TFakeSource : public TDku2DeviceSource {
 public:
  struct TClass {
    bool opens = true;
    std::vector<std::pair<TMember, std::string>> members;  // path of each record
  };
  std::map<std::string, TClass> classes;
  std::vector<std::string> opened;
  int open = 0;

  bool OpenClass(const TDku2InterfaceClass& cls) override {
    opened.push_back(cls.guid);
    current_ = &classes[cls.guid];
    if (!current_->opens) return false;
    ++open;
    return true;
  }
  TMember Member(std::size_t index, std::string& record, std::size_t& pathOffset) override {
    if (index >= current_->members.size()) return TMember::mbEnd;
    const auto& [kind, path] = current_->members[index];
    // A record laid out like the platform's: a size field, then the path.
    record = std::string(8, '\x05') + path + std::string(1, '\0');
    pathOffset = 8;
    return kind;
  }
  void CloseClass() override { --open; }

 private:
  TClass* current_ = nullptr;
};

std::string Guid(std::size_t i) {
  return kDku2InterfaceClasses[i].guid;
}

}  // namespace

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

TEST(Dku2Devices, CollectsPathsClassByClass) {
  TFakeSource src;
  src.classes[Guid(0)].members = {{TMember::mbRecord, "dev-a"}};
  src.classes[Guid(1)].members = {{TMember::mbRecord, "dev-a"},
                                  {TMember::mbSkip, "x"},
                                  {TMember::mbRecord, "dev-b"},
                                  {TMember::mbEnd, ""},
                                  {TMember::mbRecord, "after the end"}};
  src.classes[Guid(3)].members = {{TMember::mbRecord, "dev-c"}};
  // A device present under classes 0 and 1: once when filtered, twice when not.
  EXPECT_EQ(CollectDku2DevicePaths(src, true), (std::vector<std::string>{"dev-a", "dev-b", "dev-c"}));
  EXPECT_EQ(CollectDku2DevicePaths(src, false), (std::vector<std::string>{"dev-a", "dev-a", "dev-b", "dev-c"}));
  EXPECT_EQ(src.open, 0);

  // A class whose set cannot be made ends the listing.
  src.classes[Guid(2)].opens = false;
  src.opened.clear();
  EXPECT_EQ(CollectDku2DevicePaths(src, false), (std::vector<std::string>{"dev-a", "dev-a", "dev-b"}));
  EXPECT_EQ(src.opened, (std::vector<std::string>{Guid(0), Guid(1), Guid(2)}));
  EXPECT_EQ(src.open, 0);

  TFakeSource none;
  EXPECT_TRUE(CollectDku2DevicePaths(none, true).empty());
}
