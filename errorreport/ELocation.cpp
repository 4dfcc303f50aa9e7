#include "ELocation.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "ByteReader.h"
#include "EBase64.h"
#include "ECore.h"
#include "EEncrypt.h"
#include "EHook.h"
#include "SysUtils.h"

namespace {
LocationEnvironment* g_environment = nullptr;

// The longest function an export is measured over.
constexpr std::size_t kMaxMeasuredFunction = 0x10000;

// Reads the name strings of one line table.
class NameReader {
 public:
  NameReader(std::uint16_t version, bool passwordAccepted, const std::string& password)
      : version_(version), accepted_(passwordAccepted), password_(password) {}

  std::string Read(ByteReader& r, bool unitName) const {
    std::string text;
    bool more = true;
    while (more) {
      std::uint8_t length = r.U8();
      more = version_ > 501 && (length & 0x80) != 0;
      if (more) length &= 0x7F;
      text += Plain(r.View(length));
      if (more) text += '.';
    }
    if (version_ >= 500 && !accepted_) {
      // Every part reads "?" + Base64 here; a unit name gets "p" as its second character.
      if (unitName) text = std::string("?p").append(text, 1, std::string::npos);
    } else if (version_ >= 500 && unitName && text.find('.') == std::string::npos) {
      text += ".pas";
    }
    return text;
  }

 private:
  std::string Plain(std::string_view stored) const {
    std::string bytes(stored);
    if (version_ < 500) {
      for (char& c : bytes) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ kOptionKey);
      return bytes;
    }
    if (!accepted_) {
      std::string encoded;
      Base64EncodeBuffer(bytes.data(), bytes.size(), encoded);
      return "?" + encoded;
    }
    SetCipherPassword(password_);
    auto* p = reinterpret_cast<std::uint8_t*>(bytes.data());
    DecryptBufferCbc(p, p, bytes.size());
    return bytes;
  }

  std::uint16_t version_;
  bool accepted_;
  const std::string& password_;
};

struct Entry {
  std::uint32_t LineDelta = 0;
  std::uint32_t CodeDelta = 0;
  bool OpensProcedure = false;
};

Entry ReadEntry(ByteReader& r, std::uint16_t version) {
  Entry e;
  const std::uint8_t b = r.U8();
  if ((b & 1) == 0) {
    e.LineDelta = (b >> 6) + 1u;
    e.CodeDelta = ((b >> 1) & 0x1Fu) + 1u;
  } else if ((b & 2) == 0) {
    e.OpensProcedure = true;
    e.LineDelta = (b >> 5) + 1u;
    e.CodeDelta = ((b >> 2) & 7u) + 1u;
  } else if ((b & 8) == 0) {
    const std::uint32_t w = b | (static_cast<std::uint32_t>(r.U8()) << 8);
    e.OpensProcedure = (b & 4) != 0;
    e.LineDelta = (w >> 11) + 1u;
    e.CodeDelta = ((w >> 4) & 0x7Fu) + 1u;
  } else {
    std::uint32_t d = b;
    for (int i = 1; i < 4; ++i) d |= static_cast<std::uint32_t>(r.U8()) << (8 * i);
    e.OpensProcedure = (b & 4) != 0;
    const std::uint32_t x = d >> 4;
    if (x == 0x0FFEFFFEu && version > 422) {
      e.LineDelta = r.U16LE() + 1u;
      e.CodeDelta = r.U16LE() + 1u;
    } else {
      e.LineDelta = (x & 0xFFFFu) + 1u;
      e.CodeDelta = (x >> 16) == 0xFFFu ? 0u : (x >> 16) + 1u;
    }
  }
  return e;
}

struct Procedure {
  std::string Name, ClassName;
  std::int32_t FirstLine = 0;
  std::uint32_t Start = 0;
  bool Known = false;
};

// A procedure name as the table stores it: "." + name continues the class
// of the previous procedure, "Class.Name" names its class.
void SplitProcedureName(std::string name, const std::string& previousClass, Procedure& p) {
  if (!name.empty() && name[0] == '.') {
    p.ClassName = previousClass;
    p.Name = name.substr(1);
  } else if (const std::size_t dot = name.find('.'); dot != std::string::npos) {
    p.ClassName = name.substr(0, dot);
    p.Name = name.substr(dot + 1);
  } else {
    p.ClassName.clear();
    p.Name = std::move(name);
  }
  if (!p.Name.empty() && p.Name[0] == '@') p.Name[0] = '_';
}

