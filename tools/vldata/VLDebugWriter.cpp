#include "VLDebugWriter.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <sstream>
#include <stdexcept>

#include "ECore.h"
#include "EEncrypt.h"

namespace {

void PutU16(std::string& out, std::uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}

void PutU32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// One stored part of a name string.
std::string Stored(std::string text, const TVLLineTableInput& in) {
  if (in.Version < 500) {
    for (char& c : text) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ kOptionKey);
  } else {
    SetCipherPassword(in.Password);
    auto* p = reinterpret_cast<std::uint8_t*>(text.data());
    EncryptBufferCbc(p, p, text.size());
  }
  return text;
}

// A name string; from version 502 on a text longer than 127 bytes is
// stored as qualified parts split at its dots.
std::string NameString(const std::string& text, const TVLLineTableInput& in) {
  const bool qualified = in.Version > 501;
  const std::size_t limit = qualified ? 127 : 255;
  std::vector<std::string> parts;
  if (qualified && text.size() > limit && text.find('.', 1) != std::string::npos) {
    std::size_t start = 0;
    for (;;) {
      const std::size_t dot = text.find('.', start + 1);
      parts.push_back(text.substr(start, dot - start));
      if (dot == std::string::npos) break;
      start = dot + 1;
    }
  } else {
    parts.push_back(text);
  }
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    std::string part = parts[i].substr(0, limit);
    const bool more = i + 1 < parts.size();
    out += static_cast<char>(part.size() | (more ? 0x80 : 0));
    out += Stored(part, in);
  }
  return out;
}

// The bytes of one entry; empty when the deltas cannot be stored.
std::string EntryBytes(std::uint32_t lineDelta, std::uint32_t codeDelta, bool opens, std::uint16_t version) {
  std::string out;
  if (lineDelta == 0 || lineDelta > 0x10000) return out;
  const std::uint32_t ld = lineDelta - 1;
  const std::uint32_t flag = opens ? 4u : 0u;
  if (codeDelta == 0) {
    PutU32(out, (((0xFFFu << 16) | ld) << 4) | flag | 0xBu);
    return out;
  }
  const std::uint32_t cd = codeDelta - 1;
  if (!opens && ld < 4 && cd < 32) {
    out += static_cast<char>((ld << 6) | (cd << 1));
  } else if (opens && ld < 8 && cd < 8) {
    out += static_cast<char>((ld << 5) | (cd << 2) | 1u);
  } else if (ld < 32 && cd < 128) {
    PutU16(out, (ld << 11) | (cd << 4) | flag | 3u);
  } else if (cd < 0xFFE || (cd == 0xFFE && ld != 0xFFFE)) {
    PutU32(out, (((cd << 16) | ld) << 4) | flag | 0xBu);
  } else if (version > 422 && cd <= 0xFFFF) {
    PutU32(out, (0x0FFEFFFEu << 4) | flag | 0xBu);
    PutU16(out, ld);
    PutU16(out, cd);
  }
  return out;
}

struct UnitRecord {
  std::string File;
  std::uint32_t FirstLine = 0, CodeStart = 0, Line = 0, Offset = 0, End = 0;
  std::string Entries;
  std::string LastClass;
};

}  // namespace

std::string MakeLineTable(const TVLLineTableInput& input) {
  // At one offset the last row wins; an end row gives way to a real one.
  std::map<std::uint32_t, TVLLineRow> rows;
  for (const TVLLineRow& r : input.Rows) {
    auto it = rows.find(r.Offset);
    if (it != rows.end() && r.End && !it->second.End) continue;
    rows[r.Offset] = r;
  }
  std::map<std::uint32_t, const TVLFunctionSymbol*> functions;
  for (const TVLFunctionSymbol& f : input.Functions) functions.emplace(f.Offset, &f);

  std::vector<UnitRecord> units;
  UnitRecord* open = nullptr;
  auto close = [&](std::uint32_t end) {
    if (open) open->End = end;
    open = nullptr;
  };
  auto procedureName = [&](const TVLFunctionSymbol& f, UnitRecord& u) {
    std::string name;
    if (f.ClassName.empty()) {
      name = f.Name;
      u.LastClass.clear();
    } else if (f.ClassName == u.LastClass) {
      name = "." + f.Name;
    } else {
      name = f.ClassName + "." + f.Name;
      u.LastClass = f.ClassName;
    }
    return NameString(name, input);
  };
  for (auto it = rows.begin(); it != rows.end(); ++it) {
    const TVLLineRow& row = it->second;
    auto next = std::next(it);
    const std::uint32_t rangeEnd = next == rows.end() ? row.Offset + 1 : next->first;
    if (row.End) {
      close(row.Offset);
      continue;
    }
    if (row.Line == 0) {  // code that no line claims
      close(row.Offset);
      continue;
    }
    auto fn = functions.find(row.Offset);
    const TVLFunctionSymbol* starts = fn != functions.end() ? fn->second : nullptr;
    std::string entry;
    if (open && open->File == row.File && open->End == row.Offset) {
      if (row.Line == open->Line && !starts) {  // no new line: the range grows
        open->End = rangeEnd;
        continue;
      }
      if (row.Line > open->Line)
        entry = EntryBytes(row.Line - open->Line, row.Offset - open->Offset, starts != nullptr, input.Version);
    }
    if (entry.empty()) {
      close(row.Offset);
      units.push_back({});
      open = &units.back();
      open->File = row.File;
      open->FirstLine = open->Line = row.Line - 1;
      open->CodeStart = open->Offset = row.Offset;
      // The record opens with the function that holds its first row.
      auto holder = functions.upper_bound(row.Offset);
      starts = holder == functions.begin() ? nullptr : std::prev(holder)->second;
      entry = EntryBytes(1, 0, starts != nullptr, input.Version);
    }
    open->Entries += entry;
    if (starts) open->Entries += procedureName(*starts, *open);
    open->Line = row.Line;
    open->Offset = row.Offset;
    open->End = rangeEnd;
  }
  close(open ? open->End : 0);

  std::string out;
  if (input.Version > 404 && input.Version < 500) PutU32(out, 0);
  PutU32(out, static_cast<std::uint32_t>(units.size()));
  for (const UnitRecord& u : units) {
    out += NameString(u.File, input);
    PutU32(out, u.FirstLine);
    PutU32(out, u.CodeStart);
    PutU32(out, u.End - u.CodeStart);
    PutU32(out, static_cast<std::uint32_t>(u.Entries.size()));
    out += u.Entries;
  }
  return out;
}

