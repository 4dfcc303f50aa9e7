// The program's resources as Windows sees them: this test carries the same
// resource object as Pellory.exe, and loads "tlq_img.dll" from the program's
// folder the way the wizard does.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

std::string ThisFolder() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path, n);
  return s.substr(0, s.find_last_of("\\/") + 1);
}

struct TBitmapSize {
  LONG Width = 0, Height = 0;
};

TBitmapSize SizeOf(HBITMAP bitmap) {
  BITMAP info{};
  TBitmapSize size;
  if (bitmap && GetObjectA(bitmap, sizeof(info), &info) == static_cast<int>(sizeof(info))) {
    size.Width = info.bmWidth;
    size.Height = info.bmHeight;
  }
  return size;
}

TEST(PictureLibrary, LoadsBesideTheProgramAndServesThePagePictures) {
  // The build puts the library into the program's folder, <build>/wizard.
  std::string path = ThisFolder() + "..\\wizard\\tlq_img.dll";
  HMODULE library = LoadLibraryA(path.c_str());
  ASSERT_NE(library, nullptr) << path << " error " << GetLastError();
  for (const char* name : {"PAGE1", "PAGE2", "PAGE3", "PAGE4"}) {
    SCOPED_TRACE(name);
    HBITMAP bitmap = LoadBitmapA(library, name);
    ASSERT_NE(bitmap, nullptr);
    TBitmapSize size = SizeOf(bitmap);
    EXPECT_EQ(size.Width, 200);
    EXPECT_EQ(size.Height, 312);
    DeleteObject(bitmap);
  }
  EXPECT_EQ(LoadBitmapA(library, "PAGE5"), nullptr);
  EXPECT_EQ(FindResourceA(library, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16)) != nullptr, true);  // version
  FreeLibrary(library);
}

TEST(ProgramResources, StringsFormPicturesIconManifestAndVersion) {
  HINSTANCE self = GetModuleHandleA(nullptr);
  struct {
    UINT id;
    const wchar_t* text;
  } const kStrings[] = {
      {65264, L"IMEI:"},
      {65265, L"ESN:"},
      {65266, L"Connection was not established. Press Help button for more information."},
      {65286, L"Are you sure that you want to close Pellory?"},
      {65288, L"Unknown"},
      {65294, L"Finish"},
      {65295, L"Next >"},
      {65267, L"The connection settings could not be saved for Corvessa."},
      {65232, L"Wrong stream format"},
      {65237, L"System Error. Code: %d.\r\n%s"},
      {65252, L"Invalid index"},
  };
  for (const auto& s : kStrings) {
    wchar_t buffer[256] = {};
    int n = LoadStringW(self, s.id, buffer, 256);
    EXPECT_EQ(std::wstring(buffer, n > 0 ? n : 0), s.text) << s.id;
  }
  wchar_t none[8] = {};
  EXPECT_EQ(LoadStringW(self, 65270, none, 8), 0);  // the table has gaps

  HRSRC form = FindResourceA(self, "TWIZARDFORM", MAKEINTRESOURCEA(10));  // RCDATA
  ASSERT_NE(form, nullptr);
  const char* data = static_cast<const char*>(LockResource(LoadResource(self, form)));
  ASSERT_GE(SizeofResource(self, form), 4u);
  EXPECT_EQ(std::string(data, 4), "TPF0");

  for (const char* name : {"PHONE0", "PHONE1"}) {
    HBITMAP bitmap = LoadBitmapA(self, name);
    TBitmapSize size = SizeOf(bitmap);
    EXPECT_EQ(size.Width, 48) << name;
    EXPECT_EQ(size.Height, 48) << name;
    DeleteObject(bitmap);
  }
  HBITMAP wait = LoadBitmapA(self, "WAITGLYPH");
  EXPECT_EQ(SizeOf(wait).Width, 15 * 32);
  EXPECT_EQ(SizeOf(wait).Height, 32);
  DeleteObject(wait);

  HICON icon = static_cast<HICON>(LoadImageA(self, "MAINICON", IMAGE_ICON, 32, 32, 0));
  EXPECT_NE(icon, nullptr);
  if (icon) DestroyIcon(icon);
  EXPECT_NE(FindResourceA(self, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)), nullptr);  // manifest

  HRSRC version = FindResourceA(self, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));
  ASSERT_NE(version, nullptr);
  const auto* info = static_cast<const char*>(LockResource(LoadResource(self, version)));
  // VS_VERSIONINFO: length, value length, type, "VS_VERSION_INFO", then VS_FIXEDFILEINFO on a 32-bit boundary.
  const auto* fixed = reinterpret_cast<const VS_FIXEDFILEINFO*>(info + 40);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