bool BeginsWithFrameOrPushEbx(MemoryReader* memory, std::uint64_t code, bool& readable) {
  std::uint8_t bytes[3] = {};
  readable = memory && memory->Read(code, bytes, 1);
  if (!readable) return false;
  if (bytes[0] == 0x53) return true;
  if (bytes[0] != 0x55 || !memory->Read(code, bytes, 3)) return false;
  return bytes[1] == 0x8B && bytes[2] == 0xEC;
}

}  // namespace

void SetLocationEnvironment(LocationEnvironment* environment) {
  g_environment = environment;
}
LocationEnvironment* GetLocationEnvironment() {
  return g_environment;
}

namespace {

void SkipName(ByteReader& r, std::uint16_t version) {
  bool more = true;
  while (more) {
    std::uint8_t length = r.U8();
    more = version > 501 && (length & 0x80) != 0;
    r.Skip(more ? length & 0x7Fu : length);
  }
}

// Where each unit record of a line table starts and which code it covers,
// read once: a lookup walks only the records that hold its address, in
// table order. A record that lies about its size ends the index (and any
// lookup past it finds nothing, as a walk would).
struct LineTableIndex {
  struct Unit {
    std::uint32_t Start, Last;  // code offsets, both inclusive
    std::size_t Header;         // where the record begins
  };
  const void* Data = nullptr;
  std::size_t Size = 0;
  std::uint16_t Version = 0;
  std::vector<Unit> Units;              // in table order
  std::vector<std::uint32_t> ByStart;   // indexes into Units, by code start
  std::vector<std::uint32_t> ReachMax;  // the greatest Last up to each place of ByStart
};

std::shared_ptr<const LineTableIndex> MakeIndex(const std::uint8_t* data, std::size_t size, std::uint16_t version) {
  auto index = std::make_shared<LineTableIndex>();
  index->Data = data;
  index->Size = size;
  index->Version = version;
  try {
    ByteReader r(data, size);
    if (version > 404 && version < 500) r.Skip(r.U32LE());
    const std::uint32_t units = r.U32LE();
    for (std::uint32_t u = 0; u < units; ++u) {
      const std::size_t header = r.Position();
      SkipName(r, version);
      r.Skip(4);
      const std::uint32_t codeStart = r.U32LE(), codeSize = r.U32LE(), entriesSize = r.U32LE();
      r.Skip(entriesSize);
      if (codeSize == 0) continue;
      const std::uint64_t last = static_cast<std::uint64_t>(codeStart) + codeSize - 1;
      index->Units.push_back(
          {codeStart, static_cast<std::uint32_t>(std::min<std::uint64_t>(last, 0xFFFFFFFFu)), header});
    }
  } catch (const EByteRange&) {
  }
  const auto& units = index->Units;
  index->ByStart.resize(units.size());
  for (std::uint32_t i = 0; i < units.size(); ++i) index->ByStart[i] = i;
  std::stable_sort(index->ByStart.begin(), index->ByStart.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return units[a].Start < units[b].Start; });
  std::uint32_t reach = 0;
  for (std::uint32_t i : index->ByStart) {
    reach = std::max(reach, units[i].Last);
    index->ReachMax.push_back(reach);
  }
  return index;
}

// The records whose code holds `offset`, in table order.
std::vector<std::size_t> RecordsHolding(const LineTableIndex& index, std::uint32_t offset) {
  std::vector<std::uint32_t> hits;
  const auto& by = index.ByStart;
  std::size_t i = static_cast<std::size_t>(
      std::upper_bound(by.begin(), by.end(), offset,
                       [&](std::uint32_t o, std::uint32_t u) { return o < index.Units[u].Start; }) -
      by.begin());
  while (i > 0 && index.ReachMax[i - 1] >= offset) {
    --i;
    if (index.Units[by[i]].Last >= offset) hits.push_back(by[i]);
  }
  std::sort(hits.begin(), hits.end());
  std::vector<std::size_t> headers;
  for (std::uint32_t h : hits) headers.push_back(index.Units[h].Header);
  return headers;
}

