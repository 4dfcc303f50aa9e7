#include "ScreenFormsHost.h"

#include "Forms.h"

int ScreenFormsHost::FormCount() {
  return Screen ? Screen->CustomFormCount() : 0;
}

TComponent* ScreenFormsHost::Form(int index) {
  return Screen->CustomForms(index);
}

int ScreenFormsHost::DataModuleCount() {
  return Screen ? Screen->DataModuleCount() : 0;
}

TComponent* ScreenFormsHost::DataModule(int index) {
  return Screen->DataModules(index);
}

int ScreenFormsHost::ScreenPixelsPerInch() {
  return Screen ? Screen->PixelsPerInch() : 96;
}

int ScreenFormsHost::FormPixelsPerInch(TComponent* form) {
  auto* f = dynamic_cast<TCustomForm*>(form);
  return f ? f->GetPixelsPerInch() : ScreenPixelsPerInch();
}

void ScreenFormsHost::ScaleForm(TComponent* form, int screenPpi, int formPpi) {
  auto* f = dynamic_cast<TCustomForm*>(form);
  if (!f) return;
  f->ScaleBy(screenPpi, formPpi);
  f->SetPixelsPerInch(screenPpi);
}

void ScreenFormsHost::SetRightToLeft(TComponent* form, bool rightToLeft) {
  if (auto* control = dynamic_cast<TControl*>(form)) control->SetBiDiMode(rightToLeft ? bdRightToLeft : bdLeftToRight);
}

void ScreenFormsHost::SetScreenFontsCharset(std::uint32_t charset) {
  if (!Screen) return;
  for (TFont* font : {Screen->IconFont(), Screen->HintFont(), Screen->MenuFont()})
    font->SetCharset(static_cast<std::uint8_t>(charset));
}

ScreenFormsHost& ScreenForms() {
  static ScreenFormsHost host;
  return host;
}
