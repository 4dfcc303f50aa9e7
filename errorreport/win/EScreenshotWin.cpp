#include "EScreenshotWin.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "ECore.h"
#include "EPipelineWin.h"
#include "EPngImage.h"
#include "EReportFiles.h"
#include "EReportFilesWin.h"
#include "ESystemWin.h"
#include "ExceptionLogWin.h"
#include "Streams.h"

namespace {

struct TCapture {
  HWND Window = nullptr;
  HDC WindowDc = nullptr;
  HDC MemoryDc = nullptr;
  HBITMAP Bitmap = nullptr;
  HGDIOBJ FirstBitmap = nullptr;  // the memory context's own bitmap
  HPALETTE Palette = nullptr;
  HPALETTE FirstPalette = nullptr;
  bool Reduced = false;
  int Width = 0;
  int Height = 0;
};

std::recursive_mutex g_lock;
TCapture g_capture;
bool g_reportScreenshotSaved = false;

int Stride8Of(int width) {
  return static_cast<int>(Stride8(static_cast<std::size_t>(width)));
}

void ReleaseLocked() {
  TCapture& c = g_capture;
  if (c.MemoryDc) {
    if (c.FirstBitmap) SelectObject(c.MemoryDc, c.FirstBitmap);
    if (c.FirstPalette) SelectPalette(c.MemoryDc, c.FirstPalette, FALSE);
  }
  if (c.Palette) DeleteObject(c.Palette);
  if (c.Bitmap) DeleteObject(c.Bitmap);
  if (c.MemoryDc) DeleteDC(c.MemoryDc);
  if (c.WindowDc) ReleaseDC(c.Window, c.WindowDc);
  c = TCapture{};
}

// The area to take and the window whose context it is copied from; `source`
// is the area's origin in that context.
void ChooseArea(const TVantorModuleOptions* options, HWND& window, RECT& area, POINT& source) {
  if (options && (options->SendFlags() & 0x20)) {
    window = GetForegroundWindow();
    if (!window) window = GetDesktopWindow();
    if (!GetWindowRect(window, &area)) SetRectEmpty(&area);
    source = POINT{0, 0};
    return;
  }
  window = GetDesktopWindow();
  if (!GetProcessWindowsBounds(GetCurrentProcessId(), area) || !SpanMonitorsOfRect(area))
    if (!GetWindowRect(window, &area)) SetRectEmpty(&area);
  source = POINT{area.left, area.top};
}

void DrawFocusAndCursor(HDC dc, const RECT& area, HWND focus, HCURSOR cursor) {
  RECT frame;
  if (focus && IsWindow(focus) && GetWindowRect(focus, &frame)) {
    OffsetRect(&frame, -area.left, -area.top);
    if (HBRUSH red = CreateSolidBrush(RGB(255, 0, 0))) {
      FrameRect(dc, &frame, red);
      InflateRect(&frame, -1, -1);
      FrameRect(dc, &frame, red);
      DeleteObject(red);
    }
  }
  POINT at;
  if (cursor && GetCursorPos(&at)) {
    ICONINFO info{};
    if (GetIconInfo(cursor, &info)) {
      at.x -= static_cast<LONG>(info.xHotspot);
      at.y -= static_cast<LONG>(info.yHotspot);
      if (info.hbmMask) DeleteObject(info.hbmMask);
      if (info.hbmColor) DeleteObject(info.hbmColor);
    }
    DrawIconEx(dc, at.x - area.left, at.y - area.top, cursor, 32, 32, 0, nullptr, DI_NORMAL);
  }
}

// The picture as 24-bit rows from the top (stride of a 24-bit DIB row).
std::vector<std::uint8_t> Read24BitRows(const TCapture& c, std::size_t& rowBytes) {
  const int bitmapWidth = Stride8Of(c.Width);
  rowBytes = (static_cast<std::size_t>(bitmapWidth) * 24 + 31) / 32 * 4;
  std::vector<std::uint8_t> bottomUp(rowBytes * static_cast<std::size_t>(c.Height));
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = bitmapWidth;
  info.bmiHeader.biHeight = c.Height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  SelectObject(c.MemoryDc, c.FirstBitmap);  // the bitmap must not be selected while it is read
  const int rows =
      GetDIBits(c.MemoryDc, c.Bitmap, 0, static_cast<UINT>(c.Height), bottomUp.data(), &info, DIB_RGB_COLORS);
  SelectObject(c.MemoryDc, c.Bitmap);
  if (rows != c.Height) return {};
  std::vector<std::uint8_t> topDown(bottomUp.size());
  for (int y = 0; y < c.Height; ++y)
    std::copy_n(&bottomUp[static_cast<std::size_t>(c.Height - 1 - y) * rowBytes], rowBytes,
                &topDown[static_cast<std::size_t>(y) * rowBytes]);
  return topDown;
}

// The header and colour table of an 8-bit bottom-up picture.
struct TEightBitInfo {
  BITMAPINFOHEADER Header;
  RGBQUAD Colors[kPngPaletteSize];
};

TEightBitInfo EightBitInfo(int width, int height) {
  TEightBitInfo info{};
  info.Header.biSize = sizeof(BITMAPINFOHEADER);
  info.Header.biWidth = width;
  info.Header.biHeight = height;
  info.Header.biPlanes = 1;
  info.Header.biBitCount = 8;
  info.Header.biCompression = BI_RGB;
  return info;
}

// Replaces the captured picture by its 8-bit form over the quantizer's palette.
void ReduceColours(TCapture& c) {
  if (c.Reduced) return;
  c.Reduced = true;
  std::size_t rowBytes = 0;
  const std::vector<std::uint8_t> rows = Read24BitRows(c, rowBytes);
  if (rows.empty()) return;
  // Only the picture's own columns: the bitmap's padding columns never add a colour.
  const std::vector<TPngColor> palette =
      QuantizePicture(rows.data(), static_cast<std::size_t>(c.Width), static_cast<std::size_t>(c.Height), rowBytes);
  TEightBitInfo info = EightBitInfo(c.Width, c.Height);
  info.Header.biClrUsed = kPngPaletteSize;
  for (std::size_t i = 0; i < palette.size() && i < kPngPaletteSize; ++i)
    info.Colors[i] = RGBQUAD{palette[i].Blue, palette[i].Green, palette[i].Red, 0};
  void* bits = nullptr;
  HBITMAP section =
      CreateDIBSection(c.MemoryDc, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!section) return;  // the captured picture stays
  HDC dc = CreateCompatibleDC(c.MemoryDc);
  if (!dc) {
    DeleteObject(section);
    return;
  }
  HGDIOBJ first = SelectObject(dc, section);
  SetDIBColorTable(dc, 0, kPngPaletteSize, info.Colors);
  BitBlt(dc, 0, 0, c.Width, c.Height, c.MemoryDc, 0, 0, SRCCOPY);
  SelectObject(dc, first);
  DeleteDC(dc);
  SelectObject(c.MemoryDc, section);
  DeleteObject(c.Bitmap);
  c.Bitmap = section;
}

// The 8-bit picture as PNG.
std::string EncodeCapture(const TCapture& c) {
  const std::size_t stride = Stride8(static_cast<std::size_t>(c.Width));
  std::vector<std::uint8_t> bottomUp(stride * static_cast<std::size_t>(c.Height));
  TEightBitInfo info = EightBitInfo(c.Width, c.Height);
  info.Header.biSizeImage = static_cast<DWORD>(bottomUp.size());
  SelectObject(c.MemoryDc, c.FirstBitmap);
  const int rows = GetDIBits(c.MemoryDc, c.Bitmap, 0, static_cast<UINT>(c.Height), bottomUp.data(),
                             reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  SelectObject(c.MemoryDc, c.Bitmap);
  if (rows != c.Height) throw EPngError("Cannot read the screenshot.");
  std::vector<std::uint8_t> topDown(bottomUp.size());
  for (int y = 0; y < c.Height; ++y)
    std::copy_n(&bottomUp[static_cast<std::size_t>(c.Height - 1 - y) * stride], stride,
                &topDown[static_cast<std::size_t>(y) * stride]);
  std::vector<TPngColor> palette(kPngPaletteSize);
  for (std::size_t i = 0; i < palette.size(); ++i)
    palette[i] = {info.Colors[i].rgbRed, info.Colors[i].rgbGreen, info.Colors[i].rgbBlue};
  return EncodePng(static_cast<std::uint32_t>(c.Width), static_cast<std::uint32_t>(c.Height), topDown.data(), stride,
                   palette);
}

}  // namespace

void CaptureScreenshot(const TVantorModuleOptions* options, HWND focus, HCURSOR cursor) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  ReleaseLocked();
  if (!options) options = CurrentVantorLogOptions();
  TCapture& c = g_capture;
  RECT area{};
  POINT source{};
  ChooseArea(options, c.Window, area, source);
  c.Width = std::max<LONG>(1, area.right - area.left);
  c.Height = std::max<LONG>(1, area.bottom - area.top);
  c.WindowDc = GetWindowDC(c.Window);
  if (!c.WindowDc) return ReleaseLocked();
  c.MemoryDc = CreateCompatibleDC(c.WindowDc);
  if (!c.MemoryDc) return ReleaseLocked();
  c.Bitmap = CreateCompatibleBitmap(c.WindowDc, Stride8Of(c.Width), c.Height);
  if (!c.Bitmap) return ReleaseLocked();
  c.FirstBitmap = SelectObject(c.MemoryDc, c.Bitmap);
  if (GetDeviceCaps(c.WindowDc, RASTERCAPS) & RC_PALETTE) {
    struct {
      WORD Version;
      WORD Count;
      PALETTEENTRY Entries[256];
    } logical{};
    logical.Version = 0x300;
    logical.Count = 256;
    GetSystemPaletteEntries(c.WindowDc, 0, 256, logical.Entries);
    c.Palette = CreatePalette(reinterpret_cast<LOGPALETTE*>(&logical));
    if (c.Palette) c.FirstPalette = SelectPalette(c.MemoryDc, c.Palette, FALSE);
  }
  BitBlt(c.MemoryDc, 0, 0, c.Width, c.Height, c.WindowDc, source.x, source.y, SRCCOPY);
  DrawFocusAndCursor(c.MemoryDc, area, focus, cursor);
}

