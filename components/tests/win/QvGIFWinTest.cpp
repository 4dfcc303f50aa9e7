// GIF pictures as framework graphics: loaded through the picture registry and
// drawn beside gdk-pixbuf's pixels of the same files, frames built from
// bitmaps and animated cursors written and read back, the clipboard format,
// and the picture's form data. Files for the Tk and gdk-pixbuf readers are
// left in PELLORY_GIF_ORACLE_DIR, where the host-side oracle check reads them.
#include "QvGIFWin.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "AniFileWin.h"
#include "ByteWriter.h"
#include "Clipbrd.h"
#include "Exceptions.h"
#include "Forms.h"
#include "PictureRegistry.h"
#include "Streams.h"
#include "TestFiles.h"

namespace {

std::string GifFixture(const std::string& name) {
  return std::string(PELLORY_SOURCE_DIR) + "/components/tests/fixtures/gif/" + name;
}

std::string OracleFile(const std::string& name) {
  return std::string(PELLORY_GIF_ORACLE_DIR) + "/" + name;
}

std::uint32_t Be32(const std::string& s, std::size_t at) {
  return (std::uint32_t{static_cast<std::uint8_t>(s[at])} << 24) |
         (std::uint32_t{static_cast<std::uint8_t>(s[at + 1])} << 16) |
         (std::uint32_t{static_cast<std::uint8_t>(s[at + 2])} << 8) | static_cast<std::uint8_t>(s[at + 3]);
}

// Raw RGB rows, top first, of a bitmap: what the oracle compares with.
std::string RgbRows(TBitmap& b) {
  std::string s;
  const TDib& d = b.Dib();
  for (int y = 0; y < d.Height(); ++y)
    for (int x = 0; x < d.Width(); ++x) {
      const std::uint32_t c = d.Pixel(x, y);
      s.push_back(static_cast<char>(c & 0xFF));
      s.push_back(static_cast<char>((c >> 8) & 0xFF));
      s.push_back(static_cast<char>((c >> 16) & 0xFF));
    }
  return s;
}

// "WIDTH HEIGHT\n" and the RGB rows: the expected picture for the oracle.
void WriteExpected(const std::string& name, TBitmap& b) {
  WriteFileBytes(OracleFile(name),
                 std::to_string(b.GetWidth()) + " " + std::to_string(b.GetHeight()) + "\n" + RgbRows(b));
}

TBitmap* Drawn(TGIFImage& gif, int width, int height, TColor back) {
  TBitmap* b = New<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetSize(width, height);
  b->Canvas()->Brush()->SetColor(back);
  b->Canvas()->FillRect(RECT{0, 0, width, height});
  TGIFFrame* f = gif.GetFrame(gif.CurrentFrame);
  const int left = f->Fields.Left, top = f->Fields.Top;
  b->Canvas()->StretchDraw(RECT{left, top, left + f->GetWidth(), top + f->GetHeight()}, &gif);
  return b;
}

class GIFImageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InitForms();  // the program's module, whose string table holds the texts
    InitQvGIF();
    CreateDirectoryA(PELLORY_GIF_ORACLE_DIR, nullptr);
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(OracleFile("*.*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return;
    do
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA(OracleFile(found.cFileName).c_str());
    while (FindNextFileA(h, &found));
    FindClose(h);
  }
};

TEST_F(GIFImageTest, DebianFilesLoadThroughThePictureRegistryAndDrawAsGdkPixbufReadsThem) {
  EXPECT_EQ(FindGraphicClassForExtension("picture.GIF"), &TGIFImage::StaticClass());
  bool described = false;
  for (const auto& f : PictureFileFormats())
    if (f.extension == "gif") described = f.description == "CompuServe GIF Image";
  EXPECT_TRUE(described);
  const TColor back = static_cast<std::int32_t>(0x030201);
  for (const char* name : {"tai-ku", "logoMed", "pwrdLogo100", "left", "back", "bomb", "CMakeLogo"}) {
    SCOPED_TRACE(name);
    TOwned<TPicture> picture(New<TPicture>());
    picture->LoadFromFile(GifFixture(std::string(name) + ".gif"));
    auto* gif = dynamic_cast<TGIFImage*>(picture->Graphic());
    ASSERT_NE(gif, nullptr);
    const std::string rgba = ReadFileBytes(GifFixture(std::string(name) + ".rgba"));
    ASSERT_GE(rgba.size(), 24u);
    const int stride = static_cast<int>(Be32(rgba, 12)), width = static_cast<int>(Be32(rgba, 16)),
              height = static_cast<int>(Be32(rgba, 20));
    EXPECT_EQ(width, gif->ScreenWidth);
    EXPECT_EQ(height, gif->ScreenHeight);
    TOwned<TBitmap> drawn(Drawn(*gif, width, height, back));
    int wrong = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const std::size_t at = 24 + static_cast<std::size_t>(y) * stride + 4 * static_cast<std::size_t>(x);
        const auto px = [&](int k) { return static_cast<std::uint32_t>(static_cast<std::uint8_t>(rgba[at + k])); };
        const std::uint32_t expected = px(3) == 0 ? 0x030201u : px(0) | (px(1) << 8) | (px(2) << 16);
        if (drawn->Dib().Pixel(x, y) != expected && wrong++ < 3)
          ADD_FAILURE() << "pixel (" << x << ", " << y << ") " << std::hex << drawn->Dib().Pixel(x, y) << " instead of "
                        << expected;
      }
    EXPECT_EQ(wrong, 0);
  }
}

