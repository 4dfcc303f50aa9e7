#include "NokiaLogos.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "Exceptions.h"
#include "TestBytes.h"

namespace {

// A picture with an irregular pattern, so that a swapped bit order, a lost
// row padding or a transposed band shows up as a different picture.
TMonoBitmap Pattern(int width, int height, unsigned seed = 1) {
  TMonoBitmap picture(width, height);
  std::uint32_t v = seed * 2654435761u + 12345u;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      v = v * 1103515245u + 12345u;
      picture.SetPixel(x, y, (v >> 16) & 1);
    }
  }
  return picture;
}

TMonoBitmap Filled(int width, int height) {
  TMonoBitmap picture(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) picture.SetPixel(x, y, true);
  }
  return picture;
}

std::string Name(TLogoFormat format) {
  switch (format) {
    case TLogoFormat::Nol:
      return "NOL";
    case TLogoFormat::Ngg:
      return "NGG";
    case TLogoFormat::Nlm:
      return "NLM";
    case TLogoFormat::Ota:
      return "OTA";
    case TLogoFormat::Nsl:
      return "NSL";
  }
  return "?";
}

}  // namespace

TEST(NokiaLogos, FormatTableInRegistrationOrder) {
  struct Expected {
    TLogoFormat format;
    std::string_view extension, description;
  };
  const Expected expected[] = {
      {TLogoFormat::Nol, "nol", "Nokia Operator Logo"}, {TLogoFormat::Ngg, "ngg", "Nokia Group Graphic"},
      {TLogoFormat::Nlm, "nlm", "NLM graphic"},         {TLogoFormat::Ota, "ota", "Over The Air graphic"},
      {TLogoFormat::Nsl, "nsl", "Nokia Startup Logo"},
  };
  auto formats = LogoFormats();
  ASSERT_EQ(formats.size(), std::size(expected));
  for (std::size_t i = 0; i < formats.size(); ++i) {
    EXPECT_EQ(formats[i].format, expected[i].format);
    EXPECT_EQ(formats[i].extension, expected[i].extension);
    EXPECT_EQ(formats[i].description, expected[i].description);
  }
}

TEST(NokiaLogos, ExtensionChoosesTheFormat) {
  const struct {
    std::string_view extension;
    const TLogoFormatInfo* format;
  } cases[] = {
      {"nol", &LogoFormats()[0]},
      {".NOL", &LogoFormats()[0]},
      {".Ngg", &LogoFormats()[1]},
      {".nlm", &LogoFormats()[2]},
      {"OTA", &LogoFormats()[3]},
      {".nsl", &LogoFormats()[4]},
      {".bmp", nullptr},
      {"", nullptr},
      {".", nullptr},
      {".nolx", nullptr},
      {"no", nullptr},
  };
  for (const auto& c : cases) EXPECT_EQ(FindLogoFormat(c.extension), c.format) << c.extension;
}

TEST(NokiaLogos, OnlyPureBlackIsASetPixel) {
  EXPECT_TRUE(LogoPixelSet(0x000000));
  for (std::uint32_t colour : {0x000001u, 0x010000u, 0x808080u, 0xFFFFFFu, 0x80000008u, 0x1FFFFFFFu}) {
    EXPECT_FALSE(LogoPixelSet(colour)) << std::hex << colour;
  }
  EXPECT_EQ(LogoColour(true), 0x000000u);
  EXPECT_EQ(LogoColour(false), 0xFFFFFFu);
}

TEST(NokiaLogos, MonoBitmapPixels) {
  TMonoBitmap picture(3, 2);
  EXPECT_EQ(picture.Width(), 3);
  EXPECT_EQ(picture.Height(), 2);
  EXPECT_FALSE(picture.Pixel(2, 1));
  picture.SetPixel(2, 1, true);
  EXPECT_TRUE(picture.Pixel(2, 1));
  EXPECT_FALSE(picture.Pixel(1, 1));
  EXPECT_THROW(picture.Pixel(3, 0), std::out_of_range);
  EXPECT_THROW(picture.SetPixel(0, 2, true), std::out_of_range);
  EXPECT_THROW(picture.Pixel(-1, 0), std::out_of_range);
  EXPECT_THROW(TMonoBitmap(-1, 4), std::invalid_argument);
  EXPECT_TRUE(TMonoBitmap().Empty());
  EXPECT_TRUE(TMonoBitmap(0, 5).Empty());
}

