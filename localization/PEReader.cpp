#include "PEReader.h"

#include <array>
#include <utility>

#include "JCompress.h"
#include "JLocales.h"
#include "LocaleServices.h"
#include "Streams.h"
#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TPEResourceList)
FW_IMPLEMENT_CLASS(TPEResourceItem)
FW_IMPLEMENT_CLASS(TPEReader)

namespace {

constexpr std::array<const char*, 17> kTypeNames = {
    "Unknown0",     "CursorEntry", "Bitmap",       "IconEntry", "Menu",      "Dialog", "String",    "FontDir", "Font",
    "Accelerators", "RCData",      "MessageTable", "Cursor",    "Unknown13", "Icon",   "Unknown15", "Version"};

constexpr std::uint32_t kHighBit = 0x80000000u;

// A name list (depth 1) holds leaves: the tree's third level is the languages.
constexpr int kLeafListDepth = 1;

std::string SectionName(const ByteReader& image, std::size_t header) {
  std::string name;
  for (std::size_t i = 0; i < 8; ++i) {
    char c = static_cast<char>(image.U8At(header + i));
    if (c == 0) break;
    name.push_back(c);
  }
  return name;
}

}  // namespace

std::string ResourceTypeName(std::uint32_t id) {
  return id < kTypeNames.size() ? kTypeNames[id] : "";
}

// ---- TPEReader ----

TPEReader::TPEReader(const std::string& fileName) : TComponent(nullptr), fileName_(fileName) {
  std::string image;
  try {
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    image = file.ReadBytes(file.Size());
    if (IsLzjData(image)) image = LzjDecompress(image);
  } catch (const std::exception&) {
    throw EExeError(Format(LoadResString(SExeOpenError), fileName));
  }
  SetImage(std::move(image));
}

TPEReader::TPEReader(FromImageTag, std::string image) : TComponent(nullptr) {
  if (IsLzjData(image)) image = LzjDecompress(image);
  SetImage(std::move(image));
}

TPEReader* TPEReader::FromImage(std::string image) {
  return New<TPEReader>(FromImageTag{}, std::move(image));
}

void TPEReader::SetImage(std::string image) {
  image_ = std::move(image);
  CheckHeaders();
}

void TPEReader::CheckHeaders() {
  if (image_.empty()) throw EExeError(LoadResString(SExeEmptyImage));
  ByteReader image(image_);
  if (image_.size() < 2 || image_[0] != 'M' || image_[1] != 'Z') throw EExeError(LoadResString(SExeUnrecognized));
  try {
    ntHeaders_ = image.U32LEAt(60);
    if (!image.Fits(ntHeaders_, kPENtHeaders32Size)) throw EExeError(LoadResString(SExeNotPE));
    if (image.U32LEAt(ntHeaders_) != 0x00004550u) throw EExeError(LoadResString(SExeNotPE));
    sectionCount_ = image.U16LEAt(ntHeaders_ + kPEFileHeaderOffset + 2);
    // The section table follows the optional header, whose size the file header gives
    // (0xE0 in a 32-bit image, which puts the table 248 bytes after the signature).
    std::size_t optionalSize = image.U16LEAt(ntHeaders_ + kPEFileHeaderOffset + 16);
    sectionTable_ = ntHeaders_ + 24 + optionalSize;
    if (!image.Fits(sectionTable_, kPESectionHeaderSize * static_cast<std::size_t>(sectionCount_)))
      throw EExeError(LoadResString(SExeNotPE));
  } catch (const EByteRange&) {
    throw EExeError(LoadResString(SExeNotPE));
  }
}

int TPEReader::SectionCount() const {
  return sectionCount_;
}

