// Reads the resource tree of a PE file without loading it as a module. The
// whole file is held in memory (an LZJ-compressed file is expanded first);
// the headers are checked, the ".rsrc" section found, and the resource
// directory presented as a tree of lists and items made on first use.
//
// The file is outside data: every offset and count is checked against the
// file and the resource section. A header or section table that does not fit
// raises EExeError "Not a PE (WIN32 Executable) file"; a directory, name or
// data entry outside the section raises EExeError "Invalid resource
// directory". A resource tree has three levels (type, name, language): items
// of a name list are leaves, and an item whose child directory is empty is
// neither a list nor has it data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ByteReader.h"
#include "Component.h"
#include "Exceptions.h"
#include "ResStrings.h"

FW_EXCEPTION(EExeError, Exception);

// The reader's error texts, resource strings of the program; the first takes
// the file name.
inline constexpr ResString SExeOpenError{65242, 0, "Couldn't open file: %s"};
inline constexpr ResString SExeEmptyImage{65243, 0, "MapViewOfFile failed"};
inline constexpr ResString SExeUnrecognized{65244, 0, "Unrecognized file format"};
inline constexpr ResString SExeNotPE{65245, 0, "Not a PE (WIN32 Executable) file"};
inline constexpr ResString SExeNoResources{65246, 0, "No resources in this file."};
inline constexpr ResString SExeNotAList{65247, 0, "ResourceItem is not a list"};
inline constexpr ResString SExeBadResources{65248, 0, "Invalid resource directory"};

// Sizes of the PE structures the reader walks.
inline constexpr std::size_t kPESectionHeaderSize = 40;
inline constexpr std::size_t kPEFileHeaderOffset = 4;  // after "PE\0\0"
inline constexpr std::size_t kPENtHeaders32Size = 248;
inline constexpr std::size_t kResDirectorySize = 16;
inline constexpr std::size_t kResDirEntrySize = 8;
inline constexpr std::size_t kResDataEntrySize = 16;

class TPEReader;
class TPEResourceItem;

// One section header as read from the file.
struct TPESection {
  std::string Name;  // up to 8 characters, without padding
  std::uint32_t VirtualSize = 0;
  std::uint32_t VirtualAddress = 0;
  std::uint32_t SizeOfRawData = 0;
  std::uint32_t PointerToRawData = 0;
  std::uint32_t Characteristics = 0;
};

// The names of the standard resource types 0 to 16; "" above.
std::string ResourceTypeName(std::uint32_t id);

class TPEResourceList : public TComponent {
  FW_CLASS(TPEResourceList, TComponent)
 public:
  static constexpr int FwFamily = 0;  // made by the reader, not from metadata
  // `directory` is the section offset of the list's directory; `depth` 0 for the root.
  TPEResourceList(TComponent* owner, TPEReader* reader, std::uint32_t directory, std::uint32_t resType, int depth);

  TPEReader* Reader() const { return reader_; }
  std::uint32_t Directory() const { return directory_; }
  std::uint32_t ResType() const { return resType_; }
  int Depth() const { return depth_; }

  // Makes the items on first use.
  virtual void GetItems();
  int Count();
  TPEResourceItem* Item(int index);

 private:
  TPEReader* reader_;
  std::uint32_t directory_;
  std::uint32_t resType_;
  int depth_;
  bool made_ = false;
  std::vector<TPEResourceItem*> items_;  // owned as components
};

class TPEResourceItem : public TComponent {
  FW_CLASS(TPEResourceItem, TComponent)
 public:
  static constexpr int FwFamily = 0;  // made by the reader, not from metadata
  // `entry` is the section offset of the item's 8-byte directory entry.
  TPEResourceItem(TPEResourceList* list, std::uint32_t entry);

  TPEResourceList* List() const { return list_; }
  std::uint32_t NameField() const;
  std::uint32_t OffsetField() const;
  // The integer identifier (for a numbered item).
  std::uint32_t ID() const { return NameField() & 0xFFFF; }

  virtual std::string GetName();
  virtual TPEResourceList* GetList();
  virtual bool IsList();
  // The first language's data: a pointer into the image, valid while the reader lives; null without data.
  const std::uint8_t* GetData();
  std::uint32_t GetDataSize();
  std::string_view GetDataView();
  bool IsNumbered() const { return (NameField() & 0x80000000u) == 0; }

 private:
  // Section offset of the child directory; raises when the entry does not point at one.
  std::uint32_t ChildDirectory() const;
  // Section offset and size of the first language's data; false when there is none.
  bool FindData(std::uint32_t& offset, std::uint32_t& size);

  TPEResourceList* list_;
  std::uint32_t entry_;
  TPEResourceList* child_ = nullptr;
};

class TPEReader : public TComponent {
  FW_CLASS(TPEReader, TComponent)
 public:
  static constexpr int FwFamily = 0;  // made by the reader, not from metadata
  // Loads and checks the file.
  explicit TPEReader(const std::string& fileName);
  // Checks an image already in memory (plain or LZJ-compressed).
  static TPEReader* FromImage(std::string image);
  struct FromImageTag {};
  TPEReader(FromImageTag, std::string image);

  const std::string& FileName() const { return fileName_; }
  const std::string& Image() const { return image_; }
  std::size_t NtHeaders() const { return ntHeaders_; }

  // The first section whose name matches (at most 8 characters, ignoring case).
  bool FindSection(std::string_view name, TPESection& section) const;
  int SectionCount() const;
  TPESection Section(int index) const;

  // The root list; raises "No resources in this file." without a ".rsrc" section.
  TPEResourceList* GetResources();

  // The resource section's raw bytes.
  const ByteReader& ResourceSection() const { return rsrc_; }
  std::uint32_t ResourceVirtualAddress() const { return rsrcVA_; }
  const std::uint8_t* ResourceBase() const { return rsrcBase_; }

  [[noreturn]] static void RaiseBadResources();

 private:
  void SetImage(std::string image);
  void CheckHeaders();

  std::string fileName_;
  std::string image_;
  std::size_t ntHeaders_ = 0;
  std::size_t sectionTable_ = 0;
  int sectionCount_ = 0;
  TPEResourceList* root_ = nullptr;
  ByteReader rsrc_;
  const std::uint8_t* rsrcBase_ = nullptr;
  std::uint32_t rsrcVA_ = 0;
};
