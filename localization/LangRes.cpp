#include "LangRes.h"

#include "JLocales.h"
#include "JStrings.h"
#include "LocaleServices.h"
#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TLResValue)
FW_IMPLEMENT_CLASS(TLResValueList)
FW_IMPLEMENT_CLASS(TLResNamedItem)
FW_IMPLEMENT_CLASS(TLResNamedItemList)
FW_IMPLEMENT_CLASS(TLResItem)
FW_IMPLEMENT_CLASS(TLResItemList)
FW_IMPLEMENT_CLASS(TLResPropertyItem)
FW_IMPLEMENT_CLASS(TLResConstantItem)
FW_IMPLEMENT_CLASS(TLResExternalItem)
FW_IMPLEMENT_CLASS(TLResPropertyList)
FW_IMPLEMENT_CLASS(TLResConstantList)
FW_IMPLEMENT_CLASS(TLResExternalList)
FW_IMPLEMENT_CLASS(TLResComponentItem)
FW_IMPLEMENT_CLASS(TLResComponentList)
FW_IMPLEMENT_CLASS(TLResFormItem)
FW_IMPLEMENT_CLASS(TLResUnitItem)
FW_IMPLEMENT_CLASS(TLResExtGroupItem)
FW_IMPLEMENT_CLASS(TLResFormList)
FW_IMPLEMENT_CLASS(TLResUnitList)
FW_IMPLEMENT_CLASS(TLResExtGroupList)
FW_IMPLEMENT_CLASS(TLinearItemList)
FW_IMPLEMENT_CLASS(TLinearPropertyList)
FW_IMPLEMENT_CLASS(TLinearConstantList)
FW_IMPLEMENT_CLASS(TLinearExternalList)
FW_IMPLEMENT_CLASS(TLocaleList)
FW_IMPLEMENT_CLASS(TLangResource)

// ---- TLResVariant ----

int TLResVariant::VarType() const {
  switch (value_.index()) {
    case 0:
      return 3;
    case 1:
      return 5;
    case 2:
      return 0x100;
    default:
      return 8;
  }
}

std::u16string TLResVariant::AsWide() const {
  if (auto w = std::get_if<std::u16string>(&value_)) return *w;
  return AnsiToWide(AsAnsi());
}

std::string TLResVariant::AsAnsi() const {
  switch (value_.index()) {
    case 0:
      return IntToStr(std::get<0>(value_));
    case 1:
      return FloatToStr(std::get<1>(value_));
    case 2:
      return std::get<2>(value_);
    default:
      return WideToAnsi(std::get<3>(value_));
  }
}

// ---- TLResValue ----

TLResValue::TLResValue(TLResValueList* owner) : owner_(owner), langId_(LocaleServices().UserDefaultLangId()) {}

void TLResValue::Destroy() {
  FreeAndNil(lines_);
  inherited::Destroy();
}

void TLResValue::SetWideText(const std::u16string& text) {
  text_ = text;
  RefreshSortKey();
  if (!owner_ || owner_->Count() == 0 || owner_->GetValue(0) != this) return;
  // The native text passes on to every translation that follows it.
  std::string ansi = WideToAnsiForLocale(text_, langId_);
  for (int i = 1; i < owner_->Count(); ++i) {
    TLResValue* value = owner_->GetValue(i);
    if (value->Stamp() < 0) value->SetAnsiText(ansi);
  }
}

void TLResValue::SetAnsiText(const std::string& text) {
  SetWideText(AnsiToWideForLocale(text, langId_));
}

std::string TLResValue::GetAnsiText() const {
  return WideToAnsiForLocale(text_, langId_);
}

TStringList* TLResValue::GetLines() {
  if (!lines_) lines_ = New<TStringList>();
  lines_->SetText(GetAnsiText());
  return lines_;
}

int TLResValue::GetAsInteger() const {
  return TextToIntOrZero(GetAnsiText());
}

std::uint8_t TLResValue::GetKind() const {
  return owner_ ? owner_->Kind() : static_cast<std::uint8_t>(lvkWideString);
}

