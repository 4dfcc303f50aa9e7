// Bitmaps with mapped system colours, the visual-styles binding, the platform
// variables and image lists adopting a system list.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "ImgList.h"
#include "MappedBitmaps.h"
#include "SysUtils.h"
#include "SysUtilsWin.h"
#include "Themes.h"

namespace {

// A packed bitmap, one row of `pixels.size()` pixels, with the given palette
// (bit count 4 or 8) or none (24 bits, pixels as 0xRRGGBB).
std::vector<std::uint8_t> PackedDib(int bits, const std::vector<std::uint32_t>& palette,
                                    const std::vector<std::uint32_t>& pixels) {
  BITMAPINFOHEADER h{};
  h.biSize = sizeof h;
  h.biWidth = static_cast<LONG>(pixels.size());
  h.biHeight = 1;
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(bits);
  h.biCompression = BI_RGB;
  h.biClrUsed = static_cast<DWORD>(palette.size());
  std::vector<std::uint8_t> out(sizeof h);
  std::memcpy(out.data(), &h, sizeof h);
  for (std::uint32_t c : palette) {
    RGBQUAD q{static_cast<BYTE>(c), static_cast<BYTE>(c >> 8), static_cast<BYTE>(c >> 16), 0};
    const auto* p = reinterpret_cast<const std::uint8_t*>(&q);
    out.insert(out.end(), p, p + sizeof q);
  }
  std::vector<std::uint8_t> row;
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    if (bits == 24) {
      row.push_back(static_cast<std::uint8_t>(pixels[i]));
      row.push_back(static_cast<std::uint8_t>(pixels[i] >> 8));
      row.push_back(static_cast<std::uint8_t>(pixels[i] >> 16));
    } else if (bits == 8) {
      row.push_back(static_cast<std::uint8_t>(pixels[i]));
    } else if (i % 2 == 0) {
      row.push_back(static_cast<std::uint8_t>(pixels[i] << 4));
    } else {
      row.back() |= static_cast<std::uint8_t>(pixels[i]);
    }
  }
  while (row.size() % 4) row.push_back(0);
  out.insert(out.end(), row.begin(), row.end());
  return out;
}

COLORREF PixelOf(HBITMAP bitmap, int x) {
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  COLORREF c = GetPixel(dc, x, 0);
  SelectObject(dc, old);
  DeleteDC(dc);
  return c;
}

