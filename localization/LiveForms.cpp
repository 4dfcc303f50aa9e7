#include "LiveForms.h"

#include <climits>

#include "Collection.h"
#include "IdentMaps.h"
#include "JLocales.h"
#include "JStrings.h"
#include "Strings.h"
#include "SysUtils.h"
#include "TypeInfo.h"

namespace {

// Bit of a value's flags that keeps it out of live forms.
constexpr std::uint16_t kNotAppliedFlag = 0x0008;

// Classes at which the walk up a form's class chain stops.
bool IsStopClass(const ClassInfo& cls) {
  for (std::string_view stop : {"TCustomForm", "TDataModule", "TCustomFrame", "TScrollingWinControl", "TObject"})
    if (SameText(cls.name, stop)) return true;
  return false;
}

bool IsFrame(const TObject* object) {
  return ClassNameInList(object, {"TCustomFrame"});
}

// The store's form item for a class: its name without the first character.
TLResFormItem* FormItemOf(TLangResource* store, const ClassInfo& cls) {
  if (cls.name.size() < 2) return nullptr;
  TLResFormList* forms = store->Forms();
  int index = forms->IndexOfName(std::string_view(cls.name).substr(1));
  return index < 0 ? nullptr : forms->GetForm(index);
}

// A non-negative decimal index that fits an int; false otherwise.
bool ParseIndex(std::string_view text, int& index) {
  if (text.empty() || text.size() > 10) return false;
  long long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v > INT_MAX) return false;
  index = static_cast<int>(v);
  return true;
}

// "[index]" at `open` in `text`, then the rest after "]." (or nothing at the end).
bool ParseBracket(const std::string& text, std::size_t open, TIndexStep& step) {
  std::size_t close = text.find(']', open + 1);
  if (close == std::string::npos) return false;
  if (!ParseIndex(std::string_view(text).substr(open + 1, close - open - 1), step.Index)) return false;
  if (close + 1 == text.size()) {
    step.Rest.clear();
    return true;
  }
  if (text[close + 1] != '.') return false;
  step.Rest = text.substr(close + 2);
  return true;
}

const PropInfo* ClassProp(const TObject* object, std::string_view name) {
  const PropInfo* prop = GetPropInfo(object, name);
  return prop && prop->Kind() == TypeKind::Class && prop->getObj ? prop : nullptr;
}

}  // namespace

bool ClassNameInList(const TObject* object, std::initializer_list<std::string_view> names) {
  if (!object) return false;
  for (const ClassInfo* cls = &object->ClassType(); cls; cls = cls->parent)
    for (std::string_view name : names)
      if (SameText(cls->name, name)) return true;
  return false;
}

bool SetFontCharset(TObject* object, std::uint32_t charset) {
  // A chain of "Style" objects ends at a font or at nothing; the depth bound keeps a cycle finite.
  for (int depth = 0; object && depth < 16; ++depth) {
    if (const PropInfo* fontProp = ClassProp(object, "Font")) {
      TObject* font = GetObjectProp(object, *fontProp);
      if (!ClassNameInList(font, {"TFont"})) return false;
      const PropInfo* charsetProp = GetPropInfo(font, "Charset");
      std::string ident;
      if (!charsetProp || !charsetProp->setOrd || !FindIntToIdent(charsetProp->type, charset, ident)) return false;
      try {
        SetOrdProp(font, *charsetProp, charset);
      } catch (const Exception&) {
        return false;
      }
      return true;
    }
    if (GetPropInfo(object, "Font")) return false;  // a "Font" that holds no object
    const PropInfo* styleProp = ClassProp(object, "Style");
    if (!styleProp) return false;
    object = GetObjectProp(object, *styleProp);
  }
  return false;
}

TObject* FindLiveComponent(TObject* root, std::string_view name) {
  if (!root) return nullptr;
  if (auto* component = dynamic_cast<TComponent*>(root)) {
    if (TComponent* found = component->FindComponent(std::string(name))) return found;
    for (int i = 0; i < component->ComponentCount(); ++i)
      if (TObject* found = FindLiveComponent(component->Components(i), name)) return found;
  }
  if (const PropInfo* prop = ClassProp(root, name)) return GetObjectProp(root, *prop);
  return nullptr;
}

TObject* ResolveComponentPath(TObject* root, const std::string& path, std::string& tail) {
  std::size_t dot = path.find('.');
  if (dot == std::string::npos) return FindLiveComponent(root, path);
  TObject* head = FindLiveComponent(root, std::string_view(path).substr(0, dot));
  if (!head) return nullptr;
  std::string rest = path.substr(dot + 1);
  std::string restTail;
  if (TObject* resolved = ResolveComponentPath(head, rest, restTail)) {
    tail = restTail;
    return resolved;
  }
  tail = rest;
  return head;
}

