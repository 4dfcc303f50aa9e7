#include "UcxSystem.h"

#include <cstdint>

#include "SysUtils.h"
#include "UcxSysUtils.h"
#include "WidePlatform.h"

unsigned ConversionCodePage = kCodePageAnsi;

void InitUcxSystem() {
  ConversionCodePage = kCodePageAnsi;
}

void DoneUcxSystem() {
  ConversionCodePage = kCodePageAnsi;
}

// --- UTF-8 -------------------------------------------------------------------------------------

namespace {

std::size_t Utf8Length(char16_t c) {
  return c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
}

}  // namespace

std::size_t Utf8EncodeBuffer(char* dest, std::size_t maxBytes, const char16_t* source, std::size_t count) {
  if (!source) count = 0;
  if (!dest) {
    std::size_t needed = 0;
    for (std::size_t i = 0; i < count; ++i) needed += Utf8Length(source[i]);
    return needed + 1;
  }
  if (maxBytes == 0) return 0;
  const std::size_t room = maxBytes - 1;
  std::size_t n = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char16_t c = source[i];
    const std::size_t len = Utf8Length(c);
    if (n + len > room) break;
    if (len == 1) {
      dest[n++] = static_cast<char>(c);
    } else if (len == 2) {
      dest[n++] = static_cast<char>(0xC0 | (c >> 6));
      dest[n++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      dest[n++] = static_cast<char>(0xE0 | (c >> 12));
      dest[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      dest[n++] = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  dest[n] = 0;
  return n + 1;
}

std::ptrdiff_t Utf8DecodeBuffer(char16_t* dest, std::size_t maxUnits, const char* source, std::size_t length) {
  if (!source) length = 0;
  if (dest && maxUnits == 0) return 0;
  const auto* in = reinterpret_cast<const unsigned char*>(source);
  std::size_t i = 0;
  std::size_t units = 0;
  auto continuation = [&](unsigned& bits) {
    if (i >= length || (in[i] & 0xC0) != 0x80) return false;
    bits = in[i++] & 0x3Fu;
    return true;
  };
  // A standard four-byte sequence: the character beyond U+FFFF it holds, or 0
  // when the bytes at i are no such sequence.
  auto fourByteForm = [&](unsigned lead) -> std::uint32_t {
    if (lead < 0xF0 || lead > 0xF4 || length - i < 3) return 0;
    for (std::size_t k = 0; k < 3; ++k)
      if ((in[i + k] & 0xC0) != 0x80) return 0;
    const std::uint32_t c =
        ((lead & 0x07u) << 18) | ((in[i] & 0x3Fu) << 12) | ((in[i + 1] & 0x3Fu) << 6) | (in[i + 2] & 0x3Fu);
    return c >= 0x10000 && c <= 0x10FFFF ? c : 0;
  };
  while (i < length && (!dest || units < maxUnits)) {
    const unsigned lead = in[i++];
    unsigned unit = lead;
    if (const std::uint32_t c = fourByteForm(lead)) {
      // Its surrogate pair; a pair that the buffer cannot hold whole is left out.
      if (dest && units + 2 > maxUnits - 1) break;
      if (dest) {
        dest[units] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        dest[units + 1] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
      }
      units += 2;
      i += 3;
      continue;
    }
    if (lead >= 0x80) {
      unsigned c1 = 0;
      unsigned c2 = 0;
      if (lead & 0x20) {
        if (!continuation(c1) || !continuation(c2)) return -1;
        unit = ((lead & 0x0F) << 12) | (c1 << 6) | c2;
      } else {
        if (!continuation(c1)) return -1;
        unit = ((lead & 0x3F) << 6) | c1;
      }
    }
    if (dest) dest[units] = static_cast<char16_t>(unit & 0xFFFF);
    ++units;
  }
  if (dest) {
    if (units >= maxUnits) units = maxUnits - 1;
    dest[units] = 0;
  }
  return static_cast<std::ptrdiff_t>(units) + 1;
}

std::string Utf8FromWide(const WideString& s) {
  if (s.empty()) return {};
  std::string buffer(s.size() * 3 + 1, '\0');
  const std::size_t n = Utf8EncodeBuffer(buffer.data(), buffer.size(), s.data(), s.size());
  buffer.resize(n - 1);
  return buffer;
}

WideString WideFromUtf8(std::string_view s) {
  if (s.empty()) return {};
  WideString buffer(s.size() + 1, u'\0');
  const std::ptrdiff_t n = Utf8DecodeBuffer(buffer.data(), buffer.size(), s.data(), s.size());
  if (n <= 0) return {};
  buffer.resize(static_cast<std::size_t>(n - 1));
  return buffer;
}

// --- UTF-7 -------------------------------------------------------------------------------------

namespace {

const char kBase64Chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kSetD[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789'(),-./:?";
const char kSetO[] = "!\"#$%&*;<=>@[]^_`{|}";
const char kWhiteSpace[] = "\t\r\n ";

struct Utf7Tables {
  std::int8_t inverse[128];  // base64 digit values, -1 for other bytes
  bool encodeSafe[128];      // set D and white space direct
  bool encodeOptional[128];  // set D, set O and white space direct

  Utf7Tables() {
    for (int i = 0; i < 128; ++i) {
      inverse[i] = -1;
      encodeSafe[i] = true;
      encodeOptional[i] = true;
    }
    for (int i = 0; kBase64Chars[i]; ++i)
      inverse[static_cast<unsigned char>(kBase64Chars[i])] = static_cast<std::int8_t>(i);
    for (const char* set : {kSetD, kWhiteSpace})
      for (const char* c = set; *c; ++c) {
        encodeSafe[static_cast<unsigned char>(*c)] = false;
        encodeOptional[static_cast<unsigned char>(*c)] = false;
      }
    for (const char* c = kSetO; *c; ++c) encodeOptional[static_cast<unsigned char>(*c)] = false;
  }
};

// Built on the first conversion; the initialization of a local static runs
// once even when several threads convert at the same time.
const Utf7Tables& Tables() {
  static const Utf7Tables tables;
  return tables;
}

bool IsBase64Char(char16_t c, const Utf7Tables& t) {
  return c < 128 && t.inverse[c] >= 0;
}

}  // namespace

int Utf7EncodeBuffer(char* dest, std::size_t maxBytes, const char16_t* source, std::size_t count, bool optional,
                     bool verbose, std::size_t& written) {
  const Utf7Tables& t = Tables();
  const bool* table = optional ? t.encodeOptional : t.encodeSafe;
  if (!source) count = 0;
  written = 0;
  auto put = [&](char c) {
    if (written >= maxBytes || !dest) return false;
    dest[written++] = c;
    return true;
  };
  bool shifted = false;
  std::uint32_t bits = 0;
  int bitCount = 0;
  for (std::size_t i = 0; i <= count; ++i) {
    const bool atEnd = i == count;
    const char16_t c = atEnd ? 0 : source[i];
    const bool needsEncoding = !atEnd && (c >= 128 || table[c]);
    if (needsEncoding && !shifted) {
      if (!put('+')) return kConvTargetFull;
      if (c == u'+') {
        if (!put('-')) return kConvTargetFull;
        continue;
      }
      shifted = true;
    }
    if (shifted) {
      if (needsEncoding) {
        bits = (bits << 16) | c;
        bitCount += 16;
      } else if (bitCount % 6 != 0) {
        const int pad = 6 - bitCount % 6;
        bits <<= pad;
        bitCount += pad;
      }
      while (bitCount >= 6) {
        bitCount -= 6;
        if (!put(kBase64Chars[(bits >> bitCount) & 0x3F])) return kConvTargetFull;
      }
      bits &= (1u << bitCount) - 1;
      if (!needsEncoding) {
        if (verbose || (!atEnd && (IsBase64Char(c, t) || c == u'-')))
          if (!put('-')) return kConvTargetFull;
        shifted = false;
      }
    }
    if (!needsEncoding && !atEnd)
      if (!put(static_cast<char>(c))) return kConvTargetFull;
  }
  return kConvOk;
}

int Utf7DecodeBuffer(char16_t* dest, std::size_t maxUnits, const char* source, std::size_t length,
                     std::size_t& written) {
  const Utf7Tables& t = Tables();
  const auto* in = reinterpret_cast<const unsigned char*>(source);
  if (!source) length = 0;
  written = 0;
  int result = kConvOk;
  auto put = [&](char16_t u) {
    if (written >= maxUnits || !dest) return false;
    dest[written++] = u;
    return true;
  };
  bool shifted = false;
  bool first = false;
  bool wroteOne = false;
  std::uint32_t bits = 0;
  int bitCount = 0;
  std::size_t i = 0;
  while (i < length || shifted) {
    const bool atEnd = i >= length;
    unsigned b = atEnd ? 0 : in[i];
    if (shifted) {
      if (!atEnd && b < 128 && t.inverse[b] >= 0) {
        bits = (bits << 6) | static_cast<std::uint32_t>(t.inverse[b]);
        bitCount += 6;
        first = false;
        ++i;
        if (bitCount >= 16) {
          bitCount -= 16;
          if (!put(static_cast<char16_t>((bits >> bitCount) & 0xFFFF))) return kConvTargetFull;
          bits &= (1u << bitCount) - 1;
          wroteOne = true;
        }
        continue;
      }
      // The run ends here.
      shifted = false;
      if (bits != 0) result = kConvIllegal;
      bits = 0;
      bitCount = 0;
      if (!atEnd && b == '-') {
        ++i;
        if (first) {
          if (!put(u'+')) return kConvTargetFull;
        } else if (!wroteOne) {
          result = kConvIllegal;
        }
      } else if (!wroteOne) {
        result = kConvIllegal;
      }
      continue;  // the byte in hand is read again outside the run
    }
    ++i;
    if (b == '+') {
      shifted = true;
      first = true;
      wroteOne = false;
      continue;
    }
    if (b >= 128) result = kConvIllegal;
    if (!put(static_cast<char16_t>(b))) return kConvTargetFull;
  }
  return result;
}

std::string Utf7FromWide(const WideString& s) {
  if (s.empty()) return {};
  std::string buffer(s.size() * 7 + 1, '\0');
  std::size_t n = 0;
  if (Utf7EncodeBuffer(buffer.data(), buffer.size(), s.data(), s.size(), true, false, n) != kConvOk)
    throw EUcxInternalError("Buffer overflow");
  buffer.resize(n);
  return buffer;
}

WideString WideFromUtf7(std::string_view s) {
  if (s.empty()) return {};
  WideString buffer(s.size() + 1, u'\0');
  std::size_t n = 0;
  switch (Utf7DecodeBuffer(buffer.data(), buffer.size(), s.data(), s.size(), n)) {
    case kConvIllegal:
      throw EUcxGeneralError("Invalid UTF7");
    case kConvTargetFull:
      throw EUcxInternalError("Buffer overflow");
    default:
      break;
  }
  buffer.resize(n);
  return buffer;
}

// --- the wide command line ---------------------------------------------------------------------

std::size_t NextWideParam(std::u16string_view text, WideString& param) {
  param.clear();
  std::size_t i = 0;
  const std::size_t n = text.size();
  auto at = [&](std::size_t k) -> char16_t { return k < n ? text[k] : 0; };
  for (;;) {
    const char16_t c = at(i);
    if (c >= 1 && c <= 32) {
      ++i;
    } else if (c == u'"' && at(i + 1) == u'"') {
      i += 2;
    } else {
      break;
    }
  }
  for (char16_t c = at(i); c > 32; c = at(i)) {
    ++i;
    if (c != u'"') {
      param += c;
      continue;
    }
    for (c = at(i); c != 0 && c != u'"'; c = at(i)) {
      param += c;
      ++i;
    }
    if (c == u'"') ++i;
  }
  return i;
}

WideString WideCommandLineParam(std::size_t index) {
  if (index == 0) return ModuleFileNameWide(nullptr);
  const std::u16string line = CurrentWidePlatform().CommandLine();
  std::u16string_view rest(line);
  WideString param;
  for (std::size_t read = 0; read <= index; ++read) {
    rest.remove_prefix(NextWideParam(rest, param));
    if (param.empty()) return {};
  }
  return param;
}

unsigned KeyboardCodePage() {
  WidePlatform& p = CurrentWidePlatform();
  const auto language = static_cast<unsigned>(p.KeyboardLayout() & 0xFFFF);
  int codePage = 0;
  if (TryStrToInt(p.LocaleInfoA(language, kLocaleDefaultAnsiCodePage, 6), codePage) && codePage >= 0)
    return static_cast<unsigned>(codePage);
  return p.AnsiCodePage();
}

char16_t WideCharFromKeyboardChar(unsigned code) {
  if (code > 255) return static_cast<char16_t>(code);
  const char byte = static_cast<char>(code);
  const std::u16string wide =
      CurrentWidePlatform().FromAnsi(KeyboardCodePage(), std::string_view(&byte, 1), kUseGlyphChars);
  return wide.empty() ? u'\0' : wide[0];
}