// Write, read back, write again: the same pixels and the same bytes.
TEST(NokiaLogos, EveryFormatRoundTrips) {
  const struct {
    TLogoFormat format;
    int width, height;
    std::size_t fileSize;
  } cases[] = {
      {TLogoFormat::Nol, 72, 14, 20 + 1008 + 54},
      {TLogoFormat::Nol, 1, 1, 20 + 1 + 54},
      {TLogoFormat::Nol, 255, 255, 20 + 255 * 255 + 54},
      {TLogoFormat::Nol, 0, 0, 20 + 54},
      {TLogoFormat::Ngg, 72, 14, 16 + 1008 + 54},
      {TLogoFormat::Ngg, 72, 28, 16 + 2016 + 54},
      {TLogoFormat::Ngg, 255, 3, 16 + 765 + 54},
      {TLogoFormat::Nlm, 84, 48, 10 + 48 * 11},
      {TLogoFormat::Nlm, 8, 2, 10 + 2},
      {TLogoFormat::Nlm, 9, 3, 10 + 3 * 2},
      {TLogoFormat::Nlm, 255, 255, 10 + 255 * 32},
      {TLogoFormat::Ota, 72, 14, 4 + 126},
      {TLogoFormat::Ota, 5, 3, 4 + 2},
      {TLogoFormat::Ota, 1, 1, 4 + 1},
      {TLogoFormat::Ota, 0, 7, 4},
      {TLogoFormat::Ota, 255, 255, 4 + 8129},
      {TLogoFormat::Nsl, 84, 48, 6 + 540},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Name(c.format) + " " + std::to_string(c.width) + " x " + std::to_string(c.height));
    for (const TMonoBitmap& picture :
         {Pattern(c.width, c.height), Filled(c.width, c.height), TMonoBitmap(c.width, c.height)}) {
      std::string file = WriteLogo(c.format, picture);
      EXPECT_EQ(file.size(), c.fileSize);
      TMonoBitmap back = ReadLogo(c.format, file);
      EXPECT_EQ(back, picture);
      EXPECT_EQ(WriteLogo(c.format, back), file);
    }
  }
}

TEST(NokiaLogos, NolLayout) {
  TMonoBitmap picture(72, 14);
  picture.SetPixel(0, 0, true);
  picture.SetPixel(71, 13, true);
  picture.SetPixel(1, 1, true);
  std::string file = WriteNolLogo(picture);
  ASSERT_EQ(file.size(), 1082u);
  EXPECT_EQ(file.substr(0, 20), Bytes({'N', 'O', 'L', 0, 1, 0, 0xFA, 0, 1, 0, 72, 0, 14, 0, 1, 0, 1, 0, 0x3B, 0}));
  EXPECT_EQ(file[20], '1');
  EXPECT_EQ(file[21], '0');
  EXPECT_EQ(file[20 + 72 + 1], '1');
  EXPECT_EQ(file[20 + 1007], '1');
  EXPECT_EQ(file.substr(1028), kLogoComment);
}

TEST(NokiaLogos, NggLayout) {
  TMonoBitmap picture(2, 2);
  picture.SetPixel(1, 0, true);
  picture.SetPixel(0, 1, true);
  EXPECT_EQ(
      WriteNggLogo(picture),
      Bytes({'N', 'G', 'G', 0, 1, 0, 2, 0, 2, 0, 1, 0, 1, 0, 0x49, 0, '0', '1', '1', '0'}) + std::string(kLogoComment));
}

TEST(NokiaLogos, TextPixelsOtherThanOneAreClear) {
  // Any character but "1" reads as a clear pixel; the comment may be missing.
  std::string file = Bytes({'N', 'G', 'G', 0, 1, 0, 3, 0, 1, 0, 1, 0, 1, 0, 0x49, 0}) + "1x0";
  TMonoBitmap picture = ReadNggLogo(file);
  ASSERT_EQ(picture.Width(), 3);
  ASSERT_EQ(picture.Height(), 1);
  EXPECT_TRUE(picture.Pixel(0, 0));
  EXPECT_FALSE(picture.Pixel(1, 0));
  EXPECT_FALSE(picture.Pixel(2, 0));
}

