#include "ExceptionLog.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "ByteReader.h"
#include "EEncrypt.h"
#include "EZlib2.h"

FW_IMPLEMENT_CLASS(TVantorFunctionsList)
FW_IMPLEMENT_CLASS(TVantorModuleOptionsEx)
FW_IMPLEMENT_CLASS(TVantorModulesList)
FW_IMPLEMENT_CLASS(TVantorProcessesList)
FW_IMPLEMENT_CLASS(TVantorThreadsList)

namespace {
TVantorLogFlags g_flags;
std::string g_blockPassword;
PublishedOptionsStore* g_store = nullptr;
std::mutex g_exclusionLock;
std::vector<std::uint32_t> g_excludedThreads;
}  // namespace

TVantorLogFlags& VantorLogFlags() {
  return g_flags;
}
void SetCatchingEnabled(bool value) {
  g_flags.CatchingEnabled = value ? 1 : 0;
}
bool IsCatchingEnabled() {
  return g_flags.CatchingEnabled != 0;
}

void ExcludeThreadFromReports(std::uint32_t threadId) {
  std::lock_guard<std::mutex> guard(g_exclusionLock);
  if (std::find(g_excludedThreads.begin(), g_excludedThreads.end(), threadId) == g_excludedThreads.end())
    g_excludedThreads.push_back(threadId);
}

void IncludeThreadInReports(std::uint32_t threadId) {
  std::lock_guard<std::mutex> guard(g_exclusionLock);
  g_excludedThreads.erase(std::remove(g_excludedThreads.begin(), g_excludedThreads.end(), threadId),
                          g_excludedThreads.end());
}

bool IsThreadNotExcluded(std::uint32_t threadId) {
  std::lock_guard<std::mutex> guard(g_exclusionLock);
  return std::find(g_excludedThreads.begin(), g_excludedThreads.end(), threadId) == g_excludedThreads.end();
}

void ClearExcludedThreads() {
  std::lock_guard<std::mutex> guard(g_exclusionLock);
  std::vector<std::uint32_t>().swap(g_excludedThreads);
}

bool IsDataBlockMagic(std::uint32_t value) {
  return value == kDataBlockMagic || value == kDataBlockMagicOld;
}

std::uint16_t NormalizeDataVersion(std::uint16_t raw) {
  if (raw >= 600 && raw <= 602) return static_cast<std::uint16_t>(6000 + raw % 600);
  return raw;
}

const std::string& CurrentBlockPassword() {
  return g_blockPassword;
}

// --- Exports --------------------------------------------------------------------------------------
void TVantorFunctionsList::Destroy() {
  Clear();
  inherited::Destroy();
}

void TVantorFunctionsList::Clear() {
  for (int i = 0; i < Count(); ++i) delete Items(i);
  TList::Clear();
}

int TVantorFunctionsList::AddFunction(const std::string& name, std::uintptr_t address, std::uint32_t flag) {
  return Add(new TVantorFunctionInfo{name, address, flag});
}

void TVantorFunctionsList::DeleteFunction(int index) {
  TVantorFunctionInfo* info = Items(index);
  TList::Delete(index);
  delete info;
}

void TVantorFunctionsList::SortByAddress() {
  Sort([](void* a, void* b) {
    auto x = static_cast<TVantorFunctionInfo*>(a)->Address, y = static_cast<TVantorFunctionInfo*>(b)->Address;
    return x < y ? -1 : x > y ? 1 : 0;
  });
}

