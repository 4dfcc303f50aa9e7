// Switching the running program's language without a restart.
//
// The localizer keeps the list of available languages (language files in the
// languages folder and the languages of the program's embedded list), holds
// the translations in one store, makes sure that the program's string table
// and forms come from a language library that matches the language (building
// it when none does) and re-translates every live form and data module.
//
// File names, from the program's file name (say C:\P\Pellory.exe) and the
// languages folder L: L\Pellory.ntv.lng (native language file),
// L\Pellory.<abbr>.lng (a language file), L\Pellory.*.lng (the scan mask),
// C:\P\Pellory.<abbr> or <library folder>\Pellory.<abbr> (a language library)
// and L\Pellory.ntv (the native library a library is built from when present).
//
// Embedded language list: RCDATA "WQM_LOC_LANGS_" of the program, little-
// endian: "JLL", u16 list format K, u32 version (skipped), u16 N, N headers
// (u16 LANGID; K >= 3 the English name, K >= 4 the localized name, packed
// strings of format 6), then N blocks (u16 size when K <= 1, else u32, and
// that many bytes of a language-file image, LZJ-compressed or plain). The
// resource is outside data: every read is bounded by it.
//
// All operations run on the main thread. The public operations route the
// framework's exceptions through ErrorMode: 0 re-raises, 1 shows a message
// box "Localizer Error", 2 swallows; other exceptions pass on untouched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "JUtils.h"
#include "LFProc.h"
#include "LangRes.h"
#include "LiveForms.h"
#include "Method.h"
#include "Modules.h"
#include "Object.h"
#include "ResStrings.h"
#include "Streams.h"

FW_EXCEPTION(ELocOnFlyError, Exception);

// The localizer's texts, resource strings of the program.
inline constexpr ResString SLocNotInitialized{65253, 0, "Localizer is not initialized"};
inline constexpr ResString SLocFileNotFound{65254, 0, "Language file \"%s\" is not found"};
inline constexpr ResString SLocPathNotExists{65255, 0, "Specified path \"%s\" does not exist"};
inline constexpr ResString SLocLanguageNotFound{65256, 0, "Language \"%s\" is not found"};
inline constexpr ResString SLocCannotDelete{65257, 0, "Can not delete file \"%s\""};
inline constexpr ResString SLocInvalidJLangs{65258, 0, "Invalid JLANGS resource"};
inline constexpr ResString SLocFileNotExists{65259, 0, "File does not exist"};
// This one is a plain literal: the program carries no string for it.
inline constexpr char SLocCannotLoadFromResources[] = "Can not load language %s from resources";
inline constexpr char kLocalizerErrorCaption[] = "Localizer Error";

// Flags of ExtractEmbeddedLanguage.
inline constexpr std::uint32_t lefAddToList = 1;  // languages not yet in the list become entries
inline constexpr std::uint32_t lefListOnly = 2;   // read no block

class TLFInfoList;

// One available language.
class TLFInfo : public TObject {
  FW_CLASS(TLFInfo, TObject)
 public:
  bool Native = false;
  TLFInfoList* Owner = nullptr;
  std::string FileName;  // bare name in the languages folder; empty for an embedded language
  std::uint32_t Locale = 0;
  std::string EnglishName;
  std::u16string LocalizedName;
};

// The languages, in the order of their English names; owns its entries and
// only ever grows.
class TLFInfoList : public TJObjectList {
  FW_CLASS(TLFInfoList, TJObjectList)
 public:
  void Destroy() override;
  TLFInfo* GetInfo(int index) const { return static_cast<TLFInfo*>(GetItem(index)); }
  int IndexOfLocale(std::uint32_t locale) const;
  // The same with the native entry left out.
  int IndexOfForeignLocale(std::uint32_t locale) const;
  // The entry exists and has no file.
  bool IsEmbedded(std::uint32_t locale) const;
  int NativeIndex() const;
  // Inserts before the first entry whose English name is greater (ordinal),
  // so equal names keep their order of arrival; takes ownership.
  int AddSorted(TLFInfo* info);
  // The folder as given and as a full path (resolved against the program's
  // folder, without touching the current directory); then Scan. Raises
  // "Specified path ... does not exist" when it is no directory.
  void SetFolder(const std::string& path);
  // Every language file in the folder: new locales are added, a known one
  // gets the file's English name, file name and native flag. Unreadable
  // files are skipped.
  void Scan();
  const std::string& Folder() const { return folder_; }
  const std::string& FullPath() const { return fullPath_; }

