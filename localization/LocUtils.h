// Language libraries as the program's resource module: loading one as a data
// file, checking it against the program by the settings resources, and making
// it (or the program itself again) the module that supplies the program's
// string table and forms.
//
// Settings resource (RCDATA "WQM_EXESETTINGS_", signature "JEXE", or
// "WQM_LIBSETTINGS_", signature "LDLL"), little-endian: signature, u32
// version, u16 LANGID, u16 n and n ANSI bytes, u16 m and m UTF-16 units, u16
// kind, u16 reserved, u32 build, one zero byte. Libraries come from outside
// the program: every read is bounded.
#pragma once

#include <cstdint>
#include <string>

#include "Exceptions.h"
#include "Lists.h"
#include "Modules.h"
#include "Object.h"
#include "Streams.h"

FW_EXCEPTION(ELocUtilsError, Exception);
FW_EXCEPTION(ELULoadResLibError, ELocUtilsError);
FW_EXCEPTION(ELUInvalidResLibrary, ELocUtilsError);
FW_EXCEPTION(ELUOutOfVersion, ELocUtilsError);

class TDLLInfoItem : public TObject {
  FW_CLASS(TDLLInfoItem, TObject)
 public:
  std::string FileName;
  std::uint32_t Locale = 0;
  std::uint32_t Version = 0;
  std::string EnglishName;
  std::u16string LocalizedName;
  std::uint32_t Build = 0;
};

// Owns its entries.
class TDLLInfoList : public TList {
  FW_CLASS(TDLLInfoList, TList)
 public:
  void Destroy() override;
  void Clear() override;
  // Frees every entry and keeps the (now empty) slots.
  virtual void FreeAllEntries();
  virtual void DeleteAndFree(int index);
  TDLLInfoItem* GetItem(int index) const { return static_cast<TDLLInfoItem*>(Get(index)); }
};

// Loading and freeing libraries as data files (the system's loader on
// Windows, in-memory modules in tests).
class TLibraryLoader {
 public:
  virtual ~TLibraryLoader() = default;
  // 0 when the file cannot be loaded.
  virtual ModuleHandle LoadDataFile(const std::string& path) = 0;
  virtual void FreeLibrary(ModuleHandle module) = 0;
  // The module's full file name; empty when unknown.
  virtual std::string ModuleFileName(ModuleHandle module) = 0;
};

// Parses a settings resource from the stream's start. Names end at their first
// zero; the build is read only when 8 bytes remain after the localized name,
// else it is 0. Data that ends inside a field raises ELUInvalidResLibrary
// naming `moduleName`.
void ReadModuleSettings(TStream& stream, TDLLInfoItem& item, const std::string& moduleName = {});

class TJLocUtils : public TObject {
  FW_CLASS(TJLocUtils, TObject)
 public:
  TJLocUtils();
  void Destroy() override;

  TDLLInfoList* List() const { return list_; }
  std::string AppFileName;
  ModuleHandle AppInstance = 0;
  bool OnTheFly = false;
  TLibraryLoader* Loader = nullptr;  // not owned

  // A stream on the module's settings, positioned after the checked signature.
  TOwned<TResourceStream> OpenSettings(ModuleHandle module, bool libraryKind);
  void ReadModuleInfo(ModuleHandle module, bool libraryKind, TDLLInfoItem& item);
  // The module's settings (library kind unless it is the program) and the
  // library's library-kind settings carry the same version.
  bool CheckVersion(ModuleHandle module, ModuleHandle library);
  ModuleHandle LoadResourceDLL(ModuleHandle module, const std::string& path);
  void SetResourceInstance(ModuleHandle module, ModuleHandle resourceModule);
  void UseResourceFile(const std::string& path);
  // The settings of the module that now supplies the program's resources; a
  // failure to read them leaves the previous contents.
  TDLLInfoItem* GetCurrentDLLInfo();
  void RestoreAllModules();
  void RestoreModule(ModuleHandle module);

 private:
  ModuleHandle OrApp(ModuleHandle module) const { return module ? module : AppInstance; }
  [[noreturn]] void RaiseInvalid(ModuleHandle module);
  TDLLInfoList* list_;
  TDLLInfoItem* current_;
};

// The global instance, made by InitLocUtils (the program's main instance, the
// installed loader) and freed by DoneLocUtils.
TJLocUtils* JLocUtils();
void SetLocUtilsLoader(TLibraryLoader* loader);
void InitLocUtils();
void DoneLocUtils();
