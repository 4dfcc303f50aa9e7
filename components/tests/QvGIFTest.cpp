// The GIF container: the committed Debian GIFs loaded and stored again, the
// block rules on synthesized files, frames decoded to BMP files and BMP
// files compressed into frames.
#include "QvGIF.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ByteWriter.h"
#include "Exceptions.h"
#include "GifTestFiles.h"

using namespace giftest;

namespace {

const char* const kFixtures[] = {"tai-ku", "logoMed", "pwrdLogo100", "left", "back", "bomb", "CMakeLogo"};

// The palette index of BMP pixel (x, y), counted from the top.
unsigned BmpIndex(const std::string& bmp, int x, int y) {
  ByteReader r(bmp);
  const std::uint32_t offset = r.U32LEAt(10);
  const std::int32_t width = static_cast<std::int32_t>(r.U32LEAt(18));
  const std::int32_t height = static_cast<std::int32_t>(r.U32LEAt(22));
  const unsigned bits = r.U16LEAt(28);
  const std::size_t stride = DibRowStride(static_cast<std::uint64_t>(width), bits);
  const std::size_t row = offset + static_cast<std::size_t>(height - 1 - y) * stride;
  if (bits == 8) return r.U8At(row + static_cast<std::size_t>(x));
  if (bits == 4) return (r.U8At(row + static_cast<std::size_t>(x / 2)) >> (x % 2 ? 0 : 4)) & 15;
  return (r.U8At(row + static_cast<std::size_t>(x / 8)) >> (7 - x % 8)) & 1;
}

// Palette entry `index` of a BMP file as R G B A.
std::uint32_t BmpColour(const std::string& bmp, unsigned index) {
  ByteReader r(bmp);
  const std::size_t entry = 54 + 4 * std::size_t{index};
  return (std::uint32_t{r.U8At(entry + 2)} << 24) | (std::uint32_t{r.U8At(entry + 1)} << 16) |
         (std::uint32_t{r.U8At(entry)} << 8) | 0xFF;
}

std::uint32_t BmpPixel(const std::string& bmp, int x, int y) {
  return BmpColour(bmp, BmpIndex(bmp, x, y));
}

TEST(QvGIF, DebianGifsLoadDecodeAndStoreUnchanged) {
  for (const char* name : kFixtures) {
    SCOPED_TRACE(name);
    const std::string file = ReadFile(FixturePath(std::string(name) + ".gif"));
    TGifContainer gif;
    LoadGifData(file, false, gif);
    ASSERT_GE(gif.Frames.size(), 1u);
    TGifFrameData& frame = gif.Frames[0];
    const TGifImage first = FirstImage(file);
    EXPECT_EQ(frame.RasterData, first.raster);
    EXPECT_EQ(frame.Width, first.width);
    EXPECT_EQ(frame.Height, first.height);
    EXPECT_EQ(frame.InterlacedRows, first.interlaced);
    EXPECT_EQ(frame.ColorBits, first.colorBits);

    // Frame 0 as a BMP file shows the pixels gdk-pixbuf gives (its transparent ones 0).
    const std::string bmp = DecodeGifFrameToDIB(frame, nullptr, false);
    EXPECT_FALSE(frame.DamagedData);
    const std::string reference = ReadFile(FixturePath(std::string(name) + ".rgba"));
    ByteReader ref(reference);
    ref.Skip(24);
    int wrong = 0;
    for (int y = 0; y < frame.Height; ++y)
      for (int x = 0; x < frame.Width; ++x) {
        const unsigned index = BmpIndex(bmp, x, y);
        const std::uint32_t got = static_cast<int>(index) == first.transparent ? 0 : BmpColour(bmp, index);
        if (got != ref.U32BE()) ++wrong;
      }
    EXPECT_EQ(wrong, 0);

    // Stored and read again: every frame's raster data and blocks, the
    // tables and the comment stay as they were.
    TGifContainer before = gif;
    const std::string stored = StoreGifData(gif);
    TGifContainer again;
    LoadGifData(stored, false, again);
    ASSERT_EQ(again.Frames.size(), before.Frames.size());
    for (std::size_t i = 0; i < before.Frames.size(); ++i) {
      EXPECT_EQ(again.Frames[i].RasterData, before.Frames[i].RasterData);
      EXPECT_EQ(again.Frames[i].ExtensionBlocks, before.Frames[i].ExtensionBlocks);
      EXPECT_EQ(again.Frames[i].FrameColors, before.Frames[i].FrameColors);
      EXPECT_EQ(again.Frames[i].TransparentColor, before.Frames[i].TransparentColor);
      EXPECT_EQ(again.Frames[i].DelayTime, before.Frames[i].DelayTime);
    }
    EXPECT_EQ(again.GlobalColors, before.GlobalColors);
    EXPECT_EQ(again.CommentText, before.CommentText);
    EXPECT_EQ(again.BackgroundColor, before.BackgroundColor);
    EXPECT_EQ(StoreGifData(again), stored) << "a stored file stores byte for byte";
  }
}

// Synthesized files: header and screen (a 2-entry global table of black
// and white), then `body`, then the trailer.
std::string Gif(const std::string& body, const char* version = "89a", std::uint16_t w = 4, std::uint16_t h = 2) {
  std::string s = std::string("GIF") + version;
  ByteWriter b(s);
  b.U16LE(w);
  b.U16LE(h);
  b.U8(0x80);  // a global table of 2 entries
  b.U8(1);     // background: white
  b.U8(0);
  b.Bytes(std::string("\0\0\0\xFF\xFF\xFF", 6));
  return s + body + ";";
}

// One 4 x 2 image (or of the size given) with the raster data of 8 pixels of index 1.
std::string Image(std::uint16_t w = 4, std::uint16_t h = 2, bool localTable = false) {
  std::string s = ",";
  ByteWriter b(s);
  b.U16LE(0);
  b.U16LE(0);
  b.U16LE(w);
  b.U16LE(h);
  b.U8(localTable ? std::uint8_t{0x80} : std::uint8_t{0});
  if (localTable) b.Bytes(std::string("\x10\x20\x30\x40\x50\x60", 6));
  TBitmapInfoHeader header = Header(4, 2, 1);
  std::vector<std::uint8_t> px(LzwPixelBufferSize(header), 0xFF);
  return s + Encode(header, px, false);
}

std::string Control(std::uint8_t packed, std::uint16_t delay, std::uint8_t transparent) {
  std::string s = "\x21\xF9\x04";
  ByteWriter b(s);
  b.U8(packed);
  b.U16LE(delay);
  b.U8(transparent);
  b.U8(0);
  return s;
}

std::string Comment(const std::vector<std::string>& lines) {
  std::string s = "\x21\xFE";
  for (const std::string& l : lines) s += static_cast<char>(l.size()) + l;
  return s + std::string(1, '\0');
}

std::string Application(const char* id, const std::string& data) {
  return std::string("\x21\xFF\x0B") + id + static_cast<char>(data.size()) + data + std::string(1, '\0');
}

std::string Loop(std::uint16_t count) {
  std::string d = "\x01";
  ByteWriter(d).U16LE(count);
  return Application("NETSCAPE2.0", d);
}

std::string ErrorOf(const std::string& file, bool loadCorrupted = false) {
  TGifContainer gif;
  try {
    LoadGifData(file, loadCorrupted, gif);
    for (TGifFrameData& f : gif.Frames) DecodeGifFrameToDIB(f, nullptr, loadCorrupted);
  } catch (const Exception& e) {
    return e.what();
  }
  return "";
}

TEST(QvGIF, HeaderScreenAndErrors) {
  TGifContainer gif;
  LoadGifData(Gif(Image(), "87A"), false, gif);
  EXPECT_EQ(gif.FileVersion, 1) << "the version is compared without regard to case";
  EXPECT_EQ(gif.BackgroundColor, 0xFFFFFFu);
  const std::pair<std::string, std::string> errors[] = {
      {Gif(Image(), "90a"), "Unknown GIF version"},
      {"GIF8", "Unknown GIF version"},
      {"JFIF89a", "Unknown GIF version"},
      {Gif("\x21\x2A\x00" + Image()), "Unrecognized extension block: 2a"},
      {Gif("").substr(0, Gif("").size() - 1) + std::string(",\0\0\0", 4), "Stream read error"},  // a cut descriptor
      {"GIF89a\x04\x00", "Stream read error"},
      {Gif("\x07" + Image()), "Stream read error"},  // a stray byte before any image
  };
  for (const auto& [file, text] : errors) EXPECT_EQ(ErrorOf(file), text);

  LoadGifData(Gif(""), false, gif);
  EXPECT_TRUE(gif.Frames.empty());
  try {
    StoreGifData(gif);
    ADD_FAILURE();
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_STREQ(e.what(), "No GIF Data to write");
  }

  // A size of 0 takes the screen's; a frame without any colour table loads
  // but cannot be decoded.
  LoadGifData(Gif(Image(0, 0), "89a", 7, 9), false, gif);
  ASSERT_EQ(gif.Frames.size(), 1u);
  EXPECT_EQ(gif.Frames[0].Width, 7);
  EXPECT_EQ(gif.Frames[0].Height, 9);
  std::string noTable = Gif(Image());
  noTable[10] = 0;  // no global table: the six table bytes now stand between blocks
  noTable.erase(13, 6);
  LoadGifData(noTable, false, gif);
  ASSERT_EQ(gif.Frames.size(), 1u);
  EXPECT_EQ(ErrorOf(noTable), "Wrong number of colors; must be a power of 2");

  // A stray byte after an image ends the file quietly.
  LoadGifData(Gif(Image() + "\x07" + Image()), false, gif);
  EXPECT_EQ(gif.Frames.size(), 1u);
}

TEST(QvGIF, TruncatedRasterData) {
  std::string file = Gif(Image());
  file.erase(file.size() - 4);  // into the last sub-block
  EXPECT_EQ(ErrorOf(file, false), "Stream read error");
  TGifContainer gif;
  LoadGifData(file, true, gif);
  ASSERT_EQ(gif.Frames.size(), 1u);
  EXPECT_TRUE(gif.Frames[0].DamagedData);
  // Written again, the cut raster data gets its terminator: the file's blocks stay blocks.
  TGifContainer again;
  LoadGifData(StoreGifData(gif), false, again);
  ASSERT_EQ(again.Frames.size(), 1u);
  EXPECT_FALSE(again.Frames[0].DamagedData);
  EXPECT_EQ(again.Frames[0].RasterData, gif.Frames[0].RasterData + std::string(1, '\0'));
}

TEST(QvGIF, ExtensionBlocks) {
  TGifContainer gif;
  {
    SCOPED_TRACE("loop count and the loop block");
    LoadGifData(Gif(Loop(40000) + Image() + Image()), false, gif);
    EXPECT_TRUE(gif.Looping);
    EXPECT_EQ(gif.LoopCount, 30000);
    ASSERT_EQ(gif.Frames.size(), 2u);
    EXPECT_TRUE(gif.Frames[0].ExtensionBlocks.empty()) << "the loop block is not kept with the frame";
    EXPECT_NE(StoreGifData(gif).find("NETSCAPE2.0"), std::string::npos);
    gif.Frames.pop_back();
    EXPECT_EQ(StoreGifData(gif).find("NETSCAPE2.0"), std::string::npos) << "one frame writes no loop block";
  }
  {
    SCOPED_TRACE("delays and two control blocks");
    LoadGifData(Gif(Control(0x01, 258, 0) + Control(0x09, 7000, 1) + Image()), false, gif);
    ASSERT_EQ(gif.Frames.size(), 1u);
    TGifFrameData& f = gif.Frames[0];
    EXPECT_EQ(f.DelayTime, 70000u) << "the larger delay, in milliseconds, not wrapped at 16 bits";
    EXPECT_EQ(f.TransparentColor, 0xFFFFFFu) << "the later block's transparent index";
    EXPECT_EQ(f.DisposalMethod, 2);
    TGifContainer again;
    LoadGifData(StoreGifData(gif), false, again);
    ASSERT_EQ(again.Frames[0].ExtensionBlocks.size(), 2u);
    EXPECT_EQ(again.Frames[0].ExtensionBlocks[1].Fixed[2] | (again.Frames[0].ExtensionBlocks[1].Fixed[3] << 8), 7000)
        << "the delay comes back in hundredths, unchanged";
    LoadGifData(Gif(Control(0, 258, 0) + Image()), false, gif);
    EXPECT_EQ(gif.Frames[0].DelayTime, 2580u);
    EXPECT_EQ(gif.Frames[0].TransparentColor, kGifNoColor);
    const std::string stored = StoreGifData(gif);
    EXPECT_NE(stored.find(Control(0, 258, 0)), std::string::npos);
  }
  {
    SCOPED_TRACE("comments, application and plain-text blocks");
    const std::string plainText =
        std::string("\x21\x01\x0C", 3) + std::string(12, 'p') + "\x02hi" + std::string(1, '\0');
    LoadGifData(Gif(Comment({"dropped"}) + plainText + Comment({"frame"}) + Application("OTHERAPP1.0", "xyz") +
                    Image() + Comment({"global", "two"}) + Comment({"more"})),
                false, gif);
    ASSERT_EQ(gif.Frames.size(), 1u);
    const auto& blocks = gif.Frames[0].ExtensionBlocks;
    ASSERT_EQ(blocks.size(), 1u) << "plain text drops what came before it; other applications are dropped";
    EXPECT_EQ(blocks[0].Kind, bkComment);
    EXPECT_EQ(blocks[0].Data, std::vector<std::string>{"frame"});
    EXPECT_EQ(gif.CommentText, (std::vector<std::string>{"global", "two", "\r\n\r\n", "more"}));
    gif.CommentText = {std::string(300, 'c'), "", "end"};
    const std::string stored = StoreGifData(gif);
    const std::size_t at = stored.rfind(std::string("\x21\xFE", 2));
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(stored.substr(at), std::string("\x21\xFE\xFF", 3) + std::string(255, 'c') +
                                     "\x03"
                                     "end" +
                                     std::string(1, '\0') + ";")
        << "cut to 255 bytes, empty lines left out, after the last frame";
    EXPECT_EQ(stored.substr(3, 3), "89a");
  }
}

TEST(QvGIF, SyncControlBlock) {
  TGifContainer gif;
  LoadGifData(Gif(Image(), "87a"), false, gif);
  TGifFrameData& f = gif.Frames[0];
  SyncControlBlock(f, gif);
  EXPECT_TRUE(f.ExtensionBlocks.empty()) << "nothing to say: no block";
  EXPECT_EQ(gif.FileVersion, 1);
  f.DelayTime = 1230;
  f.TransparentColor = 0xFFFFFF;
  f.DisposalMethod = 3;
  f.ExtensionBlocks.push_back(TGifExtension{bkComment, true, {}, {}});
  SyncControlBlock(f, gif);
  ASSERT_EQ(f.ExtensionBlocks.size(), 1u) << "the empty comment goes";
  const TGifExtension& c = f.ExtensionBlocks[0];
  EXPECT_EQ(c.Kind, bkControl);
  EXPECT_EQ(c.Fixed[0], 4);
  EXPECT_EQ(c.Fixed[1], 0x0D);
  EXPECT_EQ(c.Fixed[2] | (c.Fixed[3] << 8), 123);
  EXPECT_EQ(c.Fixed[4], 1);
  EXPECT_EQ(gif.FileVersion, 2);
  f.TransparentColor = 0x123456;  // in no table entry
  SyncControlBlock(f, gif);
  EXPECT_EQ(f.ExtensionBlocks[0].Fixed[1], 0x0C);
  EXPECT_EQ(BitsForColorCount(256), 8);
  EXPECT_THROW(BitsForColorCount(3), EInvalidGraphicOperation);
}

TEST(QvGIF, BmpFilesCompressIntoFrames) {
  TDib dib(5, 3, 4);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) dib.SetPixelIndex(x, y, static_cast<unsigned>((x + 2 * y) % 16));
  const std::string bmp = dib.SaveToBmp();
  TGifContainer gif;
  gif.FileVersion = 1;
  gif.Frames.emplace_back();
  CompressDIBToGifFrame(bmp, gif.Frames[0], gif, nullptr);
  TGifFrameData& f = gif.Frames[0];
  EXPECT_EQ(f.ColorBits, 4);
  EXPECT_EQ(f.FrameColors.Count, 16);
  EXPECT_FALSE(f.LocalColorTable) << "the first frame gives the image its table";
  EXPECT_EQ(gif.GlobalColors, f.FrameColors);
  EXPECT_EQ(gif.ScreenWidth, 5);
  EXPECT_EQ(gif.ScreenHeight, 3);
  const std::string back = DecodeGifFrameToDIB(f, nullptr, false);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      const TRGBQuad& q = dib.Palette()[static_cast<std::size_t>((x + 2 * y) % 16)];
      ASSERT_EQ(BmpPixel(back, x, y),
                (std::uint32_t{q.rgbRed} << 24) | (std::uint32_t{q.rgbGreen} << 16) | (q.rgbBlue << 8) | 0xFF);
    }
  gif.Frames.emplace_back();
  CompressDIBToGifFrame(bmp, gif.Frames[1], gif, nullptr);
  EXPECT_TRUE(gif.Frames[1].LocalColorTable);
  TGifContainer again;
  LoadGifData(StoreGifData(gif), false, again);
  ASSERT_EQ(again.Frames.size(), 2u);
  EXPECT_EQ(again.Frames[1].RasterData, gif.Frames[1].RasterData);

  // An 8-bit file whose palette holds two entries: the others are black, and
  // nothing past the file is read.
  std::string eight = TDib(2, 2, 8).SaveToBmp();
  std::string small = eight.substr(0, 54) + std::string("\x10\x20\x30\0\x40\x50\x60\0", 8) + std::string(8, '\1');
  ByteWriter patch(small);
  patch.U32LEAt(2, static_cast<std::uint32_t>(small.size()));
  patch.U32LEAt(10, 62);
  patch.U32LEAt(46, 2);
  TGifFrameData g;
  TGifContainer holder;
  CompressDIBToGifFrame(small, g, holder, nullptr);
  EXPECT_EQ(g.FrameColors.Count, 256);
  EXPECT_EQ(g.FrameColors.Entries[1], (TGifRgb{0x60, 0x50, 0x40}));
  EXPECT_EQ(g.FrameColors.Entries[200], TGifRgb{});

  TDib deep(2, 2, 24);
  try {
    CompressDIBToGifFrame(deep.SaveToBmp(), g, holder, nullptr);
    ADD_FAILURE();
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_STREQ(e.what(), "GIF image encoding error");
  }
  EXPECT_THROW(CompressDIBToGifFrame("BM", g, holder, nullptr), EInvalidGraphicOperation);
}

}  // namespace