TEST(NokiaLogos, NlmLayoutPadsEveryRow) {
  TMonoBitmap picture(84, 48);
  picture.SetPixel(0, 0, true);
  picture.SetPixel(83, 0, true);
  picture.SetPixel(8, 1, true);
  std::string file = WriteNlmLogo(picture, 1);
  ASSERT_EQ(file.size(), 10u + 48 * 11);
  EXPECT_EQ(file.substr(0, 10), Bytes({'N', 'L', 'M', ' ', 1, 1, 0, 84, 48, 1}));
  EXPECT_EQ(static_cast<std::uint8_t>(file[10]), 0x80);
  EXPECT_EQ(static_cast<std::uint8_t>(file[10 + 10]), 0x10) << "pixel 83 is bit 4 of the row's last byte";
  EXPECT_EQ(static_cast<std::uint8_t>(file[10 + 11 + 1]), 0x80) << "row 1 starts on its own byte";
  EXPECT_EQ(WriteNlmLogo(picture, 7)[5], 7) << "the picture kind byte";
  EXPECT_EQ(ReadNlmLogo(WriteNlmLogo(picture, 7)), picture);
}

TEST(NokiaLogos, OtaLayoutRunsRowsTogether) {
  // 5 x 3: 15 bits, the last byte holds seven pixels in its top bits.
  TMonoBitmap picture(5, 3);
  picture.SetPixel(0, 0, true);  // bit 0
  picture.SetPixel(4, 0, true);  // bit 4
  picture.SetPixel(0, 1, true);  // bit 5
  picture.SetPixel(3, 2, true);  // bit 13
  picture.SetPixel(4, 2, true);  // bit 14
  std::string file = WriteOtaLogo(picture);
  EXPECT_EQ(file, Bytes({0, 5, 3, 1, 0x8C, 0x06}));
  EXPECT_EQ(ReadOtaLogo(file), picture);
}

TEST(NokiaLogos, NslLayoutAndBands) {
  TMonoBitmap picture(84, 48);
  picture.SetPixel(0, 0, true);   // band 0, column 0, bit 0
  picture.SetPixel(0, 7, true);   // band 0, column 0, bit 7
  picture.SetPixel(83, 8, true);  // band 1, column 83, bit 0
  picture.SetPixel(5, 47, true);  // band 5, column 5, bit 7
  std::string file = WriteNslLogo(picture);
  ASSERT_EQ(file.size(), 546u);
  EXPECT_EQ(file.substr(0, 36), std::string("FORM") + Bytes({0x02, 0x1C}) + "VERS" + Bytes({0, 8}) + "Corvessa" +
                                    "MODL" + Bytes({0, 4}) + "6310" + "NSLD" + Bytes({0x01, 0xF8}));
  EXPECT_EQ((static_cast<std::uint8_t>(file[4]) << 8 | static_cast<std::uint8_t>(file[5])), 546 - 6);
  EXPECT_EQ(static_cast<std::uint8_t>(file[36]), 0x81);
  EXPECT_EQ(static_cast<std::uint8_t>(file[36 + 84 + 83]), 0x01);
  EXPECT_EQ(static_cast<std::uint8_t>(file[36 + 5 * 84 + 5]), 0x80);
  EXPECT_EQ(file.substr(540), std::string("COMM") + Bytes({0, 0}));
}

TEST(NokiaLogos, NslReadingTakesTheFirstNsldAndGivesAStartupLogo) {
  // Another writer's layout: other chunks before the picture, a longer trailer.
  TMonoBitmap picture = Pattern(84, 48, 7);
  std::string bands = PackBandBits(picture);
  std::string file = std::string("FORM") + Bytes({0, 0}) + "MODL" + Bytes({0, 4}) + "3310" + "NSLD" +
                     Bytes({0x01, 0xF8}) + bands + "COMM" + Bytes({0, 4}) + "abcd" + Bytes({0, 0});
  EXPECT_EQ(ReadNslLogo(file), picture);
}

