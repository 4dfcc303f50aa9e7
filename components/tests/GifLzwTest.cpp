#include "GifLzw.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "GifTestFiles.h"

using namespace giftest;

namespace {

// A raster stream written code by code, each with the width given: LSB first,
// cut into sub-blocks of `blockSize` bytes, with the terminator.
class TCodeStream {
 public:
  explicit TCodeStream(int minCodeSize) : min_(minCodeSize) {}
  TCodeStream& Code(unsigned code, unsigned bits) {
    for (unsigned i = 0; i < bits; ++i) {
      if (bit_ % 8 == 0) data_.push_back(0);
      if (code & (1u << i)) data_.back() = static_cast<char>(data_.back() | (1 << (bit_ % 8)));
      ++bit_;
    }
    return *this;
  }
  std::string Stream(std::size_t blockSize = 255, bool terminator = true) const {
    std::string out(1, static_cast<char>(min_));
    for (std::size_t i = 0; i < data_.size(); i += blockSize) {
      std::size_t n = std::min(blockSize, data_.size() - i);
      out.push_back(static_cast<char>(n));
      out += data_.substr(i, n);
    }
    if (terminator) out.push_back(0);
    return out;
  }

 private:
  int min_;
  std::string data_;
  unsigned bit_ = 0;
};

// Pixels of the picture's top row, left to right (then the next rows).
std::vector<unsigned> Indexes(const std::vector<std::uint8_t>& px, const TBitmapInfoHeader& h) {
  std::vector<unsigned> out;
  for (int y = 0; y < h.biHeight; ++y)
    for (int x = 0; x < h.biWidth; ++x) out.push_back(IndexAt(px, h, x, y));
  return out;
}

struct TProgressLog {
  std::vector<std::pair<int, int>> reports;
  std::string lastMessage;
  bool abortOnRunning = false;
  void Report(int stage, int percent, const std::string& message) {
    reports.emplace_back(stage, percent);
    lastMessage = message;
    if (abortOnRunning && stage == 1) Abort();
  }
  TGifProgressEvent Event() { return TGifProgressEvent::Bind<&TProgressLog::Report>(this); }
};

}  // namespace

TEST(GifLzw, InterlacedRowOrder) {
  struct Case {
    int height;
    std::vector<int> rows;
  };
  const Case cases[] = {
      {1, {0}},
      {2, {0, 1}},
      {3, {0, 2, 1}},
      {5, {0, 4, 2, 1, 3}},
      {8, {0, 4, 2, 6, 1, 3, 5, 7}},
      {10, {0, 8, 4, 2, 6, 1, 3, 5, 7, 9}},
      {17, {0, 8, 16, 4, 12, 2, 6, 10, 14, 1, 3, 5, 7, 9, 11, 13, 15}},
  };
  for (const Case& c : cases) {
    std::vector<int> got;
    int pass = 0;
    for (int r = 0; r < c.height && got.size() <= static_cast<std::size_t>(c.height);
         r = NextInterlacedRow(r, c.height, pass))
      got.push_back(r);
    EXPECT_EQ(got, c.rows) << "height " << c.height;
  }
}

TEST(GifLzw, RandomPicturesRoundTrip) {
  std::mt19937 rng(1234);
  for (int colorBits : {1, 4, 8}) {
    for (bool interlaced : {false, true}) {
      for (int width = 1; width <= 257; ++width) {
        int height = 1 + (width * 7) % 13;
        TBitmapInfoHeader h = Header(width, height, colorBits);
        std::vector<std::uint8_t> px = RandomPixels(h, colorBits, rng);
        std::string raster = Encode(h, px, interlaced);
        ASSERT_EQ(static_cast<unsigned char>(raster[0]), colorBits == 1 ? 2u : static_cast<unsigned>(colorBits));
        bool corrupt = true;
        ASSERT_EQ(Decode(h, raster, interlaced, colorBits, &corrupt), px)
            << colorBits << " bits, width " << width << (interlaced ? ", interlaced" : "");
        EXPECT_FALSE(corrupt);
      }
    }
  }
}

