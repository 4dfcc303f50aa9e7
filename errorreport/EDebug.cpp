#include "EDebug.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

#include "ByteReader.h"
#include "FileApi.h"
#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TVLDebugInfoSource)
FW_IMPLEMENT_CLASS(TVLDebugInfoMap)
FW_IMPLEMENT_CLASS(TVLDebugInfoTD32)
FW_IMPLEMENT_CLASS(TVLDebugInfoJedy)

namespace {
DebugModuleAccess* g_access = nullptr;

[[noreturn]] void DebugAssertionFailure(int line) {
  Assert(false, "Assertion failure", "EDebug", line);
  throw EAssertionFailed("Assertion failure");
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

}  // namespace

void SetDebugModuleAccess(DebugModuleAccess* access) {
  g_access = access;
}
DebugModuleAccess* GetDebugModuleAccess() {
  return g_access;
}

bool LoadFileToMemory(TMemoryStream& stream, const std::string& fileName) {
  try {
    if (!FileExists(fileName)) return false;
    TOwned<TFileStream> f(New<TFileStream>(fileName, fmOpenRead | fmShareDenyNone));
    stream.LoadFromStream(*f);
    return true;
  } catch (const Exception&) {
    return false;
  }
}

int SearchNearestLower(const std::vector<std::uint32_t>& keys, std::uint32_t key) {
  auto it = std::upper_bound(keys.begin(), keys.end(), key);
  if (it == keys.begin()) return -1;
  return static_cast<int>(it - keys.begin()) - 1;
}

bool FindImageSection(const std::uint8_t* image, std::size_t size, std::string_view name, std::size_t& offset,
                      std::size_t& length) {
  try {
    ByteReader r(image, size);
    if (r.U16LEAt(0) != 0x5A4D) return false;
    const std::size_t pe = r.U32LEAt(0x3C);
    if (r.U32LEAt(pe) != 0x00004550u) return false;
    const unsigned count = r.U16LEAt(pe + 6);
    const std::size_t table = pe + 24 + r.U16LEAt(pe + 20);
    char wanted[8] = {};
    std::memcpy(wanted, name.data(), std::min<std::size_t>(8, name.size()));
    for (unsigned i = 0; i < count; ++i) {
      const std::size_t at = table + 40u * i;
      if (!r.Fits(at, 40)) return false;
      if (std::memcmp(image + at, wanted, 8) != 0) continue;
      const std::uint32_t virtualSize = r.U32LEAt(at + 8), rva = r.U32LEAt(at + 12), rawSize = r.U32LEAt(at + 16);
      const std::size_t n = std::min(virtualSize, rawSize);
      if (!r.Fits(rva, n)) return false;
      offset = rva;
      length = n;
      return true;
    }
  } catch (const EByteRange&) {
  }
  return false;
}

// --- MAP files ------------------------------------------------------------------------------------
namespace {

// One line of MAP text with a reading position.
class MapLine {
 public:
  explicit MapLine(std::string_view text) : s_(text) {}
  bool AtEnd() const { return pos_ >= s_.size(); }
  void SkipBlanks() {
    while (pos_ < s_.size() && IsBlank(s_[pos_])) ++pos_;
  }
  bool DigitFollows() {
    SkipBlanks();
    return pos_ < s_.size() && IsDigit(s_[pos_]);
  }
  bool Hex(std::uint32_t& value) {
    SkipBlanks();
    std::size_t start = pos_;
    std::uint64_t v = 0;
    while (pos_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[pos_])) && pos_ - start < 16) {
      const char c = s_[pos_++];
      v = v * 16 + static_cast<unsigned>(IsDigit(c) ? c - '0' : (std::tolower(c) - 'a' + 10));
    }
    value = static_cast<std::uint32_t>(v);
    return pos_ > start;
  }
  bool Decimal(std::int32_t& value) {
    SkipBlanks();
    std::size_t start = pos_;
    std::int64_t v = 0;
    while (pos_ < s_.size() && IsDigit(s_[pos_]) && pos_ - start < 10) v = v * 10 + (s_[pos_++] - '0');
    value = static_cast<std::int32_t>(std::min<std::int64_t>(v, INT32_MAX));
    return pos_ > start;
  }
  bool Address(TVLMapAddress& a) {
    std::uint32_t segment = 0, offset = 0;
    if (!Hex(segment) || pos_ >= s_.size() || s_[pos_] != ':') return false;
    ++pos_;
    if (!Hex(offset)) return false;
    a.Segment = static_cast<std::uint16_t>(segment);
    a.Offset = offset;
    return true;
  }
  bool Length(std::uint32_t& length) {
    if (!Hex(length)) return false;
    if (pos_ < s_.size() && (s_[pos_] == 'H' || s_[pos_] == 'h')) ++pos_;
    return true;
  }
  // A name: "(...)" up to ")" or the line end; else up to a blank, "(" or the line end.
  std::string_view Name() {
    SkipBlanks();
    const std::size_t start = pos_;
    if (pos_ < s_.size() && s_[pos_] == '(') {
      const std::size_t close = s_.find(')', pos_);
      pos_ = close == std::string_view::npos ? s_.size() : close + 1;
    } else {
      while (pos_ < s_.size() && !IsBlank(s_[pos_]) && s_[pos_] != '(') ++pos_;
    }
    return s_.substr(start, pos_ - start);
  }
  // The name after `key` ("C=", "M="), empty when absent.
  std::string_view Parameter(std::string_view key) const {
    const std::size_t at = s_.find(key, pos_);
    if (at == std::string_view::npos) return {};
    MapLine rest(s_.substr(at + key.size()));
    return rest.Name();
  }