void SplitDemangledName(const std::string& demangled, std::string& className, std::string& name) {
  std::string s = demangled;
  // Drop the parameter list and what follows it (qualifiers).
  const std::size_t close = s.rfind(')');
  if (close != std::string::npos && s.find('(') != std::string::npos) {
    int depth = 0;
    for (std::size_t i = close + 1; i-- > 0;) {
      if (s[i] == ')') ++depth;
      if (s[i] == '(' && --depth == 0) {
        s.resize(i);
        break;
      }
    }
  }
  // The last scope separator outside template arguments, before any operator name.
  std::size_t limit = s.find("operator");
  if (limit == std::string::npos) limit = s.size();
  std::size_t split = std::string::npos;
  int depth = 0;
  for (std::size_t i = 0; i + 1 < limit; ++i) {
    if (s[i] == '<') ++depth;
    if (s[i] == '>' && depth > 0) --depth;
    if (depth == 0 && s[i] == ':' && s[i + 1] == ':') split = i;
  }
  if (split == std::string::npos) {
    className.clear();
    name = s;
  } else {
    className = s.substr(0, split);
    name = s.substr(split + 2);
  }
}

std::vector<TVLLineRow> ParseDecodedLines(const std::string& text, std::uint64_t codeBase) {
  std::vector<TVLLineRow> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string file, number, address;
    if (!(fields >> file >> number >> address)) continue;
    if (address.rfind("0x", 0) != 0) continue;
    TVLLineRow row;
    const std::size_t slash = file.find_last_of("/\\");
    row.File = slash == std::string::npos ? file : file.substr(slash + 1);
    const std::uint64_t a = std::stoull(address, nullptr, 16);
    if (a < codeBase || a - codeBase > 0xFFFFFFFFu) continue;
    row.Offset = static_cast<std::uint32_t>(a - codeBase);
    if (number == "-") {
      row.End = true;
    } else if (std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      row.Line = static_cast<std::uint32_t>(std::stoul(number));
    } else {
      continue;
    }
    rows.push_back(row);
  }
  return rows;
}

std::vector<TVLFunctionSymbol> ParseNmSymbols(const std::string& text, std::uint64_t codeBase, bool stripUnderscore) {
  std::vector<TVLFunctionSymbol> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t a = line.find(' ');
    if (a == std::string::npos || a + 3 > line.size() || line[a + 2] != ' ') continue;
    const char kind = line[a + 1];
    if (kind != 'T' && kind != 't') continue;
    std::uint64_t address;
    try {
      address = std::stoull(line.substr(0, a), nullptr, 16);
    } catch (const std::exception&) {
      continue;
    }
    if (address < codeBase || address - codeBase > 0xFFFFFFFFu) continue;
    std::string demangled = line.substr(a + 3);
    // 32-bit C names carry the platform's leading underscore; demangled C++ names do not.
    if (stripUnderscore && !demangled.empty() && demangled[0] == '_' && demangled.find("::") == std::string::npos &&
        demangled.find('(') == std::string::npos)
      demangled.erase(0, 1);
    TVLFunctionSymbol f;
    f.Offset = static_cast<std::uint32_t>(address - codeBase);
    SplitDemangledName(demangled, f.ClassName, f.Name);
    // A dot splits class from name in the table: local clones ("f.part.0") keep their base name.
    for (std::string* part : {&f.ClassName, &f.Name}) {
      part->resize(std::min(part->size(), part->find('.')));
    }
    if (f.Name.empty()) continue;
    out.push_back(std::move(f));
  }
  return out;
}