// Three full-screen frames of distinct pictures; written, read back, and left
// for Tk to read frame by frame.
TEST_F(GIFImageTest, ThreeFramesWrittenFromBitmapsDrawAsTheyWereAndAsTkReadsThem) {
  TOwned<TGIFImage> gif(New<TGIFImage>());
  std::vector<TOwned<TBitmap>> sources;
  const std::uint32_t colours[3][2] = {{0x0000FF, 0xFFFFFF}, {0x00FF00, 0x000000}, {0xFF0000, 0x808080}};
  for (int i = 0; i < 3; ++i) {
    TOwned<TBitmap> b(New<TBitmap>());
    b->SetPixelFormat(pf24bit);
    b->SetSize(20, 12);
    TDib d = b->Dib();
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 20; ++x) d.SetPixel(x, y, colours[i][(x / (i + 2) + y) % 2]);
    b->SetDib(d);
    EXPECT_EQ(gif->AddFrame(b.get()), i);
    gif->GetFrame(i)->Fields.DelayTime = 100u * (i + 1);
    sources.push_back(std::move(b));
  }
  gif->Looping = true;
  gif->LoopCount = 0;
  EXPECT_EQ(gif->FileVersion, 2);
  TOwned<TMemoryStream> s(New<TMemoryStream>());
  gif->SaveToStream(*s);
  WriteFileBytes(OracleFile("three-frames.gif"), s->DataString());

  TOwned<TGIFImage> back(New<TGIFImage>());
  s->SetPosition(0);
  back->LoadFromStream(*s);
  ASSERT_EQ(back->GetFrameCount(), 3);
  EXPECT_TRUE(back->Looping);
  EXPECT_EQ(back->ScreenWidth, 20);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    back->CurrentFrame = i;
    EXPECT_EQ(back->GetFrame(i)->Fields.DelayTime, 100u * (i + 1));
    TOwned<TBitmap> drawn(Drawn(*back, 20, 12, clBlack));
    EXPECT_EQ(RgbRows(*drawn), RgbRows(*sources[static_cast<std::size_t>(i)]));
    WriteExpected("three-frames." + std::to_string(i) + ".rgb", *drawn);
  }
}