TEST(GifLzw, LongVariedPictureGoesThroughClears) {
  // Noise over 8-bit indexes fills the 4096 codes many times over: the
  // encoder must clear at 4094 and the decoder follow it.
  std::mt19937 rng(99);
  for (int colorBits : {4, 8}) {
    TBitmapInfoHeader h = Header(300, 200, colorBits);
    std::vector<std::uint8_t> px = RandomPixels(h, colorBits, rng);
    // Runs of one index make long strings between the noise.
    std::size_t stride = px.size() / 200, used = static_cast<std::size_t>(300 * colorBits / 8);
    for (std::size_t y = 0; y < 60; ++y)
      for (std::size_t i = 0; i < used; ++i) px[y * stride + i] = 0x11;
    for (bool interlaced : {false, true}) {
      std::string raster = Encode(h, px, interlaced);
      EXPECT_EQ(Decode(h, raster, interlaced, colorBits), px);
    }
  }
}

TEST(GifLzw, SubBlocksAreFullExceptTheLast) {
  std::mt19937 rng(5);
  TBitmapInfoHeader h = Header(64, 64, 8);
  std::string raster = Encode(h, RandomPixels(h, 8, rng), false);
  ByteReader r(raster);
  r.Skip(1);
  std::vector<int> sizes;
  for (std::uint8_t n = r.U8(); n != 0; n = r.U8()) {
    sizes.push_back(n);
    r.Skip(n);
  }
  EXPECT_TRUE(r.AtEnd());
  ASSERT_GT(sizes.size(), 2u);
  for (std::size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], 255);
}

TEST(GifLzw, DecoderEdgeCases) {
  enum { kPlain = 0, kInterlaced = 1, kDamageAccepted = 2, kIn4Bits = 4 };
  struct Case {
    const char* name;
    std::string raster;
    int width, height, colorBits, flags;
    std::vector<unsigned> pixels;  // top row first
  };
  auto at8 = [](std::initializer_list<unsigned> codes) {
    TCodeStream s(8);
    for (unsigned c : codes) s.Code(c, 9);  // 9 bits after a clear at minimum code size 8
    return s.Stream();
  };
  auto C = [](const char* name, std::string raster, int w, int h, int bits, int flags, std::vector<unsigned> px) {
    return Case{name, std::move(raster), w, h, bits, flags, std::move(px)};
  };
  const Case cases[] = {
      C("interlaced height 1", at8({256, 7, 257}), 1, 1, 8, kInterlaced, {7}),
      C("interlaced height 5: rows 0, 4, 2, 1, 3", at8({256, 10, 14, 12, 11, 13, 257}), 1, 5, 8, kInterlaced,
        {10, 11, 12, 13, 14}),
      C("no clear first: previous code and first index 0", TCodeStream(2).Code(1, 3).Code(6, 3).Code(5, 4).Stream(), 3,
        1, 2, kPlain, {1, 0, 1}),
      C("clear then end writes one pixel and goes on",
        TCodeStream(2).Code(4, 3).Code(5, 3).Code(1, 3).Code(5, 3).Stream(), 2, 1, 2, kPlain, {1, 1}),
      C("an index beyond the colour table is cut to the table's bits",
        TCodeStream(4).Code(16, 5).Code(2, 5).Code(9, 5).Code(17, 5).Stream(), 2, 1, 2, kPlain, {2, 1}),
      // Entries 6 = 1 0, 7 = 0 1 (the width grows to 4 bits), 8 = 1 0 0, 9 = 0 1 1, 10 = 1 0 0 0.
      C("table codes above a 1-bit colour mask",
        TCodeStream(2)
            .Code(4, 3)
            .Code(1, 3)
            .Code(0, 3)
            .Code(6, 3)
            .Code(7, 4)
            .Code(8, 4)
            .Code(9, 4)
            .Code(10, 4)
            .Code(1, 4)
            .Code(1, 4)
            .Code(5, 4)
            .Stream(),
        9, 2, 1, kPlain, {1, 0, 1, 0, 0, 1, 1, 0, 0, 0, 1, 1, 1, 0, 0, 0, 1, 1}),
      // Minimum code size 2 under a 256-colour table: entries 6 = 1 1, 7 = 1 1 1, 8 = 1 1 1 1.
      C("table codes below an 8-bit colour mask",
        TCodeStream(2).Code(4, 3).Code(1, 3).Code(6, 3).Code(7, 3).Code(8, 4).Code(5, 4).Stream(), 10, 1, 8, kPlain,
        {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}),
      C("minimum code size 1 accepted as damage: stops at the first other code",
        TCodeStream(1).Code(4, 3).Code(1, 3).Code(2, 3).Code(5, 3).Stream(), 3, 1, 2, kDamageAccepted, {1, 0, 0}),
      C("minimum code size 10 accepted as damage: decoded as 9",
        TCodeStream(10).Code(512, 10).Code(3, 10).Code(513, 10).Stream(), 2, 1, 8, kDamageAccepted, {3, 0}),
      C("pixels below the last row are dropped", at8({256, 1, 2, 3, 4, 5}), 2, 1, 8, kPlain, {1, 2}),
      C("all rows decoded: a missing end code is no error", at8({256, 1, 2}), 2, 1, 8, kPlain, {1, 2}),
      C("an index wider than the pixel keeps its neighbours", at8({256, 0x12, 0x37, 257}), 2, 1, 8, kIn4Bits,
        {0x2, 0x7}),
  };
  for (const Case& c : cases) {
    TBitmapInfoHeader h = Header(c.width, c.height, (c.flags & kIn4Bits) ? 4 : BufferBits(c.colorBits));
    bool accept = (c.flags & kDamageAccepted) != 0, corrupt = !accept;
    std::vector<std::uint8_t> px = Decode(h, c.raster, (c.flags & kInterlaced) != 0, c.colorBits, &corrupt, accept);
    EXPECT_EQ(Indexes(px, h), c.pixels) << c.name;
    EXPECT_EQ(corrupt, accept) << c.name;
  }
}

