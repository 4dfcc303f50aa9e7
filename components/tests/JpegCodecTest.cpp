#include "JpegCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "Exceptions.h"
#include "TestFiles.h"

namespace {

const std::string kFixtures = std::string(PELLORY_SOURCE_DIR) + "/components/tests/fixtures/jpeg/";
const char* const kFiles[] = {"baseline-420.jpg", "progressive-444.jpg", "grayscale.jpg", "restart-422.jpg"};

std::string TempPath(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/pellory-jpeg-" + std::to_string(::getpid()) + "-" + name;
}

// A PPM or PGM file as RGB triples, top row first.
struct Pixels {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
};

Pixels ParsePnm(const std::string& pnm) {
  std::istringstream in(pnm);
  std::string magic;
  int maxval = 0;
  Pixels p;
  in >> magic >> p.width >> p.height >> maxval;
  in.get();
  const bool grey = magic == "P5";
  if ((magic != "P6" && !grey) || maxval != 255) return {};
  const std::size_t n = static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height);
  std::string data(n * (grey ? 1 : 3), '\0');
  in.read(data.data(), static_cast<std::streamsize>(data.size()));
  for (std::size_t i = 0; i < n; ++i)
    for (int c = 0; c < 3; ++c) p.rgb.push_back(static_cast<unsigned char>(data[grey ? i : i * 3 + c]));
  return p;
}

// The reference decoder is Debian's djpeg, a program of the build machine: the
// Windows sets, under Wine, leave the comparisons with it to the native set.
#ifdef _WIN32
constexpr bool kReferenceDecoder = false;
#else
constexpr bool kReferenceDecoder = true;
#endif

// The reference decoder's pixels for a JPEG file.
Pixels ReferencePixels(const std::string& jpeg) {
  const std::string in = TempPath("in.jpg"), out = TempPath("out.pnm");
  WriteFileBytes(in, jpeg);
  const std::string command = "djpeg -pnm -outfile '" + out + "' '" + in + "' 2>/dev/null";
  const int rc = std::system(command.c_str());
  Pixels p = rc == 0 ? ParsePnm(ReadFileBytes(out)) : Pixels{};
  std::remove(in.c_str());
  std::remove(out.c_str());
  return p;
}

Pixels DibPixels(const TDib& dib) {
  Pixels p{dib.Width(), dib.Height(), {}};
  for (int y = 0; y < dib.Height(); ++y)
    for (int x = 0; x < dib.Width(); ++x) {
      const std::uint32_t c = dib.Pixel(x, y);
      p.rgb.push_back(c & 0xFF);
      p.rgb.push_back((c >> 8) & 0xFF);
      p.rgb.push_back((c >> 16) & 0xFF);
    }
  return p;
}

int MaxDifference(const Pixels& a, const Pixels& b) {
  if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return 256;
  int worst = 0;
  for (std::size_t i = 0; i < a.rgb.size(); ++i) worst = std::max(worst, std::abs(a.rgb[i] - b.rgb[i]));
  return worst;
}

double MeanDifference(const Pixels& a, const Pixels& b) {
  double sum = 0;
  for (std::size_t i = 0; i < a.rgb.size(); ++i) sum += std::abs(a.rgb[i] - b.rgb[i]);
  return a.rgb.empty() ? 0 : sum / static_cast<double>(a.rgb.size());
}

// The message number of the error a decode raises; 0 when it decodes.
int DecodeError(const std::string& file) {
  try {
    DecodeJpeg(file);
  } catch (const EInvalidGraphic& e) {
    const std::string m = e.Message;
    const std::string prefix = "JPEG error #";
    EXPECT_EQ(m.rfind(prefix, 0), 0u) << m;
    return std::atoi(m.c_str() + prefix.size());
  }
  return 0;
}

TEST(JpegCodec, DecodesAsTheReferenceDecoderDoes) {
  for (const char* name : kFiles) {
    SCOPED_TRACE(name);
    const std::string file = ReadFileBytes(kFixtures + name);
    ASSERT_FALSE(file.empty());
    JpegInfo info;
    const TDib dib = DecodeJpeg(file, &info);
    EXPECT_EQ(dib.BitCount(), 24);
    EXPECT_EQ(info.Width, 77);
    EXPECT_EQ(info.Height, 53);
    EXPECT_EQ(info.Grayscale, std::string(name) == "grayscale.jpg");
    EXPECT_EQ(info.Progressive, std::string(name) == "progressive-444.jpg");
    if (kReferenceDecoder) {
      const Pixels reference = ReferencePixels(file);
      ASSERT_EQ(reference.width, 77) << "djpeg (libjpeg-turbo-progs) must be installed";
      // The same integer IDCT: at most one step apart.
      EXPECT_LE(MaxDifference(DibPixels(dib), reference), 1);
    }
  }
}

