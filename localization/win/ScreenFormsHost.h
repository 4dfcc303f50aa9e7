// The re-translation's view of the framework's Screen: its custom forms and
// data modules, PixelsPerInch, form scaling, BiDiMode and the screen fonts.
#pragma once

#include "LiveForms.h"

class ScreenFormsHost : public LiveFormsHost {
 public:
  int FormCount() override;
  TComponent* Form(int index) override;
  int DataModuleCount() override;
  TComponent* DataModule(int index) override;
  int ScreenPixelsPerInch() override;
  int FormPixelsPerInch(TComponent* form) override;
  void ScaleForm(TComponent* form, int screenPpi, int formPpi) override;
  void SetRightToLeft(TComponent* form, bool rightToLeft) override;
  void SetScreenFontsCharset(std::uint32_t charset) override;
};

// The one instance.
ScreenFormsHost& ScreenForms();