bool TLResValue::SameAs(const std::u16string& other) const {
  if (text_.empty()) return other.empty();
  if (other.empty()) return false;
  switch (GetKind()) {
    case lvkFloat:
      return StrToFloat(GetAnsiText()) == StrToFloat(WideToAnsiForLocale(other, langId_));
    case lvkInteger:
      return StrToInt(GetAnsiText()) == StrToInt(WideToAnsiForLocale(other, langId_));
    case lvkWideString:
    case lvkWideString4:
      return text_ == other;
    default:
      return false;
  }
}

void TLResValue::SetVariant(const TLResVariant& value, std::int32_t stamp) {
  if (SameAs(value.AsWide())) return;
  if (value.VarType() & 8)
    SetWideText(value.AsWide());
  else
    SetAnsiText(value.AsAnsi());
  if (stamp != -1) stamp_ = stamp;
}

void TLResValue::RefreshSortKey() {
  MakeSortKey(GetAnsiText(), langId_, sortKey_);
}

void TLResValue::ChangeFlags(std::uint16_t mask, bool on) {
  flags_ = on ? static_cast<std::uint16_t>(flags_ | mask) : static_cast<std::uint16_t>(flags_ & ~mask);
}

// ---- TLResValueList ----

TLResValueList::TLResValueList(std::uint8_t kind) : kind_(kind) {
  TJObjectList::Add(New<TLResValue>(this));
}

// ---- TLResNamedItemList ----

bool TLResNamedItemList::Find(std::string_view name, int& index) const {
  int low = 0, high = Count() - 1;
  while (low <= high) {
    int middle = (low + high) / 2;
    int c = CompareText(name, GetNamedItem(middle)->Name());
    if (c < 0) {
      high = middle - 1;
    } else if (c > 0) {
      low = middle + 1;
    } else {
      index = middle;
      return true;
    }
  }
  index = low;
  return false;
}

int TLResNamedItemList::IndexOfName(std::string_view name) const {
  int index = -1;
  return Find(name, index) ? index : -1;
}

bool TLResNamedItemList::Locate(std::string_view name, int& index) {
  // Names usually come in sorted order: the cached item, then the one after it.
  for (int candidate : {lastFound_, lastFound_ + 1}) {
    if (candidate >= 0 && candidate < Count() && CompareText(GetNamedItem(candidate)->Name(), name) == 0) {
      index = lastFound_ = candidate;
      return true;
    }
  }
  bool found = Find(name, index);
  lastFound_ = index;
  return found;
}

void TLResNamedItemList::InsertAt(int index, TLResNamedItem* item) {
  Insert(index, item);
  lastFound_ = index;
}

TLResNamedItem* TLResNamedItemList::FindOrAdd(const std::string& name) {
  int index = 0;
  if (Locate(name, index)) return GetNamedItem(index);
  TLResNamedItem* item = CreateItem(name);
  InsertAt(index, item);
  return item;
}

TLResNamedItem* TLResNamedItemList::CreateItem(const std::string& name) {
  return New<TLResNamedItem>(name);
}

void TLResNamedItemList::Clear() {
  lastFound_ = -1;
  TJObjectList::Clear();
}

// ---- TLResItem ----

TLResItem::TLResItem(std::string name, std::int32_t id, TLangResource* store, std::uint8_t kind)
    : TLResNamedItem(std::move(name)), id_(id), store_(store), values_(New<TLResValueList>(kind)) {
  AddLanguageValues();
}

void TLResItem::Destroy() {
  FreeAndNil(values_);
  inherited::Destroy();
}

void TLResItem::AddLanguageValues() {
  if (!store_) return;
  for (int i = 1; i < store_->GetLanguageCount(); ++i) AddValue(std::u16string(), store_->GetLanguageLocale(i));
}

void TLResItem::AdoptNativeLocale() {
  if (!store_) return;
  TLResValue* native = GetNativeValue();
  native->SetLangID(store_->NativeLocale());
  native->RefreshSortKey();
}

int TLResItem::AddValue(const std::u16string& text, std::uint16_t langId) {
  TLResValue* value = New<TLResValue>(values_);
  value->SetLangID(langId);
  int index = values_->Add(value);
  value->SetWideText(text);
  return index;
}

