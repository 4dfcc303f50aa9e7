// Writers of the engine's language data: language-file images in any format
// from 1 to 7 (the layout TLangFile reads), the embedded language list
// "WQM_LOC_LANGS_" and the settings resources "WQM_EXESETTINGS_" and
// "WQM_LIBSETTINGS_". The program itself only reads these; the language data
// tool and the tests write them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "LangRes.h"

struct TLangFileHeader {
  std::uint16_t Format = 7;
  std::uint32_t Version = 0;
  std::uint32_t Build = 0;
  std::uint16_t LangID = 0;
  std::uint16_t BasedOnLangID = 0;
  std::string EnglishName;
  std::u16string LocalizedName;
  bool IsNative = false;
  std::uint16_t Attributes = 0;
};

// The image of a language file holding the store's values at `langIndex`
// (0 for the native file). The max IDs are the highest IDs written. Raises
// EWriteError for a format outside 1..7 or a string too long for its format.
std::string WriteLangFileImage(const TLangFileHeader& header, const TLangResource& store, int langIndex);

// One language of the embedded list: its header and its language-file image
// (stored as given: plain or LZJ-compressed).
struct TEmbeddedLanguage {
  std::uint16_t LangID = 0;
  std::string EnglishName;
  std::u16string LocalizedName;
  std::string Image;
};

// The "WQM_LOC_LANGS_" resource: "JLL", list format, version, the headers and the blocks.
std::string WriteEmbeddedLanguageList(const std::vector<TEmbeddedLanguage>& languages, std::uint16_t listFormat,
                                      std::uint32_t version);

// A settings resource: signature "JEXE" or "LDLL", version, LANGID, the names
// (16-bit lengths), kind word, reserved word, build and one zero byte.
std::string WriteSettingsResource(const std::string& signature, std::uint32_t version, std::uint16_t langId,
                                  const std::string& englishName, const std::u16string& localizedName,
                                  std::uint16_t kind, std::uint32_t build);
