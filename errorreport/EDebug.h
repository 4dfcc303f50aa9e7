// Debug-information readers: when a module carries no line table of the
// library's own, its code addresses are named from what the build left
// beside it or inside it: a text MAP file, TD32 debug data (in the image or a
// ".tds" file) or a binary debug section "JCLDEBUG" (in the image or a
// ".jdbg" file). Every reader checks each count, offset and length against
// the bytes present; a file that lies about itself gives no information.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Modules.h"
#include "Object.h"
#include "Streams.h"

class TVLDebugInfoSource;

// The answer of a debug-information source for one code address.
struct TVLDebugLocation {
  std::uint64_t Address = 0;
  std::string UnitName;
  std::string ProcedureName;  // "Proc", "Class.Method" or "Unit.Class.Method"
  std::int32_t LineInProcedure = 0;
  std::int32_t LineNumber = 0;
  std::string SourceName;
  TVLDebugInfoSource* Source = nullptr;
};

// How the readers reach a module: its file name and its image as the loader
// mapped it. The Win32 half installs the real one; tests install fakes.
class DebugModuleAccess {
 public:
  virtual ~DebugModuleAccess() = default;
  // The module's file name; empty when unknown.
  virtual std::string ModuleFileName(ModuleHandle module) = 0;
  // The module's mapped image (offsets are relative addresses); false when unreadable.
  virtual bool ModuleImage(ModuleHandle module, const std::uint8_t*& image, std::size_t& size) = 0;
};
void SetDebugModuleAccess(DebugModuleAccess* access);
DebugModuleAccess* GetDebugModuleAccess();

// Loads a whole file (opened for reading, shared for reading and writing).
bool LoadFileToMemory(TMemoryStream& stream, const std::string& fileName);

// The index of the greatest key not above `key` in a sorted run of keys, or -1.
int SearchNearestLower(const std::vector<std::uint32_t>& keys, std::uint32_t key);

// A section of a mapped image: where its bytes lie (the smaller of its
// virtual and raw sizes), false when the image has no such section or its
// headers do not fit the image. Names compare on their 8 bytes.
bool FindImageSection(const std::uint8_t* image, std::size_t size, std::string_view name, std::size_t& offset,
                      std::size_t& length);

// --- MAP files ------------------------------------------------------------------------------------
struct TVLMapAddress {
  std::uint16_t Segment = 0;
  std::uint32_t Offset = 0;
};

// One pass over a MAP file's text, one call per kind of line.
class TVLAbstractMapParser {
 public:
  virtual ~TVLAbstractMapParser() = default;
  // The unit whose line addresses first went backwards (empty when none did).
  const std::string& LinkerBugUnit() const { return linkerBugUnit_; }

 protected:
  explicit TVLAbstractMapParser(std::string text) : text_(std::move(text)) {}
  virtual void OnClassTableLine(TVLMapAddress address, std::uint32_t length, std::string_view className,
                                std::string_view segmentName) = 0;
  virtual void OnSegmentLine(TVLMapAddress address, std::uint32_t length, std::string_view unitName,
                             std::string_view className) = 0;
  virtual void OnPublicByName(TVLMapAddress address, std::string_view name) = 0;
  virtual void OnPublicByValue(TVLMapAddress address, std::string_view name) = 0;
  virtual void OnLineNumbersUnit(std::string_view unitName, std::string_view unitFileName) = 0;
  virtual void OnLineNumber(std::int32_t lineNumber, TVLMapAddress address) = 0;
  // Runs the pass; the derived class calls it once it can take the calls.
  void Parse();
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
  std::string linkerBugUnit_;
};

class TVLMapScanner : public TVLAbstractMapParser {
 public:
  explicit TVLMapScanner(std::string text);
  // Null when the file cannot be read.
  static std::unique_ptr<TVLMapScanner> FromFile(const std::string& fileName);

  std::string UnitNameAt(std::uint32_t offset) const;
  std::uint32_t UnitStartAt(std::uint32_t offset) const;  // 0xFFFFFFFF for none
  std::string ProcedureNameAt(std::uint32_t offset, std::uint32_t& procOffset) const;
  std::int32_t LineNumberAt(std::uint32_t offset, std::uint32_t& lineOffset) const;
  std::string SourceNameAt(std::uint32_t offset) const;
  int RejectedLineCount() const { return rejected_; }

