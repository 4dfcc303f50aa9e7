#include "LocOnFly.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "ByteReader.h"
#include "FileApi.h"
#include "JCompress.h"
#include "JLocales.h"
#include "LocUtils.h"
#include "LocaleServices.h"
#include "PackedStrings.h"
#include "Registry.h"
#include "Swallow.h"
#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TLFInfo)
FW_IMPLEMENT_CLASS(TLFInfoList)
FW_IMPLEMENT_CLASS(TJLocalizerOnFly)

namespace {

TJLocalizerOnFly* g_localizer = nullptr;
TLocOnFlyPlatform* g_platform = nullptr;

constexpr char kLocLangsSignature[] = "JLL";
constexpr std::uint32_t kEnglishPrimary = 9;

TJLocUtils& Utils() {
  if (!JLocUtils()) InitLocUtils();
  return *JLocUtils();
}

std::string AppFileName() {
  return Utils().AppFileName;
}

std::string ProgramFolder() {
  return ExtractFileDir(AppFileName());
}

// The program's bare file name with its extension replaced.
std::string ProgramNameWithExt(const std::string& ext) {
  return ChangeFileExt(ExtractFileName(AppFileName()), ext);
}

bool IsAbsolute(const std::string& path) {
  return (!path.empty() && (path[0] == '\\' || path[0] == '/')) || (path.size() >= 2 && path[1] == ':');
}

[[noreturn]] void Raise(const ResString& text) {
  throw ELocOnFlyError(LoadResString(text));
}
[[noreturn]] void Raise(const ResString& text, const std::string& arg) {
  throw ELocOnFlyError(Format(LoadResString(text), arg));
}

int StoreIndexOf(const TLangResource* store, std::uint32_t locale) {
  return locale > 0xFFFF ? -1 : store->IndexOfLocale(static_cast<std::uint16_t>(locale));
}

// The embedded list's headers, read whole before anything uses them.
struct TEmbeddedHeader {
  std::uint16_t LangID = 0;
  std::string EnglishName;
  std::u16string LocalizedName;
};

}  // namespace

// --- The language list ---------------------------------------------------------------------------

void TLFInfoList::Destroy() {
  Clear();
  TJObjectList::Destroy();
}

int TLFInfoList::IndexOfLocale(std::uint32_t locale) const {
  for (int i = 0; i < Count(); ++i)
    if (GetInfo(i)->Locale == locale) return i;
  return -1;
}

int TLFInfoList::IndexOfForeignLocale(std::uint32_t locale) const {
  for (int i = 0; i < Count(); ++i)
    if (!GetInfo(i)->Native && GetInfo(i)->Locale == locale) return i;
  return -1;
}

bool TLFInfoList::IsEmbedded(std::uint32_t locale) const {
  int i = IndexOfLocale(locale);
  return i >= 0 && GetInfo(i)->FileName.empty();
}

int TLFInfoList::NativeIndex() const {
  for (int i = 0; i < Count(); ++i)
    if (GetInfo(i)->Native) return i;
  return -1;
}

int TLFInfoList::AddSorted(TLFInfo* info) {
  int at = 0;
  while (at < Count() && !(GetInfo(at)->EnglishName > info->EnglishName)) ++at;
  info->Owner = this;
  Insert(at, info);
  return at;
}

std::string ResolveAgainstProgramFolder(const std::string& path) {
  // The current directory is the whole process's (the finder's thread runs by
  // now): the name is joined to the program's folder instead of changing it.
  const std::string joined = IsAbsolute(path) ? path : IncludeTrailingPathDelimiter(ProgramFolder()) + path;
  return ExcludeTrailingPathDelimiter(FullPathName(joined));
}

void TLFInfoList::SetFolder(const std::string& path) {
  if (path == folder_) return;
  const std::string full = ResolveAgainstProgramFolder(path);
  if (!DirectoryExists(full)) Raise(SLocPathNotExists, full);
  folder_ = path;
  fullPath_ = full;
  Scan();
}