 private:
  std::string_view s_;
  std::size_t pos_ = 0;
};

// Lines of a text with their ends removed.
class LineCursor {
 public:
  explicit LineCursor(std::string_view text) : text_(text) {}
  bool Next(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    line = text_.substr(pos_, end - pos_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos_ = end + 1;
    return true;
  }
  std::size_t Position() const { return pos_; }
  void SetPosition(std::size_t pos) { pos_ = pos; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

bool HasWordsInOrder(std::string_view line, std::initializer_list<std::string_view> words) {
  std::size_t at = 0;
  for (std::string_view w : words) {
    at = line.find(w, at);
    if (at == std::string_view::npos) return false;
    at += w.size();
  }
  return true;
}

// Moves past the header line that holds `words`; false when the text has none.
bool FindHeader(LineCursor& lines, std::initializer_list<std::string_view> words) {
  std::string_view line;
  while (lines.Next(line))
    if (HasWordsInOrder(Trimmed(line), words)) return true;
  return false;
}

// Hands each data line after a header (blank lines before the first one
// skipped) to `take`, while the lines begin with a decimal digit.
template <class Take>
void ForEachDataLine(LineCursor& lines, Take take) {
  std::string_view line;
  bool started = false;
  while (true) {
    const std::size_t at = lines.Position();
    if (!lines.Next(line)) return;
    std::string_view t = Trimmed(line);
    if (t.empty() && !started) continue;
    if (t.empty() || !IsDigit(t.front())) {
      lines.SetPosition(at);
      return;
    }
    started = true;
    take(t);
  }
}

}  // namespace

void TVLAbstractMapParser::Parse() {
  std::string_view text = text_;
  LineCursor lines(text);
  const std::size_t start = 0;
  if (FindHeader(lines, {"Start", "Length", "Name", "Class"})) {
    ForEachDataLine(lines, [&](std::string_view t) {
      MapLine l(t);
      TVLMapAddress a;
      std::uint32_t length;
      if (!l.Address(a) || !l.Length(length)) return;
      std::string_view segmentName = l.Name();
      std::string_view className = l.Name();
      OnClassTableLine(a, length, className, segmentName);
    });
  } else {
    lines.SetPosition(start);
  }
  const std::size_t afterClasses = lines.Position();
  if (FindHeader(lines, {"Detailed", "map", "of", "segments"})) {
    ForEachDataLine(lines, [&](std::string_view t) {
      MapLine l(t);
      TVLMapAddress a;
      std::uint32_t length;
      if (!l.Address(a) || !l.Length(length)) return;
      OnSegmentLine(a, length, l.Parameter("M="), l.Parameter("C="));
    });
  } else {
    lines.SetPosition(afterClasses);
  }
  const std::size_t afterSegments = lines.Position();
  if (FindHeader(lines, {"Address", "Publics", "by", "Name"})) {
    ForEachDataLine(lines, [&](std::string_view t) {
      MapLine l(t);
      TVLMapAddress a;
      if (l.Address(a)) OnPublicByName(a, l.Name());
    });
  } else {
    lines.SetPosition(afterSegments);
  }
  const std::size_t afterByName = lines.Position();
  if (FindHeader(lines, {"Address", "Publics", "by", "Value"})) {
    ForEachDataLine(lines, [&](std::string_view t) {
      MapLine l(t);
      TVLMapAddress a;
      if (l.Address(a)) OnPublicByValue(a, l.Name());
    });
  } else {
    lines.SetPosition(afterByName);
  }
  // The line-number sections.
  std::string_view line;
  bool inUnit = false;
  std::string_view unitName;
  std::uint32_t lastOffset = 0;
  bool haveLast = false;
  while (lines.Next(line)) {
    std::string_view t = Trimmed(line);
    constexpr std::string_view kLineNumbersFor = "Line numbers for";
    if (t.substr(0, kLineNumbersFor.size()) == kLineNumbersFor) {
      std::string_view rest = Trimmed(t.substr(kLineNumbersFor.size()));
      const std::size_t open = rest.find('(');
      unitName = Trimmed(rest.substr(0, open));
      std::string_view fileName;
      if (open != std::string_view::npos) {
        fileName = rest.substr(open + 1);
        fileName = fileName.substr(0, fileName.find(')'));
      }
      OnLineNumbersUnit(unitName, fileName);
      inUnit = true;
      haveLast = false;
      continue;
    }
    if (!inUnit) continue;
    MapLine l(t);
    while (l.DigitFollows()) {
      std::int32_t number;
      TVLMapAddress a;
      if (!l.Decimal(number) || !l.Address(a)) break;
      if (haveLast && a.Offset < lastOffset && linkerBugUnit_.empty()) linkerBugUnit_ = std::string(unitName);
      lastOffset = a.Offset;
      haveLast = true;
      OnLineNumber(number, a);
    }
  }
}

TVLMapScanner::TVLMapScanner(std::string text) : TVLAbstractMapParser(std::move(text)) {
  Parse();
  segments_.shrink_to_fit();
  procedures_.shrink_to_fit();
  lines_.shrink_to_fit();
  sources_.shrink_to_fit();
  // Lookups search by offset; publics come in value order, but a file that
  // does not keep it must not break the search.
  std::stable_sort(procedures_.begin(), procedures_.end(),
                   [](const Named& a, const Named& b) { return a.Offset < b.Offset; });
  for (const Named& p : procedures_) procedureKeys_.push_back(p.Offset);
  for (const Named& s : sources_) sourceKeys_.push_back(s.Offset);
}

std::unique_ptr<TVLMapScanner> TVLMapScanner::FromFile(const std::string& fileName) {
  TOwned<TMemoryStream> m(New<TMemoryStream>());
  if (!LoadFileToMemory(*m, fileName)) return nullptr;
  return std::make_unique<TVLMapScanner>(m->DataString());
}

void TVLMapScanner::OnSegmentLine(TVLMapAddress address, std::uint32_t length, std::string_view unitName,
                                  std::string_view) {
  if (address.Segment != 1) return;
  const std::uint32_t end = address.Offset + std::min(length, 0xFFFFFFFFu - address.Offset);
  segments_.push_back({address.Offset, end, unitName});
  topSegmentEnd_ = std::max(topSegmentEnd_, end);
}

void TVLMapScanner::OnPublicByValue(TVLMapAddress address, std::string_view name) {
  if (address.Segment == 1) procedures_.push_back({address.Offset, name});
}

void TVLMapScanner::OnLineNumbersUnit(std::string_view, std::string_view unitFileName) {
  pendingFile_ = unitFileName;
}

void TVLMapScanner::OnLineNumber(std::int32_t lineNumber, TVLMapAddress address) {
  const bool accept = !haveLine_ || (address.Offset > 0 && address.Offset <= topSegmentEnd_ &&
                                     address.Segment == lastLineSegment_ && address.Offset > lastLineOffset_);
  if (!accept) {
    ++rejected_;
    return;
  }
  if (lineKeys_.size() == lineKeys_.capacity()) {
    lineKeys_.reserve(lineKeys_.size() + 256);
    lines_.reserve(lines_.size() + 256);
  }
  lineKeys_.push_back(address.Offset);
  lines_.push_back(lineNumber);
  if (!pendingFile_.empty()) {
    sources_.push_back({address.Offset, pendingFile_});
    pendingFile_ = {};
  }
  haveLine_ = true;
  lastLineOffset_ = address.Offset;
  lastLineSegment_ = address.Segment;
}

std::string TVLMapScanner::UnitNameAt(std::uint32_t offset) const {
  for (auto it = segments_.rbegin(); it != segments_.rend(); ++it)
    if (it->Start <= offset && offset <= it->End) return std::string(it->UnitName);
  return {};
}

std::uint32_t TVLMapScanner::UnitStartAt(std::uint32_t offset) const {
  for (auto it = segments_.rbegin(); it != segments_.rend(); ++it)
    if (it->Start <= offset && offset <= it->End) return it->Start;
  return 0xFFFFFFFFu;
}

int TVLMapScanner::LookUp(const std::vector<std::uint32_t>& keys, std::uint32_t offset) const {
  const int i = SearchNearestLower(keys, offset);
  if (i < 0) return -1;
  const std::uint32_t unitStart = UnitStartAt(offset);
  if (unitStart == 0xFFFFFFFFu || keys[static_cast<std::size_t>(i)] < unitStart) return -1;
  return i;
}

std::string TVLMapScanner::ProcedureNameAt(std::uint32_t offset, std::uint32_t& procOffset) const {
  procOffset = 0;
  const int i = LookUp(procedureKeys_, offset);
  if (i < 0) return {};
  procOffset = offset - procedures_[static_cast<std::size_t>(i)].Offset;
  return std::string(procedures_[static_cast<std::size_t>(i)].Name);
}

std::int32_t TVLMapScanner::LineNumberAt(std::uint32_t offset, std::uint32_t& lineOffset) const {
  lineOffset = 0;
  const int i = LookUp(lineKeys_, offset);
  if (i < 0) return 0;
  lineOffset = offset - lineKeys_[static_cast<std::size_t>(i)];
  return lines_[static_cast<std::size_t>(i)];
}

std::string TVLMapScanner::SourceNameAt(std::uint32_t offset) const {
  const int i = LookUp(sourceKeys_, offset);
  return i < 0 ? std::string() : std::string(sources_[static_cast<std::size_t>(i)].Name);
}

// --- Binary debug data ----------------------------------------------------------------------------
bool ReadJdbgNumber(std::string_view data, std::size_t& pos, std::uint32_t& value) {
  std::uint64_t v = 0;
  for (int shift = 0; shift < 35; shift += 7) {
    if (pos >= data.size()) return false;
    const auto b = static_cast<std::uint8_t>(data[pos++]);
    v |= static_cast<std::uint64_t>(b & 0x7F) << shift;
    if ((b & 0x80) == 0) {
      value = static_cast<std::uint32_t>(v);
      return true;
    }
  }
  return false;
}

std::uint32_t JdbgCheckSum(std::string_view data) {
  std::string copy(data);
  for (std::size_t i = 29; i < 33 && i < copy.size(); ++i) copy[i] = 0;
  std::uint32_t sum = 0;
  ByteReader r(copy);
  for (std::size_t at = 0; at + 4 <= copy.size(); at += 4) sum += r.U32LEAt(at);
  return sum;
}

TVLBinDebugScanner::TVLBinDebugScanner(std::string data, bool cacheData) : data_(std::move(data)), cache_(cacheData) {
  if (data_.size() < 35 || data_.size() % 4 != 0) return;
  ByteReader r(data_);
  if (r.U32LEAt(0) != kJdbgSignature || r.U8At(4) != 1) return;
  units_ = r.U32LEAt(5);
  sources_ = r.U32LEAt(9);
  procs_ = r.U32LEAt(13);
  lines_ = r.U32LEAt(17);
  names_ = r.U32LEAt(21);
  if (r.U8At(33) != 0) {
    const std::uint32_t stored = r.U32LEAt(29);
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at + 4 <= data_.size(); at += 4) sum += r.U32LEAt(at);
    const std::uint32_t d = sum - stored;
    if (((d >> 8) | (d << 24)) != stored) return;
  }
  valid_ = true;
}

template <class Visit>
void TVLBinDebugScanner::WalkTable(std::uint32_t tableOffset, int width, Visit visit) const {
  if (!valid_ || tableOffset >= data_.size()) return;
  std::size_t pos = tableOffset;
  std::uint32_t sums[3] = {};
  while (true) {
    std::uint32_t first;
    if (!ReadJdbgNumber(data_, pos, first) || first == kJdbgTableEnd) return;
    sums[0] += first;
    for (int i = 1; i < width; ++i) {
      std::uint32_t v;
      if (!ReadJdbgNumber(data_, pos, v)) return;
      sums[i] += v;
    }
    if (!visit(sums)) return;
  }
}

std::vector<TVLBinDebugScanner::Pair> TVLBinDebugScanner::ReadPairs(std::uint32_t tableOffset) const {
  std::vector<Pair> out;
  WalkTable(tableOffset, 2, [&](const std::uint32_t* s) {
    if (out.size() == out.capacity()) out.reserve(out.empty() ? 64 : out.size() + out.size() / 4);
    out.push_back({s[0], s[1]});
    return true;
  });
  return out;
}

std::vector<TVLBinDebugScanner::Procedure> TVLBinDebugScanner::ReadProcedures() const {
  std::vector<Procedure> out;
  WalkTable(procs_, 3, [&](const std::uint32_t* s) {
    if (out.size() == out.capacity()) out.reserve(out.empty() ? 64 : out.size() + out.size() / 4);
    out.push_back({s[0], s[1], s[2]});
    return true;
  });
  return out;
}

int TVLBinDebugScanner::LastAtOrBelow(const std::vector<Pair>& pairs, std::uint32_t address) {
  // Running sums of unsigned deltas only grow, unless they wrap; a table
  // that wraps is read as the writer ordered it, last match winning.
  int found = -1;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (pairs[i].Address > address) break;
    found = static_cast<int>(i);
  }
  return found;
}

