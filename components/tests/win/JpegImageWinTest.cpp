// JPEG pictures as framework graphics: loaded by their extension through the
// picture registry and drawn, errors as the picture error, saved and read
// back through files and streams, copied, and assigned to and from bitmaps.
#include "JpegImage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "Exceptions.h"
#include "Forms.h"
#include "JpegCodec.h"
#include "PictureRegistry.h"
#include "Streams.h"
#include "TestFiles.h"

namespace {

std::string Fixture(const std::string& name) {
  return std::string(PELLORY_SOURCE_DIR) + "/components/tests/fixtures/jpeg/" + name;
}

std::string TempFile(const std::string& name) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  return std::string(dir) + "pellory-jpeg-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

// The picture drawn on a 24-bit bitmap of its size.
TBitmap* Drawn(TGraphic& g) {
  TBitmap* b = New<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetSize(g.GetWidth(), g.GetHeight());
  b->Canvas()->StretchDraw(RECT{0, 0, g.GetWidth(), g.GetHeight()}, &g);
  return b;
}

int MaxDifference(const TDib& a, const TDib& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return 256;
  int worst = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      for (int shift : {0, 8, 16})
        worst = std::max(worst, std::abs(static_cast<int>((a.Pixel(x, y) >> shift) & 0xFF) -
                                         static_cast<int>((b.Pixel(x, y) >> shift) & 0xFF)));
  return worst;
}

class JpegImageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InitForms();
    InitJpegImage();
  }
};

TEST_F(JpegImageTest, LoadsByExtensionThroughThePictureRegistryAndDraws) {
  EXPECT_EQ(FindGraphicClassForExtension("photo.JPG"), &TJPEGImage::StaticClass());
  EXPECT_EQ(FindGraphicClassForExtension(".jpeg"), &TJPEGImage::StaticClass());
  EXPECT_NE(GraphicFilter(TGraphic::StaticClass()).find("*.jpg;*.jpeg"), std::string::npos);
  for (const char* name : {"baseline-420", "progressive-444", "grayscale", "restart-422"}) {
    SCOPED_TRACE(name);
    const std::string file = ReadFileBytes(Fixture(std::string(name) + ".jpg"));
    ASSERT_FALSE(file.empty());
    // The same file by its other extension, as a user might name it.
    const std::string copy = TempFile(std::string(name) + ".jpeg");
    WriteFileBytes(copy, file);
    for (const std::string& path : {Fixture(std::string(name) + ".jpg"), copy}) {
      TOwned<TPicture> picture(New<TPicture>());
      picture->LoadFromFile(path);
      auto* jpeg = dynamic_cast<TJPEGImage*>(picture->Graphic());
      ASSERT_NE(jpeg, nullptr);
      EXPECT_EQ(picture->Width(), 77);
      EXPECT_EQ(picture->Height(), 53);
      EXPECT_EQ(jpeg->Grayscale, std::string(name) == "grayscale");
      TOwned<TBitmap> drawn(Drawn(*jpeg));
      EXPECT_EQ(MaxDifference(drawn->Dib(), DecodeJpeg(file)), 0);
    }
    DeleteFileA(copy.c_str());
  }
}

TEST_F(JpegImageTest, BadFilesRaiseThePictureErrorAndKeepThePicture) {
  const std::string file = ReadFileBytes(Fixture("baseline-420.jpg"));
  TOwned<TPicture> picture(New<TPicture>());
  picture->LoadFromFile(Fixture("baseline-420.jpg"));
  for (const std::string& bad : {file.substr(0, file.size() / 2), std::string("not a picture"), std::string()}) {
    const std::string path = TempFile("bad.jpg");
    WriteFileBytes(path, bad);
    try {
      picture->LoadFromFile(path);
      ADD_FAILURE() << "loaded " << bad.size() << " bytes";
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.Message.rfind("JPEG error #", 0), 0u) << e.Message;
    }
    DeleteFileA(path.c_str());
    EXPECT_EQ(picture->Width(), 77);
  }
  // A picture loaded straight from a stream is left as it was.
  TOwned<TJPEGImage> jpeg(New<TJPEGImage>());
  TOwned<TReadOnlyMemoryStream> s(New<TReadOnlyMemoryStream>(file.data(), file.size() - 100));
  EXPECT_THROW(jpeg->LoadFromStream(*s), EInvalidGraphic);
  EXPECT_TRUE(jpeg->Empty());
}

TEST_F(JpegImageTest, SavedPicturesReadBack) {
  // A loaded file is saved as it was read.
  const std::string file = ReadFileBytes(Fixture("progressive-444.jpg"));
  TOwned<TPicture> picture(New<TPicture>());
  picture->LoadFromFile(Fixture("progressive-444.jpg"));
  const std::string saved = TempFile("saved.jpg");
  picture->SaveToFile(saved);
  EXPECT_EQ(ReadFileBytes(saved), file);

  // A bitmap assigned to a JPEG picture is compressed when saved.
  TOwned<TBitmap> bitmap(New<TBitmap>());
  bitmap->SetPixelFormat(pf24bit);
  bitmap->SetSize(40, 30);
  bitmap->Canvas()->Brush()->SetColor(static_cast<std::int32_t>(0x3080F0));
  bitmap->Canvas()->FillRect(RECT{0, 0, 40, 30});
  bitmap->Canvas()->Brush()->SetColor(static_cast<std::int32_t>(0x102010));
  bitmap->Canvas()->FillRect(RECT{0, 0, 16, 30});
  TOwned<TJPEGImage> jpeg(New<TJPEGImage>());
  jpeg->Assign(bitmap.get());
  jpeg->CompressionQuality = 95;
  TOwned<TMemoryStream> stream(New<TMemoryStream>());
  jpeg->SaveToStream(*stream);
  ASSERT_GT(stream->Size(), 0);
  WriteFileBytes(saved, stream->DataString());
  TOwned<TPicture> back(New<TPicture>());
  back->LoadFromFile(saved);
  ASSERT_NE(dynamic_cast<TJPEGImage*>(back->Graphic()), nullptr);
  TOwned<TBitmap> asBitmap(New<TBitmap>());
  asBitmap->Assign(back->Graphic());
  // JPEG smears the colour edge a little; away from it the colours come back.
  EXPECT_LE(MaxDifference(asBitmap->Dib(), bitmap->Dib()), 40);
  for (const POINT p : {POINT{5, 15}, POINT{30, 15}})
    for (int shift : {0, 8, 16})
      EXPECT_NEAR(static_cast<int>((asBitmap->Dib().Pixel(p.x, p.y) >> shift) & 0xFF),
                  static_cast<int>((bitmap->Dib().Pixel(p.x, p.y) >> shift) & 0xFF), 4)
          << p.x << "," << p.y;
  DeleteFileA(saved.c_str());

  // A copy of the picture keeps its file.
  TOwned<TPicture> form(New<TPicture>());
  form->SetGraphic(back->Graphic());
  auto* copy = dynamic_cast<TJPEGImage*>(form->Graphic());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->JpegData(), dynamic_cast<TJPEGImage*>(back->Graphic())->JpegData());
  EXPECT_TRUE(copy->Equals(back->Graphic()));
}

}  // namespace
