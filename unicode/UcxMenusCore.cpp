#include "UcxMenusCore.h"

#include "ShortCuts.h"
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

WideString SyncHotKeyPosition(const WideString& ansiCaption, const WideString& stored) {
  if (NarrowToAnsi(ansiCaption) == NarrowToAnsi(stored)) return stored;
  if (!WideSameCaptionStr(ansiCaption, WidenFromAnsi(NarrowToAnsi(stored)))) return stored;
  const WideString plain = WideStripHotKey(stored);
  WideString result;
  std::size_t j = 0;  // the next unit of the stripped caption
  for (std::size_t i = 0; i < ansiCaption.size(); ++i) {
    const char16_t c = ansiCaption[i];
    if (IsFarEastSystem && IsFarEastGroup(ansiCaption, i)) {
      result += ansiCaption.substr(i, 4);
      i += 3;
      continue;
    }
    if (c == u'&') {
      if (i + 1 < ansiCaption.size() && ansiCaption[i + 1] == u'&') {
        result += u"&&";
        ++i;
        if (j < plain.size()) ++j;  // the stripped caption holds that "&" once
        continue;
      }
      result += u'&';
      if (i + 1 < ansiCaption.size()) {
        ++i;  // the marked character comes from the stored caption
        if (j < plain.size()) result += plain[j++];
      }
      continue;
    }
    if (j < plain.size()) result += plain[j++];
  }
  if (j < plain.size()) result += plain.substr(j);
  const std::string a = NarrowToAnsi(ansiCaption), b = NarrowToAnsi(result);
  if (a != b) throw EUcxInternalError(Format("Internal Error: SyncHotKeyPosition Failed (\"%s\" <> \"%s\").", a, b));
  return result;
}

namespace {
WideKeyNames* g_keyNames = nullptr;
}

WideKeyNames* SetWideKeyNames(WideKeyNames* names) {
  WideKeyNames* old = g_keyNames;
  g_keyNames = names;
  return old;
}

WideString WideShortCutToText(std::uint16_t shortCut) {
  return WideShortCutToText(shortCut, g_keyNames);
}

WideString WideShortCutToText(std::uint16_t shortCut, WideKeyNames* names) {
  const auto key = static_cast<std::uint8_t>(shortCut & 0xFF);
  if (!IsUnicodePlatform) return WidenFromAnsi(ShortCutToText(shortCut));
  WideString name;
  const bool mapped = (key >= 0x30 && key <= 0x39) || (key >= 0x41 && key <= 0x5A) || (key >= 0x60 && key <= 0x69);
  if (mapped) {
    if (names)
      if (char16_t c = names->KeyChar(key)) name = WideString(1, c);
  } else if (IsFixedShortCutKey(key)) {
    name = WidenFromAnsi(ShortCutKeyText(key));
  } else if (names) {
    name = names->KeyName(key);
  }
  if (name.empty()) return {};
  WideString text;
  if (shortCut & scShift) text += LoadResStringW(SmkcShift);
  if (shortCut & scCtrl) text += LoadResStringW(SmkcCtrl);
  if (shortCut & scAlt) text += LoadResStringW(SmkcAlt);
  return text + name;
}
