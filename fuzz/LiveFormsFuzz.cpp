// Arbitrary bytes as language data applied to live components: each line
// "component<TAB>property<TAB>value<TAB>stamp" becomes a property item of the
// fake form's class (with a Russian translation), and the whole store is
// applied to a fixed tree of fake components, with every event assigned.
// Bad paths and values must be skipped: no crash, no hang, and the entries
// that the input cannot touch (the form's own caption and a sentinel
// component) must still be applied.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "JStrings.h"
#include "LiveForms.h"
#include "LiveFormsFakes.h"
#include "SysUtils.h"

namespace {

// The events hand back objects of the tree, chosen by the index they are asked for.
struct FuzzEvents {
  TFakeTree tree;
  TObject* Pick(int index) const {
    switch (index % 5) {
      case 0:
        return tree.Panel;
      case 1:
        return tree.Grid->GetColumns();
      case 2:
        return tree.RadioGroup->GetItems();
      case 3:
        return tree.Book;
      default:
        return nullptr;
    }
  }
  void Collection(TObject*, const std::string&, TObject*& result, int index) { result = Pick(index); }
  void Special(TObject*, const std::string&, TObject*& result, int index) { result = Pick(index + 1); }
  void Custom(TObject*, const std::string& path, bool& handled, TLResValue*) { handled = path.size() % 3 == 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1 << 16) return 0;
  gLog.clear();
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  TOwned<TLangResource> store(New<TLangResource>());
  store->SetNativeLocale(9);
  store->AddLanguage(0, 0x0419);
  store->CurrentLanguage = 1;
  TLResFormItem* form = store->Forms()->FindOrAdd("Form1");
  std::int32_t id = 0;
  auto put = [&](const std::string& component, const std::string& property, const std::u16string& text,
                 std::int32_t stamp) {
    TLResPropertyItem* item = form->AddProperty(component, ++id, property, lvkWideString);
    if (item->Values()->Count() < 2) item->AddLanguageValues();
    item->GetNativeValue()->SetStamp(1);
    item->GetValue(1)->SetWideText(text);
    item->GetValue(1)->SetStamp(stamp);
  };
  put("", "Caption", u"Form caption", 1);
  put("Sentinel", "Caption", u"Sentinel caption", 1);

  std::size_t pos = 0;
  while (pos < bytes.size() && id < 200) {
    std::size_t end = bytes.find('\n', pos);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(pos, end - pos);
    pos = end + 1;
    std::vector<std::string> f;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
      f.push_back(line.substr(start, tab - start));
    f.push_back(line.substr(start));
    // the input names components, never the form itself or the sentinel
    if (f.size() < 3 || f[0].empty() || f[1].empty() || LowerCase(f[0]).find("sentinel") != std::string::npos) continue;
    std::u16string text(f[2].begin(), f[2].end());
    put(f[0], f[1], text, f.size() > 3 ? TextToIntOrZero(f[3]) : 1);
  }

  FuzzEvents events{BuildFakeTree()};
  TOwned<TForm1> owner(events.tree.Form);
  auto* sentinel = New<TTestControl>(events.tree.Form);
  sentinel->SetName("Sentinel");
  TLiveTranslator tr;
  tr.Store = store.get();
  tr.CurrentLocale = 0x0419;
  tr.ApplyBiDiMode = true;
  tr.OnCollectionItem = TIndexedObjectEvent::Bind<&FuzzEvents::Collection>(&events);
  tr.OnSpecialPath = TIndexedObjectEvent::Bind<&FuzzEvents::Special>(&events);
  tr.OnCustomObject = TCustomObjectEvent::Bind<&FuzzEvents::Custom>(&events);
  FakeHost host;
  host.Forms = {events.tree.Form};
  tr.Host = &host;
  tr.RetranslateForms(nullptr);
  if (events.tree.Form->GetCaption() != "Form caption" || sentinel->GetCaption() != "Sentinel caption") std::abort();
  return 0;
}
