#include "NokiaUtilsWin.h"

#include <exception>
#include <utility>

#include "Exceptions.h"
#include "FileApi.h"
#include "NokiaLogos.h"
#include "PictureRegistry.h"
#include "Streams.h"
#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TNokiaGraphic)

namespace {

// A one-bit DIB with the default black-and-white palette (index 0 black, 1 white).
TDib DibFromLogo(const TMonoBitmap& logo) {
  if (logo.Empty()) return TDib();
  TDib dib(logo.Width(), logo.Height(), 1);
  for (int y = 0; y < logo.Height(); ++y)
    for (int x = 0; x < logo.Width(); ++x) dib.SetPixel(x, y, LogoColour(logo.Pixel(x, y)));
  return dib;
}

TMonoBitmap LogoFromDib(const TDib& dib) {
  if (dib.Empty()) return TMonoBitmap();
  TMonoBitmap logo(dib.Width(), dib.Height());
  for (int y = 0; y < dib.Height(); ++y)
    for (int x = 0; x < dib.Width(); ++x) logo.SetPixel(x, y, LogoPixelSet(dib.Pixel(x, y)));
  return logo;
}

}  // namespace

void TNokiaGraphic::LoadFromFile(const std::string& fileName) {
  const TLogoFormatInfo* format = FindLogoFormat(ExtractFileExt(fileName));
  if (!format) {
    inherited::LoadFromFile(fileName);
    return;
  }
  if (!FileExists(fileName)) return;
  std::string data;
  WithFileStream(fileName, fmOpenRead | fmShareDenyWrite,
                 [&data](TStream& f) { data = f.ReadBytes(f.Size() - f.Position()); });
  TDib dib;
  std::string error;
  try {
    dib = DibFromLogo(ReadLogo(format->format, data));
  } catch (const std::exception& e) {
    // ENokiaLogoError for a damaged file; a size the codec refuses also lands here.
    error = e.what();
  }
  SetDib(std::move(dib));
  if (!error.empty()) throw EInvalidGraphic(error + " (" + ExtractFileName(fileName) + ")");
}

void TNokiaGraphic::SaveToFile(const std::string& fileName) {
  const TLogoFormatInfo* format = FindLogoFormat(ExtractFileExt(fileName));
  if (!format) {
    inherited::SaveToFile(fileName);
    return;
  }
  std::string bytes;
  try {
    bytes = WriteLogo(format->format, LogoFromDib(Dib()));
  } catch (const ENokiaLogoError& e) {
    throw EInvalidGraphic(e.what());
  }
  WithFileStream(fileName, fmCreate, [&bytes](TStream& f) { f.WriteBytes(bytes); });
}

void InitNokiaUtilsWin() {
  RegisterClasses({&TNokiaGraphic::StaticClass()});
  for (const TLogoFormatInfo& info : LogoFormats())
    RegisterPictureFileFormat(info.extension, info.description, TNokiaGraphic::StaticClass());
}

void DoneNokiaUtilsWin() {
  UnregisterPictureGraphicClass(TNokiaGraphic::StaticClass());
}
