// The Win32 half of the NokiaUtils unit: the system's locale calls, the
// picture class for the monochrome phone-logo files, and the unit
// initialization that installs the one and makes the picture registry offer
// the other for the five logo extensions.
#pragma once

#include <string>

#include "Graphics.h"
#include "NokiaUtils.h"
#include "Units.h"

// The locale routines' calls on Win32: GetLocaleInfoA
// (LOCALE_IDEFAULTANSICODEPAGE, six characters with the terminating zero),
// GetACP, WideCharToMultiByte (sized by the system, so a double-byte code page
// gets all its bytes), CompareStringA and CompareStringW with NORM_IGNORECASE,
// GetUserDefaultLCID and GetSystemDefaultLCID.
TLocaleCalls& WinLocaleCalls();

// A bitmap whose file load and save pick the logo codec by the file's
// extension (.nol, .ngg, .nlm, .ota, .nsl); any other extension is an ordinary
// bitmap file. A set pixel reads as black and a clear one as white; on saving
// only pure black counts as set.
//
// Loading a file that does not exist changes nothing and raises nothing,
// whatever its extension. A logo file that cannot be decoded leaves an empty picture and raises
// EInvalidGraphic; a picture that its logo format cannot hold raises
// EInvalidGraphic on saving, before the file is touched.
class TNokiaGraphic : public TBitmap {
  FW_CLASS(TNokiaGraphic, TBitmap)
 public:
  void LoadFromFile(const std::string& fileName) override;
  void SaveToFile(const std::string& fileName) override;
};

// The unit's initialization: installs the Win32 locale calls and chooses
// WideTextCompare for the platform line (InitNokiaUtils; the platform line is
// read before this unit starts), registers TNokiaGraphic with the class
// registry and, in this order, with the picture registry for "nol" (Nokia
// Operator Logo), "ngg" (Nokia Group Graphic), "nlm" (NLM graphic), "ota"
// (Over The Air graphic) and "nsl" (Nokia Startup Logo). Running it again is
// harmless.
void InitNokiaUtilsWin();
// The unit's finalization: removes the five picture formats again and puts
// the stand-in locale calls back.
void DoneNokiaUtilsWin();
// The unit's entry for the program's unit table.
inline UnitEntry NokiaUtilsWinUnit() {
  return UnitEntry{"NokiaUtilsWin", InitNokiaUtilsWin, DoneNokiaUtilsWin};
}