TPESection TPEReader::Section(int index) const {
  ByteReader image(image_);
  std::size_t h = sectionTable_ + kPESectionHeaderSize * static_cast<std::size_t>(index);
  TPESection s;
  try {
    s.Name = SectionName(image, h);
    s.VirtualSize = image.U32LEAt(h + 8);
    s.VirtualAddress = image.U32LEAt(h + 12);
    s.SizeOfRawData = image.U32LEAt(h + 16);
    s.PointerToRawData = image.U32LEAt(h + 20);
    s.Characteristics = image.U32LEAt(h + 36);
  } catch (const EByteRange&) {
    throw EExeError(LoadResString(SExeNotPE));
  }
  return s;
}

bool TPEReader::FindSection(std::string_view name, TPESection& section) const {
  std::string wanted = UpperCase(name.substr(0, 8));
  for (int i = 0; i < sectionCount_; ++i) {
    TPESection s = Section(i);
    if (UpperCase(s.Name) == wanted) {
      section = s;
      return true;
    }
  }
  return false;
}

TPEResourceList* TPEReader::GetResources() {
  if (root_) return root_;
  TPESection s;
  if (!FindSection(".rsrc", s)) throw EExeError(LoadResString(SExeNoResources));
  ByteReader image(image_);
  if (!image.Fits(s.PointerToRawData, s.SizeOfRawData)) throw EExeError(LoadResString(SExeNotPE));
  rsrcBase_ = reinterpret_cast<const std::uint8_t*>(image_.data()) + s.PointerToRawData;
  rsrc_ = ByteReader(rsrcBase_, s.SizeOfRawData);
  rsrcVA_ = s.VirtualAddress;
  root_ = New<TPEResourceList>(this, this, 0u, 0u, 0);
  return root_;
}

void TPEReader::RaiseBadResources() {
  throw EExeError(LoadResString(SExeBadResources));
}

// ---- TPEResourceList ----

TPEResourceList::TPEResourceList(TComponent* owner, TPEReader* reader, std::uint32_t directory, std::uint32_t resType,
                                 int depth)
    : TComponent(owner), reader_(reader), directory_(directory), resType_(resType), depth_(depth) {}

void TPEResourceList::GetItems() {
  if (made_) return;
  const ByteReader& rsrc = reader_->ResourceSection();
  std::size_t count = 0;
  try {
    count = std::size_t{rsrc.U16LEAt(directory_ + 12)} + rsrc.U16LEAt(directory_ + 14);
  } catch (const EByteRange&) {
    TPEReader::RaiseBadResources();
  }
  std::size_t first = std::size_t{directory_} + kResDirectorySize;
  if (!rsrc.Fits(first, count * kResDirEntrySize)) TPEReader::RaiseBadResources();
  made_ = true;
  items_.reserve(count);
  for (std::size_t i = 0; i < count; ++i)
    items_.push_back(New<TPEResourceItem>(this, static_cast<std::uint32_t>(first + i * kResDirEntrySize)));
}

int TPEResourceList::Count() {
  GetItems();
  return static_cast<int>(items_.size());
}

TPEResourceItem* TPEResourceList::Item(int index) {
  GetItems();
  if (index < 0 || index >= static_cast<int>(items_.size()))
    throw EListError(Format("List index out of bounds (%d)", index));
  return items_[static_cast<std::size_t>(index)];
}

// ---- TPEResourceItem ----

TPEResourceItem::TPEResourceItem(TPEResourceList* list, std::uint32_t entry)
    : TComponent(list), list_(list), entry_(entry) {}

std::uint32_t TPEResourceItem::NameField() const {
  return list_->Reader()->ResourceSection().U32LEAt(entry_);
}
std::uint32_t TPEResourceItem::OffsetField() const {
  return list_->Reader()->ResourceSection().U32LEAt(entry_ + 4);
}