void TLFInfoList::Scan() {
  const std::string folder = IncludeTrailingPathDelimiter(fullPath_);
  for (const TSearchEntry& found : FindFiles(folder + ProgramNameWithExt(".*.lng"), faAnyFile)) {
    const std::string name = folder + found.Name;
    if (!FileExists(name)) continue;  // a folder that matches the mask
    TOwned<TLangFile> file;
    try {
      file.reset(New<TLangFile>(name, true));
    } catch (const std::exception&) {
      // Not a language file, or one that can't be read: it is not listed.
      continue;
    }
    int index = IndexOfLocale(file->LangID);
    TLFInfo* info;
    if (index < 0) {
      info = New<TLFInfo>();
      info->Locale = file->LangID;
      info->EnglishName = file->EnglishName;
      info->LocalizedName = file->LocalizedName;
      AddSorted(info);
    } else {
      info = GetInfo(index);
      info->EnglishName = file->EnglishName;
    }
    info->FileName = found.Name;
    info->Native = file->IsNative;
  }
}

// --- The localizer -------------------------------------------------------------------------------

// The re-translation's context: the localizer's switches and events, and its
// two processing hooks.
class TJLocalizerOnFly::TTranslator : public TLiveTranslator {
 public:
  explicit TTranslator(TJLocalizerOnFly* owner) : owner_(owner) {}

 protected:
  bool ProcessCustomObject(TObject* object, const std::string& path, TLResValue* value) override {
    return owner_->ProcessCustomObject(object, path, value);
  }
  TObject* ProcessCollectionItem(TObject* object, const std::string& name, int index) override {
    return owner_->ProcessCollectionItem(object, name, index);
  }

 private:
  TJLocalizerOnFly* owner_;
};

TJLocalizerOnFly::TJLocalizerOnFly()
    : store_(New<TLangResource>()), languages_(New<TLFInfoList>()), translator_(new TTranslator(this)) {
  Utils().OnTheFly = true;
}

void TJLocalizerOnFly::Destroy() {
  Destroying = true;
  if (Initialized && DeleteOldLibraries) SwitchToAbbreviation("ntv");
  FreeObject(languages_);
  FreeObject(store_);
  delete translator_;
  TObject::Destroy();
}

void TJLocalizerOnFly::NotifySwitchStart() {
  if (OnSwitchStart && !Initializing) OnSwitchStart(this);
}

void TJLocalizerOnFly::NotifySwitched(int index) {
  if (index != -1 && OnSwitched && !Initializing) OnSwitched(this, languages_->GetInfo(index));
}

bool TJLocalizerOnFly::ProcessCustomObject(TObject* object, const std::string& path, TLResValue* value) {
  bool handled = false;
  if (!OnCustomObject) return false;
  OnCustomObject(object, path, handled, value);
  return handled;
}

TObject* TJLocalizerOnFly::ProcessCollectionItem(TObject* object, const std::string& name, int index) {
  TObject* result = nullptr;
  if (OnCollectionItem) OnCollectionItem(object, name, result, index);
  return result;
}

template <class F>
void TJLocalizerOnFly::Routed(F&& f) {
  try {
    f();
  } catch (const Exception&) {
    HandleError();
  }
}

// Called while the framework's exception is being handled.
void TJLocalizerOnFly::HandleError() {
  if (ErrorMode == 0) throw;
  try {
    throw;
  } catch (const Exception& e) {
    ShowError(e.Message);
  }
}

void TJLocalizerOnFly::ShowError(const std::string& message) {
  if (ErrorMode == 1 && g_platform) g_platform->ShowErrorBox(message, kLocalizerErrorCaption);
}

void TJLocalizerOnFly::CheckInitialized() const {
  if (!Initialized) Raise(SLocNotInitialized);
}

bool TJLocalizerOnFly::IsNativeAbbreviation(const std::string& abbreviation) {
  return SameText(abbreviation, "exe") || SameText(abbreviation, "ntv");
}

std::string TJLocalizerOnFly::NativeFileName() const {
  return IncludeTrailingPathDelimiter(GetLanguagesPath()) + ProgramNameWithExt(".ntv.lng");
}

std::string TJLocalizerOnFly::LanguageFileName(const std::string& abbreviation) const {
  return IncludeTrailingPathDelimiter(GetLanguagesPath()) + ProgramNameWithExt("." + abbreviation + ".lng");
}

std::string TJLocalizerOnFly::ScanMask() const {
  return ProgramNameWithExt(".*.lng");
}

