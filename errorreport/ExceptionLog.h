// The library's spine, portable half: the library-wide flags, the module
// entries and their lists, the options object of a module entry, the data
// block VLDATA (resource form and file-trailer form) and the export table of
// a module image. The Win32 half (win/ExceptionLogWin.h) finds blocks and
// images in loaded modules, runs start-up and shut-down and installs the
// unhandled-exception filter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "ECore.h"
#include "Lists.h"
#include "SharedLock.h"
#include "Streams.h"

// --- Library-wide state ---------------------------------------------------------------------------
struct TVantorLogFlags {
  std::uint8_t Initialized = 0;
  std::uint8_t StartupRunning = 0;
  std::uint8_t ShutdownBegun = 0;
  std::uint8_t HooksAllowed = 1;
  std::uint8_t MainModuleHasLibrary = 0;
  std::uint8_t ReportOnFaultingThread = 0;
  std::uint8_t LeakReportRunning = 0;
  std::uint8_t PendingStartupException = 0;
  std::uint8_t CatchingEnabled = 1;
  std::uint8_t TerminationRequested = 0;
  // Whether a light scan of the modules is running (no exports, no debug data).
  bool LightScan = false;
  // Whether reports take the options of the application module (the host
  // program) whatever module raised; off unless the program sets it.
  std::uint8_t UseApplicationModuleOptions = 0;
  // The main thread's id (its record in the threads list).
  std::uint32_t MainThreadId = 0;
};
TVantorLogFlags& VantorLogFlags();

void SetCatchingEnabled(bool value);
bool IsCatchingEnabled();

// The threads the library must not report for, by thread id (the list has a
// lock of its own; any thread may change or ask it).
void ExcludeThreadFromReports(std::uint32_t threadId);
void IncludeThreadInReports(std::uint32_t threadId);
bool IsThreadNotExcluded(std::uint32_t threadId);
// Empties the list (its memory too), as the library's shut-down does.
void ClearExcludedThreads();

// --- Data block -----------------------------------------------------------------------------------
constexpr std::uint32_t kDataBlockMagic = 0x100FAB10u;
constexpr std::uint32_t kDataBlockMagicOld = 0x000FAB10u;
bool IsDataBlockMagic(std::uint32_t value);
// Whether a block's raw version word is this library's data version or later.
inline bool DataBlockVersionIsCurrent(std::uint16_t raw) {
  return raw >= kCurrentDataVersion;
}
// The older numbering 600-602 read as 6000-6002; other values unchanged.
std::uint16_t NormalizeDataVersion(std::uint16_t raw);

// The header of the resource form: magic, version word, build time and,
// from version 6000 on, the leak catcher's two bytes (16 bytes; 14 below 6000).
struct TDataBlockHeader {
  std::uint32_t Magic = 0;
  std::uint16_t RawVersion = 0;
  std::uint16_t Version = 0;  // normalised
  double BuildTime = 0;
  std::uint8_t LeakOptions = 0;
  std::uint8_t LeakUseMainBlock = 0;
  std::size_t BodyStart = 0;
};
// Reads the header from the start of `block`; false when the block is too short.
bool ReadDataBlockHeader(std::string_view block, TDataBlockHeader& header);
// The code offset of the first special symbol with `id` in a resource-form
// block (version 500 on); false when the block has no such entry or its
// table does not fit the block.
bool FindDataBlockSymbol(std::string_view block, std::uint8_t id, std::uint32_t& offset);

// The password under which the last protected block part was opened.
const std::string& CurrentBlockPassword();

// --- Exports --------------------------------------------------------------------------------------
struct TVantorFunctionInfo {
  std::string Name;
  std::uintptr_t Address = 0;
  std::uint32_t Flag = 0;    // 1 when the address lies below the module's code section
  std::uint32_t Length = 0;  // the code up to its first return, measured on first use; 0 until then
};

class TVantorFunctionsList : public TList {
  FW_CLASS(TVantorFunctionsList, TList)
 public:
  void Destroy() override;
  void Clear() override;
  int AddFunction(const std::string& name, std::uintptr_t address, std::uint32_t flag);
  TVantorFunctionInfo* Items(int index) const { return static_cast<TVantorFunctionInfo*>(Get(index)); }
  void DeleteFunction(int index);
  void SortByAddress();
};

