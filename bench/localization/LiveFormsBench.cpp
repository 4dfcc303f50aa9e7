// Re-translating the wizard form from the German language data, as a language
// switch does during start-up: the store is built from the language sources
// (resources/languages), and a windowless stand-in of the wizard form holds a
// component for every component item of the form, with the property kinds the
// real controls have (captions, mark-up texts, radio-group item lists).
#include <chrono>
#include <cstdio>
#include <string>

#include "LangSource.h"
#include "LiveForms.h"
#include "LiveFormsFakes.h"

namespace {

// A mark-up label: its text is an ANSI property of its own.
class THtmlStandIn : public TTestControl {
  FW_CLASS(THtmlStandIn, TTestControl)
 public:
  explicit THtmlStandIn(TComponent* owner) : TTestControl(owner) {}
  std::string HTMLText;
};
FW_BEGIN_CLASS(THtmlStandIn)
  FW_PROP(HTMLText, HTMLText, HTMLText)
FW_END_CLASS

class TWizardForm : public TForm {
  FW_CLASS(TWizardForm, TForm)
 public:
  explicit TWizardForm(TComponent* owner) : TForm(owner) {}
};
FW_IMPLEMENT_CLASS(TWizardForm)

}  // namespace

int main() {
  const std::string dir = PELLORY_SOURCE_DIR "/resources/languages/";
  TLangSource native = LoadLangSource(dir + "Pellory.ntv.txt");
  TLangSource german = LoadLangSource(dir + "Pellory.de.txt");

  // The reference: making the store from the two parsed sources, which a
  // switch has done before it re-translates anything.
  const int storeRepeat = 50;
  auto storeStart = std::chrono::steady_clock::now();
  for (int i = 0; i < storeRepeat; ++i) {
    TOwned<TLangResource> s(New<TLangResource>());
    BuildNativeStore(native, *s);
    AddTranslation(german, *s);
  }
  const double storeUs =
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - storeStart).count() / storeRepeat;

  TOwned<TLangResource> store(New<TLangResource>());
  BuildNativeStore(native, *store);
  store->CurrentLanguage = AddTranslation(german, *store);

  TLResFormList* forms = store->Forms();
  int formIndex = forms->IndexOfName("WizardForm");
  if (formIndex < 0) {
    std::printf("the language data has no WizardForm item\n");
    return 1;
  }
  TLResComponentList* items = forms->GetForm(formIndex)->Components();
  TOwned<TWizardForm> form(New<TWizardForm>(nullptr));
  for (int i = 0; i < items->Count(); ++i) New<THtmlStandIn>(form.get())->SetName(items->GetComponent(i)->Name());

  TLiveTranslator tr;
  tr.Store = store.get();
  tr.CurrentLocale = 0x0407;
  const int repeat = 2000;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < repeat; ++i) tr.TranslateLiveComponent(nullptr, form.get());
  double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / repeat;
  auto* next = static_cast<THtmlStandIn*>(form->FindComponent("NextButton"));
  if (!next || next->GetCaption().empty() || next->GetCaption() == "Next >") {
    std::printf("the wizard form was not translated\n");
    return 1;
  }
  std::printf(
      "re-translating the wizard form (%d components) from German: %.1f us (goal: under 2000 us); "
      "reference, making the language store it reads: %.1f us\n",
      items->Count(), us, storeUs);
  return us < 2000 ? 0 : 1;
}