TEST(GifLzw, FullTableTakesNoEntriesUntilClear) {
  // After a clear at minimum code size 8, code k (k >= 1) adds entry 257 + k;
  // the width grows once entries 511, 1023 and 2047 exist, and entry 4095
  // fills the table.
  auto width = [](int k) { return k <= 254 ? 9u : k <= 766 ? 10u : k <= 1790 ? 11u : 12u; };
  TCodeStream s(8);
  s.Code(256, 9);
  std::vector<unsigned> expected;
  for (int k = 0; k <= 3838; ++k) {
    s.Code(static_cast<unsigned>(k % 256), width(k));
    expected.push_back(static_cast<unsigned>(k % 256));
  }
  // Entry 4095 is (code 3837, first of code 3838). Codes stay 12 bits wide.
  s.Code(7, 12).Code(9, 12).Code(4095, 12);
  expected.insert(expected.end(), {7, 9, 3837 % 256, 3838 % 256});
  // A clear starts over: entry 258 is (1, 2).
  s.Code(256, 12).Code(1, 9).Code(2, 9).Code(258, 9).Code(257, 9);
  expected.insert(expected.end(), {1, 2, 1, 2});
  TBitmapInfoHeader h = Header(static_cast<int>(expected.size()), 1, 8);
  EXPECT_EQ(Indexes(Decode(h, s.Stream(), false, 8), h), expected);
}

