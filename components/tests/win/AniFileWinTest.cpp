// Animated cursor files read into framework icons, checked against what the
// system's own cursor loader reports for the same file, and handed on to
// icons, bitmaps and icon lists.
#include "AniFileWin.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ByteWriter.h"
#include "Exceptions.h"
#include "IcoListWin.h"

namespace {

std::string U32(std::uint32_t v) {
  std::string s;
  ByteWriter(s).U32LE(v);
  return s;
}

std::string Chunk(const std::string& id, const std::string& body) {
  std::string s = id + U32(static_cast<std::uint32_t>(body.size())) + body;
  if (body.size() % 2) s.push_back('\0');
  return s;
}

// A 32-bit icon (type 1) or cursor (type 2) file of 16 x 16 pixels of one colour.
std::string IconFile(std::uint16_t type, std::uint32_t bgra, std::uint16_t hotX = 0, std::uint16_t hotY = 0) {
  constexpr std::uint32_t kSize = 16, kMaskRow = 4;
  std::string s;
  ByteWriter w(s);
  w.U16LE(0);
  w.U16LE(type);
  w.U16LE(1);
  w.U8(16);
  w.U8(16);
  w.U8(0);
  w.U8(0);
  w.U16LE(type == 2 ? hotX : std::uint16_t{1});
  w.U16LE(type == 2 ? hotY : std::uint16_t{32});
  w.U32LE(40 + 4 * kSize * kSize + kMaskRow * kSize);
  w.U32LE(22);
  w.U32LE(40);
  w.U32LE(kSize);
  w.U32LE(2 * kSize);
  w.U16LE(1);
  w.U16LE(32);
  for (int i = 0; i < 6; ++i) w.U32LE(0);
  for (std::uint32_t i = 0; i < kSize * kSize; ++i) w.U32LE(bgra);
  s.append(kMaskRow * kSize, '\0');
  return s;
}

constexpr std::uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF;

// Three frames: red and blue icons, a green cursor with its hot spot at (3, 4).
std::string ThreeFrames(const std::string& extra = {}) {
  std::string anih;
  for (std::uint32_t v : {36u, 3u, 3u, 16u, 16u, 32u, 1u, 10u, 1u}) anih += U32(v);
  std::string rates = U32(6) + U32(12) + U32(30);
  std::string fram = "fram" + Chunk("icon", IconFile(1, kRed)) + Chunk("icon", IconFile(2, kGreen, 3, 4)) +
                     Chunk("icon", IconFile(1, kBlue));
  return Chunk("RIFF", "ACON" + Chunk("anih", anih) + Chunk("rate", rates) + extra +
                           Chunk("LIST", "INFO" + Chunk("INAM", "Spinner") + Chunk("IART", "Pellory")) +
                           Chunk("LIST", fram));
}

void LoadBytes(TAnimatedCursorImage& image, const std::string& bytes) {
  TOwned<TStringStream> s(New<TStringStream>(bytes));
  image.LoadCursorStream(*s);
}

std::string TempFile(const std::string& name, const std::string& bytes) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  std::string path = std::string(dir) + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  return path;
}