std::string TJLocalizerOnFly::LibraryFileName(const std::string& abbreviation) const {
  return ModuleLibraryName(AppFileName(), abbreviation);
}

std::string TJLocalizerOnFly::ModuleLibraryName(const std::string& moduleFile, const std::string& abbreviation) const {
  if (LibraryPath.empty()) return ChangeFileExt(moduleFile, "." + abbreviation);
  return IncludeTrailingPathDelimiter(LibraryPath) + ChangeFileExt(ExtractFileName(moduleFile), "." + abbreviation);
}

std::string TJLocalizerOnFly::NativeLibraryFileName() const {
  return IncludeTrailingPathDelimiter(GetLanguagesPath()) + ProgramNameWithExt(".ntv");
}

std::uint32_t TJLocalizerOnFly::GetNativeLocale() const {
  int i = languages_->NativeIndex();
  return i < 0 ? 0 : languages_->GetInfo(i)->Locale;
}

void TJLocalizerOnFly::Initialize(const std::string& folder) {
  Initializing = true;
  RegistryKey.clear();
  try {
    SetLanguagesFolder(folder.empty() ? ProgramFolder() : folder);
    Routed([&] {
      LoadNativeLanguage();
      CurrentLocale = Utils().GetCurrentDLLInfo()->Locale;
      CurrentLanguageIndex = EnsureLanguageData(CurrentLocale);
      Initialized = true;
    });
  } catch (...) {
    Initializing = false;
    throw;
  }
  Initializing = false;
}

void TJLocalizerOnFly::SetLanguagesFolder(const std::string& path) {
  Routed([&] { languages_->SetFolder(path); });
}

void TJLocalizerOnFly::SetDLLFolder(const std::string& path) {
  if (path == LibraryFolder) return;
  const std::string full = ResolveAgainstProgramFolder(path);
  if (!DirectoryExists(full)) Raise(SLocPathNotExists, full);
  LibraryFolder = path;
  LibraryPath = full;
}

void TJLocalizerOnFly::SwitchToLocale(std::uint32_t locale) {
  Routed([&] {
    CheckInitialized();
    const bool onlyNative = locale == GetNativeLocale() && languages_->IndexOfForeignLocale(locale) < 0;
    SwitchLanguage(locale, onlyNative ? "ntv" : LocaleFileAbbreviation(locale));
  });
}

void TJLocalizerOnFly::SwitchToAbbreviation(const std::string& abbreviation) {
  Routed([&] {
    CheckInitialized();
    if (IsNativeAbbreviation(abbreviation))
      SwitchLanguage(GetNativeLocale(), "ntv");
    else
      SwitchLanguage(LocaleFromAbbreviation(abbreviation), abbreviation);
  });
}

void TJLocalizerOnFly::SwitchLanguage(std::uint32_t locale, std::string abbreviation) {
  PreviousLocale = CurrentLocale;
  NotifySwitchStart();
  for (;;) {
    const std::string name = LanguageFileName(abbreviation);
    if (FileExists(name)) {
      SwitchFromFile(name);
      break;
    }
    if (languages_->IsEmbedded(locale)) {
      SwitchFromResource(locale);
      break;
    }
    if (locale == GetNativeLocale() && abbreviation != "ntv") {
      abbreviation = "ntv";
      continue;
    }
    Raise(SLocLanguageNotFound, LanguageNameFromTable(static_cast<std::uint16_t>(locale)));
  }
  // The library in use is kept when the switch went to the language it had.
  if (DeleteOldLibraries && PreviousLocale != locale && PreviousLocale != 0) {
    for (const std::string& library : LibraryFileNames(LocaleFileAbbreviation(PreviousLocale))) {
      try {
        DeleteFile(library);
      } catch (const Exception&) {
      }
    }
  }
  if (SwitchModules && !DataOnly) {
    for (const LibModule& entry : ModuleListSnapshot()) {
      if (entry.instance == Utils().AppInstance) continue;
      try {
        SwitchModuleLanguage(entry.instance, abbreviation, TModuleSwitchMode::ByList);
      } catch (const Exception&) {
      }
    }
    if (g_platform) {
      for (ModuleHandle module : g_platform->ProcessModules()) {
        if (module == Utils().AppInstance || !g_platform->HasExport(module, "SwitchToFile")) continue;
        if (!FindResourceData(module, rtRcData, kLibSettingsName)) continue;
        try {
          SwitchModuleLanguage(module, abbreviation, TModuleSwitchMode::ByExport);
        } catch (const Exception&) {
        }
      }
    }
  }
  NotifySwitched(languages_->IndexOfLocale(locale));
}