// Fills `list` from the export directory of a module image laid out as the
// loader maps it (RVAs are offsets into `image`); `moduleBase` is the address
// the exports are listed at. `resolveForwarded` gives the address of a
// forwarded export by name (0 when unknown). A directory outside the image's
// sections, a non-zero Characteristics field or any table that points outside
// the image lists nothing (false).
bool ReadExportTableFromImage(const std::uint8_t* image, std::size_t imageSize, std::uintptr_t moduleBase,
                              TVantorFunctionsList& list,
                              const std::function<std::uintptr_t(const std::string&)>& resolveForwarded);

// --- Options of a module entry --------------------------------------------------------------------
// Where modules publish their options for the other modules of the process.
class PublishedOptionsStore {
 public:
  virtual ~PublishedOptionsStore() = default;
  virtual void Publish(const TVantorModuleOptions& options) = 0;
  virtual void Load(TVantorModuleOptions& options) = 0;
};
void SetPublishedOptionsStore(PublishedOptionsStore* store);
PublishedOptionsStore* GetPublishedOptionsStore();

// The hang detector as the options see it: switching ActiveFlag or
// FreezeCheck of this module's own options starts or stops it (the Win32
// half installs the real one).
struct TFreezeDetectionApi {
  bool (*IsCurrentOptions)(const TVantorModuleOptions* options) = nullptr;
  void (*Start)() = nullptr;
  void (*Stop)() = nullptr;
};
void SetFreezeDetectionApi(const TFreezeDetectionApi& api);

class TVantorModuleOptionsEx : public TVantorModuleOptions {
  FW_CLASS(TVantorModuleOptionsEx, TVantorModuleOptions)
 public:
  using TVantorModuleOptions::TVantorModuleOptions;
  void SetActiveFlag(bool value) override;
  void SetFreezeCheck(bool value) override;
  void PublishOptions() override;
  void ReloadOptions() override;
};

// --- Module entries -------------------------------------------------------------------------------
struct TVantorModuleInfo {
  ModuleHandle Handle = 0;
  std::string FileName;
  std::string Description;
  std::string Version;
  std::uint32_t FileSize = 0;
  TVantorFunctionsList* Exports = nullptr;
  std::uint8_t Kind = 0;  // 0 not gathered, 1 program, 2 run-time package, 3 other DLL
  std::uint16_t DataVersion = kCurrentDataVersion;
  double BuildTime = 0;
  TVantorModuleOptionsEx* Options = nullptr;
  TMemoryStream* DebugData = nullptr;
  // The index of the debug data's line table, made on its first lookup.
  std::shared_ptr<const void> DebugDataIndex;
  TObject* DebugSource = nullptr;
  double FileTime = 0;
  std::string Password;
  std::uint8_t PasswordAccepted = 1;
};

class TVantorModulesList : public TList {
  FW_CLASS(TVantorModulesList, TList)
 public:
  void Destroy() override;
  void Clear() override;
  int AddModule(TVantorModuleInfo* info) { return Add(info); }
  TVantorModuleInfo* Items(int index) const { return static_cast<TVantorModuleInfo*>(Get(index)); }
  void DeleteModule(int index);
  // The entry of a module handle, or null.
  TVantorModuleInfo* FindModule(ModuleHandle handle) const;
};
void FreeModuleInfo(TVantorModuleInfo* info);

// --- Processes ------------------------------------------------------------------------------------
struct TVantorProcessInfo {
  std::uint32_t ProcessId = 0;
  std::string FileName;
  std::string Description;
  std::string Version;
  std::uint32_t PriorityClass = 0;
  std::uint64_t Memory = 0;  // the working set in use
  std::uint32_t Threads = 0;
};

class TVantorProcessesList : public TList {
  FW_CLASS(TVantorProcessesList, TList)
 public:
  void Destroy() override;
  void Clear() override;
  int AddProcess(TVantorProcessInfo* info) { return Add(info); }
  TVantorProcessInfo* Items(int index) const { return static_cast<TVantorProcessInfo*>(Get(index)); }
  void DeleteProcess(int index);
  void SortById();
  // The index of a process id in a list sorted by id, or -1.
  int IndexOfId(std::uint32_t processId) const;
};