TEST(ProgramResources, TheTreeViewsStripsButtonsAndCursors) {
  HINSTANCE self = GetModuleHandleA(nullptr);
  struct {
    const char* name;
    LONG width, height;
    WORD bits;  // 8: a palette the system colours are mapped into
  } const kBitmaps[] = {
      {"VT_CHECK_LIGHT", 25 * 16, 16, 8}, {"VT_CHECK_DARK", 25 * 16, 16, 8}, {"VT_TICK_LIGHT", 25 * 16, 16, 8},
      {"VT_TICK_DARK", 25 * 16, 16, 8},   {"VT_FLAT", 25 * 16, 16, 8},       {"VT_XP", 25 * 16, 16, 24},
      {"VT_UTILITIES", 9 * 16, 16, 8},    {"VT_XPBUTTONPLUS", 9, 9, 24},     {"VT_XPBUTTONMINUS", 9, 9, 24},
      {"VT_MOVEALL", 32, 32, 24},         {"VT_MOVEEW", 32, 32, 24},         {"VT_MOVENS", 32, 32, 24},
  };
  for (const auto& b : kBitmaps) {
    HRSRC found = FindResourceA(self, b.name, MAKEINTRESOURCEA(2));  // RT_BITMAP
    ASSERT_NE(found, nullptr) << b.name;
    const auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(self, found)));
    EXPECT_EQ(header->biWidth, b.width) << b.name;
    EXPECT_EQ(header->biHeight, b.height) << b.name;
    EXPECT_EQ(header->biBitCount, b.bits) << b.name;
  }
  for (const char* name : {"VT_MOVEALL", "VT_MOVEEW", "VT_MOVENS", "VT_MOVEN", "VT_MOVES", "VT_MOVEE", "VT_MOVEW",
                           "VT_MOVENE", "VT_MOVENW", "VT_MOVESE", "VT_MOVESW"}) {
    HCURSOR cursor = LoadCursorA(self, name);
    EXPECT_NE(cursor, nullptr) << name;
  }
}

TEST(ProgramResources, TheLanguageData) {
  HMODULE self = GetModuleHandleA(nullptr);
  auto bytes = [&](const char* name) {
    HRSRC r = FindResourceA(self, name, MAKEINTRESOURCEA(10));
    HGLOBAL h = r ? LoadResource(self, r) : nullptr;
    const char* p = h ? static_cast<const char*>(LockResource(h)) : nullptr;
    return p ? std::string(p, SizeofResource(self, r)) : std::string();
  };
  // The program's version, LANGID 9, "English" twice, kind 6, the build of this data.
  auto u32 = [](std::uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
  };
  std::string settings = u32(PELLORY_LANGDATA_VERSION) + std::string("\x09\0\x07\0English\x07\0", 13);
  for (char c : std::string("English")) settings += std::string{c, '\0'};
  settings += std::string("\x06\0\0\0", 4) + u32(PELLORY_LANGDATA_BUILD) + std::string(1, '\0');
  EXPECT_NE(PELLORY_LANGDATA_BUILD, 0u);
  EXPECT_EQ(bytes("WQM_EXESETTINGS_"), "JEXE" + settings);
  EXPECT_EQ(bytes("WQM_LIBSETTINGS_"), "LDLL" + settings);
  EXPECT_EQ(bytes("WQM_EXESETTINGS_").size(), 44u);
  EXPECT_FALSE(bytes("WQM_LOC_LANGS_").empty());
}

}  // namespace
