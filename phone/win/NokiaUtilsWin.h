// The Win32 half of the NokiaUtils unit: the picture class for the monochrome
// phone-logo files, and the unit initialization that makes the picture
// registry offer it for the five logo extensions.
#pragma once

#include <string>

#include "Graphics.h"
#include "Units.h"

// A bitmap whose file load and save pick the logo codec by the file's
// extension (.nol, .ngg, .nlm, .ota, .nsl); any other extension is an ordinary
// bitmap file. A set pixel reads as black and a clear one as white; on saving
// only pure black counts as set.
//
// Loading a file that does not exist changes nothing and raises nothing. A logo
// file that cannot be decoded leaves an empty picture and raises
// EInvalidGraphic; a picture that its logo format cannot hold raises
// EInvalidGraphic on saving, before the file is touched.
class TNokiaGraphic : public TBitmap {
  FW_CLASS(TNokiaGraphic, TBitmap)
 public:
  void LoadFromFile(const std::string& fileName) override;
  void SaveToFile(const std::string& fileName) override;
};

// The unit's initialization: registers TNokiaGraphic with the class registry
// and, in this order, with the picture registry for "nol" (Nokia Operator
// Logo), "ngg" (Nokia Group Graphic), "nlm" (NLM graphic), "ota" (Over The Air
// graphic) and "nsl" (Nokia Startup Logo). Running it again is harmless.
void InitNokiaUtilsWin();
// The unit's finalization: removes the five picture formats again.
void DoneNokiaUtilsWin();
// The unit's entry for the program's unit table.
inline UnitEntry NokiaUtilsWinUnit() {
  return UnitEntry{"NokiaUtilsWin", InitNokiaUtilsWin, DoneNokiaUtilsWin};
}
