#include "ResProc.h"

#include <algorithm>
#include <ctime>

#include "ByteReader.h"
#include "ByteWriter.h"
#include "JLocales.h"
#include "LocaleServices.h"
#include "PEReader.h"
#include "Scope.h"
#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TResStringItem)
FW_IMPLEMENT_CLASS(TResStringGroup)
FW_IMPLEMENT_CLASS(TResRCDataItem)
FW_IMPLEMENT_CLASS(TResBlock)
FW_IMPLEMENT_CLASS(TResString)
FW_IMPLEMENT_CLASS(TResRCData)
FW_IMPLEMENT_CLASS(TResProcessor)

namespace {

constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::int32_t kMaxStringID = 0xFFFF;

void WriteOut(TStream& stream, const std::string& bytes) {
  stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

// The end of a .res entry's header, after its type and name: data version,
// memory flags (discardable), neutral language, version and characteristics.
void PutResHeaderTail(ByteWriter& w) {
  w.U32LE(0);
  w.U16LE(0x1000);
  w.U16LE(0);
  w.U32LE(0);
  w.U32LE(0);
}

// Resource entries of a .res file start on 4-byte boundaries.
void PadToDword(TStream& stream) {
  const std::int64_t size = stream.Size();
  WriteOut(stream, std::string(static_cast<std::size_t>((4 - size % 4) % 4), '\0'));
}

std::u16string WideName(const std::string& name) {
  return AnsiToWideCodePage(name, LocaleServices().AnsiCodePage());
}

// Upper case as the loader folds a resource name before its search (ASCII, Latin-1, Cyrillic).
std::u16string UpperWide(std::u16string s) {
  for (char16_t& c : s) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x430 && c <= 0x44F))
      c = static_cast<char16_t>(c - 0x20);
    else if (c >= 0x450 && c <= 0x45F)
      c = static_cast<char16_t>(c - 0x50);
  }
  return s;
}

bool ParseResourceNumber(std::string_view text, std::uint32_t limit, std::uint32_t& value) {
  if (text.empty() || text.size() > 10) return false;
  std::uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (v > limit) return false;
  value = static_cast<std::uint32_t>(v);
  return true;
}

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

TModuleResourceReader& ModuleReader() {
  static TModuleResourceReader reader;
  return reader;
}

}  // namespace

std::uint32_t AlignUp(std::uint32_t x, std::uint32_t m) {
  return x % m == 0 ? x : (x / m + 1) * m;
}

std::uint32_t PEUnixTime(int year, int month, int day, int hour, int minute, int second, int millisecond) {
  std::int64_t ms = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400000 +
                    (static_cast<std::int64_t>(hour) * 3600 + minute * 60 + second) * 1000 + millisecond;
  ms += 8 * 3600 * 1000;  // counted from 1969-12-31 16:00:00
  std::int64_t seconds = ms >= 0 ? (ms + 500) / 1000 : -((-ms + 500) / 1000);
  return static_cast<std::uint32_t>(seconds);
}

std::uint32_t PEUnixTimeNow() {
  const std::tm local = LocalTime(std::time(nullptr));
  return PEUnixTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                    0);
}

// ---- TResStringGroup ----

TResStringGroup::TResStringGroup(TResString* owner, std::int32_t groupId) : owner_(owner), groupId_(groupId) {
  slots_.fill(-1);
}

std::uint32_t TResStringGroup::DataSize() const {
  std::uint32_t size = 0;
  for (std::int32_t id : slots_) {
    TResStringItem* item = id < 0 ? nullptr : owner_->FindString(id);
    size += 2 + (item ? 2 * static_cast<std::uint32_t>(item->Text.size()) : 0);
  }
  return size;
}

void TResStringGroup::WriteData(std::string& out) const {
  ByteWriter w(out);
  for (std::int32_t id : slots_) {
    TResStringItem* item = id < 0 ? nullptr : owner_->FindString(id);
    if (!item) {
      w.U16LE(0);
      continue;
    }
    w.U16LE(static_cast<std::uint16_t>(item->Text.size()));
    w.WideLE(item->Text);
  }
}

// ---- TResRCDataItem ----