void TLResItem::SetLanguageValue(int index, const TLResVariant& value, std::int32_t stamp) {
  values_->GetValue(index)->SetVariant(value, stamp);
  SetModified(true);
}

// ---- Item lists ----

TLResItem* TLResItemList::FindItem(std::string_view name) const {
  int index = 0;
  return Find(name, index) ? GetResItem(index) : nullptr;
}

int TLResItemList::IndexOfID(std::int32_t id) const {
  for (int i = 0; i < Count(); ++i)
    if (GetResItem(i)->ID() == id) return i;
  return -1;
}

void TLResItemList::Pack() {
  for (int i = Count() - 1; i >= 0; --i)
    if (!GetResItem(i)->Modified()) FreeAndDelete(i);
}

TLResPropertyItem::TLResPropertyItem(std::string name, std::int32_t id, TLangResource* store, std::uint8_t kind,
                                     TLResComponentItem* owner)
    : TLResItem(std::move(name), id, store, kind), owner_(owner) {
  AdoptNativeLocale();
}

TLResFormItem* TLResPropertyItem::GetFormItem() const {
  if (!owner_) return nullptr;
  if (owner_->Is<TLResFormItem>()) return static_cast<TLResFormItem*>(owner_);
  return owner_->Form();
}

int TLResPropertyItem::GetLangIndex() const {
  TLResFormItem* form = GetFormItem();
  TLangResource* store = form ? form->Store() : Store();
  return store ? store->CurrentLanguage : 0;
}

std::string TLResPropertyItem::GetFullName() const {
  return owner_ ? owner_->GetFullName() + kLResNameSeparator + Name() : Name();
}

TLResConstantItem::TLResConstantItem(std::string name, std::int32_t id, TLangResource* store, TLResUnitItem* owner,
                                     std::int32_t stringId)
    : TLResItem(std::move(name), id, store, lvkWideString), owner_(owner), stringId_(stringId) {
  AdoptNativeLocale();
}

std::string TLResConstantItem::GetFullName() const {
  return owner_ ? owner_->Name() + kLResNameSeparator + Name() : Name();
}

TLResExternalItem::TLResExternalItem(std::string name, std::int32_t id, TLangResource* store, TLResExtGroupItem* owner)
    : TLResItem(std::move(name), id, store, lvkWideString), owner_(owner) {
  AdoptNativeLocale();
}

std::string TLResExternalItem::GetFullName() const {
  return owner_ ? owner_->Name() + kLResNameSeparator + Name() : Name();
}

namespace {

TLangResource* StoreOf(TLResComponentItem* component) {
  if (!component) return nullptr;
  if (component->Is<TLResFormItem>()) return static_cast<TLResFormItem*>(component)->Store();
  return component->Form() ? component->Form()->Store() : nullptr;
}

}  // namespace

TLResPropertyItem* TLResPropertyList::FindOrAdd(std::int32_t id, const std::string& name, std::uint8_t kind) {
  int index = 0;
  if (Locate(name, index)) return GetProperty(index);
  auto* item = New<TLResPropertyItem>(name, id, StoreOf(owner_), kind, owner_);
  InsertAt(index, item);
  return item;
}

TLResConstantItem* TLResConstantList::FindOrAdd(std::int32_t id, const std::string& name, std::int32_t stringId) {
  int index = 0;
  if (Locate(name, index)) return GetConstant(index);
  auto* item = New<TLResConstantItem>(name, id, owner_ ? owner_->Store() : nullptr, owner_, stringId);
  InsertAt(index, item);
  return item;
}

TLResExternalItem* TLResExternalList::FindOrAdd(std::int32_t id, const std::string& name) {
  int index = 0;
  if (Locate(name, index)) return GetExternal(index);
  auto* item = New<TLResExternalItem>(name, id, owner_ ? owner_->Store() : nullptr, owner_);
  InsertAt(index, item);
  return item;
}

// ---- Components and forms ----

TLResComponentItem::TLResComponentItem(std::string name, TLResFormItem* form)
    : TLResNamedItem(std::move(name)), form_(form), properties_(New<TLResPropertyList>(this)) {}

void TLResComponentItem::Destroy() {
  FreeAndNil(properties_);
  inherited::Destroy();
}

