// The phone-logo picture class under Win32: files load and save through the
// picture registry by their extension.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "Forms.h"
#include "Graphics.h"
#include "NokiaLogos.h"
#include "NokiaUtilsWin.h"
#include "PictureRegistry.h"
#include "Streams.h"

namespace {

class NokiaGraphicTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitForms();
    InitNokiaUtilsWin();
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    dir_ = std::string(temp) + "pellory-nokiagraphic-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(dir_.c_str(), nullptr);
  }
  void TearDown() override {
    for (const char* name : {"logo.nol", "logo.nlm", "short.nol", "plain.bmp", "wide.ota", "absent.nol"})
      DeleteFileA((dir_ + name).c_str());
    RemoveDirectoryA(dir_.c_str());
    DoneNokiaUtilsWin();
  }

  std::string Path(const char* name) const { return dir_ + name; }

  static void WriteFile(const std::string& path, const std::string& bytes) {
    WithFileStream(path, fmCreate, [&bytes](TStream& f) { f.WriteBytes(bytes); });
  }
  static std::string ReadFile(const std::string& path) {
    std::string data;
    WithFileStream(path, fmOpenRead, [&data](TStream& f) { data = f.ReadBytes(f.Size()); });
    return data;
  }

  std::string dir_;
};

// A 3 x 2 operator logo: row 0 "100", row 1 "011", then a comment.
std::string SmallNol() {
  std::string s("NOL\0\1\0\xFA\0\1\0\3\0\2\0\1\0\1\0\x3B\0", 20);
  return s + "100011" + "comment";
}

// A picture with a recognisable pattern.
TMonoBitmap Pattern(int w, int h) {
  TMonoBitmap m(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) m.SetPixel(x, y, (x * 7 + y * 3) % 5 < 2);
  return m;
}

void ExpectPixels(TBitmap* bmp, const TMonoBitmap& want) {
  ASSERT_EQ(bmp->GetWidth(), want.Width());
  ASSERT_EQ(bmp->GetHeight(), want.Height());
  for (int y = 0; y < want.Height(); ++y)
    for (int x = 0; x < want.Width(); ++x)
      ASSERT_EQ(bmp->Dib().Pixel(x, y), LogoColour(want.Pixel(x, y))) << x << "," << y;
}

TEST_F(NokiaGraphicTest, TheFiveExtensionsAreRegisteredInOrder) {
  std::vector<std::pair<std::string, std::string>> got;
  for (const PictureFileFormat& f : PictureFileFormats())
    if (f.graphicClass == &TNokiaGraphic::StaticClass()) got.emplace_back(f.extension, f.description);
  const std::vector<std::pair<std::string, std::string>> want = {{"nol", "Nokia Operator Logo"},
                                                                 {"ngg", "Nokia Group Graphic"},
                                                                 {"nlm", "NLM graphic"},
                                                                 {"ota", "Over The Air graphic"},
                                                                 {"nsl", "Nokia Startup Logo"}};
  EXPECT_EQ(got, want);
  EXPECT_EQ(FindGraphicClassForExtension("x.NSL"), &TNokiaGraphic::StaticClass());
  EXPECT_EQ(FindGraphicClassForExtension("x.bmp"), &TBitmap::StaticClass());
  EXPECT_EQ(GetClass("TNokiaGraphic"), &TNokiaGraphic::StaticClass());
}

