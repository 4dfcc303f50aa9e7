// Windows tests: a form read from form text, owned by the application.
#pragma once

#include <string>

#include "Filer.h"
#include "Forms.h"
#include "ObjectConvert.h"

// The form text turned into binary form data and read into a new form of
// class F (freed again when the reading fails).
template <class F = TForm>
F* ReadFormText(const std::string& text) {
  std::string bin = ObjectTextToBinary(text);
  F* form = TCustomForm::CreateNew<F>(Application);
  try {
    ReadComponentData(bin.data(), bin.size(), form);
  } catch (...) {
    form->Free();
    throw;
  }
  return form;
}