bool ReadExportTableFromImage(const std::uint8_t* image, std::size_t imageSize, std::uintptr_t moduleBase,
                              TVantorFunctionsList& list,
                              const std::function<std::uintptr_t(const std::string&)>& resolveForwarded) {
  try {
    ByteReader r(image, imageSize);
    if (r.U16LEAt(0) != 0x5A4D) return false;
    const std::size_t pe = r.U32LEAt(0x3C);
    if (r.U32LEAt(pe) != 0x00004550) return false;
    const std::size_t fileHeader = pe + 4;
    const unsigned sections = r.U16LEAt(fileHeader + 2);
    const std::size_t optSize = r.U16LEAt(fileHeader + 16);
    const std::size_t opt = fileHeader + 20;
    const std::uint16_t magic = r.U16LEAt(opt);
    std::size_t dirs;
    if (magic == 0x10B)
      dirs = opt + 96;
    else if (magic == 0x20B)
      dirs = opt + 112;
    else
      return false;
    const std::uint32_t codeSize = r.U32LEAt(opt + 4);
    const std::uint32_t codeStart = r.U32LEAt(opt + 20);
    (void)codeSize;
    const std::uint32_t dirCount = r.U32LEAt(dirs - 4);
    if (dirCount < 1) return false;
    const std::uint32_t expRva = r.U32LEAt(dirs);
    const std::uint32_t expSize = r.U32LEAt(dirs + 4);
    if (expRva == 0) return false;
    // The directory must lie inside one of the sections.
    const std::size_t sectionTable = opt + optSize;
    bool inside = false;
    for (unsigned i = 0; i < sections; ++i) {
      const std::size_t sh = sectionTable + i * 40;
      const std::uint32_t va = r.U32LEAt(sh + 12), vsize = r.U32LEAt(sh + 8);
      if (va <= expRva && expRva < static_cast<std::uint64_t>(va) + vsize) inside = true;
    }
    if (!inside) return false;
    if (r.U32LEAt(expRva) != 0) return false;  // Characteristics
    const std::uint32_t functions = r.U32LEAt(expRva + 20);
    const std::uint32_t names = r.U32LEAt(expRva + 24);
    const std::uint32_t addressOfFunctions = r.U32LEAt(expRva + 28);
    const std::uint32_t addressOfNames = r.U32LEAt(expRva + 32);
    const std::uint32_t addressOfOrdinals = r.U32LEAt(expRva + 36);
    const std::uint32_t count = std::min(functions, names);
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t nameRva = r.U32LEAt(addressOfNames + std::size_t{4} * i);
      if (nameRva >= imageSize) {
        list.Clear();  // never a partial, unsorted list
        return false;
      }
      const std::size_t maxLen = std::min<std::size_t>(256, imageSize - nameRva);
      const char* text = reinterpret_cast<const char*>(image + nameRva);
      std::string name(text, strnlen(text, maxLen));
      const std::uint16_t ordinal = r.U16LEAt(addressOfOrdinals + std::size_t{2} * i);
      if (ordinal >= functions) {
        list.Clear();
        return false;
      }
      const std::uint32_t rva = r.U32LEAt(addressOfFunctions + std::size_t{4} * ordinal);
      std::uintptr_t address = moduleBase + rva;
      if (rva >= expRva && rva < static_cast<std::uint64_t>(expRva) + expSize)
        address = resolveForwarded ? resolveForwarded(name) : 0;
      list.AddFunction(name, address, address < moduleBase + codeStart ? 1 : 0);
    }
    list.SortByAddress();
    return true;
  } catch (const EByteRange&) {
    list.Clear();
    return false;
  }
}

// --- Options of a module entry --------------------------------------------------------------------
void SetPublishedOptionsStore(PublishedOptionsStore* store) {
  g_store = store;
}
PublishedOptionsStore* GetPublishedOptionsStore() {
  return g_store;
}

// The hang detector that these switches start and stop is not part of this
// build; the switches are stored.
namespace {
TFreezeDetectionApi g_freezeApi;

// For this module's own options a change of either switch starts the hang
// detector when both are on, and stops it otherwise.
void SwitchFreezeDetection(const TVantorModuleOptionsEx& options) {
  if (options.ActiveFlag() && options.FreezeCheck()) {
    if (g_freezeApi.Start) g_freezeApi.Start();
  } else if (g_freezeApi.Stop) {
    g_freezeApi.Stop();
  }
}
bool IsCurrent(const TVantorModuleOptionsEx* options) {
  return g_freezeApi.IsCurrentOptions && g_freezeApi.IsCurrentOptions(options);
}
}  // namespace

void SetFreezeDetectionApi(const TFreezeDetectionApi& api) {
  g_freezeApi = api;
}

void TVantorModuleOptionsEx::SetActiveFlag(bool value) {
  const bool changed = value != ActiveFlag();
  StoreActiveFlag(value);
  if (changed && IsCurrent(this)) SwitchFreezeDetection(*this);
}
void TVantorModuleOptionsEx::SetFreezeCheck(bool value) {
  const bool changed = value != FreezeCheck();
  StoreFreezeCheck(value);
  if (changed && IsCurrent(this)) SwitchFreezeDetection(*this);
}
void TVantorModuleOptionsEx::PublishOptions() {
  if (g_store) g_store->Publish(*this);
}
void TVantorModuleOptionsEx::ReloadOptions() {
  if (g_store) g_store->Load(*this);
}

