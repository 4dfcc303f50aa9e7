#include "QhrContextMap.h"

#include <algorithm>
#include <cstring>

#include "ByteReader.h"
#include "ByteWriter.h"
#include "FileApi.h"
#include "Filer.h"
#include "QhrHshTb.h"
#include "Scope.h"
#include "SysUtils.h"

FW_BEGIN_CLASS(THelpContextMap)
  FW_PROP(FileName, GetFileName, SetFileName)
FW_END_CLASS

namespace {

void NoMessage(HelpMapMessageKind, const std::string&) {}

bool StartsWith(const std::string& s, const char* prefix) {
  return s.compare(0, std::strlen(prefix), prefix) == 0;
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool IsAbsolutePath(const std::string& name) {
  return (!name.empty() && IsSeparator(name[0])) || (name.size() >= 2 && name[1] == ':');
}

// `name` against `folder` (with its trailing separator) unless it is a full
// path already; "." and ".." steps are folded away.
std::string ExpandIncludeName(const std::string& folder, const std::string& name) {
  std::string full = IsAbsolutePath(name) ? name : folder + name;
  char separator = full.find('\\') != std::string::npos ? '\\' : '/';
  std::size_t rootLength = 0;
  if (full.size() >= 2 && full[1] == ':') rootLength = 2;
  while (rootLength < full.size() && IsSeparator(full[rootLength])) ++rootLength;
  std::vector<std::string> steps;
  std::string step;
  auto flush = [&] {
    if (step == "..") {
      if (!steps.empty() && steps.back() != "..")
        steps.pop_back();
      else if (rootLength == 0)
        steps.push_back(step);
    } else if (!step.empty() && step != ".") {
      steps.push_back(step);
    }
    step.clear();
  };
  for (std::size_t i = rootLength; i < full.size(); ++i) {
    if (IsSeparator(full[i]))
      flush();
    else
      step.push_back(full[i]);
  }
  flush();
  std::string out = full.substr(0, rootLength);
  for (std::size_t i = 0; i < steps.size(); ++i) {
    if (i) out.push_back(separator);
    out += steps[i];
  }
  return out;
}

class MapParser {
 public:
  explicit MapParser(std::vector<THelpMapEntry>& entries) : entries_(entries) {}

  void Parse(const std::string& path, bool included) {
    chain_.push_back(path);
    TScopeExit pop([this]() noexcept { chain_.pop_back(); });
    FileApi& api = GetFileApi();
    std::string error;
    FileApi::Handle file = api.Open(path, fmOpenRead | fmShareDenyWrite, error);
    if (!file) throw EInOutError("Cannot read " + path + ": " + error, 2);
    TScopeExit close([&]() noexcept { api.Close(file); });

    bool inMap = false;
    std::string line;
    bool afterCR = false;
    char buffer[65536];
    for (;;) {
      std::int64_t n = api.Read(file, buffer, sizeof buffer);
      if (n < 0) throw EInOutError("Read error in " + path, 100);
      if (n == 0) break;
      for (std::int64_t i = 0; i < n; ++i) {
        char c = buffer[i];
        if (afterCR && c == '\n') {
          afterCR = false;
          continue;
        }
        afterCR = c == '\r';
        if (c == '\r' || c == '\n') {
          if (!Line(Trim(line), path, included, inMap)) return;
          line.clear();
        } else {
          line.push_back(c);
        }
      }
    }
    if (!line.empty()) Line(Trim(line), path, included, inMap);
  }

 private:
  // False when the line ends the file.
  bool Line(const std::string& text, const std::string& path, bool included, bool& inMap) {
    if ((!inMap && !included) || text.empty()) {
      inMap = StartsWith(text, "[MAP]");
      return true;
    }
    if (text[0] == '[') return false;
    if (StartsWith(text, "#include")) {
      Include(path, Trim(std::string_view(text).substr(std::min<std::size_t>(8, text.size()))));
      return true;
    }
    std::string_view rest(text);
    if (StartsWith(text, "#define")) rest.remove_prefix(std::min<std::size_t>(8, rest.size()));
    std::string name, value;
    bool inValue = false;
    for (char c : rest) {
      if (c == '#' || c == ';') break;
      if (c == ' ' || c == '\t') {
        if (!name.empty()) inValue = true;
      } else if (c == '=') {
        inValue = true;
      } else {
        (inValue ? value : name).push_back(c);
      }
    }
    if (name.empty() || value.empty()) return true;
    int context;
    if (!TryStrToInt(value, context)) return true;
    std::int32_t hash = HashHelpName(name);
    if (hash != 0) entries_.push_back({hash, context});
    return true;
  }

  void Include(const std::string& includingPath, const std::string& name) {
    std::string full = ExpandIncludeName(ExtractFilePath(includingPath), name);
    if (includesRead_ >= MaxMapIncludeFiles) {
      if (!tooMany_) HelpMapMessage(HelpMapMessageKind::Error, "Include file \"" + full + "\" is one too many!");
      tooMany_ = true;
      return;
    }
    const char* problem = nullptr;
    if (std::any_of(chain_.begin(), chain_.end(), [&](const std::string& p) { return SameText(p, full); }))
      problem = " is already being read!";
    else if (static_cast<int>(chain_.size()) > MaxMapIncludeDepth)
      problem = " is nested too deeply!";
    else if (!FileExists(full))
      problem = " not found!";
    if (problem) {
      HelpMapMessage(HelpMapMessageKind::Error, "Include file \"" + full + "\"" + problem);
      return;
    }
    ++includesRead_;
    Parse(full, true);
  }

  std::vector<THelpMapEntry>& entries_;
  std::vector<std::string> chain_;  // the files being read, the main one first
  int includesRead_ = 0;
  bool tooMany_ = false;  // told once
};

}  // namespace

HelpMapMessageFunc HelpMapMessage = &NoMessage;

int CompareMapEntries(const THelpMapEntry& a, const THelpMapEntry& b) {
  return a.Hash < b.Hash ? -1 : a.Hash > b.Hash ? 1 : 0;
}

void ParseMapFile(const std::string& path, bool included, std::vector<THelpMapEntry>& entries) {
  MapParser(entries).Parse(ExpandIncludeName("", path), included);
}

THelpContextMap::THelpContextMap(TComponent* owner) : TComponent(owner), table_(New<TMemoryStream>()) {}

void THelpContextMap::Destroy() {
  FreeAndNil(table_);
  inherited::Destroy();
}

void THelpContextMap::SetFileName(const std::string& value) {
  TComponentState state = ComponentState();
  if (!value.empty() && !state.Contains(csLoading) && !state.Contains(csReading)) {
    if (!FileExists(value)) throw Exception("File " + value + " not found.");
    // The table is replaced only once the whole file was read.
    std::vector<THelpMapEntry> entries;
    ParseMapFile(value, false, entries);
    std::sort(entries.begin(), entries.end(),
              [](const THelpMapEntry& a, const THelpMapEntry& b) { return CompareMapEntries(a, b) < 0; });
    std::string bytes;
    bytes.reserve(entries.size() * 8);
    ByteWriter out(bytes);
    for (const THelpMapEntry& e : entries) {
      out.U32LE(static_cast<std::uint32_t>(e.Hash));
      out.U32LE(static_cast<std::uint32_t>(e.Context));
    }
    table_->Clear();
    table_->WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    if (state.Contains(csDesigning))
      HelpMapMessage(
          HelpMapMessageKind::Information,
          "Help context list updated. " + IntToStr(static_cast<std::int64_t>(entries.size())) + " items stored.");
  }
  fileName_ = value;
}

void THelpContextMap::DefineProperties(TFiler& filer) {
  inherited::DefineProperties(filer);
  filer.DefineBinaryProperty(
      "FileData", [this](TStream& s) { LoadFileData(s); }, [this](TStream& s) { StoreFileData(s); },
      table_->Size() > 0);
}

void THelpContextMap::LoadFileData(TStream& stream) {
  table_->Clear();
  std::uint8_t head[4];
  stream.ReadBuffer(head, sizeof head);
  std::uint32_t length = ByteReader(head, sizeof head).U32LE();
  if (length > stream.Size() - stream.Position()) throw EReadError("The help context table is longer than its data");
  if (length > 0) table_->CopyFrom(stream, length);  // a count of 0 would copy the whole stream
}

void THelpContextMap::StoreFileData(TStream& stream) {
  std::int64_t size = table_->Size();
  if (size > 0xFFFFFFFF) throw EWriteError("The help context table is too large");
  std::string head;
  ByteWriter(head).U32LE(static_cast<std::uint32_t>(size));
  stream.WriteBuffer(head.data(), 4);
  table_->SetPosition(0);
  if (size > 0) stream.CopyFrom(*table_, size);
}

int THelpContextMap::Count() const {
  return static_cast<int>(table_->Size() / 8);
}

THelpMapEntry THelpContextMap::Entry(int index) const {
  if (index < 0 || index >= Count()) throw EListError(Format("List index out of bounds (%d)", index));
  ByteReader in(table_->Memory() + static_cast<std::size_t>(index) * 8, 8);
  THelpMapEntry e;
  e.Hash = in.I32LE();
  e.Context = in.I32LE();
  return e;
}

void InitQhrContextMap() {
  RegisterClasses({&THelpContextMap::StaticClass()});
}