TEST(AnimatedCursor, FramesAgreeWithTheSystemsCursorLoader) {
  // The "rate" chunk gives every step its own rate; the parser, as the file
  // layout has it, reads one value per chunk: one chunk per step here.
  std::string anih;
  for (std::uint32_t v : {36u, 3u, 3u, 16u, 16u, 32u, 1u, 10u, 1u}) anih += U32(v);
  const std::uint32_t rates[] = {6, 12, 30};
  std::string fram = "fram" + Chunk("icon", IconFile(1, kRed)) + Chunk("icon", IconFile(2, kGreen, 3, 4)) +
                     Chunk("icon", IconFile(1, kBlue));
  const std::string file =
      Chunk("RIFF", "ACON" + Chunk("anih", anih) + Chunk("rate", U32(rates[0]) + U32(rates[1]) + U32(rates[2])) +
                        Chunk("LIST", fram));
  const std::string path = TempFile("pellory-three.ani", file);

  TOwned<TAnimatedCursorImage> image(New<TAnimatedCursorImage>());
  image->LoadCursorFile(path);
  ASSERT_EQ(image->GetFrameCount(), 3);

  HCURSOR cursor = static_cast<HCURSOR>(LoadImageA(nullptr, path.c_str(), IMAGE_CURSOR, 0, 0, LR_LOADFROMFILE));
  ASSERT_NE(cursor, nullptr);
  using FrameInfo = HCURSOR(WINAPI*)(HCURSOR, DWORD, DWORD, DWORD*, DWORD*);
  auto frameInfo = reinterpret_cast<FrameInfo>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetCursorFrameInfo")));
  ASSERT_NE(frameInfo, nullptr);
  DWORD rate = 0, steps = 0;
  ASSERT_NE(frameInfo(cursor, 0, 0, &rate, &steps), nullptr);
  EXPECT_EQ(steps, static_cast<DWORD>(image->GetFrameCount()));
  // One rate value per step in the system's reading; ours takes the first
  // value of each "rate" chunk, so only the first step's rate is shared.
  EXPECT_EQ(rate, rates[0]);
  EXPECT_EQ(image->GetFrame(0)->Rate, rates[0]);
  EXPECT_EQ(image->GetFrame(1)->Rate, 10u) << "the header's rate: one rate chunk sets one frame";
  DestroyCursor(cursor);
  DeleteFileA(path.c_str());

  // Without a "rate" chunk every step shows for the header's rate, in both readings.
  const std::string plain = Chunk("RIFF", "ACON" + Chunk("anih", anih) + Chunk("LIST", fram));
  const std::string plainPath = TempFile("pellory-plain.ani", plain);
  image->LoadCursorFile(plainPath);
  ASSERT_EQ(image->GetFrameCount(), 3);
  cursor = static_cast<HCURSOR>(LoadImageA(nullptr, plainPath.c_str(), IMAGE_CURSOR, 0, 0, LR_LOADFROMFILE));
  ASSERT_NE(cursor, nullptr);
  for (DWORD step = 0; step < 3; ++step) {
    SCOPED_TRACE(step);
    ASSERT_NE(frameInfo(cursor, 0, step, &rate, &steps), nullptr);
    EXPECT_EQ(steps, 3u);
    EXPECT_EQ(rate, image->GetFrame(static_cast<int>(step))->Rate);
  }
  DestroyCursor(cursor);
  DeleteFileA(plainPath.c_str());
}

std::string Fixture(const std::string& name) {
  FILE* f = std::fopen((std::string(PELLORY_SOURCE_DIR) + "/components/tests/fixtures/ani/" + name).c_str(), "rb");
  std::string data;
  if (!f) return data;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
  std::fclose(f);
  return data;
}