 protected:
  void OnClassTableLine(TVLMapAddress, std::uint32_t, std::string_view, std::string_view) override {}
  void OnSegmentLine(TVLMapAddress address, std::uint32_t length, std::string_view unitName,
                     std::string_view className) override;
  void OnPublicByName(TVLMapAddress, std::string_view) override {}
  void OnPublicByValue(TVLMapAddress address, std::string_view name) override;
  void OnLineNumbersUnit(std::string_view unitName, std::string_view unitFileName) override;
  void OnLineNumber(std::int32_t lineNumber, TVLMapAddress address) override;

 private:
  struct Segment {
    std::uint32_t Start, End;
    std::string_view UnitName;
  };
  struct Named {
    std::uint32_t Offset;
    std::string_view Name;
  };
  // The index of the entry with the greatest offset not above `offset`, when
  // it does not lie before the unit's start; else -1.
  int LookUp(const std::vector<std::uint32_t>& keys, std::uint32_t offset) const;

  std::vector<Segment> segments_;
  std::vector<Named> procedures_;
  std::vector<std::uint32_t> procedureKeys_;
  std::vector<std::uint32_t> lineKeys_;
  std::vector<std::int32_t> lines_;
  std::vector<Named> sources_;
  std::vector<std::uint32_t> sourceKeys_;
  std::uint32_t topSegmentEnd_ = 0;
  std::uint32_t lastLineOffset_ = 0;
  std::uint16_t lastLineSegment_ = 0;
  bool haveLine_ = false;
  std::string_view pendingFile_;
  int rejected_ = 0;
};

// --- Binary debug data ("JDBG") -------------------------------------------------------------------
constexpr std::uint32_t kJdbgSignature = 0x4742444Au;
// The byte that type-1 names are scrambled with.
constexpr std::uint8_t kJdbgNameKey = 0xA5;
// The number that ends each table.
constexpr std::uint32_t kJdbgTableEnd = 0x7FFFFFFFu;

// Reads one 7-bit number at `pos`; false when the data ends first or the
// number runs over five bytes.
bool ReadJdbgNumber(std::string_view data, std::size_t& pos, std::uint32_t& value);
// The check sum a block must store (the sum of its double words with the check-sum bytes cleared).
std::uint32_t JdbgCheckSum(std::string_view data);

class TVLBinDebugScanner {
 public:
  TVLBinDebugScanner(std::string data, bool cacheData);
  bool ValidFormat() const { return valid_; }

  std::string UnitNameAt(std::uint32_t address);
  std::uint32_t UnitStartAt(std::uint32_t address);  // 0xFFFFFFFF for none
  std::string ProcedureNameAt(std::uint32_t address, std::uint32_t& procOffset);
  std::int32_t LineNumberAt(std::uint32_t address, std::uint32_t& lineOffset);
  std::string SourceNameAt(std::uint32_t address);
  // The name at a position of the name area (1-based; 0 is none).
  std::string NameAt(std::uint32_t position) const;

 private:
  struct Pair {
    std::uint32_t Address, Value;
  };
  struct Procedure {
    std::uint32_t Address, First, Second;
  };
  // Walks a table of `width`-number tuples with running sums; `visit` sees
  // each sum and returns false to stop.
  template <class Visit>
  void WalkTable(std::uint32_t tableOffset, int width, Visit visit) const;
  std::vector<Pair> ReadPairs(std::uint32_t tableOffset) const;
  std::vector<Procedure> ReadProcedures() const;
  // The pair with the greatest address not above `address`, or -1.
  static int LastAtOrBelow(const std::vector<Pair>& pairs, std::uint32_t address);
  void Cache();

  std::string data_;
  bool cache_;
  bool valid_ = false;
  bool cached_ = false;
  std::uint32_t units_ = 0, sources_ = 0, procs_ = 0, lines_ = 0, names_ = 0;
  std::vector<Pair> unitTable_, sourceTable_, lineTable_;
  std::vector<Procedure> procTable_;
};

