// Language files (".lng"): one language's translation of every translatable
// text of the program, or for the native language the texts themselves with
// their identifiers. Formats 1 to 7, plain or LZJ-compressed; all numbers
// little-endian. TLangFile reads a file's header and loads its body into a
// translation store.
//
// Header: "LF", format F, version, build (F > 4), LANGID, based-on LANGID
// (F > 2), English and localized names (always the 16-bit packed rule),
// is-native word, attributes (F > 1), constant and property max IDs,
// external max ID (F > 6). Body: units with their constants, forms with
// their own and their components' properties, external groups (F > 6).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ByteReader.h"
#include "Exceptions.h"
#include "LangRes.h"
#include "Object.h"
#include "ResStrings.h"
#include "Streams.h"

FW_EXCEPTION(ELFProcError, Exception);

// The reader's error texts, resource strings of the program.
inline constexpr ResString SLFInvalidFormat{65249, 0, "Invalid file format"};
inline constexpr ResString SLFTooNew{65250, 0,
                                     "The language file can not be read. You need to download the latest Orvandel"};
inline constexpr ResString SLFInvalidStore{65251, 0, "Invalid LangResources"};
inline constexpr ResString SLFInvalidIndex{65252, 0, "Invalid index"};

inline constexpr std::uint16_t kLangFileMagic = 0x464C;  // "LF"
inline constexpr std::uint16_t kLangFileNewestFormat = 7;
// The constructor reads at most this many bytes of a compressed file.
inline constexpr std::size_t kLangFileScanSize = 2048;
// The longest header a plain file can have: the fixed fields and both names
// at their 16-bit length limits. The constructor reads no more than this.
inline constexpr std::size_t kLangFileHeaderMaxSize =
    2 + 2 + 4 + 4 + 2 + 2 + (2 + 0xFFFF) + (2 + 2 * 0xFFFF) + 2 + 2 + 4 + 4 + 4;
// A language file on disk larger than this is refused as "Invalid file format"
// before anything is read: a real one, all of a program's texts and forms in
// one language, stays far below (the program's own are a few kilobytes).
inline constexpr std::int64_t kLangFileMaxSize = 16 * 1024 * 1024;

// Attribute bits.
inline constexpr std::uint16_t lfaNoCharsetAdjust = 0x0001;
inline constexpr std::uint16_t lfaBiDiAdjust = 0x0002;
inline constexpr std::uint16_t lfaUseOutdated = 0x0100;

// Load options.
inline constexpr std::uint32_t lfoMatchByName = 0x0001;
inline constexpr std::uint32_t lfoRenumberUsedIDs = 0x0002;

// A property value as a language file stores it, by kind: 0 an 8-byte double,
// 1 a 32-bit integer, 2 and 4 a packed wide string; no bytes for other kinds,
// nor for kinds 0 and 1 below format 4. `text` is left alone when nothing is read.
bool ReadTypedValue(ByteReader& reader, std::uint8_t kind, int format, std::u16string& text);

class TResProcessor;

// The settings resources and the embedded language list, RCDATA items of the program.
inline constexpr char kExeSettingsName[] = "WQM_EXESETTINGS_";
inline constexpr char kLibSettingsName[] = "WQM_LIBSETTINGS_";
inline constexpr char kLocLangsName[] = "WQM_LOC_LANGS_";
inline constexpr char kExeSettingsSignature[] = "JEXE";
inline constexpr char kLibSettingsSignature[] = "LDLL";
// The library kind word when the native settings carry none.
inline constexpr std::uint16_t kDefaultLibraryKind = 6;
inline constexpr char SLFInvalidNativeDLL[] = "Can't create DLL. The native DLL is invalid";

// The library builder's on-the-fly mode: set by the on-the-fly localizer's
// unit, whose libraries are built for the running program.
void SetLanguageDLLOnTheFly(bool on);
bool LanguageDLLOnTheFly();

class TLangFile : public TObject {
  FW_CLASS(TLangFile, TObject)
 public:
  TLangFile() { Init(); }
  // Stores the name and flag and, when the file exists, reads its header; a
  // compressed file is scanned from its first bytes only.
  TLangFile(const std::string& fileName, bool readOnly);

  std::uint16_t FormatVersion;
  std::uint32_t LangID;
  std::uint32_t Version;
  std::string EnglishName;
  std::u16string LocalizedName;
  bool IsNative;
  std::string FileName;
  std::uint32_t ConstMaxID;
  std::uint32_t PropertyMaxID;
  std::uint32_t ExtItemMaxID;
  std::uint16_t Attributes;
  std::uint16_t BasedOnLangID;
  std::uint32_t Build;
  std::int32_t LangIndex;
  bool ReadOnly;
  bool Compressed;

  void Init();

  // Reads the header of the (decompressed) bytes from their start and returns the body's
  // offset; with `checkOnly` nothing is stored.
  std::size_t ReadHeader(std::string_view bytes, bool checkOnly);
  std::size_t ReadHeader(TStream& stream, bool checkOnly);

  void LoadFromStream(TStream& stream, TLangResource* store, std::uint32_t options, int langIndex);
  // The same from the bytes of a language file.
  void LoadFromBytes(std::string_view bytes, TLangResource* store, std::uint32_t options, int langIndex);
  // Loads the whole file named by FileName; the header is read but not stored again.
  void LoadIntoResource(TLangResource* store, int langIndex, std::uint32_t options);
  void CheckTarget(TLangResource* store, int langIndex);
  // Loads the body into the store: create mode for a negative index, else the translation at that index.
  void LoadBody(std::string_view bytes, TLangResource* store, std::uint32_t options, int langIndex, bool storeHeader);

  // Language libraries: the string table and forms of the native module translated into
  // LangIndex of the store, with this file's settings. The module (when given) is read
  // through the installed module reader, else the native library file.
  void BuildLanguageDLL(void* module, TStream& stream, bool checkSync, TLangResource* store,
                        const std::string& nativeFileName);
  // Builds the image in memory, then replaces the target file with it.
  void SaveLanguageDLL(void* module, const std::string& fileName, bool checkSync, TLangResource* store,
                       const std::string& nativeFileName);
  // True with the kind word when the processor holds a usable "WQM_LIBSETTINGS_"; a
  // present but malformed one raises ELFProcError.
  bool ReadLibSettingsTemplate(TResProcessor* resources, std::uint16_t& libraryKind) const;
  void TranslateResources(TResProcessor* resources, TLangResource* store) const;
  static void DropExeResources(TResProcessor* resources);
  void WriteLibSettings(TResProcessor* resources, std::uint16_t libraryKind) const;
  // The time stamp of written libraries; none: the current time.
  std::optional<std::uint32_t> LibraryTimeStamp;

  bool HasAttribute(std::uint16_t mask) const { return (Attributes & mask) != 0; }
  void SetLocale(std::uint32_t langId) { LangID = langId; }
  void SetConstMaxID(std::uint32_t id) { ConstMaxID = id; }
  void SetPropertyMaxID(std::uint32_t id) { PropertyMaxID = id; }
  void SetExtItemMaxID(std::uint32_t id) { ExtItemMaxID = id; }

 private:
  // Decompresses LZJ data; sets Compressed.
  std::string Expand(std::string_view bytes, bool prefix);
  // The file's size; raises "Invalid file format" above kLangFileMaxSize.
  static std::int64_t CheckedFileSize(TStream& file);
};