// More than 256 colours: the frame is reduced on writing; the file decodes
// to the reduced pixels, and to grey ones with GrayReduction.
TEST_F(GIFImageTest, ABitmapOfManyColoursIsReducedAndTheFileHoldsTheReducedPixels) {
  for (bool gray : {false, true}) {
    SCOPED_TRACE(gray);
    TOwned<TBitmap> b(New<TBitmap>());
    b->SetPixelFormat(pf24bit);
    b->SetSize(40, 30);
    TDib d = b->Dib();
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x)
        d.SetPixel(x, y,
                   DibRGB(static_cast<std::uint8_t>(x * 6), static_cast<std::uint8_t>(y * 8),
                          static_cast<std::uint8_t>((x * y) & 0xFF)));
    b->SetDib(d);
    TOwned<TGIFImage> gif(New<TGIFImage>());
    gif->Assign(b.get());
    gif->GetFrame(0)->Fields.GrayReduction = gray;
    TOwned<TMemoryStream> s(New<TMemoryStream>());
    gif->SaveToStream(*s);
    EXPECT_TRUE(gif->GetFrame(0)->HasRasterData());
    const std::string name = gray ? "reduced-gray" : "reduced";
    WriteFileBytes(OracleFile(name + ".gif"), s->DataString());
    TOwned<TGIFImage> back(New<TGIFImage>());
    s->SetPosition(0);
    back->LoadFromStream(*s);
    TOwned<TBitmap> drawn(Drawn(*back, 40, 30, clBlack));
    WriteExpected(name + ".rgb", *drawn);
    int distinct = 0, notGray = 0;
    std::vector<bool> seen(1 << 24);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) {
        const std::uint32_t c = drawn->Dib().Pixel(x, y);
        if (!seen[c]) ++distinct, seen[c] = true;
        if ((c & 0xFF) != ((c >> 8) & 0xFF) || (c & 0xFF) != ((c >> 16) & 0xFF)) ++notGray;
      }
    EXPECT_LE(distinct, 256);
    EXPECT_GT(distinct, 8);
    if (gray) {
      EXPECT_EQ(notGray, 0);
    }
  }
}

TEST_F(GIFImageTest, AnAnimatedCursorBecomesOneFramePerStepWithItsRate) {
  const std::string path = std::string(PELLORY_SOURCE_DIR) + "/components/tests/fixtures/ani/busy.ani";
  TOwned<TAnimatedCursorImage> ani(New<TAnimatedCursorImage>());
  ani->LoadCursorFile(path);
  ASSERT_EQ(ani->GetFrameCount(), 3);
  TOwned<TGIFImage> gif(New<TGIFImage>());
  gif->Assign(ani.get());
  ASSERT_EQ(gif->GetFrameCount(), 3);
  EXPECT_EQ(gif->BackgroundColor, clWindow);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(gif->GetFrame(i)->Fields.DelayTime, ani->GetFrame(i)->Rate * 100 / 6);
  TOwned<TMemoryStream> s(New<TMemoryStream>());
  gif->SaveToStream(*s);
  WriteFileBytes(OracleFile("cursor.gif"), s->DataString());
  WriteFileBytes(OracleFile("cursor.frames"), "3");
  TOwned<TGIFImage> back(New<TGIFImage>());
  s->SetPosition(0);
  back->LoadFromStream(*s);
  EXPECT_EQ(back->GetFrameCount(), 3);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(back->GetFrame(i)->Fields.DelayTime, ani->GetFrame(i)->Rate * 100 / 6 / 10 * 10);
}