// 0xRRGGBB as GetPixel reports it.
COLORREF Ref(std::uint32_t rgb) {
  return RGB(rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// What a screen-compatible bitmap keeps of a colour (a 16-bit display drops low bits).
COLORREF OnScreen(COLORREF c) {
  HDC screen = GetDC(nullptr);
  COLORREF kept = GetNearestColor(screen, c);
  ReleaseDC(nullptr, screen);
  return kept;
}

TEST(MappedBitmaps, PaletteStandardColoursBecomeSystemColoursOthersStay) {
  const std::vector<std::uint32_t> palette = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x000000, 0xFF0000, 0x00FF00};
  struct Case {
    int bits;
  } cases[] = {{4}, {8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    std::vector<std::uint8_t> dib = PackedDib(c.bits, palette, {0, 1, 2, 3, 4, 5});
    HBITMAP bitmap = CreateMappedDib(dib.data(), dib.size());
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(PixelOf(bitmap, 0), OnScreen(GetSysColor(COLOR_WINDOW)));
    EXPECT_EQ(PixelOf(bitmap, 1), OnScreen(GetSysColor(COLOR_BTNFACE)));
    EXPECT_EQ(PixelOf(bitmap, 2), OnScreen(GetSysColor(COLOR_BTNSHADOW)));
    EXPECT_EQ(PixelOf(bitmap, 3), OnScreen(GetSysColor(COLOR_BTNTEXT)));
    EXPECT_EQ(PixelOf(bitmap, 4), OnScreen(Ref(0xFF0000)));
    EXPECT_EQ(PixelOf(bitmap, 5), OnScreen(Ref(0x00FF00)));
    DeleteObject(bitmap);
  }
}

TEST(MappedBitmaps, DeepBitmapsLoadUnchangedAndBadDataGivesNull) {
  std::vector<std::uint8_t> dib = PackedDib(24, {}, {0xC0C0C0, 0x808080, 0x123456});
  HBITMAP bitmap = CreateMappedDib(dib.data(), dib.size());
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(PixelOf(bitmap, 0), OnScreen(Ref(0xC0C0C0)));
  EXPECT_EQ(PixelOf(bitmap, 1), OnScreen(Ref(0x808080)));
  DeleteObject(bitmap);

  std::vector<std::uint8_t> paletted = PackedDib(8, {0xFFFFFF, 0}, {0, 1, 1, 0});
  for (std::size_t cut : {std::size_t{0}, std::size_t{10}, sizeof(BITMAPINFOHEADER) + 4, paletted.size() - 1}) {
    SCOPED_TRACE(cut);
    EXPECT_EQ(CreateMappedDib(paletted.data(), cut), nullptr);
  }
  EXPECT_EQ(CreateMappedDib(nullptr, 100), nullptr);
  EXPECT_EQ(CreateMappedRes(GetModuleHandleA(nullptr), "NO_SUCH_BITMAP"), nullptr);
}

TEST(Themes, EveryBindingIsSafeWithoutTheLibraryAndTheLoadIsCounted) {
  ASSERT_FALSE(ThemeLibraryLoaded());
  EXPECT_EQ(Themes::OpenThemeData(nullptr, L"BUTTON"), nullptr);
  EXPECT_EQ(Themes::CloseThemeData(nullptr), E_HANDLE);
  EXPECT_EQ(Themes::CloseThemeData(reinterpret_cast<HTHEME>(1)), E_NOTIMPL);
  RECT r{0, 0, 4, 4};
  EXPECT_EQ(Themes::DrawThemeBackground(reinterpret_cast<HTHEME>(1), nullptr, 1, 1, &r, nullptr), E_NOTIMPL);
  EXPECT_EQ(Themes::DrawThemeEdge(reinterpret_cast<HTHEME>(1), nullptr, 1, 1, &r, 0, 0, nullptr), E_NOTIMPL);
  EXPECT_FALSE(Themes::IsThemeActive());
  EXPECT_FALSE(Themes::IsAppThemed());
  EXPECT_FALSE(UseThemes());
  FreeThemeLibrary();  // unbalanced: nothing to free
  EXPECT_FALSE(ThemeLibraryLoaded());

  InitThemeLibrary();
  InitThemeLibrary();
  EXPECT_TRUE(ThemeLibraryLoaded());
  EXPECT_EQ(Themes::CloseThemeData(nullptr), E_HANDLE);
  EXPECT_EQ(Themes::DrawThemeBackground(nullptr, nullptr, 1, 1, &r, nullptr), E_HANDLE);
  FreeThemeLibrary();
  EXPECT_TRUE(ThemeLibraryLoaded());
  FreeThemeLibrary();
  EXPECT_FALSE(ThemeLibraryLoaded());
  EXPECT_FALSE(Themes::IsAppThemed());
}

TEST(PlatformVersion, TheSystemsVersionIsRead) {
  Win32Platform = 0;
  Win32MajorVersion = 0;
  InitPlatformVersion();
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(Win32Platform, static_cast<int>(info.dwPlatformId));
  EXPECT_EQ(Win32MajorVersion, static_cast<int>(info.dwMajorVersion));
  EXPECT_EQ(Win32MinorVersion, static_cast<int>(info.dwMinorVersion));
  EXPECT_EQ(IsNTVersionAtLeast(Win32MajorVersion, Win32MinorVersion), Win32Platform == PlatformNT);
}

TEST(PlatformVersion, VersionComparisonOnTheNtLineOnly) {
  const int saved[3] = {Win32Platform, Win32MajorVersion, Win32MinorVersion};
  struct Case {
    int platform, major, minor;
    bool atLeast51;
  } cases[] = {
      {PlatformNT, 5, 0, false},  {PlatformNT, 5, 1, true},     {PlatformNT, 6, 0, true}, {PlatformNT, 10, 0, true},
      {PlatformNT, 4, 10, false}, {PlatformWin9x, 5, 1, false}, {0, 6, 0, false},
  };
  for (const Case& c : cases) {
    Win32Platform = c.platform;
    Win32MajorVersion = c.major;
    Win32MinorVersion = c.minor;
    EXPECT_EQ(IsNTVersionAtLeast(5, 1), c.atLeast51) << c.platform << " " << c.major << "." << c.minor;
  }
  Win32Platform = saved[0];
  Win32MajorVersion = saved[1];
  Win32MinorVersion = saved[2];
}

TEST(ImageLists, AnAdoptedSystemListGivesItsSizeAndIsFreedWithTheList) {
  TOwned<TImageList> list(New<TImageList>(nullptr));
  int changes = 0;
  struct Counter : TObject {
    int* n;
    void Changed(TObject*) { ++*n; }
  } counter;
  counter.n = &changes;
  list->OnChange = TNotifyEvent::Bind<&Counter::Changed>(&counter);
  HIMAGELIST system = ImageList_Create(24, 20, ILC_MASK | ILC_COLOR16, 0, 4);
  ASSERT_NE(system, nullptr);
  list->SetHandle(system);
  EXPECT_EQ(list->Handle(), system);
  EXPECT_EQ(list->GetWidth(), 24);
  EXPECT_EQ(list->GetHeight(), 20);
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(changes, 1);
  list->SetHandle(system);  // the same list again changes nothing
  EXPECT_EQ(changes, 1);
}

}  // namespace