void TVLBinDebugScanner::Cache() {
  if (cached_) return;
  cached_ = true;
  unitTable_ = ReadPairs(units_);
  sourceTable_ = ReadPairs(sources_);
  lineTable_ = ReadPairs(lines_);
  procTable_ = ReadProcedures();
}

std::string TVLBinDebugScanner::NameAt(std::uint32_t position) const {
  if (!valid_ || position == 0) return {};
  const std::uint64_t at64 = static_cast<std::uint64_t>(names_) + position - 1;
  if (at64 >= data_.size()) return {};
  std::size_t at = static_cast<std::size_t>(at64);
  std::string out;
  const auto kind = static_cast<std::uint8_t>(data_[at]);
  if (kind == 1) {
    for (++at; at < data_.size() && data_[at] != 0 && out.size() < 255; ++at) {
      auto b = static_cast<std::uint8_t>(data_[at]);
      out += static_cast<char>(b == kJdbgNameKey ? b : b ^ kJdbgNameKey);
    }
    return out;
  }
  if (kind == 2) {
    out = "@";
    ++at;
  }
  auto decode = [](std::uint32_t code) -> char {
    if (code <= 10) return static_cast<char>('0' + code - 1);
    if (code <= 36) return static_cast<char>('A' + code - 11);
    if (code <= 62) return static_cast<char>('a' + code - 37);
    return '_';
  };
  std::size_t count = 0;
  auto byteAt = [this](std::size_t i) -> std::uint32_t {
    return i < data_.size() ? static_cast<std::uint8_t>(data_[i]) : 0u;
  };
  for (; at < data_.size(); at += 3) {
    const std::uint32_t b0 = byteAt(at), b1 = byteAt(at + 1), b2 = byteAt(at + 2);
    const std::uint32_t codes[4] = {b0 & 0x3F, (b0 >> 6) | ((b1 & 0x0F) << 2), (b1 >> 4) | ((b2 & 0x03) << 4), b2 >> 2};
    for (std::uint32_t code : codes) {
      if (code == 0 || count >= 254) return out;
      out += decode(code);
      ++count;
    }
  }
  return out;
}