TEST(NokiaLogos, BandBitsLeaveRowsBelowThePictureClear) {
  TMonoBitmap picture = Filled(3, 10);
  EXPECT_EQ(PackBandBits(picture), Bytes({0xFF, 0xFF, 0xFF, 0x03, 0x03, 0x03}));
  EXPECT_EQ(UnpackBandBits(3, 10, PackBandBits(picture)), picture);
  EXPECT_EQ(PackPaddedRowBits(Filled(9, 2)), Bytes({0xFF, 0x80, 0xFF, 0x80}));
  EXPECT_EQ(PackRowBits(Filled(9, 2)), Bytes({0xFF, 0xFF, 0xC0}));
}

// Every file cut short of its pixel data raises the picture error; the first
// length that holds all the pixels reads.
TEST(NokiaLogos, TruncatedFilesRaiseThePictureError) {
  const struct {
    TLogoFormat format;
    int width, height;
    std::size_t shortest;
  } cases[] = {
      {TLogoFormat::Nol, 72, 14, 20 + 1008}, {TLogoFormat::Ngg, 16, 16, 16 + 256}, {TLogoFormat::Nlm, 84, 48, 10 + 528},
      {TLogoFormat::Nlm, 0, 0, 10},          {TLogoFormat::Ota, 72, 14, 4 + 126},  {TLogoFormat::Ota, 5, 3, 4 + 2},
      {TLogoFormat::Nsl, 84, 48, 546},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Name(c.format) + " " + std::to_string(c.width) + " x " + std::to_string(c.height));
    TMonoBitmap picture = Pattern(c.width, c.height);
    std::string file = WriteLogo(c.format, picture);
    for (std::size_t n = 0; n < c.shortest; ++n) {
      EXPECT_THROW(ReadLogo(c.format, std::string_view(file).substr(0, n)), ENokiaLogoError) << n << " bytes";
    }
    EXPECT_EQ(ReadLogo(c.format, std::string_view(file).substr(0, c.shortest)), picture);
  }
}

// Headers whose sizes promise more than the file holds, or more than the
// format allows.
TEST(NokiaLogos, LyingHeadersRaiseThePictureError) {
  const struct {
    const char* what;
    TLogoFormat format;
    std::string file;
  } cases[] = {
      {"NOL 200 x 200 with 4 pixels", TLogoFormat::Nol,
       Bytes({'N', 'O', 'L', 0, 1, 0, 0xFA, 0, 1, 0, 200, 0, 200, 0, 1, 0, 1, 0, 0x3B, 0}) + "1010"},
      {"NOL 3 x 0x1FF (high byte ignored) with 300 pixels", TLogoFormat::Nol,
       Bytes({'N', 'O', 'L', 0, 1, 0, 0xFA, 0, 1, 0, 3, 0, 0xFF, 0x01, 1, 0, 1, 0, 0x3B, 0}) + std::string(300, '1')},
      {"NGG 255 x 255 with no pixels", TLogoFormat::Ngg,
       Bytes({'N', 'G', 'G', 0, 1, 0, 255, 0, 255, 0, 1, 0, 1, 0, 0x49, 0})},
      {"NGG header cut", TLogoFormat::Ngg, Bytes({'N', 'G', 'G', 0, 1, 0, 2, 0})},
      {"NLM 255 x 255 with 100 bytes", TLogoFormat::Nlm,
       Bytes({'N', 'L', 'M', ' ', 1, 1, 0, 255, 255, 1}) + std::string(100, 0)},
      {"NLM 9 x 2 without row padding", TLogoFormat::Nlm,
       Bytes({'N', 'L', 'M', ' ', 1, 1, 0, 9, 2, 1, 0xFF, 0xFF, 0xC0})},
      {"OTA 255 x 255 with 1 byte", TLogoFormat::Ota, Bytes({0, 255, 255, 1, 0xFF})},
      {"NSL without NSLD", TLogoFormat::Nsl, std::string("FORM") + std::string(600, 0)},
      {"NSL with NSLD at the end", TLogoFormat::Nsl, std::string(600, 0) + "NSLD"},
      {"NSL with 503 bytes of picture", TLogoFormat::Nsl,
       std::string("NSLD") + Bytes({1, 0xF8}) + std::string(503, 0) + "COMM" + Bytes({0, 0})},
      {"empty NSL", TLogoFormat::Nsl, ""},
  };
  for (const auto& c : cases) {
    EXPECT_THROW(ReadLogo(c.format, c.file), ENokiaLogoError) << c.what;
  }
}