TEST(GifLzw, DecoderErrors) {
  // A self-referring entry makes an endless string: entry 7 gets prefix 7.
  std::string cycle = TCodeStream(2).Code(4, 3).Code(0, 3).Code(7, 3).Code(6, 3).Code(7, 4).Code(5, 4).Stream();
  std::string good = TCodeStream(8).Code(256, 9).Code(1, 9).Code(2, 9).Code(3, 9).Code(257, 9).Stream();
  // The first two codes of `good` (and its sub-block length) only.
  std::string cut = good.substr(0, 4);
  std::string shortBlock = good.substr(0, good.size() - 3);  // the sub-block says more than follows
  std::string noTerminator = TCodeStream(8).Code(256, 9).Code(1, 9).Stream(255, false);
  struct Case {
    const char* name;
    std::string raster;
    int width, colorBits;
    std::string error;           // with damage not accepted
    std::vector<unsigned> kept;  // with it accepted
  };
  const Case cases[] = {
      {"code size 1",
       TCodeStream(1).Code(4, 3).Stream(),
       2,
       2,
       "EInvalidGraphicOperation: GIF code size not in range 2 to 9",
       {0, 0}},
      {"code size 12",
       TCodeStream(12).Code(4096, 13).Stream(),
       2,
       8,
       "EInvalidGraphicOperation: GIF code size not in range 2 to 9",
       {0, 0}},
      {"string walk without end",
       cycle,
       8,
       1,
       "EInvalidGraphicOperation: GIF encoded data is corrupt",
       {0, 0, 0, 0, 0, 0, 0, 0}},
      {"data ends early", cut, 4, 8, "EReadError: Stream read error", {0, 0, 0, 0}},
      {"sub-block cut short", shortBlock, 4, 8, "EReadError: Stream read error", {1, 2, 0, 0}},
      {"no terminator", noTerminator, 4, 8, "EReadError: Stream read error", {1, 0, 0, 0}},
      {"nothing at all", std::string(), 4, 8, "EReadError: Stream read error", {}},
      {"end code with rows missing", good, 4, 8, "EReadError: Stream read error", {1, 2, 3, 0}},
      {"end code in the last row's middle",
       TCodeStream(2).Code(4, 3).Code(1, 3).Code(6, 3).Code(5, 3).Stream(),
       4,
       8,
       "EReadError: Stream read error",
       {1, 1, 1, 0}},
  };
  for (const Case& c : cases) {
    TBitmapInfoHeader h = Header(c.width, 1, BufferBits(c.colorBits));
    std::string what;
    try {
      Decode(h, c.raster, false, c.colorBits);
    } catch (const Exception& e) {
      what = std::string(e.ClassName()) + ": " + e.Message;
    }
    EXPECT_EQ(what, c.error) << c.name;
    if (c.kept.empty()) continue;
    bool corrupt = false;
    EXPECT_EQ(Indexes(Decode(h, c.raster, false, c.colorBits, &corrupt, true), h), c.kept) << c.name;
    EXPECT_TRUE(corrupt) << c.name;
  }
}

TEST(GifLzw, EmptyPicturesDecodeNothing) {
  std::string raster = TCodeStream(8).Code(256, 9).Code(1, 9).Code(2, 9).Code(257, 9).Stream();
  for (auto [w, hgt] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{0, 0}}) {
    TBitmapInfoHeader h = Header(w, hgt, 8);
    std::vector<std::uint8_t> px(LzwPixelBufferSize(h));
    TOwned<TReadOnlyMemoryStream> in(New<TReadOnlyMemoryStream>(raster.data(), raster.size()));
    bool corrupt = true;
    LZWDecode(*in, h, false, nullptr, corrupt, px, 8, false);
    EXPECT_FALSE(corrupt);
    // An empty picture encodes to a clear and an end code only, and back.
    std::string back = Encode(h, px, false);
    EXPECT_EQ(back, TCodeStream(8).Code(256, 9).Code(257, 9).Stream());
  }
}