std::uint32_t TVLBinDebugScanner::UnitStartAt(std::uint32_t address) {
  if (!valid_) return 0xFFFFFFFFu;
  Cache();
  const int i = LastAtOrBelow(unitTable_, address);
  return i < 0 ? 0xFFFFFFFFu : unitTable_[static_cast<std::size_t>(i)].Address;
}

std::string TVLBinDebugScanner::UnitNameAt(std::uint32_t address) {
  if (!valid_) return {};
  Cache();
  const int i = LastAtOrBelow(unitTable_, address);
  return i < 0 ? std::string() : NameAt(unitTable_[static_cast<std::size_t>(i)].Value);
}

std::int32_t TVLBinDebugScanner::LineNumberAt(std::uint32_t address, std::uint32_t& lineOffset) {
  lineOffset = 0;
  if (!valid_) return 0;
  const std::uint32_t unitStart = UnitStartAt(address);
  Pair hit{};
  bool found = false;
  if (cache_) {
    const int i = LastAtOrBelow(lineTable_, address);
    if (i >= 0) {
      hit = lineTable_[static_cast<std::size_t>(i)];
      found = true;
    }
  } else {
    WalkTable(lines_, 2, [&](const std::uint32_t* s) {
      if (s[0] > address) return false;
      hit = {s[0], s[1]};
      found = true;
      return true;
    });
  }
  if (!found || unitStart == 0xFFFFFFFFu || hit.Address < unitStart) return 0;
  lineOffset = address - hit.Address;
  return static_cast<std::int32_t>(hit.Value);
}

