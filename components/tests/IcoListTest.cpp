// The "Icons" layout: entries written and read back, and damaged counts and
// sizes refused before anything is allocated for them.
#include "IcoList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ByteWriter.h"
#include "Exceptions.h"

namespace {

class Collected : public IconListBuilder {
 public:
  void Append(std::string_view iconFile) override { entries.emplace_back(iconFile); }
  std::vector<std::string> entries;
};

std::string I32(std::int32_t v) {
  std::string s;
  ByteWriter(s).U32LE(static_cast<std::uint32_t>(v));
  return s;
}

std::string Written(const std::vector<std::string>& files) {
  TOwned<TMemoryStream> s(New<TMemoryStream>());
  WriteIconsLayout(*s, files);
  return s->DataString();
}

TEST(IcoList, EntriesRoundTrip) {
  EXPECT_EQ(Written({}), std::string(4, '\0')) << "an empty list is its count only";
  const std::vector<std::string> files = {std::string("\0\0\1\0first icon", 14), "", std::string(300, 'x')};
  const std::string bytes = Written(files);
  EXPECT_EQ(bytes, I32(3) + I32(14) + files[0] + I32(0) + I32(300) + files[2]);
  // Read from the middle of a stream: the data after the layout stays unread.
  TOwned<TStringStream> s(New<TStringStream>("head" + bytes + "tail"));
  s->SetPosition(4);
  Collected c;
  ReadIconsLayout(*s, c);
  EXPECT_EQ(c.entries, files);
  EXPECT_EQ(s->Position(), static_cast<std::int64_t>(4 + bytes.size()));
}

TEST(IcoList, ReadingDamagedLayouts) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> entries;  // handed over
    bool fails;
  };
  const Case cases[] = {
      {"no entries", I32(0), {}, false},
      {"a negative count", I32(-5) + I32(3) + "abc", {}, false},
      {"negative and zero sizes are absent entries", I32(2) + I32(-1) + I32(0), {"", ""}, false},
      {"no count", "\1\0", {}, true},
      {"a count above the bytes left / 4", I32(3) + I32(0) + I32(0), {}, true},
      {"a count of 0x7FFFFFFF", I32(0x7FFFFFFF) + I32(0), {}, true},
      {"a size above the bytes left", I32(2) + I32(2) + "ab" + I32(100) + std::string(10, 'z'), {"ab"}, true},
      {"a size of 0x7FFFFFFF", I32(1) + I32(0x7FFFFFFF), {}, true},
      {"the data ends inside a size", I32(2) + I32(3) + "abc" + "\1", {"abc"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TOwned<TStringStream> s(New<TStringStream>(c.bytes));
    Collected got;
    if (c.fails) {
      try {
        ReadIconsLayout(*s, got);
        ADD_FAILURE() << "no error";
      } catch (const EReadError& e) {
        EXPECT_STREQ(e.what(), "Stream read error");
      }
    } else {
      ReadIconsLayout(*s, got);
    }
    EXPECT_EQ(got.entries, c.entries);
  }
}

}  // namespace
