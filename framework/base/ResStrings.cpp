#include "ResStrings.h"

#include <atomic>

#include "ByteReader.h"
#include "SysUtils.h"

namespace {

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

void SetResStringConverter(WideToAnsiFunc fn) {
  g_converter.store(fn);
}

std::u16string LoadStrW(ModuleHandle module, std::uint16_t id) {
  if (module == 0) module = MainInstance();
  ModuleHandle res = FindResourceHInstance(module);
  std::optional<std::string_view> block = FindResourceData(res, rtString, StringBlockId(id));
  if (!block) return {};
  return StringBlockEntry(*block, StringBlockIndex(id)).value_or(std::u16string());
}

std::u16string LoadResStringW(const ResString& rs) {
  std::u16string text = LoadStrW(rs.module, rs.id);
  if (text.empty() && rs.native) return AnsiToWide(rs.native);
  return text;
}

std::string LoadStr(ModuleHandle module, std::uint16_t id) {
  std::u16string w = LoadStrW(module, id);
  WideToAnsiFunc fn = g_converter.load();
  return fn ? fn(w) : WideToAnsi(w);
}

std::string LoadResString(const ResString& rs) {
  std::string text = LoadStr(rs.module, rs.id);
  if (text.empty() && rs.native) return rs.native;
  return text;
}