TEST(NokiaLogos, PicturesThatDoNotFitRaiseThePictureError) {
  const struct {
    TLogoFormat format;
    int width, height;
  } cases[] = {
      {TLogoFormat::Nol, 256, 1}, {TLogoFormat::Nol, 1, 256},  {TLogoFormat::Ngg, 300, 14}, {TLogoFormat::Ngg, 72, 256},
      {TLogoFormat::Nlm, 256, 1}, {TLogoFormat::Nlm, 84, 300}, {TLogoFormat::Ota, 256, 1},  {TLogoFormat::Ota, 1, 256},
      {TLogoFormat::Nsl, 83, 48}, {TLogoFormat::Nsl, 84, 47},  {TLogoFormat::Nsl, 84, 49},  {TLogoFormat::Nsl, 72, 14},
      {TLogoFormat::Nsl, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_THROW(WriteLogo(c.format, TMonoBitmap(c.width, c.height)), ENokiaLogoError)
        << Name(c.format) << " " << c.width << " x " << c.height;
  }
}

TEST(NokiaLogos, UnpackersCheckTheirData) {
  EXPECT_THROW(UnpackRowBits(9, 1, Bytes({0xFF})), ENokiaLogoError);
  EXPECT_THROW(UnpackPaddedRowBits(4, 3, Bytes({0xFF})), ENokiaLogoError);
  EXPECT_THROW(UnpackBandBits(2, 9, Bytes({1, 2, 3})), ENokiaLogoError);
  EXPECT_THROW(UnpackRowBits(-1, 1, ""), ENokiaLogoError);
  EXPECT_THROW(UnpackBandBits(1 << 30, 1 << 30, Bytes({1})), ENokiaLogoError) << "no huge picture for a tiny input";
  EXPECT_EQ(UnpackRowBits(4, 2, Bytes({0xA5, 0xFF})), UnpackPaddedRowBits(4, 2, Bytes({0xA0, 0x50})));
}

// Only the low byte of a NOL or NGG size counts: the high byte is ignored on
// reading, so a size of 0x148 reads as 0x48.
TEST(NokiaLogos, TextSizesIgnoreTheirHighByte) {
  const struct {
    const char* what;
    TLogoFormat format;
    std::string header;
    int width, height;
  } cases[] = {
      {"NOL width 0x148", TLogoFormat::Nol,
       Bytes({'N', 'O', 'L', 0, 1, 0, 0xFA, 0, 1, 0, 0x48, 0x01, 14, 0, 1, 0, 1, 0, 0x3B, 0}), 72, 14},
      {"NOL height 0xFF0E", TLogoFormat::Nol,
       Bytes({'N', 'O', 'L', 0, 1, 0, 0xFA, 0, 1, 0, 72, 0, 0x0E, 0xFF, 1, 0, 1, 0, 0x3B, 0}), 72, 14},
      {"NGG 0x100 x 0x10E", TLogoFormat::Ngg,
       Bytes({'N', 'G', 'G', 0, 1, 0, 0x00, 0x01, 0x0E, 0x01, 1, 0, 1, 0, 0x49, 0}), 0, 14},
      {"NGG 0xFFFF x 0x20A", TLogoFormat::Ngg,
       Bytes({'N', 'G', 'G', 0, 1, 0, 0xFF, 0xFF, 0x0A, 0x02, 1, 0, 1, 0, 0x49, 0}), 255, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TMonoBitmap picture = Pattern(c.width, c.height, 3);
    std::string pixels = WriteLogo(c.format, picture).substr(c.header.size());
    TMonoBitmap back;
    ASSERT_NO_THROW(back = ReadLogo(c.format, c.header + pixels));
    EXPECT_EQ(back, picture);
  }
}

// --- Files ----------------------------------------------------------------------------------------

namespace {

class NokiaLogoFiles : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& name : written_) std::remove(name.c_str());
  }
  std::string Path(const std::string& name) {
    std::string path = ::testing::TempDir() + "pellory-logo-" + name;
    written_.push_back(path);
    return path;
  }
  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static void Put(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

 private:
  std::vector<std::string> written_;
};

}  // namespace