TEST(GifLzw, BufferSizesAreChecked) {
  struct Case {
    int width, height, bits;
    std::uint64_t size;  // 0: refused
  };
  const Case cases[] = {
      {1, 1, 1, 4},
      {33, 2, 1, 16},
      {9, 3, 4, 24},
      {16384, 16384, 8, 256u << 20},
      {16385, 16384, 8, 0},
      {70000, 70000, 1, 0},
      {-1, 4, 8, 0},
      {4, -1, 8, 0},
      {4, 4, 24, 0},
      {4, 4, 2, 0},
      {0x7FFFFFFF, 0x7FFFFFFF, 8, 0},
  };
  for (const Case& c : cases) {
    TBitmapInfoHeader h = Header(c.width, c.height, c.bits);
    if (c.size) {
      EXPECT_EQ(LzwPixelBufferSize(h), c.size) << c.width << "x" << c.height;
    } else {
      EXPECT_THROW(LzwPixelBufferSize(h), EInvalidGraphic) << c.width << "x" << c.height;
    }
  }
  // A buffer shorter than the header's rows is refused, not overrun.
  TBitmapInfoHeader h = Header(8, 8, 8);
  std::vector<std::uint8_t> small(63);
  std::string raster = TCodeStream(8).Code(256, 9).Code(257, 9).Stream();
  TOwned<TReadOnlyMemoryStream> in(New<TReadOnlyMemoryStream>(raster.data(), raster.size()));
  bool corrupt = false;
  EXPECT_THROW(LZWDecode(*in, h, false, nullptr, corrupt, small, 8, true), EInvalidGraphic);
  TOwned<TMemoryStream> out(New<TMemoryStream>());
  EXPECT_THROW(LZWEncode(*out, h, false, nullptr, small), EInvalidGraphic);
}

TEST(GifLzw, EncoderReadsOnlyTheRowsPixels) {
  // Padding nibbles and bytes hold garbage; the encoding must not see it.
  std::mt19937 rng(3);
  for (int bits : {1, 4, 8}) {
    TBitmapInfoHeader h = Header(3, 4, bits);
    std::vector<std::uint8_t> clean = RandomPixels(h, bits, rng);
    std::vector<std::uint8_t> dirty = clean;
    std::size_t stride = clean.size() / 4;
    for (int y = 0; y < 4; ++y) {
      std::uint8_t* row = dirty.data() + static_cast<std::size_t>(y) * stride;
      if (bits == 1) row[0] = static_cast<std::uint8_t>(row[0] | 0x1F);
      if (bits == 4) row[1] = static_cast<std::uint8_t>(row[1] | 0x0F);
      for (std::size_t i = bits == 8 ? 3 : bits == 4 ? 2 : 1; i < stride; ++i) row[i] = 0xA5;
    }
    EXPECT_EQ(Encode(h, dirty, false), Encode(h, clean, false)) << bits << " bits";
  }
}