bool TResRCDataItem::WrittenAsNumber(std::uint16_t* id) const {
  std::uint32_t value = 0;
  if (!numbered_ || !ParseResourceNumber(name_, 0xFFFF, value)) return false;
  if (id) *id = static_cast<std::uint16_t>(value);
  return true;
}

void TResRCDataItem::LoadData(TStream& stream) {
  stream.SetPosition(0);
  data_ = stream.ReadBytes(stream.Size());
}

void TResRCDataItem::SaveData(TStream& stream) const {
  WriteOut(stream, data_);
}

// ---- TResBlock ----

std::uint32_t TResBlock::TimeStamp() const {
  return processor_ ? processor_->TimeStamp : 0;
}

void TResBlock::WriteDirectories(std::string& out, std::uint32_t offset, std::uint16_t named,
                                 const std::vector<TTreeEntry>& entries) const {
  const std::uint32_t n = static_cast<std::uint32_t>(entries.size());
  ByteWriter w(out);
  // Name directory.
  w.U32LE(0);
  w.U32LE(TimeStamp());
  w.U32LE(0);
  w.U16LE(named);
  w.U16LE(static_cast<std::uint16_t>(n - named));
  for (std::uint32_t i = 0; i < n; ++i) {
    w.U32LE(entries[i].Name);
    w.U32LE(kHighBit | (offset + 16 + 8 * n + 24 * i));
  }
  // One language directory per resource, one language-neutral entry each.
  for (std::uint32_t i = 0; i < n; ++i) {
    w.U32LE(0);
    w.U32LE(TimeStamp());
    w.U32LE(0);
    w.U16LE(0);
    w.U16LE(1);
    w.U32LE(0);
    w.U32LE(offset + 16 + 32 * n + 16 * i);
  }
  for (std::uint32_t i = 0; i < n; ++i) {
    w.U32LE(kResSectionRVA + entries[i].DataOffset);
    w.U32LE(entries[i].DataSize);
    w.U32LE(0);
    w.U32LE(0);
  }
}

// ---- TResString ----

TResString::TResString(TResProcessor* processor)
    : TResBlock(processor), strings_(New<TJObjectList>()), groups_(New<TJObjectList>()) {}

void TResString::Destroy() {
  FreeAndNil(strings_);
  FreeAndNil(groups_);
  inherited::Destroy();
}

void TResString::Clear() {
  strings_->Clear();
  groups_->Clear();
}

TResStringItem* TResString::GetString(int index) const {
  if (index < 0 || index >= strings_->Count()) return nullptr;
  return static_cast<TResStringItem*>(strings_->GetItem(index));
}

TResStringGroup* TResString::GetGroup(int index) const {
  if (index < 0 || index >= groups_->Count()) return nullptr;
  return static_cast<TResStringGroup*>(groups_->GetItem(index));
}

TResStringItem* TResString::FindString(std::int32_t id) const {
  for (int i = 0; i < strings_->Count(); ++i) {
    TResStringItem* item = GetString(i);
    if (item->ID == id) return item;
    if (item->ID > id) break;
  }
  return nullptr;
}

int TResString::IndexOfID(std::int32_t id) const {
  for (int i = 0; i < strings_->Count(); ++i)
    if (GetString(i)->ID == id) return i;
  return -1;
}

int TResString::AddString(std::int32_t id, const std::u16string& text) {
  if (id < 0 || id > kMaxStringID) return -1;
  int pos = strings_->Count();
  for (int i = 0; i < strings_->Count(); ++i) {
    std::int32_t other = GetString(i)->ID;
    if (other == id) return -1;
    if (other > id) {
      pos = i;
      break;
    }
  }
  strings_->Insert(pos, New<TResStringItem>(id, text));

  const std::int32_t g = id / 16 + 1;
  int gpos = groups_->Count();
  TResStringGroup* group = nullptr;
  for (int i = 0; i < groups_->Count(); ++i) {
    TResStringGroup* other = GetGroup(i);
    if (other->GroupID() == g) {
      group = other;
      break;
    }
    if (other->GroupID() > g) {
      gpos = i;
      break;
    }
  }
  if (!group) {
    group = New<TResStringGroup>(this, g);
    groups_->Insert(gpos, group);
  }
  group->SetSlot(id - (g - 1) * 16, id);
  return pos;
}