void TJLocalizerOnFly::SwitchFromFile(const std::string& path) {
  CheckInitialized();
  if (!FileExists(path)) Raise(SLocFileNotFound, path);
  TOwned<TLangFile> file(New<TLangFile>(path, true));
  ApplyLanguageFile(*file);
}

void TJLocalizerOnFly::SwitchFromResource(std::uint32_t locale) {
  TOwned<TLangFile> file(New<TLangFile>());
  file->SetLocale(locale);
  if (!ExtractIntoStore(Utils().AppInstance, locale, lefAddToList, store_, *file))
    throw ELocOnFlyError(
        Format(SLocCannotLoadFromResources, LanguageNameFromTable(static_cast<std::uint16_t>(locale))));
  ApplyLanguageFile(*file);
}

void TJLocalizerOnFly::DeleteLibrary(const std::string& path) const {
  if (!DeleteFile(path) && FileExists(path)) Raise(SLocCannotDelete, path);
}

std::vector<std::string> TJLocalizerOnFly::LibraryFileNames(const std::string& abbreviation) const {
  std::vector<std::string> names{LibraryFileName(abbreviation)};
  if (!UserLibraryPath.empty()) {
    std::string user = IncludeTrailingPathDelimiter(UserLibraryPath) + ExtractFileName(names[0]);
    if (!SameText(user, names[0])) names.push_back(std::move(user));
  }
  return names;
}

bool TJLocalizerOnFly::UseLibraryInStep(const std::string& path, const TLangFile& file) {
  TJLocUtils& utils = Utils();
  if (!FileExists(path)) return false;
  try {
    const ModuleHandle handle = utils.LoadResourceDLL(0, path);
    if (!handle) return false;
    // A library of another language (a renamed or stray file), or one made
    // from other data, stays unloaded: it can be deleted and built anew.
    bool inStep = false;
    try {
      TOwned<TDLLInfoItem> settings(New<TDLLInfoItem>());
      utils.ReadModuleInfo(handle, true, *settings);
      inStep = settings->Locale == file.LangID && settings->Version == file.Version && settings->Build == file.Build;
    } catch (const Exception&) {
      // Unreadable settings: not this language's library either.
    }
    if (!inStep) {
      if (utils.Loader) utils.Loader->FreeLibrary(handle);
      return false;
    }
    utils.SetResourceInstance(0, handle);
    return true;
  } catch (const Exception&) {
    // A library that cannot be used is built anew.
    return false;
  }
}

void TJLocalizerOnFly::BuildLibrary(TLangFile& file, const std::string& path) {
  TJLocUtils& utils = Utils();
  DeleteLibrary(path);
  const std::string nativeLibrary = NativeLibraryFileName();
  if (FileExists(nativeLibrary)) {
    file.SaveLanguageDLL(nullptr, path, SyncCheck, store_, nativeLibrary);
  } else {
    utils.RestoreAllModules();
    file.SaveLanguageDLL(reinterpret_cast<void*>(utils.AppInstance), path, SyncCheck, store_, "");
  }
  const ModuleHandle library = utils.LoadResourceDLL(0, path);
  // Out of step with the program (a native library of another version): not used.
  if (!library) throw ELULoadResLibError("Error loading resource file \"" + path + "\"");
  utils.SetResourceInstance(0, library);
}

void TJLocalizerOnFly::FallBackToNative() {
  Utils().RestoreAllModules();
  CurrentLocale = GetNativeLocale();
  CurrentLanguageIndex = 0;
  if (Destroying) return;
  try {
    store_->CurrentLanguage = 0;
    SyncTranslator();
    translator_->ApplyScreenCharset();
    RetranslateForms(store_);
    RetranslateDataModules(store_);
  } catch (const Exception&) {
    // The switch's own error is the one reported.
    SwallowException("TJLocalizerOnFly.FallBackToNative: re-translating the forms");
  }
}