TEST_F(NokiaGraphicTest, AnOperatorLogoLoadsIntoAPictureByItsExtension) {
  WriteFile(Path("logo.nol"), SmallNol());
  TOwned<TPicture> pic(New<TPicture>());
  pic->LoadFromFile(Path("logo.nol"));
  auto* g = dynamic_cast<TNokiaGraphic*>(pic->Graphic());
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(pic->Width(), 3);
  EXPECT_EQ(pic->Height(), 2);
  const std::uint32_t black = 0x000000, white = 0xFFFFFF;
  const std::uint32_t want[2][3] = {{black, white, white}, {white, black, black}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(g->Dib().Pixel(x, y), want[y][x]) << x << "," << y;
}

TEST_F(NokiaGraphicTest, SavingAsNlmAndLoadingBackRoundTrips) {
  const TMonoBitmap logo = Pattern(84, 48);
  WriteFile(Path("logo.nol"), WriteLogo(TLogoFormat::Nol, Pattern(72, 14)));
  TOwned<TPicture> pic(New<TPicture>());
  pic->LoadFromFile(Path("logo.nol"));
  ExpectPixels(static_cast<TBitmap*>(pic->Graphic()), Pattern(72, 14));

  // An 84 x 48 picture in colours: only pure black is a set pixel.
  TNokiaGraphic* g = New<TNokiaGraphic>();
  TDib dib(84, 48, 24);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 84; ++x) dib.SetPixel(x, y, logo.Pixel(x, y) ? 0x000000 : (x % 2 ? 0x010101 : 0x0000FF));
  g->SetDib(dib);
  pic->SetGraphic(g);
  g->Free();
  pic->SaveToFile(Path("logo.nlm"));
  const std::string bytes = ReadFile(Path("logo.nlm"));
  EXPECT_EQ(bytes.size(), 10u + 48u * 11u);
  EXPECT_EQ(bytes, WriteLogo(TLogoFormat::Nlm, logo));

  TOwned<TPicture> back(New<TPicture>());
  back->LoadFromFile(Path("logo.nlm"));
  ASSERT_NE(dynamic_cast<TNokiaGraphic*>(back->Graphic()), nullptr);
  ExpectPixels(static_cast<TBitmap*>(back->Graphic()), logo);
}

TEST_F(NokiaGraphicTest, OtherExtensionsAreOrdinaryBitmapFiles) {
  TOwned<TNokiaGraphic> g(New<TNokiaGraphic>());
  TDib dib(5, 4, 24);
  dib.SetPixel(1, 2, 0x00FF00);
  g->SetDib(dib);
  g->SaveToFile(Path("plain.bmp"));
  EXPECT_EQ(ReadFile(Path("plain.bmp")).substr(0, 2), "BM");

  TOwned<TNokiaGraphic> back(New<TNokiaGraphic>());
  back->LoadFromFile(Path("plain.bmp"));
  EXPECT_TRUE(back->Dib() == g->Dib());
  // A missing file loads nothing and raises nothing, whatever its extension.
  EXPECT_NO_THROW(back->LoadFromFile(Path("absent.bmp")));
  EXPECT_TRUE(back->Dib() == g->Dib());
}

TEST_F(NokiaGraphicTest, ADamagedLogoFileGivesAnEmptyPictureAndThePictureError) {
  std::string truncated = SmallNol().substr(0, 23);  // three of the six pixel characters
  WriteFile(Path("short.nol"), truncated);
  TOwned<TNokiaGraphic> g(New<TNokiaGraphic>());
  g->SetDib(TDib(4, 4, 24));
  EXPECT_THROW(g->LoadFromFile(Path("short.nol")), EInvalidGraphic);
  EXPECT_TRUE(g->Empty());

  // Through a picture: the error passes on and the picture keeps what it had.
  TPicture* pic = New<TPicture>();
  pic->LoadFromFile([&] {
    WriteFile(Path("logo.nol"), SmallNol());
    return Path("logo.nol");
  }());
  EXPECT_THROW(pic->LoadFromFile(Path("short.nol")), EInvalidGraphic);
  EXPECT_EQ(pic->Width(), 3);
  pic->Free();

  // A missing logo file loads nothing and raises nothing.
  g->SetDib(TDib(2, 2, 24));
  EXPECT_NO_THROW(g->LoadFromFile(Path("absent.nol")));
  EXPECT_EQ(g->GetWidth(), 2);
}

TEST_F(NokiaGraphicTest, APictureTheFormatCannotHoldIsRefusedBeforeTheFileIsWritten) {
  TOwned<TNokiaGraphic> g(New<TNokiaGraphic>());
  g->SetDib(TDib(256, 2, 1));
  EXPECT_THROW(g->SaveToFile(Path("wide.ota")), EInvalidGraphic);
  EXPECT_EQ(GetFileAttributesA(Path("wide.ota").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