std::string TVLBinDebugScanner::ProcedureNameAt(std::uint32_t address, std::uint32_t& procOffset) {
  procOffset = 0;
  if (!valid_) return {};
  const std::uint32_t unitStart = UnitStartAt(address);
  Procedure hit{};
  bool found = false;
  auto take = [&](const Procedure& p) {
    if (p.Address > address) return false;
    hit = p;
    found = true;
    return true;
  };
  if (cache_) {
    for (const Procedure& p : procTable_)
      if (!take(p)) break;
  } else {
    WalkTable(procs_, 3, [&](const std::uint32_t* s) { return take({s[0], s[1], s[2]}); });
  }
  if (!found || unitStart == 0xFFFFFFFFu || hit.Address < unitStart || hit.First == 0) return {};
  procOffset = address - hit.Address;
  std::string name = NameAt(hit.First);
  if (hit.Second != 0) name += "." + NameAt(hit.Second);
  return name;
}

std::string TVLBinDebugScanner::SourceNameAt(std::uint32_t address) {
  if (!valid_) return {};
  const std::uint32_t unitStart = UnitStartAt(address);
  const int i = LastAtOrBelow(sourceTable_, address);
  if (i < 0 || unitStart == 0xFFFFFFFFu || sourceTable_[static_cast<std::size_t>(i)].Address < unitStart) return {};
  return NameAt(sourceTable_[static_cast<std::size_t>(i)].Value);
}

// --- TD32 -----------------------------------------------------------------------------------------
namespace {
bool IsTd32Signature(std::uint32_t v) {
  return v == kTd32SignatureFB09 || v == kTd32SignatureFB0A;
}
}  // namespace

std::string_view FindTd32Block(std::string_view data) {
  if (data.size() <= 8) return {};
  ByteReader r(data);
  const std::uint32_t signature = r.U32LEAt(data.size() - 8);
  const std::uint32_t distance = r.U32LEAt(data.size() - 4);
  if (!IsTd32Signature(signature) || distance <= 8 || distance > data.size()) return {};
  std::string_view block = data.substr(data.size() - distance);
  if (r.U32LEAt(data.size() - distance) != signature) return {};
  return block;
}

TVLTD32InfoParser::TVLTD32InfoParser(std::string_view block) {
  if (block.empty()) DebugAssertionFailure(__LINE__);
  names_.emplace_back();
  try {
    ByteReader r(block);
    if (!IsTd32Signature(r.U32LEAt(0))) return;
    std::size_t dir = r.U32LEAt(4);
    std::set<std::size_t> seen;
    struct Entry {
      std::uint16_t Type;
      std::string_view Data;
    };
    std::vector<Entry> entries;
    while (dir != 0) {
      if (!seen.insert(dir).second) return;  // a directory chain that loops
      const std::uint16_t headerSize = r.U16LEAt(dir);
      const std::uint16_t entrySize = r.U16LEAt(dir + 2);
      const std::uint32_t count = r.U32LEAt(dir + 4);
      const std::uint32_t next = r.U32LEAt(dir + 8);
      if (entrySize != 12) DebugAssertionFailure(__LINE__);
      if (count > block.size() / 12) return;
      for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t at = dir + headerSize + 12u * i;
        const std::uint16_t type = r.U16LEAt(at);
        const std::uint32_t offset = r.U32LEAt(at + 4), size = r.U32LEAt(at + 8);
        if (!r.Fits(offset, size)) return;
        entries.push_back({type, block.substr(offset, size)});
      }
      dir = next;
    }
    // Names first: the other subsections refer to them.
    for (const Entry& e : entries)
      if (e.Type == 0x130) ReadNamesSubsection(e.Data);
    for (const Entry& e : entries) {
      if (e.Type == 0x120)
        ReadModuleSubsection(e.Data);
      else if (e.Type == 0x125)
        ReadSymbolsSubsection(e.Data);
      else if (e.Type == 0x127)
        ReadSourceModuleSubsection(e.Data);
    }
    valid_ = true;
  } catch (const EByteRange&) {
    valid_ = false;
  }
}

std::string TVLTD32InfoParser::Name(std::uint32_t index) const {
  return index < names_.size() ? names_[index] : std::string();
}

void TVLTD32InfoParser::ReadNamesSubsection(std::string_view data) {
  ByteReader r(data);
  const std::uint32_t count = r.U32LE();
  if (count > data.size()) throw EByteRange("name count");
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t length = r.U8();
    names_.emplace_back(r.View(length));
    r.Skip(1);
  }
}