void TResString::AddBlockData(std::uint32_t block, std::string_view data) {
  if (block == 0 || block > 4096) return;  // string-table blocks are numbered 1 to 4096
  ByteReader r(data);
  for (std::uint32_t slot = 0; slot < 16; ++slot) {
    if (r.Remaining() < 2) break;
    std::size_t length = r.U16LE();
    if (2 * length > r.Remaining()) break;
    std::string_view bytes = r.View(2 * length);
    if (length == 0) continue;
    std::u16string text(length, u'\0');
    for (std::size_t i = 0; i < length; ++i)
      text[i] = static_cast<char16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                      (static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8));
    AddString(static_cast<std::int32_t>((block - 1) * 16 + slot), text);
  }
}

std::uint32_t TResString::GetSize() const {
  std::uint32_t size = GetTreeSize();
  for (int i = 0; i < groups_->Count(); ++i) size += GetGroup(i)->DataSize();
  return size;
}

void TResString::WriteTree(TStream& stream, std::uint32_t offset) const {
  const std::uint32_t n = static_cast<std::uint32_t>(GetCount());
  std::vector<TTreeEntry> entries;
  std::uint32_t data = offset + GetTreeSize();
  for (std::uint32_t i = 0; i < n; ++i) {
    TResStringGroup* g = GetGroup(static_cast<int>(i));
    std::uint32_t size = g->DataSize();
    entries.push_back({static_cast<std::uint32_t>(g->GroupID()), data, size});
    data += size;
  }
  std::string out;
  WriteDirectories(out, offset, 0, entries);
  for (std::uint32_t i = 0; i < n; ++i) GetGroup(static_cast<int>(i))->WriteData(out);
  WriteOut(stream, out);
}

void TResString::WriteResFile(TStream& stream) const {
  for (int i = 0; i < GetCount(); ++i) {
    TResStringGroup* g = GetGroup(i);
    std::string out;
    ByteWriter w(out);
    w.U32LE(g->DataSize());
    w.U32LE(32);
    w.U16LE(0xFFFF);
    w.U16LE(kRTString);
    w.U16LE(0xFFFF);
    w.U16LE(static_cast<std::uint16_t>(g->GroupID()));
    PutResHeaderTail(w);
    g->WriteData(out);
    WriteOut(stream, out);
    PadToDword(stream);
  }
}

void TResString::LoadFromPEList(TPEResourceList* list) {
  Clear();
  for (int i = 0; i < list->Count(); ++i) {
    TPEResourceItem* item = list->Item(i);
    if (!item->IsNumbered()) continue;  // string-table blocks are numbered; a named one is no block
    AddBlockData(item->ID(), item->GetDataView());
  }
}

void TResString::LoadFromResList(const std::vector<TResListEntry>& list) {
  Clear();
  for (const TResListEntry& e : list) {
    std::uint32_t block = 0;
    if (e.Type == kRTString && ParseResourceNumber(e.Name, 0xFFFF, block)) AddBlockData(block, e.Data);
  }
}

// ---- TResRCData ----

TResRCData::TResRCData(TResProcessor* processor) : TResBlock(processor), items_(New<TJObjectList>()) {}

void TResRCData::Destroy() {
  FreeAndNil(items_);
  inherited::Destroy();
}

void TResRCData::Clear() {
  items_->Clear();
}

TResRCDataItem* TResRCData::AddItem(const std::string& name, bool numbered) {
  TResRCDataItem* item = New<TResRCDataItem>(name, numbered);
  items_->Add(item);
  return item;
}

TResRCDataItem* TResRCData::GetItem(int index) const {
  if (index < 0 || index >= items_->Count()) return nullptr;
  return static_cast<TResRCDataItem*>(items_->GetItem(index));
}

TResRCDataItem* TResRCData::FindItem(std::string_view name) const {
  std::string wanted = AnsiUpperCase(name);
  for (int i = 0; i < items_->Count(); ++i)
    if (AnsiUpperCase(GetItem(i)->GetName()) == wanted) return GetItem(i);
  return nullptr;
}