void TLResComponentItem::ChangeFlags(std::uint16_t mask, bool on) {
  flags_ = on ? static_cast<std::uint16_t>(flags_ | mask) : static_cast<std::uint16_t>(flags_ & ~mask);
}

void TLResComponentItem::SetModified(bool modified) {
  TLResNamedItem::SetModified(modified);
  for (int i = 0; i < properties_->Count(); ++i) properties_->GetProperty(i)->SetModified(modified);
}

std::string TLResComponentItem::GetFullName() const {
  return form_ ? form_->Name() + kLResNameSeparator + Name() : Name();
}

TLResNamedItem* TLResComponentList::CreateItem(const std::string& name) {
  return New<TLResComponentItem>(name, owner_);
}

void TLResComponentList::Pack() {
  for (int i = 0; i < Count(); ++i) GetComponent(i)->Properties()->Pack();
}

TLResFormItem::TLResFormItem(std::string name, TLangResource* store)
    : TLResComponentItem(std::move(name), nullptr), store_(store), components_(New<TLResComponentList>(this)) {}

void TLResFormItem::Destroy() {
  FreeAndNil(components_);
  inherited::Destroy();
}

TLResPropertyItem* TLResFormItem::AddProperty(const std::string& componentName, std::int32_t id,
                                              const std::string& propertyName, std::uint8_t kind) {
  TLResComponentItem* component = componentName.empty() ? this : components_->FindOrAdd(componentName);
  return component->Properties()->FindOrAdd(id, propertyName, kind);
}

TLResComponentItem* TLResFormItem::FindComponentItem(std::string_view name) {
  if (name.empty()) return this;
  int index = 0;
  return components_->Find(name, index) ? components_->GetComponent(index) : nullptr;
}

TLResPropertyItem* TLResFormItem::FindProperty(std::string_view componentName, std::string_view propertyName) {
  TLResComponentItem* component = FindComponentItem(componentName);
  if (!component) return nullptr;
  return static_cast<TLResPropertyItem*>(component->Properties()->FindItem(propertyName));
}

void TLResFormItem::SetModified(bool modified) {
  TLResComponentItem::SetModified(modified);
  for (int i = 0; i < components_->Count(); ++i) components_->GetComponent(i)->SetModified(modified);
}

TLResUnitItem::TLResUnitItem(std::string name, TLangResource* store)
    : TLResNamedItem(std::move(name)), constants_(New<TLResConstantList>(this)), store_(store) {}

void TLResUnitItem::Destroy() {
  FreeAndNil(constants_);
  inherited::Destroy();
}

void TLResUnitItem::SetModified(bool modified) {
  TLResNamedItem::SetModified(modified);
  for (int i = 0; i < constants_->Count(); ++i) constants_->GetConstant(i)->SetModified(modified);
}

TLResExtGroupItem::TLResExtGroupItem(std::string name, TLangResource* store)
    : TLResNamedItem(std::move(name)), items_(New<TLResExternalList>(this)), store_(store) {}

void TLResExtGroupItem::Destroy() {
  FreeAndNil(items_);
  inherited::Destroy();
}

void TLResExtGroupItem::SetModified(bool modified) {
  TLResNamedItem::SetModified(modified);
  for (int i = 0; i < items_->Count(); ++i) items_->GetExternal(i)->SetModified(modified);
}

// ---- Top-level lists ----

TLResNamedItem* TLResFormList::CreateItem(const std::string& name) {
  return New<TLResFormItem>(name, store_);
}

void TLResFormList::Pack() {
  for (int i = Count() - 1; i >= 0; --i) {
    TLResFormItem* form = GetForm(i);
    form->Components()->Pack();
    form->Properties()->Pack();
    bool empty = form->Properties()->Count() == 0;
    for (int c = 0; empty && c < form->Components()->Count(); ++c)
      empty = form->Components()->GetComponent(c)->Properties()->Count() == 0;
    if (empty) FreeAndDelete(i);
  }
}

