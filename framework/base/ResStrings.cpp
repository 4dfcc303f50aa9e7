#include "ResStrings.h"

#include <atomic>

#include "ByteReader.h"

namespace {

// Windows-1252 characters 0x80..0x9F (0 = unassigned).
constexpr char16_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::atomic<WideToAnsiFunc> g_converter{nullptr};

}  // namespace

std::optional<std::u16string> StringBlockEntry(std::string_view block, unsigned index) {
  if (index >= 16) return std::nullopt;
  ByteReader r(block);
  try {
    for (unsigned i = 0; i < index; ++i) r.Skip(std::size_t{r.U16LE()} * 2);
    std::size_t len = r.U16LE();
    std::string_view units = r.View(len * 2);
    std::u16string out(len, u'\0');
    for (std::size_t i = 0; i < len; ++i)
      out[i] = static_cast<char16_t>(static_cast<unsigned char>(units[2 * i]) |
                                     (static_cast<unsigned char>(units[2 * i + 1]) << 8));
    return out;
  } catch (const EByteRange&) {
    return std::nullopt;
  }
}

std::string MakeStringBlock(const std::u16string* strings, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < 16; ++i) {
    std::u16string_view s = i < count ? std::u16string_view(strings[i]) : std::u16string_view();
    if (s.size() > 0xFFFF) s = s.substr(0, 0xFFFF);
    out.push_back(static_cast<char>(s.size() & 0xFF));
    out.push_back(static_cast<char>(s.size() >> 8));
    for (char16_t c : s) {
      out.push_back(static_cast<char>(c & 0xFF));
      out.push_back(static_cast<char>(c >> 8));
    }
  }
  return out;
}

std::string WideToAnsi1252(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    char mapped = '?';
    for (unsigned i = 0; i < 32; ++i)
      if (kCp1252High[i] != 0 && kCp1252High[i] == c) {
        mapped = static_cast<char>(0x80 + i);
        break;
      }
    out.push_back(mapped);
  }
  return out;
}

void SetResStringConverter(WideToAnsiFunc fn) { g_converter.store(fn); }

std::u16string LoadStrW(ModuleHandle module, std::uint16_t id) {
  if (module == 0) module = MainInstance();
  ModuleHandle res = FindResourceHInstance(module);
  std::optional<std::string_view> block = FindResourceData(res, rtString, StringBlockId(id));
  if (!block) return {};
  return StringBlockEntry(*block, StringBlockIndex(id)).value_or(std::u16string());
}

std::u16string LoadResStringW(const ResString& rs) { return LoadStrW(rs.module, rs.id); }

std::string LoadStr(ModuleHandle module, std::uint16_t id) {
  std::u16string w = LoadStrW(module, id);
  WideToAnsiFunc fn = g_converter.load();
  return fn ? fn(w) : WideToAnsi1252(w);
}

std::string LoadResString(const ResString& rs) { return LoadStr(rs.module, rs.id); }