void TJLocalizerOnFly::ApplyLanguageFile(TLangFile& file) {
  TJLocUtils& utils = Utils();
  const ModuleHandle resourcesBefore = FindResourceHInstance(utils.AppInstance);
  const std::uint32_t localeBefore = CurrentLocale;
  const int indexBefore = CurrentLanguageIndex;
  bool translating = false;
  try {
    const std::uint32_t native = GetNativeLocale();
    bool inSync = false;
    std::vector<std::string> libraries;
    if (!DataOnly) {
      if (file.LangID != native) libraries = LibraryFileNames(LocaleFileAbbreviation(file.LangID));
      if (!libraries.empty() && utils.GetCurrentDLLInfo()->Locale != file.LangID) {
        for (const std::string& library : libraries) {
          if (!UseLibraryInStep(library, file)) continue;
          CurrentLocale = utils.GetCurrentDLLInfo()->Locale;
          CurrentLanguageIndex = EnsureLanguageData(CurrentLocale);
          break;
        }
      }
      TDLLInfoItem* active = utils.GetCurrentDLLInfo();
      if (active->Locale == file.LangID) {
        inSync = active->Version == file.Version && active->Build == file.Build;
        if (!inSync) utils.RestoreAllModules();
      }
    }
    if (!(inSync && Initializing && !DataOnly)) {
      int index = StoreIndexOf(store_, file.LangID);
      const bool fromDisk = !file.FileName.empty() && FileExists(file.FileName);
      if (index < 0) {
        if (KeepOneLanguage && store_->GetLanguageCount() > 1) store_->RemoveLanguage(1);
        index = store_->AddLanguage(0, static_cast<std::uint16_t>(file.LangID));
        file.LoadIntoResource(store_, index, 0);
      } else if (fromDisk) {
        // The column may hold the embedded block's texts: the file's are the ones
        // its version and build stand for, and the library is built from them.
        file.LoadIntoResource(store_, index, 0);
      }
      CurrentLanguageIndex = index;
    }
    if (!inSync && !DataOnly) {
      if (file.LangID == native) {
        utils.RestoreAllModules();
      } else {
        // The library folder first, then the user's: the first place the
        // library can be written and used is where it stays.
        file.LangIndex = CurrentLanguageIndex;
        std::exception_ptr firstError;
        bool built = false;
        for (const std::string& library : libraries) {
          try {
            BuildLibrary(file, library);
            built = true;
            break;
          } catch (const Exception&) {
            if (!firstError) firstError = std::current_exception();
          }
        }
        if (!built) std::rethrow_exception(firstError);
      }
    }
    if (Destroying) return;
    store_->CurrentLanguage = CurrentLanguageIndex;
    CurrentLocale = DataOnly ? file.LangID : utils.GetCurrentDLLInfo()->Locale;
    translating = true;
    SyncTranslator();
    translator_->ApplyScreenCharset();
    RetranslateForms(store_);
    RetranslateDataModules(store_);
  } catch (...) {
    // Never half a switch: untouched, the previous language stands whole;
    // else the program goes back to its own language everywhere.
    if (!translating && FindResourceHInstance(utils.AppInstance) == resourcesBefore) {
      CurrentLocale = localeBefore;
      CurrentLanguageIndex = indexBefore;
    } else {
      FallBackToNative();
    }
    throw;
  }
  SaveLanguageChoice();
}

void TJLocalizerOnFly::LoadNativeLanguage() {
  const std::string nativeFile = NativeFileName();
  bool found = false;
  auto takeSwitches = [&](const TLangFile& file) {
    SyncCheck = PrimaryLanguageOf(file.LangID) == kEnglishPrimary;
    ApplyCharset = !file.HasAttribute(lfaNoCharsetAdjust);
    ApplyBiDiMode = file.HasAttribute(lfaBiDiAdjust);
  };
  if (FileExists(nativeFile)) {
    TOwned<TLangFile> file(New<TLangFile>(nativeFile, true));
    file->LoadIntoResource(store_, -1, 0);
    takeSwitches(*file);
    found = true;
  }
  TOwned<TLangFile> header(New<TLangFile>());
  if (LoadEmbeddedLanguage(0, found, header.get())) {
    takeSwitches(*header);
    found = true;
  }
  if (!found) Raise(SLocFileNotFound, nativeFile);
}

