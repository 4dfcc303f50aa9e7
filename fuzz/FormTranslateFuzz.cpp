// Arbitrary bytes as a form to translate: the first byte picks the settings
// (language column, UTF-8 strings, charset and right-to-left lines), the rest
// is the form stream, told binary, resource-wrapped or text by its first bytes.
// The store holds a string, an integer and a string-list item. Bad input must
// end in an engine or framework exception: no crash, no read past the data,
// no endless loop.
#include <cstddef>
#include <cstdint>
#include <string>

#include "LangRes.h"
#include "PrjProcs.h"
#include "Streams.h"

namespace {

TLangResource* MakeStore() {
  TLangResource* store = New<TLangResource>();
  store->SetNativeLocale(9);
  store->AddLanguage(0, 0x0419);
  store->AddLanguage(0, 0x040D);
  TLResFormItem* form = store->Forms()->FindOrAdd("Form1");
  struct {
    const char* component;
    const char* name;
    std::uint8_t kind;
    const char16_t* text;
    std::uint16_t flags;
  } items[] = {{"", "Caption", lvkWideString, u"\u041F\u0440\u0438\u0432\u0435\u0442 'x'", 0},
               {"", "Tag", lvkInteger, u"42", 0},
               {"Memo1", "Lines.Strings", lvkWideString4, u"one\r\n\u0434\u0432\u0430", kLResFlagWideString},
               {"Memo1", "Hint", lvkWideString, u"", kLResFlagAppended}};
  std::int32_t id = 0;
  for (const auto& i : items) {
    TLResPropertyItem* item = form->AddProperty(i.component, ++id, i.name, i.kind);
    for (int v = 0; v < store->GetLanguageCount(); ++v) item->GetValue(v)->SetWideText(i.text);
    item->ChangeFlags(i.flags, true);
  }
  return store;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static TLangResource* store = MakeStore();
  const std::uint8_t settings = data[0];
  TFormProcessor* processor = New<TFormProcessor>();
  processor->Store = store;
  processor->LanguageIndex = settings & 3;  // 3 lies outside the store's columns
  processor->TargetLocale = store->GetLanguageLocale(processor->LanguageIndex);
  processor->UseUTF8 = settings & 4;
  processor->ApplyCharset = settings & 8;
  processor->ApplyBiDiMode = settings & 16;
  processor->ShowOutdated = settings & 32;
  TMemoryStream* stream = New<TMemoryStream>();
  try {
    stream->WriteBytes(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    processor->TranslateFormStream(*stream);
  } catch (const Exception&) {
  }
  stream->Free();
  processor->Free();
  return 0;
}
