#include "UcxStdCtrlsCore.h"

#include <algorithm>

#include "UcxMenusCore.h"
#include "UcxSysUtils.h"
#include "UcxSystem.h"

std::size_t WideSelStartFromAnsi(const std::string& ansiText, std::size_t ansiPos) {
  return WidenFromAnsi(std::string_view(ansiText).substr(0, std::min(ansiPos, ansiText.size()))).size();
}

std::size_t AnsiSelStartFromWide(const WideString& wideText, std::size_t widePos) {
  return NarrowToAnsi(std::u16string_view(wideText).substr(0, std::min(widePos, wideText.size()))).size();
}

std::size_t AnsiSelLengthFromWide(const WideString& wideText, std::size_t wideStart, std::size_t wideLength) {
  if (wideStart >= wideText.size()) return 0;
  return NarrowToAnsi(std::u16string_view(wideText).substr(wideStart, wideLength)).size();
}

char AnsiPasswordChar(char16_t wide) {
  return wide > 0xFF ? '*' : static_cast<char>(wide);
}

bool IsWideCharAccel(unsigned charCode, const WideString& caption) {
  const char16_t key = WideCharFromKeyboardChar(charCode);
  const WideString hot = WideGetHotKey(caption);
  if (key == 0 || hot.empty()) return false;
  return WideEqualByLocaleNoCase(WideString(1, key), hot);
}