void TVLTD32InfoParser::ReadSymbolsSubsection(std::string_view data) {
  ByteReader all(data);
  std::size_t at = 4;
  while (at + 4 <= data.size()) {
    const std::uint16_t length = all.U16LEAt(at);
    const std::uint16_t type = all.U16LEAt(at + 2);
    ByteReader rec(data.substr(at, std::min<std::size_t>(data.size() - at, 2u + length)));
    std::unique_ptr<TVLSymbolInfo> symbol;
    switch (type) {
      case 3: {
        auto s = std::make_unique<TVLConstantSymbolInfo>();
        s->TypeIndex = rec.U32LEAt(4);
        s->NameIndex = rec.U32LEAt(8);
        s->Value = rec.U32LEAt(16);
        symbol = std::move(s);
        break;
      }
      case 4: {
        auto s = std::make_unique<TVLUdtSymbolInfo>();
        s->TypeIndex = rec.U32LEAt(4);
        s->Properties = rec.U16LEAt(8);
        s->NameIndex = rec.U32LEAt(10);
        symbol = std::move(s);
        break;
      }
      case 9: {
        auto s = std::make_unique<TVLObjNameSymbolInfo>();
        s->Signature = rec.U32LEAt(4);
        s->NameIndex = rec.U32LEAt(8);
        symbol = std::move(s);
        break;
      }
      case 0x201:
      case 0x202:
      case 0x203: {
        std::unique_ptr<TVLDataSymbolInfo> s;
        if (type == 0x201)
          s = std::make_unique<TVLLDataSymbolInfo>();
        else if (type == 0x202)
          s = std::make_unique<TVLGDataSymbolInfo>();
        else
          s = std::make_unique<TVLPublicSymbolInfo>();
        s->Offset = rec.U32LEAt(4);
        s->TypeIndex = rec.U32LEAt(12);
        s->NameIndex = rec.U32LEAt(16);
        symbol = std::move(s);
        break;
      }
      case 0x204:
      case 0x205: {
        std::unique_ptr<TVLProcSymbolInfo> s;
        if (type == 0x204)
          s = std::make_unique<TVLLocalProcSymbolInfo>();
        else
          s = std::make_unique<TVLGlobalProcSymbolInfo>();
        s->Size = rec.U32LEAt(16);
        s->Offset = rec.U32LEAt(28);
        s->NameIndex = rec.U32LEAt(40);
        symbol = std::move(s);
        break;
      }
      case 0x208: {
        auto s = std::make_unique<TVLWithSymbolInfo>();
        s->Size = rec.U32LEAt(12);
        s->Offset = rec.U32LEAt(16);
        s->NameIndex = rec.U32LEAt(24);
        symbol = std::move(s);
        break;
      }
      case 0x209: {
        auto s = std::make_unique<TVLLabelSymbolInfo>();
        s->Offset = rec.U32LEAt(4);
        s->NameIndex = rec.U32LEAt(12);
        symbol = std::move(s);
        break;
      }
      case 0x20B: {
        auto s = std::make_unique<TVLVftPathSymbolInfo>();
        s->Offset = rec.U32LEAt(4);
        s->RootIndex = rec.U32LEAt(12);
        s->PathIndex = rec.U32LEAt(16);
        symbol = std::move(s);
        break;
      }
      default:
        break;
    }
    if (symbol) {
      symbol->SymbolType = type;
      symbols_.push_back(std::move(symbol));
    }
    at += 2u + length;
  }
}

// The module record: overlay, library index, segment count, style (16 bits
// each), name index, time stamp, three reserved double words, then the
// segments {segment, flags (16 bits each), offset, size}.
void TVLTD32InfoParser::ReadModuleSubsection(std::string_view data) {
  ByteReader r(data);
  auto module = std::make_unique<TVLModuleInfo>();
  const std::uint16_t segments = r.U16LEAt(4);
  module->NameIndex = r.U32LEAt(8);
  for (std::uint16_t i = 0; i < segments; ++i) {
    const std::size_t at = 28u + 12u * i;
    module->Segments.push_back({r.U16LEAt(at), r.U32LEAt(at + 4), r.U32LEAt(at + 8)});
  }
  modules_.push_back(std::move(module));
}

// The source-module record: file count and segment count (16 bits each),
// the offsets of the file records; a file record holds its segment count
// (16 bits, then 16 bits of padding), its name index, the offsets of its
// line tables and its address ranges.
void TVLTD32InfoParser::ReadSourceModuleSubsection(std::string_view data) {
  ByteReader r(data);
  const std::uint16_t files = r.U16LEAt(0);
  for (std::uint16_t f = 0; f < files; ++f) {
    const std::size_t file = r.U32LEAt(4 + 4u * f);
    const std::uint16_t segments = r.U16LEAt(file);
    const std::uint32_t nameIndex = r.U32LEAt(file + 4);
    if (nameIndex == 0) continue;
    auto source = std::make_unique<TVLSourceModuleInfo>();
    source->NameIndex = nameIndex;
    for (std::uint16_t s = 0; s < segments; ++s) {
      const std::size_t table = r.U32LEAt(file + 8 + 4u * s);
      const std::size_t range = file + 8 + 4u * segments + 8u * s;
      source->Ranges.push_back({r.U32LEAt(range), r.U32LEAt(range + 4)});
      const std::uint16_t count = r.U16LEAt(table + 2);
      if (!r.Fits(table + 4, 6u * count)) throw EByteRange("line table");
      std::vector<TVLLineInfo> lines(count);
      for (std::uint16_t i = 0; i < count; ++i) {
        lines[i].Offset = r.U32LEAt(table + 4 + 4u * i);
        lines[i].Line = r.U16LEAt(table + 4 + 4u * count + 2u * i);
      }
      source->LineTables.push_back(std::move(lines));
    }
    sourceModules_.push_back(std::move(source));
  }
}