TEST_F(GIFImageTest, CopiedAsGifImageAndPastedBackGivesTheSameRasterBytes) {
  ASSERT_NE(GIFClipboardFormat(), 0u);
  EXPECT_TRUE(SupportsPictureClipboardFormat(GIFClipboardFormat()));
  TOwned<TGIFImage> gif(New<TGIFImage>());
  gif->LoadFromFile(GifFixture("pwrdLogo100.gif"));
  Clipboard()->Open();
  Clipboard()->Clear();
  std::uint32_t format = 0;
  HANDLE data = nullptr;
  HPALETTE palette = nullptr;
  gif->SaveToClipboardFormat(format, data, palette);
  EXPECT_EQ(format, static_cast<std::uint32_t>(CF_BITMAP));
  Clipboard()->SetAsHandle(format, data);
  Clipboard()->Close();
  EXPECT_TRUE(Clipboard()->HasFormat(GIFClipboardFormat()));
  EXPECT_TRUE(Clipboard()->HasFormat(CF_BITMAP));

  TOwned<TGIFImage> pasted(New<TGIFImage>());
  Clipboard()->Open();
  pasted->LoadFromClipboardFormat(CF_BITMAP, Clipboard()->GetAsHandle(CF_BITMAP), palette);
  Clipboard()->Close();
  if (palette) DeleteObject(palette);
  ASSERT_EQ(pasted->GetFrameCount(), gif->GetFrameCount());
  for (int i = 0; i < gif->GetFrameCount(); ++i)
    EXPECT_EQ(pasted->GetFrame(i)->Item().RasterData, gif->GetFrame(i)->Item().RasterData);
  EXPECT_EQ(RgbRows(*pasted->GetFrame(0)->FrameBitmap()), RgbRows(*gif->GetFrame(0)->FrameBitmap()));

  // Another program's "GIF Image" data whose length passes its size.
  std::string bytes;
  ByteWriter(bytes).U32LE(0x7FFFFFFF);
  bytes += ReadFileBytes(GifFixture("left.gif"));
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  ASSERT_NE(memory, nullptr);
  std::memcpy(GlobalLock(memory), bytes.data(), bytes.size());
  GlobalUnlock(memory);
  Clipboard()->Open();
  Clipboard()->Clear();
  Clipboard()->SetAsHandle(GIFClipboardFormat(), memory);
  Clipboard()->Close();
  TOwned<TGIFImage> bad(New<TGIFImage>());
  try {
    bad->LoadFromClipboardFormat(GIFClipboardFormat(), nullptr, nullptr);
    ADD_FAILURE() << "loaded";
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
  EXPECT_EQ(bad->GetFrameCount(), 0);
  Clipboard()->Open();  // the failed load closed what it opened
  Clipboard()->Close();
  Clipboard()->Clear();
}

class TGIFDataReader : public TGIFImage {
 public:
  void Read(TStream& s) { ReadData(s); }
  void Write(TStream& s) { WriteData(s); }
};

// Form data is a 32-bit length and the file; a length that does not fit the
// data left, or is negative, fails before anything is allocated for it.
TEST_F(GIFImageTest, FormDataLengthMustFitTheDataLeft) {
  TOwned<TGIFImage> gif(New<TGIFImage>());
  gif->LoadFromFile(GifFixture("left.gif"));
  TOwned<TMemoryStream> s(New<TMemoryStream>());
  TOwned<TGIFDataReader> writer(New<TGIFDataReader>());
  writer->Assign(gif.get());
  writer->Write(*s);
  const std::string good = s->DataString();
  {
    TOwned<TReadOnlyMemoryStream> in(New<TReadOnlyMemoryStream>(good.data(), good.size()));
    TOwned<TGIFDataReader> r(New<TGIFDataReader>());
    r->Read(*in);
    EXPECT_EQ(r->GetFrameCount(), 1);
    EXPECT_EQ(in->Position(), static_cast<std::int64_t>(good.size()));
  }
  for (std::uint32_t length : {static_cast<std::uint32_t>(good.size()), 0x7FFFFFFFu, 0xFFFFFFF0u}) {
    SCOPED_TRACE(length);
    std::string bad = good;
    std::string prefix;
    ByteWriter(prefix).U32LE(length);
    bad.replace(0, 4, prefix);
    TOwned<TReadOnlyMemoryStream> in(New<TReadOnlyMemoryStream>(bad.data(), bad.size()));
    TOwned<TGIFDataReader> r(New<TGIFDataReader>());
    try {
      r->Read(*in);
      ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "Stream read error");
    }
  }
}

// A frame holding a bitmap, assigned from a frame that has only raster data,
// shows the new frame's picture, not its old bitmap.
TEST_F(GIFImageTest, AFrameAssignedFromRasterDataDropsItsOldBitmap) {
  TOwned<TGIFImage> loaded(New<TGIFImage>());
  TOwned<TMemoryStream> s(New<TMemoryStream>());
  s->WriteBytes(ReadFileBytes(GifFixture("back.gif")));
  s->SetPosition(0);
  loaded->LoadGIF(s->Size(), *s, false);  // no bitmap built
  ASSERT_FALSE(loaded->GetFrame(0)->HasBitmap());
  TOwned<TGIFImage> expected(New<TGIFImage>());
  expected->LoadFromFile(GifFixture("back.gif"));

  TOwned<TBitmap> red(New<TBitmap>());
  red->SetPixelFormat(pf24bit);
  red->SetSize(3, 3);
  red->Canvas()->Brush()->SetColor(clRed);
  red->Canvas()->FillRect(RECT{0, 0, 3, 3});
  TOwned<TGIFImage> gif(New<TGIFImage>());
  gif->Assign(red.get());
  ASSERT_TRUE(gif->GetFrame(0)->HasBitmap());
  gif->GetFrame(0)->Assign(loaded->GetFrame(0));
  EXPECT_EQ(RgbRows(*gif->GetFrame(0)->FrameBitmap()), RgbRows(*expected->GetFrame(0)->FrameBitmap()));
  EXPECT_EQ(gif->ScreenWidth, expected->ScreenWidth);
}