// The fixtures built from Debian's icons: frame counts and rates beside what
// the system's loader reports. The system reads a "rate" chunk as one value
// per step; this reader, as the file layout it follows has it, takes the
// first value of each "rate" chunk for one frame, so only step 0 keeps the
// chunk's rate and the others the header's.
TEST(AnimatedCursor, DebianIconFixturesAgreeWithTheSystemsCursorLoader) {
  using FrameInfo = HCURSOR(WINAPI*)(HCURSOR, DWORD, DWORD, DWORD*, DWORD*);
  auto frameInfo = reinterpret_cast<FrameInfo>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetCursorFrameInfo")));
  ASSERT_NE(frameInfo, nullptr);
  struct Case {
    const char* file;
    std::vector<std::uint32_t> ours;    // per-step rates
    std::vector<std::uint32_t> system;  // per-step rates the system reports
  };
  const Case cases[] = {{"busy.ani", {6, 10, 10}, {6, 12, 30}}, {"plain.ani", {8, 8, 8}, {8, 8, 8}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string bytes = Fixture(c.file);
    ASSERT_FALSE(bytes.empty());
    const std::string path = TempFile(std::string("pellory-") + c.file, bytes);
    TOwned<TAnimatedCursorImage> image(New<TAnimatedCursorImage>());
    image->LoadCursorFile(path);
    HCURSOR cursor = static_cast<HCURSOR>(LoadImageA(nullptr, path.c_str(), IMAGE_CURSOR, 0, 0, LR_LOADFROMFILE));
    ASSERT_NE(cursor, nullptr);
    ASSERT_EQ(image->GetFrameCount(), 3);
    for (DWORD step = 0; step < 3; ++step) {
      SCOPED_TRACE(step);
      DWORD rate = 0, steps = 0;
      ASSERT_NE(frameInfo(cursor, 0, step, &rate, &steps), nullptr);
      EXPECT_EQ(steps, static_cast<DWORD>(image->GetFrameCount()));
      EXPECT_EQ(rate, c.system[step]);
      EXPECT_EQ(image->GetFrame(static_cast<int>(step))->Rate, c.ours[step]);
    }
    DestroyCursor(cursor);
    DeleteFileA(path.c_str());

    EXPECT_EQ(image->MaxImageColors, 16);
    EXPECT_TRUE(image->GetFrame(0)->FromIconResource);
    EXPECT_FALSE(image->GetFrame(1)->FromIconResource);
    EXPECT_EQ(image->GetFrame(1)->HotSpot, (TAniHotSpot{5, 7}));
    EXPECT_EQ(image->GetFrame(0)->HotSpot, (TAniHotSpot{8, 8}));
    EXPECT_EQ(image->GetFrameIcon(0)->GetWidth(), 16);
    EXPECT_EQ(image->GetFrameIcon(2)->GetWidth(), 32) << "an icon file's first image";
    TOwned<TBitmap> strip(New<TBitmap>());
    strip->Assign(image.get());
    EXPECT_EQ(strip->GetWidth(), 48);
    EXPECT_EQ(strip->GetHeight(), 16);
    EXPECT_EQ(strip->GetPixelFormat(), pf4bit) << "a strip of 16 colours, the frames' depth";
  }
  TOwned<TAnimatedCursorImage> busy(New<TAnimatedCursorImage>());
  LoadBytes(*busy, Fixture("busy.ani"));
  EXPECT_EQ(busy->NameText, "Busy");
  EXPECT_EQ(busy->ArtistText, "Pellory");
}

TEST(AnimatedCursor, LoadsTextsIconsAndHotSpots) {
  TOwned<TAnimatedCursorImage> image(New<TAnimatedCursorImage>());
  LoadBytes(*image, ThreeFrames());
  ASSERT_EQ(image->GetFrameCount(), 3);
  EXPECT_EQ(image->NameText, "Spinner");
  EXPECT_EQ(image->ArtistText, "Pellory");
  EXPECT_EQ(image->AniHeader.Steps, 3u);
  EXPECT_EQ(image->MaxImageColors, 0) << "32-bit images count no palette colours";
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    TIconFrame* f = image->GetFrame(i);
    ASSERT_NE(f->FrameIcon(), nullptr);
    EXPECT_EQ(f->FrameIcon()->GetWidth(), 16);
    EXPECT_EQ(f->StepIndex, i);
    EXPECT_EQ(f->FromIconResource, i != 1);
    EXPECT_EQ(f->HotSpot, i == 1 ? (TAniHotSpot{3, 4}) : (TAniHotSpot{8, 8}));
    EXPECT_EQ(f->ChunkHeader.Id, "icon");
  }
  EXPECT_EQ(image->GetFrame(0)->Rate, 6u);
  EXPECT_THROW(image->GetFrame(3), EListError);

  // Steps that name one icon share it; an icon no step names is a frame of its own.
  TOwned<TAnimatedCursorImage> shared(New<TAnimatedCursorImage>());
  LoadBytes(*shared, ThreeFrames(Chunk("seq ", U32(0)) + Chunk("seq ", U32(0))));
  ASSERT_EQ(shared->GetFrameCount(), 4);
  EXPECT_EQ(shared->GetFrameIcon(0), shared->GetFrameIcon(1));
  EXPECT_NE(shared->GetFrameIcon(0), shared->GetFrameIcon(2));
  EXPECT_EQ(shared->GetFrame(3)->StepIndex, -1);
  EXPECT_EQ(shared->GetFrame(3)->HotSpot, (TAniHotSpot{3, 4})) << "the cursor, icon 1";
  shared->ClearFrames();
  EXPECT_EQ(shared->GetFrameCount(), 0);
}