// --- Module entries -------------------------------------------------------------------------------
void FreeModuleInfo(TVantorModuleInfo* info) {
  if (!info) return;
  FreeAndNil(info->Exports);
  FreeAndNil(info->Options);
  FreeAndNil(info->DebugSource);
  FreeAndNil(info->DebugData);
  delete info;
}

void TVantorModulesList::Destroy() {
  Clear();
  inherited::Destroy();
}

void TVantorModulesList::Clear() {
  for (int i = 0; i < Count(); ++i) FreeModuleInfo(Items(i));
  TList::Clear();
}

void TVantorModulesList::DeleteModule(int index) {
  TVantorModuleInfo* info = Items(index);
  TList::Delete(index);
  FreeModuleInfo(info);
}

TVantorModuleInfo* TVantorModulesList::FindModule(ModuleHandle handle) const {
  for (int i = 0; i < Count(); ++i)
    if (Items(i)->Handle == handle) return Items(i);
  return nullptr;
}

// --- Processes ------------------------------------------------------------------------------------
void TVantorProcessesList::Destroy() {
  Clear();
  inherited::Destroy();
}

void TVantorProcessesList::Clear() {
  for (int i = 0; i < Count(); ++i) delete Items(i);
  TList::Clear();
}

void TVantorProcessesList::DeleteProcess(int index) {
  TVantorProcessInfo* info = Items(index);
  TList::Delete(index);
  delete info;
}

void TVantorProcessesList::SortById() {
  Sort([](void* a, void* b) {
    auto x = static_cast<TVantorProcessInfo*>(a)->ProcessId, y = static_cast<TVantorProcessInfo*>(b)->ProcessId;
    return x < y ? -1 : x > y ? 1 : 0;
  });
}

int TVantorProcessesList::IndexOfId(std::uint32_t processId) const {
  int lo = 0, hi = Count() - 1;
  while (lo <= hi) {
    const int mid = lo + (hi - lo) / 2;
    const std::uint32_t id = Items(mid)->ProcessId;
    if (id == processId) return mid;
    if (id < processId)
      lo = mid + 1;
    else
      hi = mid - 1;
  }
  return -1;
}

// --- Threads --------------------------------------------------------------------------------------
TVantorThreadsList::TVantorThreadsList() : lock_(std::make_unique<TSharedLock>()) {}

TVantorThreadsList::TVantorThreadsList(TVantorThreadsList* source) {
  if (!source) return;
  source->LockForRead();
  try {
    for (int i = 0; i < source->Count(); ++i) {
      auto* info = new TVantorThreadInfo(*source->GetThreadInfo(i));
      // The snapshot owns its stack copies: the live list frees its own when a
      // thread is resumed again or ends, while a report still reads these.
      std::uint8_t* stack = info->ResumerStack;
      info->ResumerStack = nullptr;
      info->Forwarded = 0;
      Add(info);
      if (stack && info->ResumerStackSize) {
        info->ResumerStack = new std::uint8_t[info->ResumerStackSize];
        std::memcpy(info->ResumerStack, stack, info->ResumerStackSize);
      } else {
        info->ResumerStackSize = 0;
      }
    }
  } catch (...) {
    source->UnlockRead();
    Clear();
    throw;
  }
  source->UnlockRead();
}

void TVantorThreadsList::Destroy() {
  Clear();
  inherited::Destroy();
}

void TVantorThreadsList::FreeRecord(TVantorThreadInfo* info) {
  if (!info) return;
  if (!info->Forwarded) delete[] info->ResumerStack;
  delete info;
}

void TVantorThreadsList::Clear() {
  for (int i = 0; i < Count(); ++i) FreeRecord(GetThreadInfo(i));
  TList::Clear();
}

TVantorThreadInfo* TVantorThreadsList::NewThreadInfo(bool add) {
  auto* info = new TVantorThreadInfo;
  if (add) Add(info);
  return info;
}

int TVantorThreadsList::IndexOfHandle(std::uintptr_t handle) const {
  for (int i = Count() - 1; i >= 0; --i)
    if (GetThreadInfo(i)->ThreadHandle == handle) return i;
  return -1;
}

int TVantorThreadsList::IndexOfThreadObject(const TObject* thread) const {
  for (int i = Count() - 1; i >= 0; --i)
    if (GetThreadInfo(i)->ThreadObject == thread) return i;
  return -1;
}

