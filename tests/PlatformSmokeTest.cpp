// The Windows toolchain, the Wine prefix and the display work: registry
// values round-trip under HKCU, a window opens on the display, and the two
// libraries built for mingw (libjpeg, minizip) link and run.
#include <windows.h>

#include <gtest/gtest.h>
#include <cstdio>
#include <string>

extern "C" {
#include <jpeglib.h>
#include <minizip/zip.h>
}

namespace {

const char kKey[] = "Software\\Pellory\\SmokeTest";

TEST(PlatformSmoke, RegistryValueRoundTrips) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const char value[] = "1";
  ASSERT_EQ(RegSetValueExA(key, "COM21", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value), ERROR_SUCCESS);
  char buf[16] = {};
  DWORD type = 0, size = sizeof buf;
  ASSERT_EQ(RegQueryValueExA(key, "COM21", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_STREQ(buf, "1");
  EXPECT_EQ(RegDeleteValueA(key, "COM21"), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, kKey), ERROR_SUCCESS);
}

LRESULT CALLBACK SmokeWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  return DefWindowProcA(wnd, msg, wp, lp);
}

TEST(PlatformSmoke, WindowOpensOnTheDisplay) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = SmokeWndProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "PellorySmoke";
  ASSERT_NE(RegisterClassA(&wc), 0);
  HWND wnd = CreateWindowExA(0, "PellorySmoke", "Pellory smoke", WS_OVERLAPPEDWINDOW, 10, 10, 320, 200, nullptr,
                             nullptr, wc.hInstance, nullptr);
  ASSERT_NE(wnd, nullptr);
  ShowWindow(wnd, SW_SHOW);
  UpdateWindow(wnd);
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  EXPECT_TRUE(IsWindowVisible(wnd));
  char text[64] = {};
  GetWindowTextA(wnd, text, sizeof text);
  EXPECT_STREQ(text, "Pellory smoke");
  RECT rc;
  ASSERT_TRUE(GetClientRect(wnd, &rc));
  EXPECT_GT(rc.right, 0);
  DestroyWindow(wnd);
}

TEST(PlatformSmoke, MingwLibrariesLink) {
  jpeg_error_mgr err;
  jpeg_compress_struct cinfo;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);

  char path[MAX_PATH];
  ASSERT_GT(GetTempPathA(sizeof path, path), 0u);
  std::string zipName = std::string(path) + "pellory-smoke.zip";
  zipFile zf = zipOpen(zipName.c_str(), APPEND_STATUS_CREATE);
  ASSERT_NE(zf, nullptr);
  ASSERT_EQ(zipOpenNewFileInZip(zf, "a.txt", nullptr, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9), ZIP_OK);
  ASSERT_EQ(zipWriteInFileInZip(zf, "hello", 5), ZIP_OK);
  ASSERT_EQ(zipCloseFileInZip(zf), ZIP_OK);
  ASSERT_EQ(zipClose(zf, nullptr), ZIP_OK);
  EXPECT_TRUE(DeleteFileA(zipName.c_str()));
}

}  // namespace