bool TVLSourceModuleInfo::LineNumberAt(std::uint32_t offset, std::int32_t& line, std::uint32_t& lineOffset) const {
  for (const auto& table : LineTables) {
    if (table.empty() || offset < table.front().Offset || offset > table.back().Offset) continue;
    for (std::size_t i = 0; i < table.size(); ++i) {
      if (table[i].Offset == offset) {
        line = table[i].Line;
        lineOffset = 0;
        return true;
      }
      if (table[i].Offset > offset) {
        if (i == 0 || offset <= table[i - 1].Offset) break;
        line = table[i - 1].Line;
        lineOffset = offset - table[i - 1].Offset;
        return true;
      }
    }
  }
  return false;
}

const TVLModuleInfo* TVLTD32InfoScanner::FindModuleAt(std::uint32_t offset) const {
  for (const auto& m : Modules())
    for (const auto& s : m->Segments)
      if (s.Offset <= offset && offset - s.Offset <= s.Size) return m.get();
  return nullptr;
}

const TVLSourceModuleInfo* TVLTD32InfoScanner::FindSourceModuleAt(std::uint32_t offset) const {
  for (const auto& m : SourceModules())
    for (const auto& r : m->Ranges)
      if (r.Start <= offset && offset <= r.End) return m.get();
  return nullptr;
}

const TVLProcSymbolInfo* TVLTD32InfoScanner::FindProcedureAt(std::uint32_t offset) const {
  for (const auto& s : Symbols()) {
    if (s->SymbolType != 0x204 && s->SymbolType != 0x205) continue;
    const auto* p = static_cast<const TVLProcSymbolInfo*>(s.get());
    if (p->Offset <= offset && offset - p->Offset < p->Size) return p;
  }
  return nullptr;
}

std::string TVLTD32InfoScanner::CleanProcedureName(std::string name, std::string_view unitName) {
  if (name.empty() || name[0] != '@') return name;
  name.erase(0, 1);
  std::size_t dollar = name.find('$');
  if (dollar != std::string::npos) {
    if (dollar > 0 && name[dollar - 1] == '@') --dollar;
    name.resize(dollar);
  }
  std::replace(name.begin(), name.end(), '@', '.');
  for (std::size_t at = name.find(".."); at != std::string::npos; at = name.find("..", at + 2)) name[at + 1] = '@';
  if (!unitName.empty() && name.size() > unitName.size() && name[unitName.size()] == '.' &&
      SameText(std::string_view(name).substr(0, unitName.size()), unitName))
    name.erase(0, unitName.size() + 1);
  return name;
}

std::string_view FindImageTd32Block(const std::uint8_t* image, std::size_t size) {
  try {
    ByteReader r(image, size);
    if (r.U16LEAt(0) != 0x5A4D) return {};
    const std::size_t pe = r.U32LEAt(0x3C);
    if (r.U32LEAt(pe) != 0x00004550u) return {};
    const std::size_t opt = pe + 24;
    const std::uint16_t magic = r.U16LEAt(opt);
    const std::size_t dirs = opt + (magic == 0x20B ? 112 : 96);
    const std::uint32_t debugRva = r.U32LEAt(dirs + 6 * 8), debugSize = r.U32LEAt(dirs + 6 * 8 + 4);
    if (debugSize == 0) return {};
    // The directory must lie in a section that starts at its address.
    const unsigned count = r.U16LEAt(pe + 6);
    const std::size_t table = opt + r.U16LEAt(pe + 20);
    bool matched = false;
    for (unsigned i = 0; i < count && !matched; ++i) matched = r.U32LEAt(table + 40u * i + 12) == debugRva;
    if (!matched || !r.Fits(debugRva, 28)) return {};
    const std::uint32_t dataSize = r.U32LEAt(debugRva + 16), dataRva = r.U32LEAt(debugRva + 20);
    if (!r.Fits(dataRva, dataSize)) return {};
    return FindTd32Block(std::string_view(reinterpret_cast<const char*>(image) + dataRva, dataSize));
  } catch (const EByteRange&) {
    return {};
  }
}

TVLPeKovTD32Image::TVLPeKovTD32Image(ModuleHandle module, DebugModuleAccess* access) : module_(module) {
  if (!access) return;
  const std::uint8_t* image = nullptr;
  std::size_t size = 0;
  std::string_view block;
  if (access->ModuleImage(module, image, size)) block = FindImageTd32Block(image, size);
  if (!block.empty()) {
    data_.assign(block);
  } else {
    const std::string fileName = access->ModuleFileName(module);
    if (fileName.empty()) return;
    TOwned<TMemoryStream> m(New<TMemoryStream>());
    if (!LoadFileToMemory(*m, ChangeFileExt(fileName, ".tds"))) return;
    data_.assign(FindTd32Block(m->DataString()));
  }
  if (data_.empty()) return;
  try {
    auto scanner = std::make_unique<TVLTD32InfoScanner>(data_);
    if (scanner->ValidData()) scanner_ = std::move(scanner);
  } catch (const Exception&) {
    scanner_.reset();
  }
}

// --- Sources --------------------------------------------------------------------------------------
void TVLDebugInfoSource::AfterConstruction() {
  inherited::AfterConstruction();
  try {
    OpenSource();
  } catch (const Exception&) {
  } catch (const EByteRange&) {
  }
}