int TVantorThreadsList::IndexOfThreadId(std::uint32_t threadId) const {
  for (int i = Count() - 1; i >= 0; --i)
    if (GetThreadInfo(i)->ThreadId == threadId) return i;
  return -1;
}

void TVantorThreadsList::DeleteThread(int index) {
  TVantorThreadInfo* info = GetThreadInfo(index);
  TList::Delete(index);
  FreeRecord(info);
}

void TVantorThreadsList::LockForRead() {
  if (lock_) lock_->lock_shared();
}
void TVantorThreadsList::UnlockRead() {
  if (lock_) lock_->unlock_shared();
}
void TVantorThreadsList::LockForWrite() {
  if (lock_) lock_->lock();
}
void TVantorThreadsList::UnlockWrite() {
  if (lock_) lock_->unlock();
}

void TVantorThreadsList::RemoveCurrentThread(std::uint32_t threadId) {
  LockForWrite();
  const int i = IndexOfThreadId(threadId);
  if (i >= 0) DeleteThread(i);
  UnlockWrite();
}

void TVantorThreadsList::RemoveEndedThreads(const std::function<bool(const TVantorThreadInfo&)>& isActive) {
  LockForWrite();
  try {
    for (int i = Count() - 1; i >= 0; --i)
      if (!isActive(*GetThreadInfo(i))) DeleteThread(i);
  } catch (...) {
    UnlockWrite();
    throw;
  }
  UnlockWrite();
}

bool IsMainThreadRecord(const TVantorThreadInfo& record) {
  return record.ThreadId == g_flags.MainThreadId;
}
bool IsFrameworkThreadRecord(const TVantorThreadInfo& record) {
  return IsMainThreadRecord(record) || record.ThreadObject != nullptr;
}
bool IsPlainWindowsThreadRecord(const TVantorThreadInfo& record) {
  return !IsFrameworkThreadRecord(record);
}