// --- TD32 debug data ------------------------------------------------------------------------------
constexpr std::uint32_t kTd32SignatureFB09 = 0x39304246u;
constexpr std::uint32_t kTd32SignatureFB0A = 0x41304246u;

// The block that ends at the end of `data` (its last 8 bytes are the
// signature and the distance back to its start); empty when none.
std::string_view FindTd32Block(std::string_view data);

struct TVLSymbolInfo {
  virtual ~TVLSymbolInfo() = default;
  std::uint16_t SymbolType = 0;
  std::uint32_t NameIndex = 0;
};
struct TVLProcSymbolInfo : TVLSymbolInfo {
  std::uint32_t Size = 0;
  std::uint32_t Offset = 0;
};
struct TVLLocalProcSymbolInfo : TVLProcSymbolInfo {};
struct TVLGlobalProcSymbolInfo : TVLProcSymbolInfo {};
struct TVLObjNameSymbolInfo : TVLSymbolInfo {
  std::uint32_t Signature = 0;
};
struct TVLDataSymbolInfo : TVLSymbolInfo {
  std::uint32_t Offset = 0;
  std::uint32_t TypeIndex = 0;
};
struct TVLLDataSymbolInfo : TVLDataSymbolInfo {};
struct TVLGDataSymbolInfo : TVLDataSymbolInfo {};
struct TVLPublicSymbolInfo : TVLDataSymbolInfo {};
struct TVLWithSymbolInfo : TVLSymbolInfo {
  std::uint32_t Size = 0;
  std::uint32_t Offset = 0;
};
struct TVLLabelSymbolInfo : TVLSymbolInfo {
  std::uint32_t Offset = 0;
};
struct TVLConstantSymbolInfo : TVLSymbolInfo {
  std::uint32_t TypeIndex = 0;
  std::uint32_t Value = 0;
};
struct TVLUdtSymbolInfo : TVLSymbolInfo {
  std::uint32_t TypeIndex = 0;
  std::uint16_t Properties = 0;
};
struct TVLVftPathSymbolInfo : TVLSymbolInfo {
  std::uint32_t Offset = 0;
  std::uint32_t RootIndex = 0;
  std::uint32_t PathIndex = 0;
};

struct TVLModuleInfo {
  struct CodeSegment {
    std::uint16_t Segment;
    std::uint32_t Offset, Size;
  };
  std::uint32_t NameIndex = 0;
  std::vector<CodeSegment> Segments;
};

struct TVLLineInfo {
  std::uint32_t Offset = 0;
  std::uint16_t Line = 0;
};

struct TVLSourceModuleInfo {
  struct Range {
    std::uint32_t Start, End;
  };
  std::uint32_t NameIndex = 0;
  std::vector<Range> Ranges;
  // One line table per segment of the file, each in address order.
  std::vector<std::vector<TVLLineInfo>> LineTables;
  // The line at `offset`: an equal entry, else the entry before the first
  // one above it; false beyond the last entry or before the first.
  bool LineNumberAt(std::uint32_t offset, std::int32_t& line, std::uint32_t& lineOffset) const;
};

class TVLTD32InfoParser {
 public:
  // Reads a TD32 block (as FindTd32Block gives it). An entry size other
  // than 12 in a directory, or a parser made without data, raises the
  // framework's assertion error; a count or offset outside the block makes
  // the data invalid.
  explicit TVLTD32InfoParser(std::string_view block);
  virtual ~TVLTD32InfoParser() = default;
  bool ValidData() const { return valid_; }
  // Names are numbered from 1; 0 and unknown indexes give "".
  std::string Name(std::uint32_t index) const;
  const std::vector<std::unique_ptr<TVLModuleInfo>>& Modules() const { return modules_; }
  const std::vector<std::unique_ptr<TVLSourceModuleInfo>>& SourceModules() const { return sourceModules_; }
  const std::vector<std::unique_ptr<TVLSymbolInfo>>& Symbols() const { return symbols_; }

 protected:
  virtual void ReadNamesSubsection(std::string_view data);
  virtual void ReadSymbolsSubsection(std::string_view data);
  virtual void ReadModuleSubsection(std::string_view data);
  virtual void ReadSourceModuleSubsection(std::string_view data);