bool TJLocalizerOnFly::LoadEmbeddedLanguage(std::uint32_t locale, bool onlyList, TLangFile* header) {
  TOwned<TLangFile> own;
  if (!header) {
    own.reset(New<TLangFile>());
    header = own.get();
  }
  header->SetLocale(locale);
  if (!ExtractIntoStore(Utils().AppInstance, locale, lefAddToList | (onlyList ? lefListOnly : 0), store_, *header))
    return false;
  ShowOutdated = header->HasAttribute(lfaUseOutdated);
  return true;
}

int TJLocalizerOnFly::EnsureLanguageData(std::uint32_t locale) {
  int index = StoreIndexOf(store_, locale);
  if (index >= 0) return index;
  const std::string name = LanguageFileName(LocaleFileAbbreviation(locale));
  if (FileExists(name)) {
    TOwned<TLangFile> file(New<TLangFile>(name, true));
    index = store_->AddLanguage(0, static_cast<std::uint16_t>(locale));
    file->LoadIntoResource(store_, index, 0);
    ShowOutdated = file->HasAttribute(lfaUseOutdated);
    return index;
  }
  LoadEmbeddedLanguage(locale);
  return StoreIndexOf(store_, locale);
}

bool TJLocalizerOnFly::ExtractEmbeddedLanguage(ModuleHandle module, std::uint32_t locale, std::uint32_t flags,
                                               TStream* stream) {
  std::optional<std::string_view> data = FindResourceData(module, rtRcData, kLocLangsName);
  if (!data) return false;
  ByteReader r(*data);
  if (r.Remaining() < 3 || data->substr(0, 3) != kLocLangsSignature) return false;
  std::string block;
  try {
    r.Skip(3);
    const std::uint16_t format = r.U16LE();
    r.Skip(4);
    const std::uint16_t count = r.U16LE();
    // The count comes from outside: each header takes at least its two bytes,
    // so room is made only for as many as the data can hold.
    std::vector<TEmbeddedHeader> headers;
    headers.reserve(std::min<std::size_t>(count, r.Remaining() / 2));
    for (std::uint16_t n = 0; n < count; ++n) {
      TEmbeddedHeader& h = headers.emplace_back();
      h.LangID = r.U16LE();
      if (format >= 3) h.EnglishName = ReadResourceAnsiString(6, r);
      if (format >= 4) h.LocalizedName = ReadResourceWideString(6, r);
    }
    if (flags & lefAddToList) {
      for (std::size_t i = 0; i < headers.size(); ++i) {
        const TEmbeddedHeader& h = headers[i];
        if (languages_->IndexOfLocale(h.LangID) >= 0) continue;
        TOwned<TLFInfo> info(New<TLFInfo>());
        info->Native = i == 0;
        info->Locale = h.LangID;
        info->EnglishName = format >= 3 ? h.EnglishName : LanguageNameFromTable(h.LangID);
        info->LocalizedName =
            format >= 4 ? h.LocalizedName : AnsiToWide(GetLocaleText(h.LangID, kLocaleSNativeLangName));
        languages_->AddSorted(info.release());
      }
    }
    int wanted = -1;
    for (std::size_t i = 0; i < headers.size(); ++i)
      if (locale == 0 ? i == 0 : headers[i].LangID == locale) {
        wanted = static_cast<int>(i);
        break;
      }
    if (wanted < 0 || !stream || (flags & lefListOnly)) return false;
    auto blockSize = [&]() -> std::uint32_t { return format <= 1 ? r.U16LE() : r.U32LE(); };
    for (int i = 0; i < wanted; ++i) r.Skip(blockSize());
    const std::uint32_t size = blockSize();
    if (size > r.Remaining()) Raise(SLocInvalidJLangs);
    block = r.Bytes(size);
  } catch (const EByteRange&) {
    Raise(SLocInvalidJLangs);
  } catch (const EReadError&) {
    Raise(SLocInvalidJLangs);
  }
  if (IsLzjData(block)) block = LzjDecompress(block);
  stream->WriteBuffer(block.data(), static_cast<std::int64_t>(block.size()));
  return true;
}