// Each file writer writes its format's bytes, replacing an older and longer
// file; each file reader reads them back.
TEST_F(NokiaLogoFiles, EveryFormatSavesAndLoadsAsAFile) {
  using TSave = void (*)(const std::string&, const TMonoBitmap&);
  using TLoad = std::optional<TMonoBitmap> (*)(const std::string&);
  const struct {
    TLogoFormat format;
    TSave save;
    TLoad load;
    int width, height;
  } cases[] = {
      {TLogoFormat::Nol, SaveNolFile, LoadNolFile, 72, 14},
      {TLogoFormat::Ngg, SaveNggFile, LoadNggFile, 72, 28},
      {TLogoFormat::Nlm, [](const std::string& f, const TMonoBitmap& p) { SaveNlmFile(f, p, 1); }, LoadNlmFile, 84, 48},
      {TLogoFormat::Ota, SaveOtaFile, LoadOtaFile, 5, 3},
      {TLogoFormat::Nsl, SaveNslFile, LoadNslFile, 84, 48},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Name(c.format));
    const std::string path = Path("every." + Name(c.format));
    Put(path, std::string(70000, 'x'));
    const TMonoBitmap picture = Pattern(c.width, c.height, 5);
    c.save(path, picture);
    EXPECT_EQ(Slurp(path), WriteLogo(c.format, picture));
    std::optional<TMonoBitmap> back = c.load(path);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, picture);
    EXPECT_EQ(LoadLogoFile(c.format, path), back);
    SaveLogoFile(c.format, path, picture);
    EXPECT_EQ(Slurp(path), WriteLogo(c.format, picture));
  }
  SaveNlmFile(Path("kind.nlm"), Pattern(8, 2), 7);
  EXPECT_EQ(Slurp(Path("kind.nlm"))[5], 7) << "the picture kind byte";
}

TEST_F(NokiaLogoFiles, AMissingFileLoadsNothingAndReadsEmpty) {
  const std::string path = Path("absent.nol");
  std::remove(path.c_str());
  EXPECT_EQ(ReadFileBytes(path), "");
  EXPECT_FALSE(LoadNolFile(path).has_value());
  EXPECT_FALSE(LoadNggFile(path).has_value());
  EXPECT_FALSE(LoadNlmFile(path).has_value());
  EXPECT_FALSE(LoadOtaFile(path).has_value());
  EXPECT_FALSE(LoadNslFile(path).has_value());
  Put(path, std::string("\0\1\2", 3));
  EXPECT_EQ(ReadFileBytes(path), std::string("\0\1\2", 3));
}

TEST_F(NokiaLogoFiles, ADamagedFileRaisesThePictureError) {
  const std::string path = Path("short.ota");
  Put(path, Bytes({0, 72, 14, 1, 0xFF}));
  EXPECT_THROW(LoadOtaFile(path), ENokiaLogoError);
  Put(path, "");
  EXPECT_THROW(LoadOtaFile(path), ENokiaLogoError) << "an empty file is no picture";
}

// A picture that its format cannot hold is refused before the file is
// touched; a file that cannot be written is an error, never a silent success.
TEST_F(NokiaLogoFiles, WritingFailuresAreReported) {
  const std::string path = Path("keep.ota");
  Put(path, "old");
  EXPECT_THROW(SaveOtaFile(path, TMonoBitmap(256, 1)), ENokiaLogoError);
  EXPECT_THROW(SaveNslFile(path, TMonoBitmap(72, 14)), ENokiaLogoError);
  EXPECT_EQ(Slurp(path), "old");
  EXPECT_THROW(SaveNolFile(::testing::TempDir() + "no/such/folder/logo.nol", Pattern(72, 14)), EFCreateError);
}