 private:
  std::string folder_;
  std::string fullPath_;
};

// A folder named relative to the program's folder made a full path: joined,
// then the system's full-path normalisation. An absolute name (a drive, a
// leading separator) is only normalised.
std::string ResolveAgainstProgramFolder(const std::string& path);

// The record a module's "SwitchToFile" export fills: an interface between
// modules, laid out byte for byte.
struct TSwitchRecord {
  char FileName[260];
  std::uint32_t Locale;
  std::uint32_t Version;
  char EnglishName[1024];
  char16_t LocalizedName[1024];
  std::uint32_t Build;
};
static_assert(sizeof(TSwitchRecord) == 3344);
static_assert(offsetof(TSwitchRecord, Locale) == 260 && offsetof(TSwitchRecord, Version) == 264);
static_assert(offsetof(TSwitchRecord, EnglishName) == 268 && offsetof(TSwitchRecord, LocalizedName) == 1292);
static_assert(offsetof(TSwitchRecord, Build) == 3340);

// What the localizer needs of the system beyond files, resources and the
// loader: the error box and, for SwitchModules, the process's modules and
// their exports. The Win32 side lives in win/WinLocOnFly.h.
class TLocOnFlyPlatform {
 public:
  virtual ~TLocOnFlyPlatform() = default;
  // A message box with an OK button, owned by the main form's window when
  // there is a main form.
  virtual void ShowErrorBox(const std::string& message, const std::string& caption) = 0;
  // The modules loaded into the process.
  virtual std::vector<ModuleHandle> ProcessModules() = 0;
  virtual bool HasExport(ModuleHandle module, const char* name) = 0;
  // The module's "SwitchToFile" with the library path and the record; false
  // when it reports a failure or is missing.
  virtual bool SwitchToFile(ModuleHandle module, const std::string& path, TSwitchRecord& record) = 0;
  // The module's "BackToModuleRes".
  virtual void BackToModuleRes(ModuleHandle module) = 0;
};

// TSwitchedEvent(Sender, Info).
using TSwitchedEvent = Method<void(TObject* sender, TLFInfo* info)>;

enum class TModuleSwitchMode { ByList, ByExport };

class TJLocalizerOnFly : public TObject {
  FW_CLASS(TJLocalizerOnFly, TObject)
 public:
  TJLocalizerOnFly();
  void Destroy() override;

  virtual void NotifySwitchStart();
  virtual void NotifySwitched(int index);
  virtual bool ProcessCustomObject(TObject* object, const std::string& path, TLResValue* value);
  virtual TObject* ProcessCollectionItem(TObject* object, const std::string& name, int index);

  bool Initializing = true;
  bool Initialized = false;
  bool Destroying = false;
  bool DataOnly = false;
  bool ApplyCharset = true;
  bool ApplyBiDiMode = false;
  bool SwitchModules = false;
  bool KeepOneLanguage = false;
  bool DeleteOldLibraries = false;
  bool ShowOutdated = false;
  std::uint32_t CurrentLocale = 0;
  TLangResource* Store() const { return store_; }
  TLFInfoList* Languages() const { return languages_; }
  int CurrentLanguageIndex = 0;
  std::string RegistryKey;
  std::string RegistrySection;
  std::string RegistryValueName;
  std::string LibraryFolder;  // as given
  std::string LibraryPath;    // its full path
  // A folder the user may write (a full path; empty: none). A language
  // library that can't be written where LibraryFileName puts it is written
  // here instead, and found here again by later switches.
  std::string UserLibraryPath;
  std::uint8_t ErrorMode = 1;
  std::uint32_t PreviousLocale = 0;
  TCustomObjectEvent OnCustomObject;
  TIndexedObjectEvent OnCollectionItem;
  TIndexedObjectEvent OnSpecialPath;
  TNotifyEvent OnSwitchStart;
  TSwitchedEvent OnSwitched;
  bool SyncCheck = true;
  // The screen's forms for the re-translation (none: nothing to re-translate).
  LiveFormsHost* Host = nullptr;