void TLResFormList::CollectProperties(TLinearPropertyList* list, bool sort) const {
  list->Clear();
  for (int f = 0; f < Count(); ++f) {
    TLResFormItem* form = GetForm(f);
    for (int i = 0; i < form->Properties()->Count(); ++i) list->Add(form->Properties()->GetProperty(i));
    for (int c = 0; c < form->Components()->Count(); ++c) {
      TLResPropertyList* props = form->Components()->GetComponent(c)->Properties();
      for (int i = 0; i < props->Count(); ++i) list->Add(props->GetProperty(i));
    }
  }
  list->Finish(sort);
}

TLResNamedItem* TLResUnitList::CreateItem(const std::string& name) {
  return New<TLResUnitItem>(name, store_);
}

void TLResUnitList::Pack() {
  for (int i = Count() - 1; i >= 0; --i) {
    GetUnit(i)->Constants()->Pack();
    if (GetUnit(i)->Constants()->Count() == 0) FreeAndDelete(i);
  }
}

void TLResUnitList::CollectConstants(TLinearConstantList* list, bool sort) const {
  list->Clear();
  for (int u = 0; u < Count(); ++u) {
    TLResConstantList* constants = GetUnit(u)->Constants();
    for (int i = 0; i < constants->Count(); ++i) list->Add(constants->GetConstant(i));
  }
  list->Finish(sort);
}

TLResNamedItem* TLResExtGroupList::CreateItem(const std::string& name) {
  return New<TLResExtGroupItem>(name, store_);
}

void TLResExtGroupList::Pack() {
  for (int i = Count() - 1; i >= 0; --i) {
    GetGroup(i)->Items()->Pack();
    if (GetGroup(i)->Items()->Count() == 0) FreeAndDelete(i);
  }
}

void TLResExtGroupList::CollectItems(TLinearExternalList* list, bool sort) const {
  list->Clear();
  for (int g = 0; g < Count(); ++g) {
    TLResExternalList* items = GetGroup(g)->Items();
    for (int i = 0; i < items->Count(); ++i) list->Add(items->GetExternal(i));
  }
  list->Finish(sort);
}

// ---- Linear lists ----

void TLinearItemList::Clear() {
  sorted_ = false;
  TList::Clear();
}

void TLinearItemList::Finish(bool sort) {
  if (sort) {
    Sort([](void* a, void* b) {
      std::int32_t x = static_cast<TLResItem*>(a)->ID(), y = static_cast<TLResItem*>(b)->ID();
      return x < y ? -1 : x > y ? 1 : 0;
    });
  }
  sorted_ = sort;
}

int TLinearItemList::SearchSorted(std::int32_t id, int low, int high) const {
  while (low <= high) {
    int middle = (low + high) / 2;
    if (middle == low || middle == high) {
      if (GetResItem(low)->ID() == id) return low;
      if (GetResItem(high)->ID() == id) return high;
      return -1;
    }
    std::int32_t m = GetResItem(middle)->ID();
    if (m == id) return middle;
    if (m >= id)
      high = middle - 1;
    else
      low = middle + 1;
  }
  return -1;
}

int TLinearItemList::IndexOfID(std::int32_t id) const {
  if (sorted_) return SearchSorted(id, 0, Count() - 1);
  for (int i = 0; i < Count(); ++i)
    if (GetResItem(i)->ID() == id) return i;
  return -1;
}

int TLinearPropertyList::IndexOfPath(std::string_view formName, std::string_view componentName,
                                     std::string_view propertyName) const {
  for (int i = 0; i < Count(); ++i) {
    TLResPropertyItem* item = GetItem(i);
    TLResComponentItem* owner = item->Owner();
    TLResFormItem* form = item->GetFormItem();
    bool ownForm = owner && owner->Is<TLResFormItem>();
    std::string_view ownerName = ownForm || !owner ? std::string_view() : std::string_view(owner->Name());
    if (form && CompareText(form->Name(), formName) == 0 && CompareText(ownerName, componentName) == 0 &&
        CompareText(item->Name(), propertyName) == 0)
      return i;
  }
  return -1;
}

int TLinearConstantList::IndexOfName(std::string_view unitName, std::string_view constantName) const {
  for (int i = 0; i < Count(); ++i) {
    TLResConstantItem* item = GetItem(i);
    if (item->Owner() && CompareText(item->Owner()->Name(), unitName) == 0 &&
        CompareText(item->Name(), constantName) == 0)
      return i;
  }
  return -1;
}