bool ParseFirstIndex(const std::string& path, std::string& objectPath, TIndexStep& step) {
  std::size_t open = path.find('[');
  if (open == std::string::npos) return false;
  std::string before = path.substr(0, open);
  std::size_t dot = before.rfind('.');
  if (dot == std::string::npos) {
    objectPath = before;
    step.Name.clear();
  } else {
    objectPath = before.substr(0, dot);
    step.Name = before.substr(dot + 1);
  }
  return ParseBracket(path, open, step);
}

bool ParseNextIndex(const std::string& rest, TIndexStep& step) {
  std::size_t open = rest.find('[');
  if (open == std::string::npos) return false;
  step.Name = rest.substr(0, open);
  return ParseBracket(rest, open, step);
}

void TLiveTranslator::RetranslateForms(TLangResource* store) {
  if (!Host) return;
  for (int i = 0; i < Host->FormCount(); ++i) TranslateLiveComponent(store, Host->Form(i));
}

void TLiveTranslator::RetranslateDataModules(TLangResource* store) {
  if (!Host) return;
  for (int i = 0; i < Host->DataModuleCount(); ++i) TranslateLiveComponent(store, Host->DataModule(i));
}

void TLiveTranslator::TranslateLiveComponent(TLangResource* store, TComponent* component) {
  store = StoreOr(store);
  if (!store || !component) return;
  const ClassInfo& own = component->ClassType();
  // A frame's walk starts at its own class and so already applies its own
  // item; a form's starts at its parent class and applies its own item last.
  bool frame = IsFrame(component);
  for (const ClassInfo* cls = frame ? &own : own.parent; cls && !IsStopClass(*cls); cls = cls->parent)
    if (TLResFormItem* item = FormItemOf(store, *cls)) TranslateContainer(store, component, item);
  if (frame) return;
  TLResFormItem* item = FormItemOf(store, own);
  if (!item) return;
  TranslateContainer(store, component, item);
  if (!ClassNameInList(component, {"TForm"}) || !Host) return;
  int screenPpi = Host->ScreenPixelsPerInch();
  int formPpi = Host->FormPixelsPerInch(component);
  if (screenPpi > 0 && formPpi > 0 && screenPpi != formPpi) Host->ScaleForm(component, screenPpi, formPpi);
  if (ApplyBiDiMode) Host->SetRightToLeft(component, IsRightToLeftLocale(CurrentLocale));
}

void TLiveTranslator::TranslateContainer(TLangResource* store, TComponent* container, TLResFormItem* formItem) {
  if (!container || !formItem) return;
  for (int i = 0; i < container->ComponentCount(); ++i) {
    TComponent* owned = container->Components(i);
    if (IsFrame(owned)) TranslateLiveComponent(store, owned);
  }
  ApplyItemProperties(formItem, container, std::string());
  TLResComponentList* components = formItem->Components();
  for (int i = 0; i < components->Count(); ++i) {
    TLResComponentItem* item = components->GetComponent(i);
    const std::string& name = item->Name();
    if (name.find('[') != std::string::npos) {
      ApplyIndexedPath(container, item, name);
      continue;
    }
    std::string tail;
    if (TObject* target = ResolveComponentPath(container, name, tail)) ApplyItemProperties(item, target, tail);
  }
}

TLResValue* TLiveTranslator::ValueToApply(TLResPropertyItem* item) const {
  TLResValueList* values = item->Values();
  if (values->Count() == 0) return nullptr;
  TLResValue* native = item->GetNativeValue();
  int index = item->GetLangIndex();
  if (index <= 0 || index >= values->Count()) return native;
  TLResValue* value = item->GetValue(index);
  if (!value || (value->Stamp() != native->Stamp() && !ShowOutdated)) return native;
  return value;
}

void TLiveTranslator::ApplyItemProperties(TLResComponentItem* item, TObject* target, const std::string& prefix) {
  if (!item || !target) return;
  int count = 0;
  TLResPropertyList* props = item->Properties();
  for (int i = 0; i < props->Count(); ++i) {
    TLResPropertyItem* prop = props->GetProperty(i);
    TLResValue* value = ValueToApply(prop);
    if (!value) continue;
    std::string path = prefix.empty() ? prop->Name() : prefix + "." + prop->Name();
    try {
      if (ApplyPropertyTranslation(target, path, value)) ++count;
    } catch (const Exception&) {
      // a value the property refuses: this entry stays as it was
    }
  }
  if (ApplyCharset && count > 0) SetFontCharset(target, CharsetOfLocale(CurrentLocale));
}

