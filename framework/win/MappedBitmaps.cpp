#include "MappedBitmaps.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "ByteReader.h"

namespace {

struct ColorMapping {
  std::uint32_t from;  // 0x00RRGGBB, as RGBQUAD stores it
  int sysColor;
};

constexpr ColorMapping kMappings[] = {
    {0xFFFFFF, COLOR_WINDOW},
    {0xC0C0C0, COLOR_BTNFACE},
    {0x808080, COLOR_BTNSHADOW},
    {0x000000, COLOR_BTNTEXT},
};

RGBQUAD ToQuad(COLORREF c) {
  RGBQUAD q{};
  q.rgbRed = GetRValue(c);
  q.rgbGreen = GetGValue(c);
  q.rgbBlue = GetBValue(c);
  return q;
}

HBITMAP MapPalette(const std::uint8_t* data, std::size_t size) {
  ByteReader reader(data, size);
  const std::uint32_t headerSize = reader.U32LE();
  if (headerSize < sizeof(BITMAPINFOHEADER) || headerSize > size) return nullptr;
  BITMAPINFOHEADER header;
  std::memcpy(&header, data, sizeof header);
  if (header.biBitCount == 0 || header.biBitCount > 32) return nullptr;
  const bool paletted = header.biBitCount <= 8;
  std::size_t colours =
      header.biClrUsed ? header.biClrUsed : (paletted ? (std::size_t{1} << header.biBitCount) : std::size_t{0});
  if (colours > 256) return nullptr;
  const std::size_t tableSize = colours * sizeof(RGBQUAD);
  reader.Seek(headerSize);
  reader.Skip(tableSize);  // raises EByteRange when the table is cut short
  std::vector<std::uint8_t> info(sizeof(BITMAPINFOHEADER) + tableSize);
  std::memcpy(info.data(), data, sizeof(BITMAPINFOHEADER));
  reinterpret_cast<BITMAPINFOHEADER*>(info.data())->biSize = sizeof(BITMAPINFOHEADER);
  reinterpret_cast<BITMAPINFOHEADER*>(info.data())->biClrUsed = static_cast<DWORD>(colours);
  auto* table = reinterpret_cast<RGBQUAD*>(info.data() + sizeof(BITMAPINFOHEADER));
  std::memcpy(table, data + headerSize, tableSize);
  for (std::size_t i = 0; paletted && i < colours; ++i) {
    const std::uint32_t rgb =
        (std::uint32_t{table[i].rgbRed} << 16) | (std::uint32_t{table[i].rgbGreen} << 8) | table[i].rgbBlue;
    for (const ColorMapping& m : kMappings)
      if (m.from == rgb) {
        table[i] = ToQuad(GetSysColor(m.sysColor));
        break;
      }
  }
  const LONG height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
  const std::size_t stride = ((static_cast<std::size_t>(header.biWidth) * header.biBitCount + 31) / 32) * 4;
  const std::size_t bitsAt = headerSize + tableSize;
  if (header.biWidth <= 0 || height == 0 || header.biCompression != BI_RGB) return nullptr;
  if (stride * static_cast<std::size_t>(height) > size - bitsAt) return nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateDIBitmap(screen, reinterpret_cast<BITMAPINFOHEADER*>(info.data()), CBM_INIT, data + bitsAt,
                                  reinterpret_cast<BITMAPINFO*>(info.data()), DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  return bitmap;
}

}  // namespace

HBITMAP CreateMappedDib(const void* data, std::size_t size) {
  if (!data) return nullptr;
  try {
    return MapPalette(static_cast<const std::uint8_t*>(data), size);
  } catch (const EByteRange&) {
    return nullptr;
  }
}

HBITMAP CreateMappedRes(HINSTANCE module, const char* name) {
  HRSRC found = FindResourceA(module, name, reinterpret_cast<LPCSTR>(RT_BITMAP));
  if (!found) return nullptr;
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  return CreateMappedDib(data, data ? SizeofResource(module, found) : 0);
}