// ---- TLangResource ----

TLangResource::TLangResource()
    : forms_(New<TLResFormList>(this)),
      units_(New<TLResUnitList>(this)),
      extGroups_(New<TLResExtGroupList>(this)),
      nativeLangId_(LocaleServices().UserDefaultLangId()),
      languages_(New<TLocaleList>()) {
  languages_->AddLocale(nativeLangId_);
}

void TLangResource::Destroy() {
  FreeAndNil(forms_);
  FreeAndNil(units_);
  FreeAndNil(extGroups_);
  FreeAndNil(languages_);
  inherited::Destroy();
}

std::uint16_t TLangResource::GetLanguageLocale(int index) const {
  if (index < 0 || index >= languages_->Count()) return 0;
  return languages_->GetLocale(index);
}

int TLangResource::IndexOfLocale(std::uint16_t langId) const {
  for (int i = 0; i < languages_->Count(); ++i)
    if (languages_->GetLocale(i) == langId) return i;
  return -1;
}

int TLangResource::AddLanguage(int baseIndex, std::uint16_t langId) {
  int count = languages_->Count();
  if (count == 0) throw ELangResError(LoadResString(SEmptyDictionary));
  if (baseIndex < 0 || baseIndex >= count) throw ELangResError(LoadResString(SCouldNotAddLanguage));
  languages_->AddLocale(langId);
  ForEachItem([&](TLResItem* item) {
    TLResValue* base = item->GetValue(baseIndex);
    std::string text = base->GetAnsiText();
    TLResValue* value = New<TLResValue>(item->Values());
    value->SetLangID(langId);
    item->Values()->Add(value);
    value->SetAnsiText(text);
    value->SetStamp(-1);
  });
  return languages_->Count() - 1;
}

void TLangResource::RemoveLanguage(int index) {
  int count = languages_->Count();
  if (count <= 1 || index <= 0 || index >= count) throw ELangResError(LoadResString(SCouldNotRemoveLanguage));
  languages_->Delete(index);
  ForEachItem([&](TLResItem* item) {
    if (index < item->Values()->Count()) item->Values()->FreeAndDelete(index);
  });
  if (CurrentLanguage >= languages_->Count()) CurrentLanguage = 0;
}

void TLangResource::SetNativeLocale(std::uint16_t langId) {
  nativeLangId_ = langId;
  if (languages_->Count() > 0) SetLanguageLocale(0, langId);
}

void TLangResource::SetLanguageLocale(int index, std::uint16_t langId) {
  if (index < 0 || index >= languages_->Count()) return;
  languages_->SetLocale(index, langId);
  ForEachItem([&](TLResItem* item) {
    if (index >= item->Values()->Count()) return;
    TLResValue* value = item->GetValue(index);
    value->SetLangID(langId);
    value->RefreshSortKey();
  });
}

TLResConstantItem* TLangResource::FindConstantByID(std::int32_t id) const {
  for (int u = 0; u < units_->Count(); ++u) {
    TLResConstantList* constants = units_->GetUnit(u)->Constants();
    int i = constants->IndexOfID(id);
    if (i >= 0) return constants->GetConstant(i);
  }
  return nullptr;
}

TLResPropertyItem* TLangResource::FindPropertyByID(std::int32_t id) const {
  for (int f = 0; f < forms_->Count(); ++f) {
    TLResFormItem* form = forms_->GetForm(f);
    int i = form->Properties()->IndexOfID(id);
    if (i >= 0) return form->Properties()->GetProperty(i);
    for (int c = 0; c < form->Components()->Count(); ++c) {
      TLResPropertyList* props = form->Components()->GetComponent(c)->Properties();
      i = props->IndexOfID(id);
      if (i >= 0) return props->GetProperty(i);
    }
  }
  return nullptr;
}

TLResExternalItem* TLangResource::FindExternalItem(std::string_view groupName, std::string_view itemName) const {
  int g = 0;
  if (!extGroups_->Find(groupName, g)) return nullptr;
  return static_cast<TLResExternalItem*>(extGroups_->GetGroup(g)->Items()->FindItem(itemName));
}