void TResRCData::RemoveItem(std::string_view name) {
  std::string wanted = AnsiUpperCase(name);
  for (int i = 0; i < items_->Count(); ++i)
    if (AnsiUpperCase(GetItem(i)->GetName()) == wanted) {
      items_->FreeAndDelete(i);
      return;
    }
}

std::vector<const TResRCDataItem*> TResRCData::WrittenOrder() const {
  struct Key {
    const TResRCDataItem* item;
    bool number;
    std::uint16_t id;
    std::u16string upper;
  };
  std::vector<Key> keys;
  for (int i = 0; i < items_->Count(); ++i) {
    Key k{GetItem(i), false, 0, {}};
    k.number = k.item->WrittenAsNumber(&k.id);
    if (!k.number) k.upper = UpperWide(WideName(k.item->GetName()));
    keys.push_back(std::move(k));
  }
  std::stable_sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
    if (a.number != b.number) return !a.number;
    if (a.number) return a.id < b.id;
    return a.upper < b.upper;
  });
  std::vector<const TResRCDataItem*> order;
  for (const Key& k : keys) order.push_back(k.item);
  return order;
}

std::uint32_t TResRCData::GetSize() const {
  std::uint32_t size = GetTreeSize();
  for (int i = 0; i < items_->Count(); ++i) {
    TResRCDataItem* item = GetItem(i);
    if (!item->WrittenAsNumber()) size += 2 + 2 * static_cast<std::uint32_t>(WideName(item->GetName()).size());
    size += static_cast<std::uint32_t>(item->Data().size());
  }
  return size;
}

void TResRCData::WriteTree(TStream& stream, std::uint32_t offset) const {
  std::vector<const TResRCDataItem*> order = WrittenOrder();
  const std::uint32_t n = static_cast<std::uint32_t>(order.size());
  std::string names;
  ByteWriter nameWriter(names);
  std::uint32_t namesStart = offset + GetTreeSize();
  std::uint16_t named = 0;
  std::vector<TTreeEntry> entries;
  for (const TResRCDataItem* item : order) {
    std::uint16_t id = 0;
    if (item->WrittenAsNumber(&id)) {
      entries.push_back({id, 0, 0});
    } else {
      ++named;
      // Stored upper-cased: the system upper-cases the name it looks for and compares exactly.
      std::u16string wide = UpperWide(WideName(item->GetName()));
      entries.push_back({kHighBit | (namesStart + static_cast<std::uint32_t>(names.size())), 0, 0});
      nameWriter.U16LE(static_cast<std::uint16_t>(wide.size()));
      nameWriter.WideLE(wide);
    }
  }
  std::uint32_t data = namesStart + static_cast<std::uint32_t>(names.size());
  for (std::uint32_t i = 0; i < n; ++i) {
    entries[i].DataOffset = data;
    entries[i].DataSize = static_cast<std::uint32_t>(order[i]->Data().size());
    data += entries[i].DataSize;
  }
  std::string out;
  WriteDirectories(out, offset, named, entries);
  out += names;
  for (const TResRCDataItem* item : order) out += item->Data();
  WriteOut(stream, out);
}

void TResRCData::WriteResFile(TStream& stream) const {
  for (int i = 0; i < GetCount(); ++i) {
    TResRCDataItem* item = GetItem(i);
    std::u16string wide = WideName(item->GetName());
    std::uint32_t c = AlignUp(2 * static_cast<std::uint32_t>(wide.size()) + 2, 4);
    std::string out;
    ByteWriter w(out);
    w.U32LE(static_cast<std::uint32_t>(item->Data().size()));
    w.U32LE(28 + c);
    w.U16LE(0xFFFF);
    w.U16LE(kRTRCData);
    const std::size_t nameStart = w.Size();
    w.WideLE(wide);
    w.U16LE(0);
    w.Zeros(nameStart + c - w.Size());
    PutResHeaderTail(w);
    w.Bytes(item->Data());
    WriteOut(stream, out);
    PadToDword(stream);
  }
}

