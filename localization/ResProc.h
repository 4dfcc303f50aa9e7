// The string-table and RCDATA resources of a module, held as editable blocks,
// and the writer of a resource-only PE library holding exactly those two
// resource types in one ".rsrc" section.
//
// The written directories are sorted the way the system loader's binary
// search expects: the root by type, named entries before numbered ones,
// names by their upper-cased UTF-16 text, numbers ascending, string groups
// ascending. Names are stored upper-cased, as the system looks them up. The
// image's size covers its one section.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "JUtils.h"
#include "Object.h"
#include "Streams.h"

class TPEResourceList;
class TResProcessor;
class TResString;

inline constexpr std::uint16_t kRTString = 6;
inline constexpr std::uint16_t kRTRCData = 10;
inline constexpr std::uint32_t kResSectionRVA = 0x2000;
inline constexpr std::uint32_t kResHeadersSize = 1024;
inline constexpr std::uint32_t kResFileAlign = 0x200;
inline constexpr std::uint32_t kResSectionAlign = 0x1000;

// x when it is a multiple of m, else the next multiple above.
std::uint32_t AlignUp(std::uint32_t x, std::uint32_t m);
// Seconds from 1969-12-31 16:00:00 to the given local date and time, rounded to the nearest second.
std::uint32_t PEUnixTime(int year, int month, int day, int hour, int minute, int second, int millisecond);
// PEUnixTime of the current local date and time.
std::uint32_t PEUnixTimeNow();

// One resource of a module or of another reader's list.
struct TResListEntry {
  std::uint32_t Type = 0;
  std::string Name;       // the name, or the decimal identifier
  bool Numbered = false;  // the resource has an integer identifier
  std::string_view Data;
};

class TResStringItem : public TObject {
  FW_CLASS(TResStringItem, TObject)
 public:
  TResStringItem(std::int32_t id, std::u16string text) : ID(id), Text(std::move(text)) {}
  const std::u16string& GetText() const { return Text; }
  void SetText(const std::u16string& text) { Text = text; }

  std::int32_t ID;
  std::u16string Text;
};

// A string-table block of 16 slots; the group identifier is the block number.
class TResStringGroup : public TObject {
  FW_CLASS(TResStringGroup, TObject)
 public:
  TResStringGroup(TResString* owner, std::int32_t groupId);
  TResString* Owner() const { return owner_; }
  std::int32_t GroupID() const { return groupId_; }
  std::int32_t Slot(int index) const { return slots_[static_cast<std::size_t>(index)]; }
  void SetSlot(int index, std::int32_t id) { slots_[static_cast<std::size_t>(index)] = id; }
  // 2 bytes per empty slot, 2 + 2 x length per filled one.
  std::uint32_t DataSize() const;
  void WriteData(std::string& out) const;

 private:
  TResString* owner_;
  std::int32_t groupId_;
  std::array<std::int32_t, 16> slots_;
};

class TResRCDataItem : public TObject {
  FW_CLASS(TResRCDataItem, TObject)
 public:
  TResRCDataItem(std::string name, bool numbered) : name_(std::move(name)), numbered_(numbered) {}
  const std::string& GetName() const { return name_; }
  bool Numbered() const { return numbered_; }
  // Numbered with a name that is an identifier 0..65535: written as an integer entry.
  bool WrittenAsNumber(std::uint16_t* id = nullptr) const;
  const std::string& Data() const { return data_; }
  void SetData(std::string data) { data_ = std::move(data); }
  // Replaces the data with the stream's bytes from its start.
  void LoadData(TStream& stream);
  // Appends the data to the stream.
  void SaveData(TStream& stream) const;

 private:
  std::string name_;
  bool numbered_;
  std::string data_;
};

class TResBlock : public TObject {
  FW_CLASS(TResBlock, TObject)
 public:
  explicit TResBlock(TResProcessor* processor) : processor_(processor) {}
  TResProcessor* Processor() const { return processor_; }

  virtual int GetCount() const = 0;
  virtual std::uint32_t GetSize() const = 0;
  // Directories and data entries: 16 + 48n.
  virtual std::uint32_t GetTreeSize() const { return 16 + 48 * static_cast<std::uint32_t>(GetCount()); }
  virtual std::uint16_t GetResType() const = 0;
  // Writes the block's subtree; `offset` is where it starts in the section.
  virtual void WriteTree(TStream& stream, std::uint32_t offset) const = 0;
  virtual void WriteResFile(TStream& stream) const = 0;
  virtual void LoadFromPEList(TPEResourceList* list) = 0;
  virtual void LoadFromResList(const std::vector<TResListEntry>& list) = 0;
  virtual void Clear() = 0;

