// The encoder's raster streams, wrapped in GIF files, decode to the same
// pixels in two independent GIF readers: gdk-pixbuf (gdk-pixbuf-pixdata) and
// Tk's photo image (tclsh under Xvfb). Both come from Debian packages that
// scripts/setup installs; the test runs natively only.
#if !defined(_WIN32)

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "GifTestFiles.h"

#if defined(PELLORY_HAVE_GIFLIB)
#include <gif_lib.h>
#endif

using namespace giftest;

namespace {

struct TSample {
  std::string file;
  int width, height, colorBits;
  std::vector<TRgb> table;
  std::vector<std::uint8_t> pixels;
  TBitmapInfoHeader header;
};

std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int rc = pclose(p);
  if (rc != 0) ADD_FAILURE() << command << " exited with " << rc;
  return out;
}

class GifOracle : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/gif-oracle-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    std::mt19937 rng(2024);
    const int widths[] = {1, 7, 64, 257};
    const int heights[] = {1, 5, 13, 3};
    for (int colorBits : {1, 4, 8})
      for (bool interlaced : {false, true})
        for (int i = 0; i < 4; ++i) {
          TSample s;
          s.width = widths[i];
          s.height = heights[i];
          s.colorBits = colorBits;
          s.header = Header(s.width, s.height, colorBits);
          s.pixels = RandomPixels(s.header, colorBits, rng);
          for (int k = 0; k < (1 << colorBits); ++k)
            s.table.push_back(TRgb{static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                                   static_cast<std::uint8_t>(rng())});
          std::string gif =
              MakeGif(s.width, s.height, colorBits, s.table, Encode(s.header, s.pixels, interlaced), interlaced);
          s.file = dir_ + "/s" + std::to_string(samples_.size()) + ".gif";
          WriteFile(s.file, gif);
          samples_.push_back(std::move(s));
        }
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  TRgb Expected(const TSample& s, int x, int y) const { return s.table[IndexAt(s.pixels, s.header, x, y)]; }

  std::string dir_;
  std::vector<TSample> samples_;
};

}  // namespace