std::uint32_t TVLDebugInfoSource::AddressToOffset(std::uint64_t address) const {
  return static_cast<std::uint32_t>(address - module_ - 0x1000);
}

namespace {
// Fills the answer that all three sources give alike.
template <class Scanner>
bool FillLocation(Scanner& s, std::uint32_t offset, std::uint64_t address, TVLDebugInfoSource* source,
                  TVLDebugLocation& info) {
  info = TVLDebugLocation{};
  std::string unit = s.UnitNameAt(offset);
  if (unit.empty()) return false;
  info.Address = address;
  info.UnitName = std::move(unit);
  std::uint32_t procOffset = 0, lineOffset = 0, ignored = 0;
  info.ProcedureName = s.ProcedureNameAt(offset, procOffset);
  info.LineNumber = s.LineNumberAt(offset, lineOffset);
  info.SourceName = s.SourceNameAt(offset);
  info.Source = source;
  if (!info.ProcedureName.empty() && info.LineNumber != 0) {
    // both numbers come from the debug data: their distance may not fit in 32 bits
    const std::int64_t distance =
        static_cast<std::int64_t>(info.LineNumber) - s.LineNumberAt(offset - procOffset, ignored);
    info.LineInProcedure = static_cast<std::int32_t>(std::clamp<std::int64_t>(distance, 0, INT32_MAX));
  }
  return true;
}
}  // namespace

bool TVLDebugInfoMap::OpenSource() {
  DebugModuleAccess* access = GetDebugModuleAccess();
  if (!access) return false;
  const std::string fileName = access->ModuleFileName(module_);
  if (fileName.empty()) return false;
  scanner_ = TVLMapScanner::FromFile(ChangeFileExt(fileName, ".map"));
  return scanner_ != nullptr;
}

bool TVLDebugInfoMap::GetLocation(std::uint64_t address, TVLDebugLocation& info) {
  if (!scanner_) return false;
  return FillLocation(*scanner_, AddressToOffset(address), address, this, info);
}

bool TVLDebugInfoTD32::OpenSource() {
  image_ = std::make_unique<TVLPeKovTD32Image>(module_, GetDebugModuleAccess());
  return IsSourceValid();
}

namespace {
// The TD32 scanner with the lookups the shared filling asks for.
struct Td32Lookups {
  const TVLTD32InfoScanner& s;
  std::string UnitNameAt(std::uint32_t offset) const {
    const TVLModuleInfo* m = s.FindModuleAt(offset);
    return m ? s.Name(m->NameIndex) : std::string();
  }
  std::string ProcedureNameAt(std::uint32_t offset, std::uint32_t& procOffset) const {
    procOffset = 0;
    const TVLProcSymbolInfo* p = s.FindProcedureAt(offset);
    if (!p) return {};
    procOffset = offset - p->Offset;
    return TVLTD32InfoScanner::CleanProcedureName(s.Name(p->NameIndex), UnitNameAt(offset));
  }
  std::int32_t LineNumberAt(std::uint32_t offset, std::uint32_t& lineOffset) const {
    lineOffset = 0;
    const TVLSourceModuleInfo* m = s.FindSourceModuleAt(offset);
    std::int32_t line = 0;
    if (!m || !m->LineNumberAt(offset, line, lineOffset)) return 0;
    return line;
  }
  std::string SourceNameAt(std::uint32_t offset) const {
    const TVLSourceModuleInfo* m = s.FindSourceModuleAt(offset);
    return m ? s.Name(m->NameIndex) : std::string();
  }
};
}  // namespace

bool TVLDebugInfoTD32::GetLocation(std::uint64_t address, TVLDebugLocation& info) {
  if (!IsSourceValid()) return false;
  Td32Lookups lookups{*image_->Scanner()};
  return FillLocation(lookups, AddressToOffset(address), address, this, info);
}

bool TVLDebugInfoJedy::OpenSource() {
  DebugModuleAccess* access = GetDebugModuleAccess();
  if (!access) return false;
  const std::uint8_t* image = nullptr;
  std::size_t size = 0, offset = 0, length = 0;
  std::string data;
  if (access->ModuleImage(module_, image, size) && FindImageSection(image, size, "JCLDEBUG", offset, length)) {
    data.assign(reinterpret_cast<const char*>(image) + offset, length);
  } else {
    const std::string fileName = access->ModuleFileName(module_);
    if (fileName.empty()) return false;
    TOwned<TMemoryStream> m(New<TMemoryStream>());
    if (!LoadFileToMemory(*m, ChangeFileExt(fileName, ".jdbg"))) return false;
    data = m->DataString();
  }
  scanner_ = std::make_unique<TVLBinDebugScanner>(std::move(data), true);
  return IsSourceValid();
}

bool TVLDebugInfoJedy::GetLocation(std::uint64_t address, TVLDebugLocation& info) {
  if (!IsSourceValid()) return false;
  return FillLocation(*scanner_, AddressToOffset(address), address, this, info);
}

bool OpenDebugInfoSource(ModuleHandle module, TObject*& source) {
  if (source) return true;
  TVLDebugInfoSource* candidates[3] = {New<TVLDebugInfoMap>(module), nullptr, nullptr};
  int i = 0;
  for (;;) {
    if (candidates[i]->IsSourceValid()) {
      source = candidates[i];
      return true;
    }
    candidates[i]->Free();
    if (++i == 3) return false;
    if (i == 1)
      candidates[1] = New<TVLDebugInfoTD32>(module);
    else
      candidates[2] = New<TVLDebugInfoJedy>(module);
  }
}