std::string TPEResourceItem::GetName() {
  std::uint32_t field = NameField();
  if (list_->Depth() == 0 && field <= 16) return ResourceTypeName(field);
  if (field & kHighBit) {
    const ByteReader& rsrc = list_->Reader()->ResourceSection();
    std::u16string name;
    try {
      ByteReader r(rsrc);
      r.Seek(field & ~kHighBit);
      std::size_t length = r.U16LE();
      std::string_view bytes = r.View(2 * length);
      name.resize(length);
      for (std::size_t i = 0; i < length; ++i)
        name[i] = static_cast<char16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                        (static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8));
    } catch (const EByteRange&) {
      TPEReader::RaiseBadResources();
    }
    return WideToAnsiCodePage(name, LocaleServices().AnsiCodePage());
  }
  return std::to_string(field);
}

std::uint32_t TPEResourceItem::ChildDirectory() const {
  std::uint32_t offset = OffsetField();
  if (!(offset & kHighBit)) TPEReader::RaiseBadResources();
  return offset & ~kHighBit;
}

bool TPEResourceItem::IsList() {
  if (list_->Depth() >= kLeafListDepth) return false;
  std::uint32_t offset = OffsetField();
  if (!(offset & kHighBit)) return false;
  const ByteReader& rsrc = list_->Reader()->ResourceSection();
  std::size_t dir = offset & ~kHighBit;
  try {
    std::size_t count = std::size_t{rsrc.U16LEAt(dir + 12)} + rsrc.U16LEAt(dir + 14);
    if (count == 0) return false;  // an empty directory lists nothing
    return (rsrc.U32LEAt(dir + kResDirectorySize + 4) & kHighBit) != 0;
  } catch (const EByteRange&) {
    TPEReader::RaiseBadResources();
  }
}

TPEResourceList* TPEResourceItem::GetList() {
  if (!IsList()) throw EExeError(LoadResString(SExeNotAList));
  if (!child_) {
    std::uint32_t type = list_->Depth() == 0 ? NameField() : list_->ResType();
    child_ = New<TPEResourceList>(this, list_->Reader(), ChildDirectory(), type, list_->Depth() + 1);
  }
  return child_;
}

bool TPEResourceItem::FindData(std::uint32_t& offset, std::uint32_t& size) {
  TPEReader* reader = list_->Reader();
  const ByteReader& rsrc = reader->ResourceSection();
  try {
    std::uint32_t entryOffset = OffsetField();
    std::uint32_t dataEntry;
    if (entryOffset & kHighBit) {
      std::size_t dir = entryOffset & ~kHighBit;
      std::size_t count = std::size_t{rsrc.U16LEAt(dir + 12)} + rsrc.U16LEAt(dir + 14);
      if (count == 0) return false;
      dataEntry = rsrc.U32LEAt(dir + kResDirectorySize + 4);
      if (dataEntry & kHighBit) return false;  // the first language is a directory, not data
    } else {
      dataEntry = entryOffset;  // a two-level tree: the entry points at its data directly
    }
    std::uint32_t rva = rsrc.U32LEAt(dataEntry);
    size = rsrc.U32LEAt(dataEntry + 4);
    if (rva < reader->ResourceVirtualAddress()) TPEReader::RaiseBadResources();
    offset = rva - reader->ResourceVirtualAddress();
    if (!rsrc.Fits(offset, size)) TPEReader::RaiseBadResources();
  } catch (const EByteRange&) {
    TPEReader::RaiseBadResources();
  }
  return true;
}

const std::uint8_t* TPEResourceItem::GetData() {
  std::uint32_t offset = 0, size = 0;
  if (IsList() || !FindData(offset, size)) return nullptr;
  return list_->Reader()->ResourceBase() + offset;
}

std::uint32_t TPEResourceItem::GetDataSize() {
  std::uint32_t offset = 0, size = 0;
  if (IsList() || !FindData(offset, size)) return 0;
  return size;
}

std::string_view TPEResourceItem::GetDataView() {
  std::uint32_t offset = 0, size = 0;
  if (IsList() || !FindData(offset, size)) return {};
  return std::string_view(reinterpret_cast<const char*>(list_->Reader()->ResourceBase()) + offset, size);
}