 private:
  std::vector<std::string> names_;
  std::vector<std::unique_ptr<TVLModuleInfo>> modules_;
  std::vector<std::unique_ptr<TVLSourceModuleInfo>> sourceModules_;
  std::vector<std::unique_ptr<TVLSymbolInfo>> symbols_;
  bool valid_ = false;
};

class TVLTD32InfoScanner : public TVLTD32InfoParser {
 public:
  using TVLTD32InfoParser::TVLTD32InfoParser;
  const TVLModuleInfo* FindModuleAt(std::uint32_t offset) const;
  const TVLSourceModuleInfo* FindSourceModuleAt(std::uint32_t offset) const;
  const TVLProcSymbolInfo* FindProcedureAt(std::uint32_t offset) const;
  // A symbol name made readable; `unitName` is dropped from its front.
  static std::string CleanProcedureName(std::string name, std::string_view unitName);
};

// The TD32 data of a module: from its image's debug directory, else from
// the ".tds" file beside it.
class TVLPeKovTD32Image {
 public:
  TVLPeKovTD32Image(ModuleHandle module, DebugModuleAccess* access);
  ModuleHandle Module() const { return module_; }
  bool IsTD32DebugPresent() const { return scanner_ != nullptr; }
  TVLTD32InfoScanner* Scanner() const { return scanner_.get(); }

 private:
  ModuleHandle module_;
  std::string data_;
  std::unique_ptr<TVLTD32InfoScanner> scanner_;
};

// The TD32 block named by a mapped image's debug directory; empty when none.
std::string_view FindImageTd32Block(const std::uint8_t* image, std::size_t size);

// --- Sources --------------------------------------------------------------------------------------
class TVLDebugInfoSource : public TObject {
  FW_CLASS(TVLDebugInfoSource, TObject)
 public:
  explicit TVLDebugInfoSource(ModuleHandle module) : module_(module) {}
  void AfterConstruction() override;
  virtual bool OpenSource() = 0;
  // The offset inside the code section as the linker numbers it.
  virtual std::uint32_t AddressToOffset(std::uint64_t address) const;
  virtual bool IsSourceValid() const = 0;
  virtual bool GetLocation(std::uint64_t address, TVLDebugLocation& info) = 0;
  ModuleHandle Module() const { return module_; }

 protected:
  ModuleHandle module_;
};

class TVLDebugInfoMap : public TVLDebugInfoSource {
  FW_CLASS(TVLDebugInfoMap, TVLDebugInfoSource)
 public:
  using TVLDebugInfoSource::TVLDebugInfoSource;
  bool OpenSource() override;
  bool IsSourceValid() const override { return scanner_ != nullptr; }
  bool GetLocation(std::uint64_t address, TVLDebugLocation& info) override;

 private:
  std::unique_ptr<TVLMapScanner> scanner_;
};

class TVLDebugInfoTD32 : public TVLDebugInfoSource {
  FW_CLASS(TVLDebugInfoTD32, TVLDebugInfoSource)
 public:
  using TVLDebugInfoSource::TVLDebugInfoSource;
  bool OpenSource() override;
  bool IsSourceValid() const override { return image_ && image_->IsTD32DebugPresent(); }
  bool GetLocation(std::uint64_t address, TVLDebugLocation& info) override;

 private:
  std::unique_ptr<TVLPeKovTD32Image> image_;
};

class TVLDebugInfoJedy : public TVLDebugInfoSource {
  FW_CLASS(TVLDebugInfoJedy, TVLDebugInfoSource)
 public:
  using TVLDebugInfoSource::TVLDebugInfoSource;
  bool OpenSource() override;
  bool IsSourceValid() const override { return scanner_ && scanner_->ValidFormat(); }
  bool GetLocation(std::uint64_t address, TVLDebugLocation& info) override;

 private:
  std::unique_ptr<TVLBinDebugScanner> scanner_;
};

// Keeps an existing source; else the first valid one of MAP, TD32 and
// binary debug data for the module (each rejected one freed); false with
// `source` left empty when there is none.
bool OpenDebugInfoSource(ModuleHandle module, TObject*& source);
