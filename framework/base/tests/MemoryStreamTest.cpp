// The memory stream's size: shrinking keeps what stays and writing on goes
// where it should; bytes that growing or a write past the end uncovers are
// zeros, never the content from before a shrink.
#include <gtest/gtest.h>

#include <string>

#include "Streams.h"

namespace {

TEST(MemoryStreamTest, AShrinkThenWritesKeepTheContentAndGapsAreZero) {
  TOwned<TMemoryStream> m(New<TMemoryStream>());
  m->WriteBuffer("abcdefgh", 8);
  m->SetSize(3);
  EXPECT_EQ(m->DataString(), "abc");
  EXPECT_EQ(m->Position(), 3);
  m->WriteBuffer("XY", 2);
  EXPECT_EQ(m->DataString(), "abcXY");
  m->SetSize(7);  // grows over bytes that held "gh"
  EXPECT_EQ(m->DataString(), std::string("abcXY\0\0", 7));
  m->SetSize(2);
  m->Seek(6, SeekOrigin::Beginning);  // past the end, over the old content
  m->WriteBuffer("Z", 1);
  EXPECT_EQ(m->DataString(), std::string("ab\0\0\0\0Z", 7));
  m->Clear();
  m->Seek(3, SeekOrigin::Beginning);
  m->WriteBuffer("q", 1);
  EXPECT_EQ(m->DataString(), std::string("\0\0\0q", 4));
}

}  // namespace
