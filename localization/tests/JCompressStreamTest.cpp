#include <gtest/gtest.h>

#include <memory>

#include "JCompress.h"
#include "Streams.h"

namespace {

struct TStreamDeleter {
  void operator()(TObject* o) const { o->Free(); }
};
using TMemoryStreamPtr = std::unique_ptr<TMemoryStream, TStreamDeleter>;

TMemoryStreamPtr StreamOf(const std::string& bytes) {
  TMemoryStreamPtr s(New<TMemoryStream>());
  s->WriteBytes(bytes);
  s->SetPosition(0);
  return s;
}

class TProgressLog {
 public:
  std::int64_t last = -1, size = -1;
  int calls = 0;
  void Progress(TObject*, std::int64_t position, std::int64_t total) {
    last = position;
    size = total;
    ++calls;
  }
};

}  // namespace

TEST(LzjStreams, CompressAndDecompress) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i % 17) + "\r\n";
  TMemoryStreamPtr source = StreamOf(text);
  TMemoryStreamPtr packed(New<TMemoryStream>());
  CompressStream(source.get(), packed.get(), nullptr, 1234);
  EXPECT_EQ(packed->DataString(), LzjCompress(text, 1234));

  packed->SetPosition(3);
  EXPECT_FALSE(IsCompressedStream(*packed));
  packed->SetPosition(0);
  EXPECT_TRUE(IsCompressedStream(*packed));
  EXPECT_EQ(packed->Position(), 0);

  // The output is appended at the destination's position.
  TMemoryStreamPtr out = StreamOf("head:");
  out->SetPosition(5);
  TProgressLog log;
  DecompressStream(packed.get(), out.get(), TJProgressEvent::Bind<&TProgressLog::Progress>(&log));
  EXPECT_EQ(out->DataString(), "head:" + text);
  EXPECT_EQ(log.last, packed->Size());
  EXPECT_EQ(log.size, packed->Size());
  EXPECT_GT(log.calls, 0);
}

TEST(LzjStreams, Errors) {
  TMemoryStreamPtr out(New<TMemoryStream>());
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {{"wrong magic", "LZJ01\0\0\0\0"}, {"too short", "LZ"}, {"empty", ""}, {"cut size", "LZJ00\1\2"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStreamPtr in = StreamOf(c.bytes);
    try {
      DecompressStream(in.get(), out.get());
      FAIL() << "accepted";
    } catch (const EJCompressError& e) {
      EXPECT_STREQ(e.what(), "Wrong stream format");
    }
    EXPECT_EQ(out->Size(), 0);  // nothing written
  }
  TMemoryStreamPtr in = StreamOf(LzjCompress("abc"));
  try {
    DecompressStream(nullptr, out.get());
    FAIL();
  } catch (const EJCompressError& e) {
    EXPECT_STREQ(e.what(), "Source stream is not defined");
  }
  try {
    DecompressStream(in.get(), nullptr);
    FAIL();
  } catch (const EJCompressError& e) {
    EXPECT_STREQ(e.what(), "Destination stream is not defined");
  }
}

TEST(LzjStreams, PrefixOfALongStream) {
  std::string text;
  for (int i = 0; i < 500; ++i) text += "header entry " + std::to_string(i) + ";";
  std::string packed = LzjCompress(text);
  for (std::size_t cut : {std::size_t{9}, std::size_t{10}, std::size_t{100}, std::size_t{101}, packed.size() / 2}) {
    TMemoryStreamPtr in = StreamOf(packed.substr(0, cut));
    TMemoryStreamPtr out(New<TMemoryStream>());
    DecompressFromPosition(in.get(), out.get(), nullptr, true);
    std::string got = out->DataString();
    EXPECT_EQ(got, text.substr(0, got.size())) << cut;
    if (cut > 20) {
      EXPECT_GT(got.size(), 0u);
    }
  }
}