TEST_F(GifOracle, GdkPixbufReadsTheEncodersPictures) {
  for (const TSample& s : samples_) {
    std::string out = s.file + ".pixdata";
    RunCommand("gdk-pixbuf-pixdata '" + s.file + "' '" + out + "' 2>&1");
    std::string data = ReadFile(out);
    ByteReader r(data);
    ASSERT_EQ(r.Bytes(4), "GdkP") << s.file;
    r.Skip(8);
    std::uint32_t stride = r.U32BE();
    ASSERT_EQ(r.U32BE(), static_cast<std::uint32_t>(s.width));
    ASSERT_EQ(r.U32BE(), static_cast<std::uint32_t>(s.height));
    std::size_t start = r.Position();
    int wrong = 0;
    for (int y = 0; y < s.height; ++y) {
      r.Seek(start + static_cast<std::size_t>(y) * stride);
      for (int x = 0; x < s.width; ++x) {
        TRgb e = Expected(s, x, y);
        std::uint32_t want = (static_cast<std::uint32_t>(e.r) << 24) | (e.g << 16) | (e.b << 8) | 0xFF;
        if (r.U32BE() != want) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0) << s.file << ": " << s.colorBits << " bits, " << s.width << "x" << s.height;
  }
}

TEST_F(GifOracle, TkPhotoReadsTheEncodersPictures) {
  std::string command = "xvfb-run -a tclsh '" + FixturePath("photo-pixels.tcl") + "'";
  for (const TSample& s : samples_) command += " '" + s.file + "'";
  std::istringstream out(RunCommand(command + " 2>/dev/null"));
  for (const TSample& s : samples_) {
    int w = 0, h = 0;
    ASSERT_TRUE(out >> w >> h) << s.file;
    ASSERT_EQ(w, s.width) << s.file;
    ASSERT_EQ(h, s.height) << s.file;
    int wrong = 0;
    for (int y = 0; y < h; ++y) {
      std::string row;
      ASSERT_TRUE(out >> row);
      ASSERT_EQ(row.size(), static_cast<std::size_t>(6 * w));
      for (int x = 0; x < w; ++x) {
        TRgb e = Expected(s, x, y);
        char want[7];
        std::snprintf(want, sizeof want, "%02x%02x%02x", e.r, e.g, e.b);
        if (row.compare(static_cast<std::size_t>(6 * x), 6, want) != 0) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0) << s.file << ": " << s.colorBits << " bits, " << s.width << "x" << s.height;
  }
}

// Frames whose minimum code size is below (or above) the bits of their
// colour table, global or local: the project, giflib and gdk-pixbuf all
// decode the indexes the writing script put in.
TEST(GifOracleCodeSizes, FramesDecodeAlikeWhateverTheirCodeSizeAndTable) {
  char tmpl[] = "/tmp/gif-code-sizes-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string dir = tmpl;
  RunCommand("python3 '" + FixturePath("make-code-size-gifs") + "' '" + dir + "' 2>&1");
  int files = 0;
  for (int m = 2; m <= 7; ++m)
    for (int bits = 1; bits <= 8; ++bits)
      for (char kind : {'g', 'l'}) {
        std::string name = dir + "/lzw" + std::to_string(m) + "-" + kind + std::to_string(bits);
        std::string file = ReadFile(name + ".gif");
        std::string want = ReadFile(name + ".idx");
        ++files;

        TGifImage img = FirstImage(file);
        ASSERT_EQ(img.colorBits, bits) << name;
        ASSERT_EQ(static_cast<int>(static_cast<unsigned char>(img.raster[0])), m) << name;
        ASSERT_EQ(want.size(), static_cast<std::size_t>(img.width) * img.height) << name;
        TBitmapInfoHeader h = Header(img.width, img.height, BufferBits(bits));
        bool corrupt = true;
        std::vector<std::uint8_t> px = Decode(h, img.raster, img.interlaced, bits, &corrupt);
        EXPECT_FALSE(corrupt) << name;
        int wrong = 0;
        for (int y = 0; y < img.height; ++y)
          for (int x = 0; x < img.width; ++x)
            if (IndexAt(px, h, x, y) != static_cast<unsigned char>(want[static_cast<std::size_t>(y) * img.width + x]))
              ++wrong;
        EXPECT_EQ(wrong, 0) << name << ": the project";

#if defined(PELLORY_HAVE_GIFLIB)
        int error = 0;
        GifFileType* g = DGifOpenFileName((name + ".gif").c_str(), &error);
        ASSERT_NE(g, nullptr) << name;
        ASSERT_EQ(DGifSlurp(g), GIF_OK) << name;
        ASSERT_EQ(g->ImageCount, 1) << name;
        const SavedImage& image = g->SavedImages[0];
        EXPECT_EQ(0, std::memcmp(image.RasterBits, want.data(), want.size())) << name << ": giflib";
        DGifCloseFile(g, &error);
#endif

        std::string out = name + ".pixdata";
        RunCommand("gdk-pixbuf-pixdata '" + name + ".gif' '" + out + "' 2>&1");
        std::string data = ReadFile(out);
        ByteReader r(data);
        ASSERT_EQ(r.Bytes(4), "GdkP") << name;
        r.Skip(8);
        std::uint32_t stride = r.U32BE();
        ASSERT_EQ(r.U32BE(), static_cast<std::uint32_t>(img.width));
        ASSERT_EQ(r.U32BE(), static_cast<std::uint32_t>(img.height));
        std::size_t start = r.Position();
        wrong = 0;
        for (int y = 0; y < img.height; ++y) {
          r.Seek(start + static_cast<std::size_t>(y) * stride);
          for (int x = 0; x < img.width; ++x) {
            unsigned k = static_cast<unsigned char>(want[static_cast<std::size_t>(y) * img.width + x]);
            std::uint32_t colour = (k << 24) | ((255 - k) << 16) | (((37 * k) % 256) << 8) | 0xFF;
            if (r.U32BE() != colour) ++wrong;
          }
        }
        EXPECT_EQ(wrong, 0) << name << ": gdk-pixbuf";
      }
  EXPECT_EQ(files, 96);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

#endif
