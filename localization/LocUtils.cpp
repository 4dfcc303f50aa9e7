#include "LocUtils.h"

#include <algorithm>

#include "ByteReader.h"
#include "LFProc.h"

FW_IMPLEMENT_CLASS(TDLLInfoItem)
FW_IMPLEMENT_CLASS(TDLLInfoList)
FW_IMPLEMENT_CLASS(TJLocUtils)

namespace {

TJLocUtils* g_locUtils = nullptr;
TLibraryLoader* g_loader = nullptr;

std::string UpToZero(std::string text) {
  std::size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

std::string StreamBytes(TStream& stream) {
  stream.SetPosition(0);
  std::string bytes(static_cast<std::size_t>(stream.Size()), '\0');
  if (!bytes.empty()) stream.ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  return bytes;
}

std::string InvalidText(const std::string& moduleName) {
  return "Invalid resource file format \"" + moduleName + "\"";
}

}  // namespace

void TDLLInfoList::Destroy() {
  Clear();
  TList::Destroy();
}

void TDLLInfoList::Clear() {
  FreeAllEntries();
  TList::Clear();
}

void TDLLInfoList::FreeAllEntries() {
  for (int i = 0; i < Count(); ++i) {
    FreeObject(GetItem(i));
    Put(i, nullptr);
  }
}

void TDLLInfoList::DeleteAndFree(int index) {
  FreeObject(GetItem(index));
  Delete(index);
}

void ReadModuleSettings(TStream& stream, TDLLInfoItem& item, const std::string& moduleName) {
  const std::string bytes = StreamBytes(stream);
  ByteReader r(bytes);
  try {
    r.Skip(4);
    const std::uint32_t version = r.U32LE();
    const std::uint16_t locale = r.U16LE();
    std::string english = UpToZero(r.Bytes(r.U16LE()));
    const std::uint16_t m = r.U16LE();
    if (std::size_t{m} * 2 > r.Remaining()) r.Skip(std::size_t{m} * 2);  // raises
    std::u16string localized;
    for (std::uint16_t i = 0; i < m; ++i) localized.push_back(static_cast<char16_t>(r.U16LE()));
    localized.resize(std::min(localized.size(), localized.find(u'\0')));
    std::uint32_t build = 0;
    if (r.Remaining() >= 8) {
      r.Skip(4);
      build = r.U32LE();
    }
    item.Version = version;
    item.Locale = locale;
    item.EnglishName = std::move(english);
    item.LocalizedName = std::move(localized);
    item.Build = build;
  } catch (const EByteRange&) {
    throw ELUInvalidResLibrary(InvalidText(moduleName));
  }
}

TJLocUtils::TJLocUtils() : list_(New<TDLLInfoList>()), current_(New<TDLLInfoItem>()) {}

void TJLocUtils::Destroy() {
  FreeObject(list_);
  FreeObject(current_);
  TObject::Destroy();
}

void TJLocUtils::RaiseInvalid(ModuleHandle module) {
  throw ELUInvalidResLibrary(InvalidText(Loader ? Loader->ModuleFileName(OrApp(module)) : std::string()));
}

TOwned<TResourceStream> TJLocUtils::OpenSettings(ModuleHandle module, bool libraryKind) {
  module = OrApp(module);
  const char* name = libraryKind ? kLibSettingsName : kExeSettingsName;
  const char* signature = libraryKind ? kLibSettingsSignature : kExeSettingsSignature;
  if (!FindResourceData(module, rtRcData, name)) RaiseInvalid(module);
  TOwned<TResourceStream> stream(New<TResourceStream>(module, name, rtRcData));
  char read[4] = {};
  if (stream->Read(read, 4) != 4 || std::string_view(read, 4) != signature) RaiseInvalid(module);
  return stream;
}

void TJLocUtils::ReadModuleInfo(ModuleHandle module, bool libraryKind, TDLLInfoItem& item) {
  TOwned<TResourceStream> stream = OpenSettings(module, libraryKind);
  stream->SetPosition(0);
  ReadModuleSettings(*stream, item, Loader ? Loader->ModuleFileName(OrApp(module)) : std::string());
}

bool TJLocUtils::CheckVersion(ModuleHandle module, ModuleHandle library) {
  module = OrApp(module);
  TOwned<TDLLInfoItem> own(New<TDLLInfoItem>()), other(New<TDLLInfoItem>());
  ReadModuleInfo(module, module != AppInstance, *own);
  ReadModuleInfo(library, true, *other);
  return own->Version == other->Version;
}

ModuleHandle TJLocUtils::LoadResourceDLL(ModuleHandle module, const std::string& path) {
  if (path.empty()) return AppInstance;
  ModuleHandle library = Loader ? Loader->LoadDataFile(path) : 0;
  if (!library) throw ELULoadResLibError("Error loading resource file \"" + path + "\"");
  bool same = false;
  try {
    same = CheckVersion(module, library);
  } catch (...) {
    Loader->FreeLibrary(library);
    throw;
  }
  if (same) return library;
  Loader->FreeLibrary(library);
  if (OnTheFly) return 0;
  throw ELUOutOfVersion("Resource file " + path +
                        " is not synhronized with executable.\r\nPlease, update the file (using \"Refresh\" "
                        "operation in Localizer or \"Create DLL\" command in Orvandel) and try again");
}

void TJLocUtils::SetResourceInstance(ModuleHandle module, ModuleHandle resourceModule) {
  module = OrApp(module);
  resourceModule = OrApp(resourceModule);
  for (const LibModule& entry : ModuleListSnapshot()) {
    if (entry.instance != module) continue;
    // A library installed again is kept: freeing it would leave the module reading a freed image.
    if (entry.resInstance != module && entry.resInstance != resourceModule && Loader)
      Loader->FreeLibrary(entry.resInstance);
    SetModuleResourceInstance(module, resourceModule);
    return;
  }
}

void TJLocUtils::UseResourceFile(const std::string& path) {
  SetResourceInstance(0, LoadResourceDLL(0, path));
}

TDLLInfoItem* TJLocUtils::GetCurrentDLLInfo() {
  try {
    ReadModuleInfo(FindResourceHInstance(AppInstance), true, *current_);
  } catch (const Exception&) {
  }
  return current_;
}

void TJLocUtils::RestoreAllModules() {
  SetResourceInstance(0, AppInstance);
  for (const LibModule& entry : ModuleListSnapshot()) RestoreModule(entry.instance);
}

void TJLocUtils::RestoreModule(ModuleHandle module) {
  SetResourceInstance(module, module);
}

TJLocUtils* JLocUtils() {
  return g_locUtils;
}

void SetLocUtilsLoader(TLibraryLoader* loader) {
  g_loader = loader;
  if (g_locUtils) g_locUtils->Loader = loader;
}

void InitLocUtils() {
  if (g_locUtils) return;
  g_locUtils = New<TJLocUtils>();
  g_locUtils->Loader = g_loader;
  g_locUtils->AppInstance = MainInstance();
  if (g_loader) g_locUtils->AppFileName = g_loader->ModuleFileName(g_locUtils->AppInstance);
}

void DoneLocUtils() {
  FreeObject(g_locUtils);
  g_locUtils = nullptr;
}