TEST(AnimatedCursor, HandsItsFramesOn) {
  TOwned<TAnimatedCursorImage> image(New<TAnimatedCursorImage>());
  LoadBytes(*image, ThreeFrames());

  TOwned<TBitmap> strip(New<TBitmap>());
  strip->Assign(image.get());
  ASSERT_EQ(strip->GetWidth(), 48);
  ASSERT_EQ(strip->GetHeight(), 16);
  EXPECT_EQ(strip->GetPixelFormat(), pf4bit) << "brought to 16 colours";
  EXPECT_EQ(strip->Dib().Pixel(8, 8), DibRGB(255, 0, 0));
  EXPECT_EQ(strip->Dib().Pixel(24, 8), DibRGB(0, 255, 0));
  EXPECT_EQ(strip->Dib().Pixel(40, 8), DibRGB(0, 0, 255));

  TOwned<TBitmap> vertical(New<TBitmap>());
  image->DrawFrameStrip(vertical.get(), clWhite, true, false);
  EXPECT_EQ(vertical->GetWidth(), 16);
  EXPECT_EQ(vertical->GetHeight(), 48);
  EXPECT_EQ(vertical->GetPixelFormat(), pf24bit);
  EXPECT_EQ(vertical->Dib().Pixel(8, 40), DibRGB(0, 0, 255));

  TOwned<TIcon> icon(New<TIcon>());
  icon->Assign(image.get());
  EXPECT_EQ(icon->GetWidth(), 16);
  EXPECT_NE(icon->Handle(), image->GetFrameIcon(0)->Handle()) << "a copy";

  TOwned<TIconList> list(New<TIconList>());
  int changes = 0;
  struct Counter {
    int* n;
    void Changed(TObject*) { ++*n; }
  } counter{&changes};
  list->OnListChange = TNotifyEvent::Bind<&Counter::Changed>(&counter);
  list->Assign(image.get());
  EXPECT_EQ(list->IconCount(), 3);
  EXPECT_EQ(changes, 1);

  TOwned<TAnimatedCursorImage> copy(New<TAnimatedCursorImage>());
  copy->Assign(image.get());
  ASSERT_EQ(copy->GetFrameCount(), 3);
  EXPECT_EQ(copy->NameText, "Spinner");
  EXPECT_EQ(copy->GetFrame(1)->HotSpot, (TAniHotSpot{3, 4}));
  EXPECT_EQ(copy->GetFrame(2)->StepIndex, 2);
  EXPECT_NE(copy->GetFrameIcon(0), image->GetFrameIcon(0)) << "icons of its own";
  EXPECT_EQ(copy->GetFrameIcon(0)->GetWidth(), 16);

  // Without frames: an empty bitmap and an empty icon.
  TOwned<TAnimatedCursorImage> empty(New<TAnimatedCursorImage>());
  strip->Assign(empty.get());
  EXPECT_TRUE(strip->Empty());
  icon->Assign(empty.get());
  EXPECT_TRUE(icon->Empty());
  copy->Assign(nullptr);
  EXPECT_EQ(copy->GetFrameCount(), 0);
}

TEST(AnimatedCursor, FailedLoads) {
  TOwned<TAnimatedCursorImage> image(New<TAnimatedCursorImage>());
  LoadBytes(*image, ThreeFrames());
  LoadBytes(*image, "");
  EXPECT_EQ(image->GetFrameCount(), 3) << "no bytes change nothing";

  EXPECT_THROW(LoadBytes(*image, "RIFX....ACON"), EReadError);
  EXPECT_THROW(image->LoadCursorFile("C:\\no such folder\\none.ani"), EFOpenError);
  EXPECT_EQ(image->GetFrameCount(), 0) << "a failed file load clears the image";
  EXPECT_EQ(image->NameText, "");

  // Icons that are not icon files drop their frames; none left is an error.
  const std::string notIcons =
      Chunk("RIFF", "ACON" + Chunk("LIST", "fram" + Chunk("icon", std::string("\0\0\1\0\1\0garbage", 13))));
  EXPECT_THROW(LoadBytes(*image, notIcons), EReadError);
  EXPECT_EQ(image->GetFrameCount(), 0);
}

}  // namespace