 protected:
  std::uint32_t TimeStamp() const;
  // The subtree of n resources given in written order: entry identifiers (0x80000000 OR the
  // section offset of a name for named ones, filled in by the caller), data sizes and the data.
  struct TTreeEntry {
    std::uint32_t Name;
    std::uint32_t DataOffset;  // section offset
    std::uint32_t DataSize;
  };
  void WriteDirectories(std::string& out, std::uint32_t offset, std::uint16_t named,
                        const std::vector<TTreeEntry>& entries) const;

 private:
  TResProcessor* processor_;
};

class TResString : public TResBlock {
  FW_CLASS(TResString, TResBlock)
 public:
  explicit TResString(TResProcessor* processor);
  void Destroy() override;

  int GetCount() const override { return groups_->Count(); }
  std::uint32_t GetSize() const override;
  std::uint16_t GetResType() const override { return kRTString; }
  void WriteTree(TStream& stream, std::uint32_t offset) const override;
  void WriteResFile(TStream& stream) const override;
  void LoadFromPEList(TPEResourceList* list) override;
  void LoadFromResList(const std::vector<TResListEntry>& list) override;
  void Clear() override;

  // The index in the string list, or -1 when the identifier is present already
  // (the first text stays) or lies outside 0..65535.
  int AddString(std::int32_t id, const std::u16string& text);
  int StringCount() const { return strings_->Count(); }
  TResStringItem* GetString(int index) const;
  // Searches the ordered list, stopping once past the identifier.
  TResStringItem* FindString(std::int32_t id) const;
  int IndexOfID(std::int32_t id) const;
  TResStringGroup* GetGroup(int index) const;
  // Adds the non-empty entries of one string-table block's data; the walk
  // stops at the end of the data.
  void AddBlockData(std::uint32_t block, std::string_view data);

 private:
  TJObjectList* strings_;
  TJObjectList* groups_;
};

class TResRCData : public TResBlock {
  FW_CLASS(TResRCData, TResBlock)
 public:
  explicit TResRCData(TResProcessor* processor);
  void Destroy() override;

  int GetCount() const override { return items_->Count(); }
  std::uint32_t GetSize() const override;
  std::uint16_t GetResType() const override { return kRTRCData; }
  void WriteTree(TStream& stream, std::uint32_t offset) const override;
  void WriteResFile(TStream& stream) const override;
  void LoadFromPEList(TPEResourceList* list) override;
  void LoadFromResList(const std::vector<TResListEntry>& list) override;
  void Clear() override;

  TResRCDataItem* AddItem(const std::string& name, bool numbered);
  TResRCDataItem* GetItem(int index) const;
  // The first item whose upper-cased name equals the upper-cased name.
  TResRCDataItem* FindItem(std::string_view name) const;
  void RemoveItem(std::string_view name);

 private:
  // The items in written order: named ones by upper-cased UTF-16 name, then numbered ones ascending.
  std::vector<const TResRCDataItem*> WrittenOrder() const;
  TJObjectList* items_;
};

// Reads a loaded module's RT_STRING and RT_RCDATA resources (the platform part supplies it).
using TModuleResourceReader = std::function<std::vector<TResListEntry>(void* module)>;

class TResProcessor : public TObject {
  FW_CLASS(TResProcessor, TObject)
 public:
  TResProcessor();
  void Destroy() override;

  // Every time stamp the writer puts into headers and directories.
  std::uint32_t TimeStamp;

  void AddBlock(TResBlock* block);
  TResBlock* FindBlock(std::uint16_t type) const;
  int BlockCount() const { return blocks_->Count(); }
  TResBlock* GetBlock(int index) const { return static_cast<TResBlock*>(blocks_->GetItem(index)); }
  TResString* Strings() const { return static_cast<TResString*>(FindBlock(kRTString)); }
  TResRCData* RCData() const { return static_cast<TResRCData*>(FindBlock(kRTRCData)); }
  void Clear();

  // Reads the module's resources through the installed module reader.
  void LoadFromModule(void* module);
  // Fills the blocks from a module's resource list: strings first, then RCDATA, each kept when not empty.
  void LoadFromModuleResources(const std::vector<TResListEntry>& resources);
  void LoadFromPEFile(const std::string& fileName);
  // The same from a PE image in memory.
  void LoadFromPEImage(std::string image);

  std::uint32_t GetSectionSize() const;
  void WriteResourceDLL(TStream& stream) const;
  std::string ResourceDLLImage() const;

  static void SetModuleResourceReader(TModuleResourceReader reader);

 private:
  void LoadFromReader(class TPEReader* reader);
  // Blocks in written order (by type, stable).
  std::vector<const TResBlock*> WrittenBlocks() const;
  TJObjectList* blocks_;
};
