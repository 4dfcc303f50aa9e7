#include <gtest/gtest.h>

#include "PackedStrings.h"
#include "Streams.h"

namespace {

TMemoryStream* StreamOf(const std::string& bytes) {
  auto* s = New<TMemoryStream>();
  s->WriteBytes(bytes);
  s->SetPosition(0);
  return s;
}

}  // namespace

TEST(PackedStreams, RoundTripOnStreams) {
  TOwned<TMemoryStream> s(New<TMemoryStream>());
  for (int format : {5, 6}) {
    s->Clear();
    WritePackedAnsiString(*s, "Caption", format);
    WritePackedWideString(*s, u"\u0417\u0430\u043A\u0440\u044B\u0442\u044C", format);
    WritePackedAnsiString(*s, std::string(300, 'x'), format);
    s->SetPosition(0);
    EXPECT_EQ(ReadPackedAnsiString(*s, format), "Caption");
    EXPECT_EQ(ReadPackedWideString(*s, format), u"\u0417\u0430\u043A\u0440\u044B\u0442\u044C");
    EXPECT_EQ(ReadResourceAnsiString(format, *s), std::string(300, 'x'));
    EXPECT_EQ(s->Position(), s->Size());
  }
}

TEST(PackedStreams, LyingLengthsRaiseTheReadError) {
  struct Case {
    const char* name;
    std::string bytes;
    bool wide;
  } cases[] = {
      {"length past the end",
       std::string("\x10"
                   "abc",
                   4),
       false},
      {"largest length, few bytes",
       std::string("\xFF\xFF\xFF\xFF"
                   "abcd",
                   8),
       false},
      {"wide length past the end",
       std::string("\x03"
                   "a\0b\0",
                   5),
       true},
      {"cut length", std::string("\x81", 1), false},
      {"nothing", std::string(), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream* s = StreamOf(c.bytes);
    if (c.wide)
      EXPECT_THROW(ReadPackedWideString(*s, 6), EReadError);
    else
      EXPECT_THROW(ReadPackedAnsiString(*s, 6), EReadError);
    s->Free();
  }
}