void TResRCData::LoadFromPEList(TPEResourceList* list) {
  Clear();
  for (int i = 0; i < list->Count(); ++i) {
    TPEResourceItem* pe = list->Item(i);
    TResRCDataItem* item = AddItem(pe->GetName(), pe->IsNumbered());
    item->SetData(std::string(pe->GetDataView()));
  }
}

void TResRCData::LoadFromResList(const std::vector<TResListEntry>& list) {
  Clear();
  for (const TResListEntry& e : list)
    if (e.Type == kRTRCData) AddItem(e.Name, false)->SetData(std::string(e.Data));
}

// ---- TResProcessor ----

TResProcessor::TResProcessor() : TimeStamp(PEUnixTimeNow()), blocks_(New<TJObjectList>()) {}

void TResProcessor::Destroy() {
  FreeAndNil(blocks_);
  inherited::Destroy();
}

void TResProcessor::AddBlock(TResBlock* block) {
  blocks_->Add(block);
}

TResBlock* TResProcessor::FindBlock(std::uint16_t type) const {
  for (int i = 0; i < blocks_->Count(); ++i)
    if (GetBlock(i)->GetResType() == type) return GetBlock(i);
  return nullptr;
}

void TResProcessor::Clear() {
  blocks_->Clear();
}

void TResProcessor::SetModuleResourceReader(TModuleResourceReader reader) {
  ModuleReader() = std::move(reader);
}

void TResProcessor::LoadFromModule(void* module) {
  if (!ModuleReader()) throw EInvalidOperation("Module resources cannot be read on this platform");
  LoadFromModuleResources(ModuleReader()(module));
}

void TResProcessor::LoadFromModuleResources(const std::vector<TResListEntry>& resources) {
  Clear();
  TResString* strings = New<TResString>(this);
  for (const TResListEntry& e : resources) {
    std::uint32_t block = 0;
    if (e.Type == kRTString && e.Numbered && ParseResourceNumber(e.Name, 0xFFFF, block))
      strings->AddBlockData(block, e.Data);
  }
  if (strings->StringCount() > 0)
    AddBlock(strings);
  else
    strings->Free();
  TResRCData* rcdata = New<TResRCData>(this);
  for (const TResListEntry& e : resources)
    if (e.Type == kRTRCData) rcdata->AddItem(e.Name, e.Numbered)->SetData(std::string(e.Data));
  if (rcdata->GetCount() > 0)
    AddBlock(rcdata);
  else
    rcdata->Free();
}

void TResProcessor::LoadFromReader(TPEReader* reader) {
  Clear();
  TPEResourceList* root = reader->GetResources();
  for (int i = 0; i < root->Count(); ++i) {
    TPEResourceItem* type = root->Item(i);
    std::string name = type->GetName();
    TResBlock* block = nullptr;
    if (name == "String")
      block = New<TResString>(this);
    else if (name == "RCData")
      block = New<TResRCData>(this);
    else
      continue;
    try {
      if (type->IsList()) block->LoadFromPEList(type->GetList());  // an empty type holds nothing
    } catch (...) {
      block->Free();
      throw;
    }
    AddBlock(block);
  }
}

void TResProcessor::LoadFromPEFile(const std::string& fileName) {
  Clear();
  TPEReader* reader = New<TPEReader>(fileName);
  TScopeExit freeReader([reader] { FreeObject(reader); });
  LoadFromReader(reader);
}

void TResProcessor::LoadFromPEImage(std::string image) {
  Clear();
  TPEReader* reader = TPEReader::FromImage(std::move(image));
  TScopeExit freeReader([reader] { FreeObject(reader); });
  LoadFromReader(reader);
}

std::uint32_t TResProcessor::GetSectionSize() const {
  std::uint32_t size = 16 + 8 * static_cast<std::uint32_t>(blocks_->Count());
  for (int i = 0; i < blocks_->Count(); ++i) size += GetBlock(i)->GetSize();
  return size;
}

std::vector<const TResBlock*> TResProcessor::WrittenBlocks() const {
  std::vector<const TResBlock*> order;
  for (int i = 0; i < blocks_->Count(); ++i) order.push_back(GetBlock(i));
  std::stable_sort(order.begin(), order.end(), [](const TResBlock* a, const TResBlock* b) {
    return (a->GetResType() & 0x7F) < (b->GetResType() & 0x7F);
  });
  return order;
}

