#include "UcxMenus.h"

#include "UcxSysUtils.h"

namespace {

// A "(&X)" group starts at `i`: X is any one character but "&".
bool IsFarEastGroup(const WideString& s, std::size_t i) {
  return i + 3 < s.size() && s[i] == u'(' && s[i + 1] == u'&' && s[i + 2] != u'&' && s[i + 3] == u')';
}

}  // namespace

std::size_t WideGetHotKeyPos(const WideString& caption) {
  std::size_t pos = 0;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] != u'&') continue;
    if (i + 1 >= caption.size()) break;
    if (caption[i + 1] == u'&') {
      ++i;  // a doubled "&" is a plain "&"
      continue;
    }
    pos = i + 2;
  }
  return pos;
}

WideString WideGetHotKey(const WideString& caption) {
  const std::size_t pos = WideGetHotKeyPos(caption);
  return pos ? caption.substr(pos - 1, 1) : WideString();
}

WideString WideStripHotKey(const WideString& caption) {
  WideString out;
  out.reserve(caption.size());
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (IsFarEastSystem && IsFarEastGroup(caption, i)) {
      i += 3;
      continue;
    }
    if (caption[i] != u'&') {
      out += caption[i];
      continue;
    }
    if (i + 1 < caption.size() && caption[i + 1] == u'&') {
      out += u'&';
      ++i;
    }
  }
  return out;
}

bool WideSameCaption(const WideString& a, const WideString& b) {
  return WideEqualByLocaleNoCase(WideStripHotKey(a), WideStripHotKey(b));
}

bool WideSameCaptionStr(const WideString& a, const WideString& b) {
  return WideEqualByLocale(WideStripHotKey(a), WideStripHotKey(b));
}