bool TJLocalizerOnFly::ExtractIntoStore(ModuleHandle module, std::uint32_t locale, std::uint32_t flags,
                                        TLangResource* store, TLangFile& file) {
  TOwned<TMemoryStream> image(New<TMemoryStream>());
  if (!ExtractEmbeddedLanguage(module, locale, flags, image.get())) return false;
  image->SetPosition(0);
  if (locale == 0) {
    file.LoadFromStream(*image, store, 0, -1);
  } else {
    // A language already in the store is loaded into its own column again, not into a second one.
    int index = StoreIndexOf(store, locale);
    if (index < 0) index = store->AddLanguage(0, static_cast<std::uint16_t>(locale));
    file.LoadFromStream(*image, store, 0, index);
  }
  return true;
}

bool TJLocalizerOnFly::ReadEmbeddedHeader(ModuleHandle module, std::uint32_t locale, TLangFile& file) {
  TOwned<TMemoryStream> image(New<TMemoryStream>());
  if (!ExtractEmbeddedLanguage(module, locale, 0, image.get())) return false;
  image->SetPosition(0);
  file.ReadHeader(*image, false);
  return true;
}

void TJLocalizerOnFly::SaveLanguageChoice() {
  if (RegistryKey.empty()) return;
  TOwned<TRegistryIniFile> ini(New<TRegistryIniFile>(RegistryKey));
  ini->WriteString(RegistrySection, RegistryValueName,
                   CurrentLocale == GetNativeLocale() ? std::string("EXE") : LocaleFileAbbreviation(CurrentLocale));
}

std::string TJLocalizerOnFly::ModuleFileName(ModuleHandle module) const {
  TJLocUtils& utils = Utils();
  return utils.Loader ? utils.Loader->ModuleFileName(module ? module : utils.AppInstance) : std::string();
}

void TJLocalizerOnFly::SwitchModuleLanguage(ModuleHandle module, const std::string& abbreviation,
                                            TModuleSwitchMode mode) {
  TJLocUtils& utils = Utils();
  if (!module) module = utils.AppInstance;
  const bool byExport = mode == TModuleSwitchMode::ByExport;
  auto restore = [&] {
    if (byExport) {
      if (g_platform) g_platform->BackToModuleRes(module);
    } else {
      utils.RestoreModule(module);
    }
  };
  const std::string moduleFile = ModuleFileName(module);
  if (moduleFile.empty()) Raise(SLocFileNotExists);
  const std::string library = ModuleLibraryName(moduleFile, abbreviation);
  const ModuleHandle resources = FindResourceHInstance(module);

  // A module without settings: its library, when there is one, is taken as it is.
  if (!FindResourceData(resources, rtRcData, kLibSettingsName)) {
    ModuleHandle loaded = FileExists(library) && utils.Loader ? utils.Loader->LoadDataFile(library) : 0;
    if (loaded)
      utils.SetResourceInstance(module, loaded);
    else
      restore();
    return;
  }

  TOwned<TDLLInfoItem> own(New<TDLLInfoItem>()), active(New<TDLLInfoItem>());
  utils.ReadModuleInfo(module, false, *own);
  utils.ReadModuleInfo(resources, true, *active);
  std::string languageName = ChangeFileExt(moduleFile, "." + abbreviation + ".lng");
  if (!FileExists(languageName))
    languageName = IncludeTrailingPathDelimiter(GetLanguagesPath()) + ExtractFileName(languageName);
  TOwned<TLangFile> file;
  if (FileExists(languageName)) {
    file.reset(New<TLangFile>(languageName, true));
  } else {
    file.reset(New<TLangFile>());
    if (!ReadEmbeddedHeader(module, LocaleFromAbbreviation(abbreviation), *file)) file.reset();
  }
  auto sameVersionAndBuild = [&](const TDLLInfoItem& item) {
    return item.Version == own->Version && (!file || item.Build == file->Build);
  };

  bool inSync = false;
  auto loadLibrary = [&] {
    try {
      if (!FileExists(library)) return;
      bool loaded = false;
      TOwned<TDLLInfoItem> got(New<TDLLInfoItem>());
      if (byExport) {
        if (!g_platform) return;
        TSwitchRecord record{};
        loaded = g_platform->SwitchToFile(module, library, record);
        record.EnglishName[sizeof record.EnglishName - 1] = '\0';
        record.FileName[sizeof record.FileName - 1] = '\0';
        got->FileName = record.FileName;
        got->Locale = record.Locale;
        got->Version = record.Version;
        got->Build = record.Build;
      } else {
        ModuleHandle handle = utils.LoadResourceDLL(module, library);
        if (handle) {
          utils.SetResourceInstance(module, handle);
          utils.ReadModuleInfo(handle, true, *got);
          loaded = true;
        }
      }
      inSync = loaded && sameVersionAndBuild(*got);
      if (!inSync) restore();
    } catch (const Exception&) {
    }
  };
  if (SameText(abbreviation, LocaleFileAbbreviation(active->Locale)) && sameVersionAndBuild(*active))
    inSync = true;
  else
    loadLibrary();

  if (file) {
    TOwned<TLangResource> store(New<TLangResource>());
    std::string nativeName = ChangeFileExt(moduleFile, ".ntv.lng");
    if (!FileExists(nativeName))
      nativeName = IncludeTrailingPathDelimiter(GetLanguagesPath()) + ExtractFileName(nativeName);
    bool haveNative = false;
    if (FileExists(nativeName)) {
      TOwned<TLangFile> n(New<TLangFile>(nativeName, true));
      n->LoadIntoResource(store.get(), -1, 0);
      haveNative = true;
    } else {
      TOwned<TLangFile> n(New<TLangFile>());
      haveNative = ExtractIntoStore(module, 0, 0, store.get(), *n);
    }
    if (haveNative) {
      if (!file->FileName.empty() && FileExists(file->FileName)) {
        int index = store->AddLanguage(0, static_cast<std::uint16_t>(file->LangID));
        file->LoadIntoResource(store.get(), index, 0);
      } else {
        ExtractIntoStore(module, file->LangID, 0, store.get(), *file);
      }
      if (!inSync) {
        if (!SameText(abbreviation, "ntv")) {
          DeleteLibrary(library);
          file->LangIndex = 1;
          file->SaveLanguageDLL(reinterpret_cast<void*>(module), library, SyncCheck, store.get(), "");
          loadLibrary();
        } else {
          restore();
        }
      }
      store->CurrentLanguage = 1;
      if (!Destroying) {
        RetranslateForms(store.get());
        RetranslateDataModules(store.get());
      }
    }
  } else {
    restore();
  }
  if (DeleteOldLibraries && PreviousLocale != 0 && PreviousLocale != CurrentLocale) {
    try {
      DeleteFile(ModuleLibraryName(moduleFile, LocaleFileAbbreviation(PreviousLocale)));
    } catch (const Exception&) {
    }
  }
}

