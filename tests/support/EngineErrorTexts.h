// The localization engine's error texts: resource strings of the program's
// string table, each with the native text it reads as where no table holds it.
#pragma once

#include <vector>

#include "JCompress.h"
#include "JWStrings.h"
#include "LFProc.h"
#include "LangRes.h"
#include "LocOnFly.h"
#include "LocStreamErrors.h"
#include "PEReader.h"
#include "PackedStrings.h"
#include "ResStrings.h"

inline const std::vector<ResString>& EngineErrorTexts() {
  static const std::vector<ResString> texts = {
      SWrongStreamFormat,
      SSourceStreamNotDefined,
      SDestinationStreamNotDefined,
      SStreamReadError,
      SPackedLengthTooLarge,
      SSystemErrorCode,
      SOSFunctionFailed,
      SEmptyDictionary,
      SCouldNotAddLanguage,
      SCouldNotRemoveLanguage,
      SExeOpenError,
      SExeEmptyImage,
      SExeUnrecognized,
      SExeNotPE,
      SExeNoResources,
      SExeNotAList,
      SExeBadResources,
      SLFInvalidFormat,
      SLFTooNew,
      SLFInvalidStore,
      SLFInvalidIndex,
  };
  return texts;
}

// The on-the-fly localizer's texts: in the string table, and translated by the
// language data.
inline const std::vector<ResString>& LocalizerErrorTexts() {
  static const std::vector<ResString> texts = {
      SLocNotInitialized, SLocFileNotFound,  SLocPathNotExists, SLocLanguageNotFound,
      SLocCannotDelete,   SLocInvalidJLangs, SLocFileNotExists,
  };
  return texts;
}