// --- Threads --------------------------------------------------------------------------------------
constexpr std::uint32_t kThreadPriorityUnknown = 0x80000000u;

struct TVantorThreadInfo {
  std::uint32_t ThreadId = 0;
  std::uintptr_t ThreadHandle = 0;
  std::uint32_t ResumerThreadId = 0;
  std::uint32_t Priority = kThreadPriorityUnknown;
  TObject* ThreadObject = nullptr;
  std::uintptr_t StackTop = 0;
  void* OriginalExecute = nullptr;
  void* FrameworkThreadFunction = nullptr;
  void* StartRoutine = nullptr;
  void* StartParameter = nullptr;
  std::uint32_t ResumerStackSize = 0;
  std::uint8_t* ResumerStack = nullptr;  // new[]; owned by the list that holds the record unless Forwarded
  std::uint8_t Forwarded = 0;
};

// The live list (with its multi-reader lock) or a snapshot of one (copies of
// the records and of their stack copies, no lock). Every change of the live
// list's records is made under its write lock.
class TVantorThreadsList : public TList {
  FW_CLASS(TVantorThreadsList, TList)
 public:
  TVantorThreadsList();
  // A snapshot of `source`, copied under its read lock.
  explicit TVantorThreadsList(TVantorThreadsList* source);
  void Destroy() override;
  void Clear() override;
  bool IsSnapshot() const { return !lock_; }

  // A zeroed record with the priority unknown; appended when `add` is set.
  TVantorThreadInfo* NewThreadInfo(bool add);
  TVantorThreadInfo* GetThreadInfo(int index) const { return static_cast<TVantorThreadInfo*>(Get(index)); }
  // Searches run from the last record to the first; -1 when absent.
  int IndexOfHandle(std::uintptr_t handle) const;
  int IndexOfThreadObject(const TObject* thread) const;
  int IndexOfThreadId(std::uint32_t threadId) const;
  void DeleteThread(int index);

  void LockForRead();
  void UnlockRead();
  void LockForWrite();
  void UnlockWrite();
  // Under the write lock: the record of the thread `threadId` (the caller's).
  void RemoveCurrentThread(std::uint32_t threadId);
  // Under the write lock: every record whose thread is gone.
  void RemoveEndedThreads(const std::function<bool(const TVantorThreadInfo&)>& isActive);

 private:
  void FreeRecord(TVantorThreadInfo* info);
  std::unique_ptr<TSharedLock> lock_;
};

bool IsMainThreadRecord(const TVantorThreadInfo& record);
bool IsFrameworkThreadRecord(const TVantorThreadInfo& record);
bool IsPlainWindowsThreadRecord(const TVantorThreadInfo& record);

// --- Reading a block ------------------------------------------------------------------------------
struct TDataBlockReading {
  bool LightScan = false;
  bool IsOwnModule = true;
  // The password sources: the answer kept from the module's handlers, then
  // (for another module) the password-request event.
  std::function<std::string()> FirstPasswordSource;
  std::function<std::string()> SecondPasswordSource;
};

// Reads the resource form into the entry (version, build time, options,
// password check, debug data). False for a newer version, a part that does
// not inflate, or any length that lies about the bytes it counts.
bool ReadResourceDataBlock(std::string_view block, TVantorModuleInfo& entry, const TDataBlockReading& how);
// The code offset of the first special-symbol entry `id` of a resource
// block (its address is the module's base + 4096 + offset); false when the
// block has no table (version below 500) or no such entry.
bool FindDataBlockSymbol(std::string_view block, std::uint8_t id, std::uint32_t& offset);
// The same with the entry's 32-bit value (for the patched handlers 4, 5, 9
// and 10: the bytes of stack arguments the handler removes on return).
bool FindDataBlockSymbolEntry(std::string_view block, std::uint8_t id, std::uint32_t& offset, std::uint32_t& value);
// Reads the trailer at the end of a module file.
bool ReadTrailerDataBlock(TStream& file, TVantorModuleInfo& entry, const TDataBlockReading& how);
// The version word and magic of a trailer, when the file ends in one.
bool FindTrailerDataBlock(TStream& file, std::uint16_t& version);