// --- Reading a block ------------------------------------------------------------------------------
namespace {

double ReadDouble(ByteReader& r) {
  std::uint64_t bits = r.U64LE();
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

// Loads the entry's options from `bytes` under data version `version`; the
// bytes read.
std::size_t LoadOptionsFrom(std::string_view bytes, TVantorModuleInfo& entry, std::uint16_t version) {
  if (!entry.Options) entry.Options = New<TVantorModuleOptionsEx>(entry.FileName);
  SetOptionStreamVersion(version);
  TOwned<TReadOnlyMemoryStream> s(New<TReadOnlyMemoryStream>(bytes.data(), bytes.size()));
  entry.Options->LoadFromStream(*s);
  return static_cast<std::size_t>(s->Position());
}

std::string InflateOrEmpty(std::string_view bytes) {
  std::string out;
  try {
    InflateBuffer(bytes.data(), bytes.size(), out);
  } catch (const EZLibError&) {
    out.clear();
  }
  return out;
}

void ReadDebugData(ByteReader& r, TVantorModuleInfo& entry) {
  const std::uint32_t size = r.U32LE();
  std::string_view data = r.View(size);
  FreeAndNil(entry.DebugData);
  if (size > 0) {
    entry.DebugData = New<TMemoryStream>();
    entry.DebugData->WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
    entry.DebugData->SetPosition(0);
  }
}

bool CheckPassword(std::string_view fourBytes, const std::function<std::string()>& source, TVantorModuleInfo& entry) {
  std::string password = source ? source() : std::string();
  entry.Password = password;
  g_blockPassword = password;
  SetCipherPassword(password);
  std::uint8_t plain[4];
  DecryptBufferCbc(reinterpret_cast<const std::uint8_t*>(fourBytes.data()), plain, 4);
  const std::uint32_t value = static_cast<std::uint32_t>(plain[0]) | (static_cast<std::uint32_t>(plain[1]) << 8) |
                              (static_cast<std::uint32_t>(plain[2]) << 16) |
                              (static_cast<std::uint32_t>(plain[3]) << 24);
  return IsDataBlockMagic(value);
}

}  // namespace

bool ReadDataBlockHeader(std::string_view block, TDataBlockHeader& header) {
  try {
    ByteReader r(block);
    header.Magic = r.U32LE();
    header.RawVersion = r.U16LE();
    header.Version = NormalizeDataVersion(header.RawVersion);
    header.BuildTime = ReadDouble(r);
    if (header.Version >= 6000) {
      header.LeakOptions = r.U8();
      header.LeakUseMainBlock = r.U8();
    }
    header.BodyStart = r.Position();
    return true;
  } catch (const EByteRange&) {
    return false;
  }
}

bool FindDataBlockSymbol(std::string_view block, std::uint8_t id, std::uint32_t& offset) {
  std::uint32_t value = 0;
  return FindDataBlockSymbolEntry(block, id, offset, value);
}

bool FindDataBlockSymbolEntry(std::string_view block, std::uint8_t id, std::uint32_t& offset, std::uint32_t& value) {
  TDataBlockHeader header;
  if (!ReadDataBlockHeader(block, header) || !IsDataBlockMagic(header.Magic) || header.Version < 500 ||
      header.Version > kCurrentDataVersion)
    return false;
  try {
    ByteReader r(block);
    r.Seek(header.BodyStart);
    ByteReader table(r.View(r.U32LE()));
    while (table.Remaining() >= 9) {
      const std::uint8_t entryId = table.U8();
      const std::uint32_t entryOffset = table.U32LE();
      const std::uint32_t entryValue = table.U32LE();
      if (entryId == id) {
        offset = entryOffset;
        value = entryValue;
        return true;
      }
    }
  } catch (const EByteRange&) {
  }
  return false;
}

bool ReadResourceDataBlock(std::string_view block, TVantorModuleInfo& entry, const TDataBlockReading& how) {
  try {
    // The magic was checked by whoever found the block.
    TDataBlockHeader header;
    if (!ReadDataBlockHeader(block, header)) return false;
    const std::uint16_t version = header.Version;
    if (version > kCurrentDataVersion) return false;
    entry.DataVersion = version;
    entry.BuildTime = header.BuildTime;
    ByteReader r(block);
    r.Seek(header.BodyStart);
    if (version >= 500) {
      const std::uint32_t symbols = r.U32LE();
      r.Skip(symbols);
      const std::uint32_t packed = r.U32LE();
      std::string options = InflateOrEmpty(r.View(packed));
      if (options.empty()) return false;
      LoadOptionsFrom(options, entry, version);
      if (!how.LightScan) {
        std::string_view check = r.View(4);
        bool accepted = CheckPassword(check, how.FirstPasswordSource, entry);
        if (!accepted && !how.IsOwnModule) accepted = CheckPassword(check, how.SecondPasswordSource, entry);
        entry.PasswordAccepted = accepted ? 1 : 0;
      }
    }
    std::string inflated;
    std::string_view rest = block.substr(r.Position());
    if (!(version < 450 || (version >= 500 && how.LightScan))) {
      inflated = InflateOrEmpty(rest);
      if (inflated.empty()) return false;
      rest = inflated;
    }
    ByteReader body(rest);
    if (version < 500) body.Skip(LoadOptionsFrom(rest, entry, version));
    if (how.LightScan)
      FreeAndNil(entry.DebugData);
    else
      ReadDebugData(body, entry);
    return true;
  } catch (const EByteRange&) {
    return false;
  } catch (const Exception&) {
    return false;
  }
}

bool FindTrailerDataBlock(TStream& file, std::uint16_t& version) {
  try {
    const std::int64_t size = file.Size();
    if (size < 8 + 2) return false;
    file.SetPosition(size - 8);
    const std::uint32_t t = file.ReadU32();
    const std::uint32_t magic = file.ReadU32();
    if (!IsDataBlockMagic(magic) || t < 2 || t > size - 8) return false;
    file.SetPosition(size - 8 - t);
    version = file.ReadU16();
    return true;
  } catch (const Exception&) {
    return false;
  }
}

bool ReadTrailerDataBlock(TStream& file, TVantorModuleInfo& entry, const TDataBlockReading& how) {
  try {
    std::uint16_t version = 0;
    if (!FindTrailerDataBlock(file, version)) return false;
    const std::int64_t size = file.Size();
    file.SetPosition(size - 8);
    const std::uint32_t t = file.ReadU32();
    file.SetPosition(size - 8 - t);
    std::string bytes = file.ReadBytes(t);
    ByteReader r(bytes);
    entry.DataVersion = r.U16LE();
    entry.BuildTime = ReadDouble(r);
    r.Skip(LoadOptionsFrom(std::string_view(bytes).substr(r.Position()), entry, entry.DataVersion));
    if (how.LightScan)
      FreeAndNil(entry.DebugData);
    else
      ReadDebugData(r, entry);
    return true;
  } catch (const EByteRange&) {
    return false;
  } catch (const Exception&) {
    return false;
  }
}