struct TProgressLog {
  std::vector<int> stages;
  TObject* sender = nullptr;
  void Report(TObject* from, TProgressStage stage, std::uint8_t percent, bool redraw, const RECT& r,
              const std::string&) {
    sender = from;
    stages.push_back(stage);
    EXPECT_LE(percent, 100);
    EXPECT_FALSE(redraw);
    EXPECT_EQ(r.right - r.left, 0);
  }
};

// Building a frame's bitmap reports its progress from start to end.
TEST_F(GIFImageTest, BuildingABitmapReportsProgress) {
  TProgressLog log;
  TOwned<TGIFImage> gif(New<TGIFImage>());
  gif->OnProgress = TProgressEvent::Bind<&TProgressLog::Report>(&log);
  gif->LoadFromFile(GifFixture("tai-ku.gif"));
  ASSERT_FALSE(log.stages.empty());
  EXPECT_EQ(log.stages.front(), psStarting);
  EXPECT_EQ(log.stages.back(), psEnding);
  EXPECT_EQ(log.sender, gif.get());
}

TEST_F(GIFImageTest, TheTextsComeFromTheStringTable) {
  for (const ResString* text :
       {&SGIFUnknownVersion, &SGIFEncodeError, &SGIFDecodeError, &SGIFCodeSizeError, &SGIFColorCount,
        &SGIFUnknownExtension, &SGIFNoData, &SGIFCannotResize, &SGIFDescription})
    EXPECT_EQ(LoadStr(text->id), text->native);
}

TEST_F(GIFImageTest, SizeCannotBeSetAndAssignedImagesShareTheirData) {
  TOwned<TGIFImage> gif(New<TGIFImage>());
  gif->LoadFromFile(GifFixture("bomb.gif"));
  EXPECT_THROW(gif->SetWidth(5), EInvalidGraphicOperation);
  TOwned<TGIFImage> copy(New<TGIFImage>());
  copy->Assign(gif.get());
  EXPECT_TRUE(copy->Equals(gif.get()));
  EXPECT_EQ(copy->GetFrame(0)->SharedItem(), gif->GetFrame(0)->SharedItem());
  // A frame compressed once keeps its raster data when its bitmap changes.
  const std::string raster = copy->GetFrame(0)->Item().RasterData;
  copy->GetFrame(0)->FrameBitmap()->Canvas()->FillRect(RECT{0, 0, 2, 2});
  TOwned<TMemoryStream> s(New<TMemoryStream>());
  copy->SaveToStream(*s);
  EXPECT_EQ(copy->GetFrame(0)->Item().RasterData, raster);
  // Written back as read, but for the screen's packed byte, whose colour
  // resolution is written from the global table's size.
  std::string written = s->DataString(), file = ReadFileBytes(GifFixture("bomb.gif"));
  ASSERT_GT(written.size(), 10u);
  written[10] = file[10] = 0;
  EXPECT_EQ(written, file);
}

// A frame whose size is 0 even after the screen's was taken gets an empty
// bitmap instead of a buffer the decoder would write past.
TEST_F(GIFImageTest, AFrameOfNoSizeGetsAnEmptyBitmap) {
  std::string file = std::string("GIF89a") + std::string("\0\0\0\0\x80\0\0", 7) + std::string(6, '\xFF');
  file += std::string("\x2C\0\0\0\0\x05\0\0\0\0", 10);  // 5 x 0
  file += std::string("\x02\x02\x44\x01\0", 5) + ";";
  TOwned<TReadOnlyMemoryStream> s(New<TReadOnlyMemoryStream>(file.data(), file.size()));
  TOwned<TGIFImage> gif(New<TGIFImage>());
  gif->LoadFromStream(*s);
  ASSERT_EQ(gif->GetFrameCount(), 1);
  EXPECT_TRUE(gif->GetFrame(0)->FrameBitmap()->Empty());
  EXPECT_EQ(gif->GetWidth(), 0);
  EXPECT_EQ(gif->GetHeight(), 0);
  TOwned<TBitmap> target(New<TBitmap>());
  target->SetSize(4, 4);
  target->Canvas()->StretchDraw(RECT{0, 0, 4, 4}, gif.get());  // draws nothing, and does not fail
}

}  // namespace
