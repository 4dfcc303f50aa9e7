#include "UcxClasses.h"

#include "Component.h"
#include "Scope.h"
#include "TypeInfo.h"
#include "UcxSysUtils.h"
#include "UcxSystem.h"
#include "UcxTypInfo.h"

bool ExtraPropertiesEnabled = true;

FW_IMPLEMENT_CLASS(TUcxWideStringPropertyFiler)
FW_IMPLEMENT_CLASS(TUcxWideCharPropertyFiler)

namespace {

// The property `name` of `obj` when it is of `kind`.
const PropInfo* FindPropOfKind(const TObject* obj, const std::string& name, TypeKind kind) {
  if (!obj) return nullptr;
  const PropInfo* p = GetPropInfo(obj, name);
  return p && p->Kind() == kind ? p : nullptr;
}

// Whether a value read by `reader` is applied: with an owner that is being
// designed, or while the extra properties are enabled.
bool Applies(const TReader& reader) {
  if (!reader.Owner) return false;
  return reader.Owner->ComponentState().Contains(csDesigning) || ExtraPropertiesEnabled;
}

}  // namespace

void DefineWideProperties(TFiler& filer, TPersistent* instance) {
  if (!instance) return;
  TOwned<TUcxWideStringPropertyFiler> strings(New<TUcxWideStringPropertyFiler>());
  TOwned<TUcxWideCharPropertyFiler> chars(New<TUcxWideCharPropertyFiler>());
  for (const PropInfo* p : GetPropList(instance->ClassType())) {
    if (!p) break;
    if (p->Kind() == TypeKind::WString)
      strings->DefineProperties(filer, instance, p->name);
    else if (p->Kind() == TypeKind::WChar)
      chars->DefineProperties(filer, instance, p->name);
  }
}

// --- WideString properties ---------------------------------------------------------------------

void TUcxWideStringPropertyFiler::DefineProperties(TFiler& filer, TPersistent* instance, const std::string& propName) {
  instance_ = instance;
  prop_ = FindPropOfKind(instance, propName, TypeKind::WString);
  TScopeExit clear([this]() noexcept {
    instance_ = nullptr;
    prop_ = nullptr;
  });
  if (!prop_) return;
  filer.DefineProperty(
      propName + "W", [this](TReader& r) { ReadUtf8(r); }, nullptr, false);
  filer.DefineProperty(
      propName + "_UTF7", [this](TReader& r) { ReadUtf7(r); }, [this](TWriter& w) { WriteUtf7(w); },
      HasUtf7Data(filer));
}

bool TUcxWideStringPropertyFiler::HasUtf7Data(TFiler& filer) const {
  if (!IsStoredProp(instance_, *prop_)) return false;
  const WideString value = GetWideStringProperty(instance_, *prop_);
  if (const PropInfo* a = FindPropOfKind(filer.Ancestor, prop_->name, TypeKind::WString))
    if (GetWideStringProperty(filer.Ancestor, *a) == value) return false;
  // An ASCII value reads back from its UTF-8 bytes unchanged: the ordinary
  // streaming of the property keeps it.
  return !value.empty() && value != WidenFromAnsi(Utf8FromWide(value));
}

void TUcxWideStringPropertyFiler::Store(TReader& reader, const WideString& value) {
  if (Applies(reader)) SetWideStringProperty(instance_, *prop_, value);
}

void TUcxWideStringPropertyFiler::ReadUtf8(TReader& reader) {
  Store(reader, WideFromUtf8(reader.ReadString()));
}

void TUcxWideStringPropertyFiler::ReadUtf7(TReader& reader) {
  Store(reader, WideFromUtf7(reader.ReadString()));
}

void TUcxWideStringPropertyFiler::WriteUtf7(TWriter& writer) {
  writer.WriteString(Utf7FromWide(GetWideStringProperty(instance_, *prop_)));
}

// --- WideChar properties -----------------------------------------------------------------------

void TUcxWideCharPropertyFiler::DefineProperties(TFiler& filer, TPersistent* instance, const std::string& propName) {
  instance_ = instance;
  prop_ = FindPropOfKind(instance, propName, TypeKind::WChar);
  writer_ = filer.Is<TWriter>() ? static_cast<TWriter*>(&filer) : nullptr;
  TScopeExit clear([this]() noexcept {
    instance_ = nullptr;
    prop_ = nullptr;
    writer_ = nullptr;
  });
  if (!prop_) return;
  filer.DefineProperty(
      propName + "W", [this](TReader& r) { ReadW(r); }, [this](TWriter& w) { WriteW(w); }, HasWData(filer));
  filer.DefineProperty(
      propName + "_UTF7", [this](TReader& r) { ReadUtf7(r); }, nullptr, false);
}

bool TUcxWideCharPropertyFiler::HasWData(TFiler& filer) const {
  if (!IsStoredProp(instance_, *prop_)) return false;
  if (const PropInfo* a = FindPropOfKind(filer.Ancestor, prop_->name, TypeKind::WChar))
    if (GetOrdProp(filer.Ancestor, *a) == GetOrdProp(instance_, *prop_)) return false;
  return !writer_ || !IsDefaultValue();
}

bool TUcxWideCharPropertyFiler::IsDefaultValue() const {
  if (!prop_->HasGetter() || !prop_->HasSetter()) return true;
  const std::int64_t value = GetOrdProp(instance_, *prop_);
  TPersistent* ancestor = writer_->Ancestor;
  if (ancestor && instance_->InheritsFrom(ancestor->ClassType()))
    if (const PropInfo* a = FindPropOfKind(ancestor, prop_->name, TypeKind::WChar))
      return GetOrdProp(ancestor, *a) == value;
  return prop_->defaultOrd && *prop_->defaultOrd == value;
}

void TUcxWideCharPropertyFiler::Store(TReader& reader, char16_t value) {
  if (Applies(reader)) SetOrdProp(instance_, *prop_, value);
}

void TUcxWideCharPropertyFiler::ReadW(TReader& reader) {
  switch (reader.NextValue()) {
    case vaString:
    case vaLString:
    case vaWString:
    case vaUTF8String:
      break;
    default:
      throw EReadError("Invalid property value");
  }
  const WideString value = reader.ReadWideString();
  if (value.size() > 1) throw EReadError("Invalid property value");
  Store(reader, value.empty() ? u'\0' : value[0]);
}

void TUcxWideCharPropertyFiler::ReadUtf7(TReader& reader) {
  const WideString value = WideFromUtf7(reader.ReadString());
  Store(reader, value.empty() ? u'\0' : value[0]);
}

void TUcxWideCharPropertyFiler::WriteW(TWriter& writer) {
  writer.WriteWideString(WideString(1, static_cast<char16_t>(GetOrdProp(instance_, *prop_))));
}

// --- sorted lists ------------------------------------------------------------------------------

bool FindInSortedList(const TList& list, TListSortCompareTarget compare, const void* target, int& index) {
  int low = 0;
  int high = list.Count();
  bool found = false;
  while (low < high) {
    const int mid = low + (high - low) / 2;
    const int order = compare(list.Get(mid), target);
    if (order < 0) {
      low = mid + 1;
    } else {
      if (order == 0) found = true;
      high = mid;
    }
  }
  index = low;
  return found;
}