// The walk of one unit record that holds `offset`; false when its entries
// name no range for it.
bool WalkUnit(ByteReader& r, std::uint32_t offset, const NameReader& names, TVantorModuleInfo& module,
              TVLLocationInfo& location) {
  const std::uint16_t version = module.DataVersion;
  const std::string unitName = names.Read(r, true);
  const std::int32_t firstLine = r.I32LE();
  const std::uint32_t codeStart = r.U32LE();
  r.Skip(4);
  const std::uint32_t entriesSize = r.U32LE();
  ByteReader entries(r.View(entriesSize));
  std::int32_t line = firstLine;
  std::uint64_t at = codeStart;
  Procedure current, next;
  bool found = false;
  while (!entries.AtEnd() && !found && offset >= at) {
    const Entry e = ReadEntry(entries, version);
    const std::int32_t nextLine = static_cast<std::int32_t>(line + static_cast<std::int64_t>(e.LineDelta));
    const std::uint64_t nextAt = at + e.CodeDelta;
    if (e.OpensProcedure) {
      next.FirstLine = nextLine;
      next.Start = static_cast<std::uint32_t>(nextAt);
      next.Known = true;
      SplitProcedureName(names.Read(entries, false), current.ClassName, next);
      if (!current.Known && current.Name.empty()) current = next;
    }
    // The range up to this entry belongs to the line and procedure before it.
    if (offset >= at && offset < nextAt) {
      found = true;
      break;
    }
    if (e.OpensProcedure) current = next;
    line = nextLine;
    at = nextAt;
  }
  if (!found && entries.AtEnd() && offset >= at) found = true;  // the unit's last range
  if (!found) return false;
  LocationEnvironment* env = g_environment;
  if (env && env->IsOwnUnit(unitName) && !env->ReportingOwnFailure()) {
    location.Kind = 1;
    location.UnitName.clear();
    location.ClassName.clear();
    location.ProcedureName.clear();
    location.Line = 0;
    location.LineInProcedure = 0;
    return true;
  }
  location.Kind = 4;
  location.UnitName = unitName;
  location.ClassName = current.ClassName;
  location.ProcedureName = current.Name;
  location.Line = line;
  location.LineInProcedure = 0;
  if (current.Known) {
    // Line numbers wrap as the walk adds the table's deltas, so the distance
    // is taken the same way: a table that runs past the largest line number
    // still gives the count of lines walked, never an overflow.
    auto first = static_cast<std::uint32_t>(current.FirstLine);
    bool readable = false;
    if (current.Name == "Finalization") {
      --first;
    } else if (current.Name == "Initialization") {
      const bool framed = BeginsWithFrameOrPushEbx(env ? env->Memory() : nullptr,
                                                   CodeAddressFromOffset(module.Handle, current.Start), readable);
      if (readable && !framed) --first;
    }
    location.LineInProcedure = std::max(0, static_cast<std::int32_t>(static_cast<std::uint32_t>(line) - first));
  }
  return true;
}

}  // namespace

bool LocateInOwnDebugData(std::uint64_t address, TVLLocationInfo& location) {
  TVantorModuleInfo* module = location.Module;
  if (!module || !module->DebugData) return false;
  const std::uint64_t rel = address - module->Handle - kCodeStartRva;
  if (address < module->Handle + kCodeStartRva || rel > 0xFFFFFFFFu) return false;
  const auto offset = static_cast<std::uint32_t>(rel);
  const std::uint8_t* data = module->DebugData->Memory();
  const auto size = static_cast<std::size_t>(module->DebugData->Size());
  auto index = std::static_pointer_cast<const LineTableIndex>(module->DebugDataIndex);
  if (!index || index->Data != data || index->Size != size || index->Version != module->DataVersion) {
    index = MakeIndex(data, size, module->DataVersion);
    module->DebugDataIndex = index;
  }
  const NameReader names(module->DataVersion, module->PasswordAccepted != 0, module->Password);
  module->DebugData->SetPosition(0);
  for (std::size_t header : RecordsHolding(*index, offset)) {
    try {
      ByteReader r(data, size);
      r.Seek(header);
      if (WalkUnit(r, offset, names, *module, location)) {
        location.Address = address;
        return true;
      }
    } catch (const EByteRange&) {
      return false;
    }
  }
  return false;
}