  void Initialize(const std::string& folder);
  void SetLanguagesFolder(const std::string& path);
  const std::string& GetLanguagesFolder() const { return languages_->Folder(); }
  const std::string& GetLanguagesPath() const { return languages_->FullPath(); }
  // Not routed through the error reaction.
  void SetDLLFolder(const std::string& path);
  void SwitchToLocale(std::uint32_t locale);
  void SwitchToAbbreviation(const std::string& abbreviation);
  std::uint32_t GetNativeLocale() const;

  // The steps of a switch; they raise (the public operations above route).
  void SwitchLanguage(std::uint32_t locale, std::string abbreviation);
  void SwitchFromFile(const std::string& path);
  void SwitchFromResource(std::uint32_t locale);
  void ApplyLanguageFile(TLangFile& file);
  void LoadNativeLanguage();
  // Adds the embedded languages to the list and, unless onlyList, loads the
  // block of `locale` (0: the first) into the store; true when one was loaded.
  // `header`, when given, receives the loaded image's header.
  bool LoadEmbeddedLanguage(std::uint32_t locale, bool onlyList = false, TLangFile* header = nullptr);
  int EnsureLanguageData(std::uint32_t locale);
  // The language-file image of `locale` (0: the first block) from the
  // module's embedded list, expanded, into `stream`.
  bool ExtractEmbeddedLanguage(ModuleHandle module, std::uint32_t locale, std::uint32_t flags, TStream* stream);
  // Extracts and loads the block: locale 0 as the native language, another
  // into its column (added when the store has none).
  bool ExtractIntoStore(ModuleHandle module, std::uint32_t locale, std::uint32_t flags, TLangResource* store,
                        TLangFile& file);
  bool ReadEmbeddedHeader(ModuleHandle module, std::uint32_t locale, TLangFile& file);
  void SaveLanguageChoice();
  void SwitchModuleLanguage(ModuleHandle module, const std::string& abbreviation, TModuleSwitchMode mode);
  void ShowError(const std::string& message);

  void RetranslateForms(TLangResource* store);
  void RetranslateDataModules(TLangResource* store);
  void TranslateLiveComponent(TLangResource* store, TComponent* component);

  // File names.
  std::string NativeFileName() const;
  std::string LanguageFileName(const std::string& abbreviation) const;
  std::string ScanMask() const;
  std::string LibraryFileName(const std::string& abbreviation) const;
  // Where a language's library may be, in the order they are tried:
  // LibraryFileName, then the same bare name in UserLibraryPath.
  std::vector<std::string> LibraryFileNames(const std::string& abbreviation) const;
  std::string NativeLibraryFileName() const;
  static bool IsNativeAbbreviation(const std::string& abbreviation);

 private:
  class TTranslator;
  template <class F>
  void Routed(F&& f);
  void HandleError();
  void CheckInitialized() const;
  void SyncTranslator();
  std::string ModuleFileName(ModuleHandle module) const;
  std::string ModuleLibraryName(const std::string& moduleFile, const std::string& abbreviation) const;
  void DeleteLibrary(const std::string& path) const;
  // Installs the library when its settings are this file's language, version
  // and build; true when installed.
  bool UseLibraryInStep(const std::string& path, const TLangFile& file);
  // Writes the file's library at `path` from the store and installs it.
  void BuildLibrary(TLangFile& file, const std::string& path);
  // The program's own language everywhere: its resources, the locale and the forms.
  void FallBackToNative();

  TLangResource* store_;
  TLFInfoList* languages_;
  TTranslator* translator_;
};

// The system side (null: no box, no other modules); not owned.
void SetLocOnFlyPlatform(TLocOnFlyPlatform* platform);
TLocOnFlyPlatform* LocOnFlyPlatform();

// The global instance, made by InitLocOnFly (after the language-library swap's
// unit) and freed by DoneLocOnFly.
TJLocalizerOnFly* LocalizerOnFly();
void InitLocOnFly();
void DoneLocOnFly();