void TJLocalizerOnFly::SyncTranslator() {
  translator_->Store = store_;
  translator_->ApplyCharset = ApplyCharset;
  translator_->ApplyBiDiMode = ApplyBiDiMode;
  translator_->ShowOutdated = ShowOutdated;
  translator_->CurrentLocale = CurrentLocale;
  translator_->OnCustomObject = OnCustomObject;
  translator_->OnCollectionItem = OnCollectionItem;
  translator_->OnSpecialPath = OnSpecialPath;
  translator_->Host = Host;
}

void TJLocalizerOnFly::RetranslateForms(TLangResource* store) {
  SyncTranslator();
  translator_->RetranslateForms(store);
}

void TJLocalizerOnFly::RetranslateDataModules(TLangResource* store) {
  SyncTranslator();
  translator_->RetranslateDataModules(store);
}

void TJLocalizerOnFly::TranslateLiveComponent(TLangResource* store, TComponent* component) {
  SyncTranslator();
  translator_->TranslateLiveComponent(store, component);
}

// --- The unit ------------------------------------------------------------------------------------

void SetLocOnFlyPlatform(TLocOnFlyPlatform* platform) {
  g_platform = platform;
}

TLocOnFlyPlatform* LocOnFlyPlatform() {
  return g_platform;
}

TJLocalizerOnFly* LocalizerOnFly() {
  return g_localizer;
}

void InitLocOnFly() {
  if (g_localizer) return;
  g_localizer = New<TJLocalizerOnFly>();
  SetLanguageDLLOnTheFly(true);
}

void DoneLocOnFly() {
  TJLocalizerOnFly* localizer = g_localizer;
  g_localizer = nullptr;
  FreeObject(localizer);
}