std::string TResProcessor::ResourceDLLImage() const {
  const std::uint32_t S = GetSectionSize();
  const std::uint32_t raw = AlignUp(S, kResFileAlign);
  std::string image(kResHeadersSize, '\0');
  ByteWriter w(image);

  // DOS header and stub.
  w.BytesAt(0, "MZ");
  w.U16LEAt(2, 0x0050);
  w.U16LEAt(4, 0x0002);
  w.U16LEAt(8, 0x0004);
  w.U16LEAt(10, 0x000F);
  w.U16LEAt(12, 0xFFFF);
  w.U16LEAt(16, 0x00B8);
  w.U16LEAt(24, 0x0040);
  w.U16LEAt(26, 0x001A);
  w.U32LEAt(60, 0x100);
  static const unsigned char kStubCode[16] = {0xBA, 0x10, 0x00, 0x0E, 0x1F, 0xB4, 0x09, 0xCD,
                                              0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21, 0x90, 0x90};
  std::string stub(reinterpret_cast<const char*>(kStubCode), sizeof kStubCode);
  stub += "This program must be run under Win32";
  stub += "\x0D\x0A\x24\x37";
  w.BytesAt(64, stub);

  // NT headers: signature, file header, optional header.
  w.BytesAt(256, std::string_view("PE\0\0", 4));
  w.U16LEAt(260, 0x014C);
  w.U16LEAt(262, 1);
  w.U32LEAt(264, TimeStamp);
  w.U16LEAt(276, 0x00E0);
  w.U16LEAt(278, 0xA18E);
  w.U16LEAt(280, 0x010B);
  w.U8At(282, 1);
  w.U8At(283, 0);
  w.U32LEAt(308, 0x00400000);
  w.U32LEAt(312, kResSectionAlign);
  w.U32LEAt(316, kResFileAlign);
  w.U16LEAt(320, 1);
  w.U16LEAt(324, 1);
  w.U16LEAt(328, 4);
  // The image spans the headers' page, the page before the section and the section itself.
  w.U32LEAt(336, kResSectionRVA + AlignUp(S, kResSectionAlign));
  w.U32LEAt(340, kResHeadersSize);
  w.U16LEAt(348, 2);
  w.U16LEAt(350, 0x0001);
  w.U32LEAt(352, 0x1000);
  w.U32LEAt(356, 0x100);
  w.U32LEAt(360, 0x1000);
  w.U32LEAt(364, 0x100);
  w.U32LEAt(372, 16);
  w.U32LEAt(376 + 2 * 8, kResSectionRVA);
  w.U32LEAt(376 + 2 * 8 + 4, raw);

  // Section header.
  w.BytesAt(504, std::string_view(".rsrc\0\0\0", 8));
  w.U32LEAt(512, S);
  w.U32LEAt(516, kResSectionRVA);
  w.U32LEAt(520, raw);
  w.U32LEAt(524, kResHeadersSize);
  w.U32LEAt(540, 0x40000000);

  // Resource section: root directory, one entry per block, the blocks' subtrees.
  std::vector<const TResBlock*> blocks = WrittenBlocks();
  const std::uint32_t count = static_cast<std::uint32_t>(blocks.size());
  w.U32LE(0);
  w.U32LE(TimeStamp);
  w.U32LE(0);
  w.U16LE(0);
  w.U16LE(static_cast<std::uint16_t>(count));
  std::uint32_t offset = 16 + 8 * count;
  for (const TResBlock* block : blocks) {
    w.U32LE(static_cast<std::uint32_t>(block->GetResType() & 0x7F));
    w.U32LE(kHighBit | offset);
    offset += block->GetSize();
  }
  TStringStream trees;
  offset = 16 + 8 * count;
  for (const TResBlock* block : blocks) {
    block->WriteTree(trees, offset);
    offset += block->GetSize();
  }
  w.Bytes(trees.DataString());
  image.resize(kResHeadersSize + raw, '\0');
  return image;
}

void TResProcessor::WriteResourceDLL(TStream& stream) const {
  WriteOut(stream, ResourceDLLImage());
}