bool TLiveTranslator::ApplyPropertyTranslation(TObject* object, const std::string& path, TLResValue* value) {
  if (!object || !value) return false;
  if (value->HasFlags(kNotAppliedFlag)) return false;
  if (ApplySpecialProperty(object, path, value)) return false;
  std::size_t dot = path.find('.');
  std::string head = dot == std::string::npos ? path : path.substr(0, dot);
  std::string rest = dot == std::string::npos ? std::string() : path.substr(dot + 1);
  const PropInfo* prop = GetPropInfo(object, head);
  if (!prop) return false;
  switch (prop->Kind()) {
    case TypeKind::Enumeration: {
      int ord = value->GetAsInteger();
      const TypeInfo* type = prop->type;
      // an ordinal the enumeration does not have is no value of it: the
      // property keeps its own, though it was found
      if (ord >= 0 && static_cast<std::size_t>(ord) < type->names.size()) SetOrdProp(object, *prop, ord);
      break;
    }
    case TypeKind::Integer:
    case TypeKind::Int64:
      SetOrdProp(object, *prop, value->GetAsInteger());
      break;
    case TypeKind::String:
      SetStrProp(object, *prop, value->GetAnsiText());
      break;
    case TypeKind::WString:
      // the wide text itself: widening the ANSI form again would go through
      // the system's code page, not the value's
      SetWideStrProp(object, *prop, value->WideText());
      break;
    case TypeKind::Class:
      if (TObject* held = GetObjectProp(object, *prop)) ApplyPropertyTranslation(held, rest, value);
      break;
    default:
      break;
  }
  return true;
}

bool TLiveTranslator::ApplySpecialProperty(TObject* object, const std::string& path, TLResValue* value) {
  if (SameText(path, "Strings") && ClassNameInList(object, {"TStrings", "TElWideStrings", "TUcxStrings"})) {
    auto* target = dynamic_cast<TPersistent*>(object);
    if (!target) return false;
    TOwned<TStringList> lines(New<TStringList>());
    lines->SetText(value->GetAnsiText());
    target->Assign(lines.get());
    return true;
  }
  if (std::string_view(object->ClassName()) == "TTabbedNotebook") {
    std::size_t dot = path.find('.');
    int line = 1;
    if (dot != std::string::npos) {
      std::string head = path.substr(0, dot);
      // a page part that is not a line number (from 1) names no page: the entry is skipped
      if (head.size() <= 8 || !ParseIndex(std::string_view(head).substr(8), line) || line < 1) return true;
    }
    const PropInfo* pagesProp = ClassProp(object, "Pages");
    auto* pages = pagesProp ? dynamic_cast<TStrings*>(GetObjectProp(object, *pagesProp)) : nullptr;
    if (!pages) return true;
    if (line - 1 < pages->Count())
      pages->Put(line - 1, value->GetAnsiText());
    else
      pages->Add(value->GetAnsiText());
    return true;
  }
  return ProcessCustomObject(object, path, value);
}

void TLiveTranslator::ApplyIndexedPath(TComponent* container, TLResComponentItem* item, const std::string& path) {
  std::string objectPath;
  TIndexStep step;
  if (!ParseFirstIndex(path, objectPath, step)) return;
  std::string tail;
  TObject* object = ResolveComponentPath(container, objectPath, tail);
  while (object) {
    if (const PropInfo* prop = GetPropInfo(object, step.Name))
      object = prop->Kind() == TypeKind::Class && prop->getObj ? GetObjectProp(object, *prop) : nullptr;
    else
      object = ResolveIndexedObject(object, step.Name, step.Index);
    if (!object) return;
    if (auto* collection = dynamic_cast<TCollection*>(object)) {
      if (step.Index >= collection->Count()) return;
      object = collection->Items(step.Index);
    } else {
      object = ResolveIndexedObject(object, step.Name, step.Index);
    }
    if (!object || step.Rest.empty()) break;
    std::string rest = step.Rest;
    if (!ParseNextIndex(rest, step)) return;
  }
  if (object) ApplyItemProperties(item, object, std::string());
}

TObject* TLiveTranslator::ResolveIndexedObject(TObject* object, const std::string& name, int index) {
  TObject* result = ProcessCollectionItem(object, name, index);
  if (!result && OnSpecialPath) OnSpecialPath(object, name, result, index);
  return result;
}

bool TLiveTranslator::ProcessCustomObject(TObject* object, const std::string& path, TLResValue* value) {
  bool handled = false;
  if (OnCustomObject) OnCustomObject(object, path, handled, value);
  return handled;
}

TObject* TLiveTranslator::ProcessCollectionItem(TObject* object, const std::string& name, int index) {
  TObject* result = nullptr;
  if (OnCollectionItem) OnCollectionItem(object, name, result, index);
  return result;
}

void TLiveTranslator::ApplyScreenCharset() {
  if (ApplyCharset && Host) Host->SetScreenFontsCharset(CharsetOfLocale(CurrentLocale));
}
