#include "NokiaUtilsWin.h"

#include <windows.h>

#include <climits>
#include <exception>
#include <optional>
#include <utility>

#include "Exceptions.h"
#include "FileApi.h"
#include "NokiaLogos.h"
#include "PictureRegistry.h"
#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TNokiaGraphic)

namespace {

class TWinLocaleCalls : public TLocaleCalls {
 public:
  std::string DefaultAnsiCodePageText(std::uint32_t locale) override {
    char text[6] = {};
    const int n = ::GetLocaleInfoA(locale, LOCALE_IDEFAULTANSICODEPAGE, text, static_cast<int>(sizeof text));
    return n > 0 ? std::string(text, static_cast<std::size_t>(n - 1)) : std::string();
  }

  std::uint32_t AnsiCodePage() override { return ::GetACP(); }

  bool WideToAnsi(std::uint32_t codePage, std::u16string_view text, std::string& out) override {
    out.clear();
    if (text.empty()) return true;
    if (text.size() > INT_MAX) return false;
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int length = static_cast<int>(text.size());
    const int size = ::WideCharToMultiByte(codePage, 0, wide, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return false;
    out.assign(static_cast<std::size_t>(size), '\0');
    const int got = ::WideCharToMultiByte(codePage, 0, wide, length, out.data(), size, nullptr, nullptr);
    if (got <= 0) {
      out.clear();
      return false;
    }
    out.resize(static_cast<std::size_t>(got));
    return true;
  }

  int CompareAnsiIgnoreCase(std::uint32_t locale, std::string_view a, std::string_view b) override {
    if (a.size() > INT_MAX || b.size() > INT_MAX) return 0;
    return ::CompareStringA(locale, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                            static_cast<int>(b.size()));
  }

  int CompareWideIgnoreCase(std::uint32_t locale, std::u16string_view a, std::u16string_view b) override {
    if (a.size() > INT_MAX || b.size() > INT_MAX) return 0;
    return ::CompareStringW(locale, NORM_IGNORECASE, reinterpret_cast<const wchar_t*>(a.data()),
                            static_cast<int>(a.size()), reinterpret_cast<const wchar_t*>(b.data()),
                            static_cast<int>(b.size()));
  }

  std::uint32_t UserDefaultLcid() override { return ::GetUserDefaultLCID(); }
  std::uint32_t SystemDefaultLcid() override { return ::GetSystemDefaultLCID(); }
};

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
  if (!FileExists(fileName)) return;
  const TLogoFormatInfo* format = FindLogoFormat(ExtractFileExt(fileName));
  if (!format) {
    inherited::LoadFromFile(fileName);
    return;
  }
  TDib dib;
  std::string error;
  try {
    if (std::optional<TMonoBitmap> logo = LoadLogoFile(format->format, fileName)) dib = DibFromLogo(*logo);
  } catch (const ENokiaLogoError& e) {
    // A damaged file; a size the codec refuses lands here too.
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
  try {
    // The picture is encoded before the file is opened: one that the format
    // cannot hold leaves the file alone.
    SaveLogoFile(format->format, fileName, LogoFromDib(Dib()));
  } catch (const ENokiaLogoError& e) {
    throw EInvalidGraphic(e.what());
  }
}

TLocaleCalls& WinLocaleCalls() {
  static TWinLocaleCalls calls;
  return calls;
}

void InitNokiaUtilsWin() {
  SetLocaleCalls(&WinLocaleCalls());
  InitNokiaUtils();
  RegisterClasses({&TNokiaGraphic::StaticClass()});
  for (const TLogoFormatInfo& info : LogoFormats())
    RegisterPictureFileFormat(info.extension, info.description, TNokiaGraphic::StaticClass());
}

void DoneNokiaUtilsWin() {
  UnregisterPictureGraphicClass(TNokiaGraphic::StaticClass());
  SetLocaleCalls(nullptr);
}