TEST(GifLzw, ProgressReports) {
  std::mt19937 rng(8);
  TBitmapInfoHeader h = Header(40, 30, 8);
  std::vector<std::uint8_t> px = RandomPixels(h, 8, rng);
  std::string raster = Encode(h, px, false);

  // Encoding: a start, one report per row, the end.
  TProgressLog enc;
  TOwned<TMemoryStream> out(New<TMemoryStream>());
  LZWEncode(*out, h, false, enc.Event(), px);
  ASSERT_EQ(enc.reports.size(), 32u);
  EXPECT_EQ(enc.reports.front(), std::pair(0, 0));
  EXPECT_EQ(enc.reports[1], std::pair(1, 3));
  EXPECT_EQ(enc.reports[30], std::pair(1, 100));
  EXPECT_EQ(enc.reports.back(), std::pair(2, 100));
  EXPECT_EQ(out->DataString(), raster);

  // Decoding: a start, running reports with rising percentages, the end.
  TProgressLog dec;
  std::vector<std::uint8_t> back(px.size());
  TOwned<TReadOnlyMemoryStream> in(New<TReadOnlyMemoryStream>(raster.data(), raster.size()));
  bool corrupt = false;
  LZWDecode(*in, h, false, dec.Event(), corrupt, back, 8, false);
  EXPECT_EQ(back, px);
  ASSERT_GT(dec.reports.size(), 100u);
  EXPECT_EQ(dec.reports.front(), std::pair(0, 0));
  EXPECT_EQ(dec.reports.back(), std::pair(2, 100));
  for (std::size_t i = 2; i + 1 < dec.reports.size(); ++i) {
    EXPECT_EQ(dec.reports[i].first, 1);
    EXPECT_GE(dec.reports[i].second, dec.reports[i - 1].second);
  }

  // A failure, also an abort from the handler itself, ends with percent 0 and its message.
  TProgressLog failing;
  std::string cut = raster.substr(0, 300);
  TOwned<TReadOnlyMemoryStream> cutIn(New<TReadOnlyMemoryStream>(cut.data(), cut.size()));
  EXPECT_THROW(LZWDecode(*cutIn, h, false, failing.Event(), corrupt, back, 8, false), EReadError);
  EXPECT_EQ(failing.reports.back(), std::pair(2, 0));
  EXPECT_EQ(failing.lastMessage, "Stream read error");
  TProgressLog aborting;
  aborting.abortOnRunning = true;
  TOwned<TMemoryStream> out2(New<TMemoryStream>());
  EXPECT_THROW(LZWEncode(*out2, h, false, aborting.Event(), px), EAbort);
  EXPECT_EQ(aborting.reports.back(), std::pair(2, 0));
  EXPECT_EQ(aborting.lastMessage, "Operation aborted");
}

TEST(GifLzw, FixturesDecodeToTheReferencePixels) {
  struct Fixture {
    const char* name;
    int colorBits;
    bool interlaced;
  };
  const Fixture fixtures[] = {
      {"tai-ku", 8, true},
      {"logoMed", 8, false},
      {"pwrdLogo100", 6, false},
      {"left", 2, false},
      {"back", 3, false},
      {"bomb", 4, false},
      {"CMakeLogo", 8, false},
      // Minimum code sizes 2 and 3 under 256-colour tables (global; local and interlaced).
      {"lzw2-g8", 8, false},
      {"lzw3-l8", 8, true},
  };
  for (const Fixture& f : fixtures) {
    TGifImage img = FirstImage(ReadFile(FixturePath(std::string(f.name) + ".gif")));
    ASSERT_EQ(img.colorBits, f.colorBits) << f.name;
    ASSERT_EQ(img.interlaced, f.interlaced) << f.name;
    std::string reference = ReadFile(FixturePath(std::string(f.name) + ".rgba"));
    ByteReader r(reference);
    ASSERT_EQ(r.Bytes(4), "GdkP");
    r.Skip(8);
    ASSERT_EQ(r.U32BE(), static_cast<std::uint32_t>(img.width) * 4) << f.name;
    ASSERT_EQ(r.U32BE(), static_cast<std::uint32_t>(img.width)) << f.name;
    ASSERT_EQ(r.U32BE(), static_cast<std::uint32_t>(img.height)) << f.name;

    TBitmapInfoHeader h = Header(img.width, img.height, BufferBits(img.colorBits));
    bool corrupt = true;
    std::vector<std::uint8_t> px = Decode(h, img.raster, img.interlaced, img.colorBits, &corrupt);
    EXPECT_FALSE(corrupt) << f.name;
    int wrong = 0;
    for (int y = 0; y < img.height; ++y)
      for (int x = 0; x < img.width; ++x) {
        unsigned i = IndexAt(px, h, x, y);
        std::uint32_t got = 0;
        if (static_cast<int>(i) != img.transparent) {
          const TRgb& c = img.table.at(i);
          got = (static_cast<std::uint32_t>(c.r) << 24) | (c.g << 16) | (c.b << 8) | 0xFF;
        }
        std::uint32_t want = r.U32BE();
        if (got != want && wrong++ < 3) ADD_FAILURE() << f.name << " pixel " << x << "," << y;
      }
    EXPECT_EQ(wrong, 0) << f.name;
  }
}