bool ScreenshotTaken() {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return g_capture.Bitmap != nullptr;
}

SIZE ScreenshotSize() {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return g_capture.Bitmap ? SIZE{g_capture.Width, g_capture.Height} : SIZE{0, 0};
}

bool SaveScreenshotPng(const std::string& fileName) {
  if (fileName.empty()) return false;
  try {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!g_capture.Bitmap) return false;
    ReduceColours(g_capture);
    const std::string png = EncodeCapture(g_capture);
    WithFileStream(fileName, fmCreate,
                   [&](TFileStream& file) { file.WriteBuffer(png.data(), static_cast<std::int64_t>(png.size())); });
    return true;
  } catch (...) {
    return false;
  }
}

void ReleaseScreenshotObjects() {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  ReleaseLocked();
}

void TakeReportScreenshot(TReportRun& run) {
  g_reportScreenshotSaved = false;
  CaptureScreenshot(run.Options, run.Job ? run.Job->Focus : nullptr, run.Job ? run.Job->Cursor : nullptr);
}

void SaveAndFreeReportScreenshot(TReportRun& run) {
  if (run.AttachScreenshot && run.Options) {
    TReportFileFacts facts = CurrentReportFileFacts(*run.Options);
    facts.SendFlags |= 0x10;  // the report's own choice
    g_reportScreenshotSaved = SaveScreenshotPng(GetScreenshotFilePath(facts));
  }
  ReleaseScreenshotObjects();
}

bool ReportScreenshotSaved() {
  return g_reportScreenshotSaved;
}