bool LocateInDebugInfoSource(std::uint64_t address, TVLLocationInfo& location) {
  TVantorModuleInfo* module = location.Module;
  auto* source = module ? dynamic_cast<TVLDebugInfoSource*>(module->DebugSource) : nullptr;
  if (!source) return false;
  TVLDebugLocation info;
  try {
    if (!source->GetLocation(address, info)) return false;
  } catch (const EByteRange&) {
    return false;
  } catch (const Exception&) {
    return false;
  }
  location.Kind = 4;
  location.Address = info.Address;
  location.UnitName = ExtractFileName(info.SourceName.empty() ? info.UnitName : info.SourceName);
  std::vector<std::string> parts;
  for (std::size_t start = 0;;) {
    const std::size_t dot = info.ProcedureName.find('.', start);
    parts.push_back(info.ProcedureName.substr(start, dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  location.ClassName.clear();
  if (parts.size() >= 3) {
    location.ProcedureName = parts.back();
    std::string cls;
    for (std::size_t i = 1; i + 1 < parts.size(); ++i) cls += (i > 1 ? "." : "") + parts[i];
    location.ClassName = cls;
  } else if (parts.size() == 2) {
    location.ProcedureName = parts[1];
    if (!SameText(parts[0], ChangeFileExt(location.UnitName, ""))) location.ClassName = parts[0];
  } else {
    location.ProcedureName = parts[0];
  }
  if (!location.ProcedureName.empty() && location.ProcedureName[0] == '@') location.ProcedureName[0] = '_';
  location.Line = info.LineNumber;
  location.LineInProcedure = info.LineInProcedure;
  if (location.Line != 0)
    location.Kind = 4;
  else if (!location.UnitName.empty())
    location.Kind = 3;
  else if (!location.ProcedureName.empty())
    location.Kind = 2;
  else
    location.Kind = location.Module ? 1 : 0;
  return true;
}

bool FindFunctionAt(TVantorModuleInfo& module, std::uint64_t address, int& index) {
  index = -1;
  TVantorFunctionsList* list = module.Exports;
  if (!list || list->Count() == 0) return false;
  int lo = 0, hi = list->Count() - 1, found = -1;
  while (lo <= hi) {
    const int mid = lo + (hi - lo) / 2;
    if (list->Items(mid)->Address <= address) {
      found = mid;
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  if (found < 0) return false;
  TVantorFunctionInfo* f = list->Items(found);
  if (f->Length == 0) {
    MemoryReader* memory = g_environment ? g_environment->Memory() : nullptr;
    f->Length =
        memory ? static_cast<std::uint32_t>(MeasureCodeToReturn(*memory, f->Address, kMaxMeasuredFunction)) : 1u;
    if (f->Length == 0) f->Length = 1;
  }
  if (address - f->Address >= f->Length) return false;
  index = found;
  return true;
}

void SplitExportName(std::string_view name, TVLLocationInfo& location) {
  auto splitInto = [&location](std::string text) {
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
      const std::size_t dot = text.find('.', start);
      parts.push_back(text.substr(start, dot - start));
      if (dot == std::string::npos) break;
      start = dot + 1;
    }
    if (parts.size() != 2 && parts.size() != 3) return;
    location.UnitName = parts[0] + ".pas";
    location.ClassName = parts.size() == 3 ? parts[1] : std::string();
    location.ProcedureName = parts.back();
    if (!location.ProcedureName.empty() && location.ProcedureName[0] == '@') location.ProcedureName[0] = '_';
    location.Kind = 3;
  };
  if (!name.empty() && name[0] == '@') {
    std::string text(name.substr(1));
    if (name.size() < 2 || name[1] != '$') {
      const std::size_t dollar = text.find('$');
      if (dollar != std::string::npos) text.resize(dollar);
    }
    if (!text.empty() && text.back() == '@') text.pop_back();
    for (std::size_t at = text.find("@@"); at != std::string::npos; at = text.find("@@", at + 2)) text[at + 1] = '_';
    std::replace(text.begin(), text.end(), '@', '.');
    splitInto(std::move(text));
  } else if (name.find('.') != std::string_view::npos) {
    splitInto(std::string(name.substr(0, name.find('@'))));
  } else if (name.empty() || name[0] != '?') {
    location.ProcedureName = std::string(name);
    if (!location.ProcedureName.empty() && location.ProcedureName[0] == '@') location.ProcedureName[0] = '_';
    location.Kind = 2;
  }
}

void LocateAddress(std::uint64_t address, std::int32_t threadId, TVLLocationInfo& location, std::uint8_t faultingThread,
                   std::uint8_t firstEntry) {
  location = TVLLocationInfo{};
  location.Module = g_environment ? g_environment->ModuleEntryOf(address) : nullptr;
  location.ThreadId = threadId;
  location.FaultingThread = faultingThread;
  location.FirstEntry = firstEntry;
  if (LocateInOwnDebugData(address, location) || LocateInDebugInfoSource(address, location)) return;
  location.Kind = 0;
  location.Address = address;
  location.Line = 0;
  if (!location.Module) return;
  location.Kind = 1;
  int index;
  if (FindFunctionAt(*location.Module, address, index))
    SplitExportName(location.Module->Exports->Items(index)->Name, location);
}