// Form and clipboard data: a length, then the file. The length is checked
// against what is left before anything is read or allocated for it.
TEST(QvGIF, LengthPrefixedData) {
  const std::string file = ReadFile(FixturePath("left.gif"));
  const std::string good = LengthPrefixed(file);
  {
    TOwned<TReadOnlyMemoryStream> s(New<TReadOnlyMemoryStream>(good.data(), good.size()));
    EXPECT_EQ(ReadLengthPrefixedGif(*s), file);
    EXPECT_EQ(s->Position(), s->Size());
  }
  struct Case {
    std::uint32_t length;
    std::size_t keep;  // bytes of the file after the length
    bool ok;
  };
  const Case cases[] = {
      {0, 0, true},                                                       // an empty file
      {static_cast<std::uint32_t>(file.size()), file.size() - 1, false},  // one byte short
      {0x7FFFFFFF, file.size(), false},                                   // far beyond the data
      {0x80000000u, file.size(), false},                                  // negative
      {0xFFFFFFFFu, file.size(), false},                                  // -1
      {3, file.size(), true},                                             // shorter than the data: the rest stays
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::string data;
    ByteWriter(data).U32LE(c.length);
    data += file.substr(0, c.keep);
    TOwned<TReadOnlyMemoryStream> s(New<TReadOnlyMemoryStream>(data.data(), data.size()));
    if (c.ok) {
      EXPECT_EQ(ReadLengthPrefixedGif(*s), file.substr(0, c.length));
      EXPECT_EQ(s->Position(), 4 + std::int64_t{c.length});
    } else {
      try {
        ReadLengthPrefixedGif(*s);
        ADD_FAILURE() << "read";
      } catch (const EReadError& e) {
        EXPECT_STREQ(e.what(), "Stream read error");
      }
      EXPECT_EQ(s->Position(), 4) << "nothing read for the length";
    }
  }
  {
    const std::string three("\x01\x00\x00", 3);  // not even a length
    TOwned<TReadOnlyMemoryStream> s(New<TReadOnlyMemoryStream>(three.data(), three.size()));
    EXPECT_THROW(ReadLengthPrefixedGif(*s), EReadError);
  }
}