TEST(JpegCodec, TruncatedOrDamagedFilesRaiseTheLibrarysErrorNumber) {
  const std::string baseline = ReadFileBytes(kFixtures + "baseline-420.jpg");
  const std::string progressive = ReadFileBytes(kFixtures + "progressive-444.jpg");
  ASSERT_GT(baseline.size(), 400u);
  const std::size_t sof = baseline.find("\xFF\xC0", 2);
  ASSERT_NE(sof, std::string::npos);
  struct Case {
    const char* what;
    std::string file;
  };
  std::vector<Case> cases = {
      {"empty", ""},
      {"not a JPEG", "GIF89a\x01\x00\x01\x00"},
      {"only the start marker", baseline.substr(0, 2)},
      {"cut in the headers", baseline.substr(0, sof + 6)},
      {"cut in the scan", baseline.substr(0, baseline.size() / 2)},
      {"cut before the last lines", baseline.substr(0, baseline.size() - 60)},
      {"progressive, cut in a later scan", progressive.substr(0, progressive.size() * 3 / 4)},
  };
  std::string noComponents = baseline;
  noComponents[sof + 9] = 0;  // the frame's component count
  cases.push_back({"a frame of no components", noComponents});
  std::string precision = baseline;
  precision[sof + 4] = 12;  // sample precision
  cases.push_back({"12-bit samples", precision});
  std::string huge = baseline;
  huge[sof + 5] = huge[sof + 7] = '\xF0';  // 61440 x 61440
  huge[sof + 6] = huge[sof + 8] = 0;
  cases.push_back({"too many pixels", huge});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_GT(DecodeError(c.file), 0);
  }
  EXPECT_EQ(DecodeError(baseline.substr(0, baseline.size() / 2)), JpegEndOfInputError());
}

TEST(JpegCodec, ForgivesWhatOnlyWarns) {
  const std::string baseline = ReadFileBytes(kFixtures + "baseline-420.jpg");
  ASSERT_EQ(baseline.substr(baseline.size() - 2), "\xFF\xD9");
  // No end-of-image marker after the last line: the picture is whole.
  const TDib whole = DecodeJpeg(baseline);
  EXPECT_EQ(DecodeJpeg(baseline.substr(0, baseline.size() - 2)), whole);
  // Damaged entropy data is only warned about: a picture of the right size comes back.
  std::string damaged = baseline;
  for (std::size_t i = damaged.size() / 2; i < damaged.size() / 2 + 40; ++i) damaged[i] = static_cast<char>(i * 37);
  for (std::size_t i = damaged.size() / 2; i < damaged.size() / 2 + 40; ++i)
    if (damaged[i] == '\xFF') damaged[i] = 0;
  const TDib d = DecodeJpeg(damaged);
  EXPECT_EQ(d.Width(), 77);
  EXPECT_EQ(d.Height(), 53);
}

TDib TestPicture(int bitCount) {
  TDib dib(45, 31, bitCount);
  for (int y = 0; y < dib.Height(); ++y)
    for (int x = 0; x < dib.Width(); ++x)
      dib.SetPixel(x, y,
                   DibRGB(static_cast<std::uint8_t>(x * 5), static_cast<std::uint8_t>(y * 8),
                          static_cast<std::uint8_t>(x < 20 ? 200 : 40)));
  return dib;
}

TEST(JpegCodec, SavedPicturesReadBack) {
  for (int bits : {24, 32, 8}) {
    SCOPED_TRACE(bits);
    const TDib source = TestPicture(bits);
    const std::string file = EncodeJpeg(source, 95);
    JpegInfo info;
    const TDib back = DecodeJpeg(file, &info);
    EXPECT_FALSE(info.Grayscale);
    EXPECT_LT(MeanDifference(DibPixels(back), DibPixels(source)), 6.0);
    // The reference decoder reads what was written, to the same pixels.
    if (kReferenceDecoder) {
      EXPECT_LE(MaxDifference(ReferencePixels(file), DibPixels(back)), 1);
    }
  }
  const std::string grey = EncodeJpeg(TestPicture(24), 90, true);
  JpegInfo info;
  const TDib back = DecodeJpeg(grey, &info);
  EXPECT_TRUE(info.Grayscale);
  const std::uint32_t c = back.Pixel(10, 10);
  EXPECT_EQ(c & 0xFF, (c >> 8) & 0xFF);
  EXPECT_EQ(c & 0xFF, (c >> 16) & 0xFF);
  // Lower quality, smaller file.
  EXPECT_LT(EncodeJpeg(TestPicture(24), 20).size(), EncodeJpeg(TestPicture(24), 95).size());
  EXPECT_THROW(EncodeJpeg(TDib(), 90), EInvalidGraphic);
}

}  // namespace
