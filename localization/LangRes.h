// The translation store: every translatable text of the program, grouped as
// the program is built (units with resource-string constants, forms with
// their own and their components' properties, external groups of free items),
// with one value per language. Language index 0 is the native language.
//
// Stamps: a native value's stamp is the version at which its text last
// changed; a translation's stamp is the native stamp it was made against, and
// a negative stamp makes the translation follow every new native text.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "Exceptions.h"
#include "JUtils.h"
#include "Lists.h"
#include "Object.h"
#include "ResStrings.h"
#include "Strings.h"
#include "Types.h"

FW_EXCEPTION(ELangResError, Exception);

// The store's error texts, resource strings of the program.
inline constexpr ResString SEmptyDictionary{65239, 0, "Empty dictionary"};
inline constexpr ResString SCouldNotAddLanguage{65240, 0, "Could not add language"};
inline constexpr ResString SCouldNotRemoveLanguage{65241, 0, "Could not remove language"};

class TLangResource;
class TLResValueList;
class TLResComponentItem;
class TLResFormItem;
class TLResUnitItem;
class TLResExtGroupItem;

// The value kinds of an item.
enum TLResValueKind : std::uint8_t { lvkFloat = 0, lvkInteger = 1, lvkWideString = 2, lvkWideString4 = 4 };

// Character separating the parts of a full name.
inline constexpr char kLResNameSeparator = '.';

// A value handed to TLResValue::SetVariant: a number or a text, with the
// variant type code it would carry (8 = wide text).
class TLResVariant {
 public:
  TLResVariant(std::int32_t v) : value_(v) {}
  TLResVariant(double v) : value_(v) {}
  TLResVariant(std::string v) : value_(std::move(v)) {}
  TLResVariant(const char* v) : value_(std::string(v)) {}
  TLResVariant(std::u16string v) : value_(std::move(v)) {}
  TLResVariant(const char16_t* v) : value_(std::u16string(v)) {}

  // 3 integer, 5 double, 8 wide text, 0x100 ANSI text.
  int VarType() const;
  std::u16string AsWide() const;
  std::string AsAnsi() const;

 private:
  std::variant<std::int32_t, double, std::string, std::u16string> value_;
};

// One text in one language.
class TLResValue : public TObject {
  FW_CLASS(TLResValue, TObject)
 public:
  explicit TLResValue(TLResValueList* owner);
  void Destroy() override;

  TLResValueList* Owner() const { return owner_; }
  const std::array<std::uint8_t, 8>& ChangeTime() const { return changeTime_; }
  const std::u16string& WideText() const { return text_; }
  std::int32_t Stamp() const { return stamp_; }
  std::uint16_t Flags() const { return flags_; }
  std::uint16_t LangID() const { return langId_; }
  const std::string& SortKey() const { return sortKey_; }

  // Sets the text and rebuilds the sort key; on the native value it then
  // passes the text on to every translation whose stamp is negative.
  void SetWideText(const std::u16string& text);
  void SetAnsiText(const std::string& text);  // converted in this value's LANGID
  std::string GetAnsiText() const;
  TStringList* GetLines();
  int GetAsInteger() const;
  std::uint8_t GetKind() const;
  bool SameAs(const std::u16string& other) const;
  void SetVariant(const TLResVariant& value, std::int32_t stamp);
  void SetStamp(std::int32_t stamp) { stamp_ = stamp; }
  void SetChangeTime(const std::array<std::uint8_t, 8>& time) { changeTime_ = time; }
  void SetLangID(std::uint16_t langId) { langId_ = langId; }
  void RefreshSortKey();
  bool HasFlags(std::uint16_t mask) const { return (flags_ & mask) == mask; }
  void ChangeFlags(std::uint16_t mask, bool on);

 private:
  TLResValueList* owner_;
  std::array<std::uint8_t, 8> changeTime_{};
  std::u16string text_;
  std::int32_t stamp_ = 0;
  std::uint16_t flags_ = 0;
  std::uint16_t langId_;
  TStringList* lines_ = nullptr;
  std::string sortKey_;
};

// The values of one item, one per language; owns them.
class TLResValueList : public TJObjectList {
  FW_CLASS(TLResValueList, TJObjectList)
 public:
  explicit TLResValueList(std::uint8_t kind);
  std::uint8_t Kind() const { return kind_; }
  void SetKind(std::uint8_t kind) { kind_ = kind; }
  TLResValue* GetValue(int index) const { return static_cast<TLResValue*>(GetItem(index)); }

 private:
  std::uint8_t kind_;
};

// Base of every named node.
class TLResNamedItem : public TObject {
  FW_CLASS(TLResNamedItem, TObject)
 public:
  explicit TLResNamedItem(std::string name) : name_(std::move(name)) {}
  const std::string& Name() const { return name_; }
  bool Modified() const { return modified_; }
  virtual void SetModified(bool modified) { modified_ = modified; }

 private:
  std::string name_;
  bool modified_ = false;
};

// Base of every named list: owns its items, kept sorted by name (CompareText),
// names unique; lookups remember the last position.
class TLResNamedItemList : public TJObjectList {
  FW_CLASS(TLResNamedItemList, TJObjectList)
 public:
  TLResNamedItem* GetNamedItem(int index) const { return static_cast<TLResNamedItem*>(GetItem(index)); }
  // Binary search; on a miss `index` is the insertion position.
  bool Find(std::string_view name, int& index) const;
  int IndexOfName(std::string_view name) const;
  TLResNamedItem* FindOrAdd(const std::string& name);
  void Clear() override;
  // Frees what was not marked modified (see the overrides).
  virtual void Pack() {}
  int LastFound() const { return lastFound_; }

 protected:
  virtual TLResNamedItem* CreateItem(const std::string& name);
  // The cached or searched position of `name`; true when it is there.
  bool Locate(std::string_view name, int& index);
  // Inserts at `index` and caches it.
  void InsertAt(int index, TLResNamedItem* item);

 private:
  int lastFound_ = -1;
};

// A translatable item.
class TLResItem : public TLResNamedItem {
  FW_CLASS(TLResItem, TLResNamedItem)
 public:
  TLResItem(std::string name, std::int32_t id, TLangResource* store, std::uint8_t kind);
  void Destroy() override;

  std::int32_t ID() const { return id_; }
  void SetID(std::int32_t id) { id_ = id; }
  TLangResource* Store() const { return store_; }
  TLResValueList* Values() const { return values_; }

  virtual int GetLangIndex() const { return 0; }
  virtual void AddLanguageValues();
  virtual std::string GetFullName() const { return Name(); }

  TLResValue* GetNativeValue() const { return values_->GetValue(0); }
  TLResValue* GetActiveValue() const { return values_->GetValue(GetLangIndex()); }
  TLResValue* GetValue(int index) const { return values_->GetValue(index); }
  int AddValue(const std::u16string& text, std::uint16_t langId);
  void SetLanguageValue(int index, const TLResVariant& value, std::int32_t stamp);
  bool HasFlags(std::uint16_t mask) const { return GetNativeValue()->HasFlags(mask); }
  void ChangeFlags(std::uint16_t mask, bool on) { GetNativeValue()->ChangeFlags(mask, on); }
  std::uint8_t GetValueKind() const { return values_->Kind(); }
  void SetValueKind(std::uint8_t kind) { values_->SetKind(kind); }

 protected:
  // Gives the native value the store's native LANGID (after construction of
  // property, constant and external items).
  void AdoptNativeLocale();

 private:
  std::int32_t id_;
  TLangResource* store_;
  TLResValueList* values_;
};

class TLResItemList : public TLResNamedItemList {
  FW_CLASS(TLResItemList, TLResNamedItemList)
 public:
  TLResItem* GetResItem(int index) const { return static_cast<TLResItem*>(GetItem(index)); }
  TLResItem* FindItem(std::string_view name) const;
  int IndexOfID(std::int32_t id) const;  // linear; -1 when absent
  void Pack() override;
};

class TLResPropertyItem : public TLResItem {
  FW_CLASS(TLResPropertyItem, TLResItem)
 public:
  TLResPropertyItem(std::string name, std::int32_t id, TLangResource* store, std::uint8_t kind,
                    TLResComponentItem* owner);
  TLResComponentItem* Owner() const { return owner_; }
  TLResFormItem* GetFormItem() const;
  int GetLangIndex() const override;
  std::string GetFullName() const override;

 private:
  TLResComponentItem* owner_;
};

class TLResConstantItem : public TLResItem {
  FW_CLASS(TLResConstantItem, TLResItem)
 public:
  TLResConstantItem(std::string name, std::int32_t id, TLangResource* store, TLResUnitItem* owner,
                    std::int32_t stringId);
  TLResUnitItem* Owner() const { return owner_; }
  std::int32_t StringID() const { return stringId_; }
  std::string GetFullName() const override;

 private:
  TLResUnitItem* owner_;
  std::int32_t stringId_;
};

class TLResExternalItem : public TLResItem {
  FW_CLASS(TLResExternalItem, TLResItem)
 public:
  TLResExternalItem(std::string name, std::int32_t id, TLangResource* store, TLResExtGroupItem* owner);
  TLResExtGroupItem* Owner() const { return owner_; }
  std::string GetFullName() const override;

 private:
  TLResExtGroupItem* owner_;
};

class TLResPropertyList : public TLResItemList {
  FW_CLASS(TLResPropertyList, TLResItemList)
 public:
  explicit TLResPropertyList(TLResComponentItem* owner) : owner_(owner) {}
  TLResComponentItem* Owner() const { return owner_; }
  TLResPropertyItem* GetProperty(int index) const { return static_cast<TLResPropertyItem*>(GetItem(index)); }
  TLResPropertyItem* FindOrAdd(std::int32_t id, const std::string& name, std::uint8_t kind);

 private:
  TLResComponentItem* owner_;
};

class TLResConstantList : public TLResItemList {
  FW_CLASS(TLResConstantList, TLResItemList)
 public:
  explicit TLResConstantList(TLResUnitItem* owner) : owner_(owner) {}
  TLResUnitItem* Owner() const { return owner_; }
  TLResConstantItem* GetConstant(int index) const { return static_cast<TLResConstantItem*>(GetItem(index)); }
  TLResConstantItem* FindOrAdd(std::int32_t id, const std::string& name, std::int32_t stringId);

 private:
  TLResUnitItem* owner_;
};

class TLResExternalList : public TLResItemList {
  FW_CLASS(TLResExternalList, TLResItemList)
 public:
  explicit TLResExternalList(TLResExtGroupItem* owner) : owner_(owner) {}
  TLResExtGroupItem* Owner() const { return owner_; }
  TLResExternalItem* GetExternal(int index) const { return static_cast<TLResExternalItem*>(GetItem(index)); }
  TLResExternalItem* FindOrAdd(std::int32_t id, const std::string& name);

 private:
  TLResExtGroupItem* owner_;
};

class TLResComponentList;

// A component of a form (and the base of the form item itself).
class TLResComponentItem : public TLResNamedItem {
  FW_CLASS(TLResComponentItem, TLResNamedItem)
 public:
  TLResComponentItem(std::string name, TLResFormItem* form);
  void Destroy() override;

  TLResFormItem* Form() const { return form_; }
  TLResPropertyList* Properties() const { return properties_; }
  std::uint16_t Flags() const { return flags_; }
  void SetFlags(std::uint16_t flags) { flags_ = flags; }
  void ChangeFlags(std::uint16_t mask, bool on);
  void SetModified(bool modified) override;
  virtual std::string GetFullName() const;

 private:
  TLResFormItem* form_;
  TLResPropertyList* properties_;
  std::uint16_t flags_ = 0;
};

class TLResComponentList : public TLResNamedItemList {
  FW_CLASS(TLResComponentList, TLResNamedItemList)
 public:
  explicit TLResComponentList(TLResFormItem* owner) : owner_(owner) {}
  TLResFormItem* Owner() const { return owner_; }
  TLResComponentItem* GetComponent(int index) const { return static_cast<TLResComponentItem*>(GetItem(index)); }
  TLResComponentItem* FindOrAdd(const std::string& name) {
    return static_cast<TLResComponentItem*>(TLResNamedItemList::FindOrAdd(name));
  }
  void Pack() override;

 protected:
  TLResNamedItem* CreateItem(const std::string& name) override;

 private:
  TLResFormItem* owner_;
};

class TLResFormItem : public TLResComponentItem {
  FW_CLASS(TLResFormItem, TLResComponentItem)
 public:
  TLResFormItem(std::string name, TLangResource* store);
  void Destroy() override;

  TLangResource* Store() const { return store_; }
  TLResComponentList* Components() const { return components_; }
  // Finds or creates the component (the form itself for an empty name), then the property.
  TLResPropertyItem* AddProperty(const std::string& componentName, std::int32_t id, const std::string& propertyName,
                                 std::uint8_t kind);
  TLResComponentItem* FindComponentItem(std::string_view name);
  TLResPropertyItem* FindProperty(std::string_view componentName, std::string_view propertyName);
  void SetModified(bool modified) override;
  std::string GetFullName() const override { return Name(); }

 private:
  TLangResource* store_;
  TLResComponentList* components_;
};

class TLResUnitItem : public TLResNamedItem {
  FW_CLASS(TLResUnitItem, TLResNamedItem)
 public:
  TLResUnitItem(std::string name, TLangResource* store);
  void Destroy() override;
  TLResConstantList* Constants() const { return constants_; }
  TLangResource* Store() const { return store_; }
  std::uint16_t Flags() const { return flags_; }
  void SetFlags(std::uint16_t flags) { flags_ = flags; }
  void SetModified(bool modified) override;
  virtual std::string GetFullName() const { return Name(); }

 private:
  TLResConstantList* constants_;
  std::uint16_t flags_ = 0;
  TLangResource* store_;
};

class TLResExtGroupItem : public TLResNamedItem {
  FW_CLASS(TLResExtGroupItem, TLResNamedItem)
 public:
  TLResExtGroupItem(std::string name, TLangResource* store);
  void Destroy() override;
  TLResExternalList* Items() const { return items_; }
  TLangResource* Store() const { return store_; }
  void SetModified(bool modified) override;
  virtual std::string GetFullName() const { return Name(); }

 private:
  TLResExternalList* items_;
  TLangResource* store_;
};

class TLinearPropertyList;
class TLinearConstantList;
class TLinearExternalList;

class TLResFormList : public TLResNamedItemList {
  FW_CLASS(TLResFormList, TLResNamedItemList)
 public:
  explicit TLResFormList(TLangResource* store) : store_(store) {}
  TLResFormItem* GetForm(int index) const { return static_cast<TLResFormItem*>(GetItem(index)); }
  TLResFormItem* FindOrAdd(const std::string& name) {
    return static_cast<TLResFormItem*>(TLResNamedItemList::FindOrAdd(name));
  }
  void CollectProperties(TLinearPropertyList* list, bool sort) const;
  void Pack() override;

 protected:
  TLResNamedItem* CreateItem(const std::string& name) override;

 private:
  TLangResource* store_;
};

class TLResUnitList : public TLResNamedItemList {
  FW_CLASS(TLResUnitList, TLResNamedItemList)
 public:
  explicit TLResUnitList(TLangResource* store) : store_(store) {}
  TLResUnitItem* GetUnit(int index) const { return static_cast<TLResUnitItem*>(GetItem(index)); }
  TLResUnitItem* FindOrAdd(const std::string& name) {
    return static_cast<TLResUnitItem*>(TLResNamedItemList::FindOrAdd(name));
  }
  void CollectConstants(TLinearConstantList* list, bool sort) const;
  void Pack() override;

 protected:
  TLResNamedItem* CreateItem(const std::string& name) override;

 private:
  TLangResource* store_;
};

class TLResExtGroupList : public TLResNamedItemList {
  FW_CLASS(TLResExtGroupList, TLResNamedItemList)
 public:
  explicit TLResExtGroupList(TLangResource* store) : store_(store) {}
  TLResExtGroupItem* GetGroup(int index) const { return static_cast<TLResExtGroupItem*>(GetItem(index)); }
  TLResExtGroupItem* FindOrAdd(const std::string& name) {
    return static_cast<TLResExtGroupItem*>(TLResNamedItemList::FindOrAdd(name));
  }
  void CollectItems(TLinearExternalList* list, bool sort) const;
  void Pack() override;

 protected:
  TLResNamedItem* CreateItem(const std::string& name) override;

 private:
  TLangResource* store_;
};

// Flat, non-owning views of the items, optionally sorted by ID.
class TLinearItemList : public TList {
  FW_CLASS(TLinearItemList, TList)
 public:
  TLResItem* GetResItem(int index) const { return static_cast<TLResItem*>(Get(index)); }
  bool Sorted() const { return sorted_; }
  // Sorted: bisection over the IDs; otherwise the first match. -1 when absent.
  int IndexOfID(std::int32_t id) const;
  void Clear() override;
  // Ends filling: sorts by ID (signed) and marks the list sorted, or marks it unsorted.
  void Finish(bool sort);

 protected:
 private:
  int SearchSorted(std::int32_t id, int low, int high) const;
  bool sorted_ = false;
};

class TLinearPropertyList : public TLinearItemList {
  FW_CLASS(TLinearPropertyList, TLinearItemList)
 public:
  TLResPropertyItem* GetItem(int index) const { return static_cast<TLResPropertyItem*>(Get(index)); }
  int IndexOfPath(std::string_view formName, std::string_view componentName, std::string_view propertyName) const;
};

class TLinearConstantList : public TLinearItemList {
  FW_CLASS(TLinearConstantList, TLinearItemList)
 public:
  TLResConstantItem* GetItem(int index) const { return static_cast<TLResConstantItem*>(Get(index)); }
  int IndexOfName(std::string_view unitName, std::string_view constantName) const;
};

class TLinearExternalList : public TLinearItemList {
  FW_CLASS(TLinearExternalList, TLinearItemList)
 public:
  TLResExternalItem* GetItem(int index) const { return static_cast<TLResExternalItem*>(Get(index)); }
};

// The language table: LANGIDs, entry 0 the native language.
class TLocaleList : public TList {
  FW_CLASS(TLocaleList, TList)
 public:
  std::uint16_t GetLocale(int index) const {
    return static_cast<std::uint16_t>(reinterpret_cast<std::uintptr_t>(Get(index)));
  }
  void SetLocale(int index, std::uint16_t langId) { Put(index, reinterpret_cast<void*>(std::uintptr_t{langId})); }
  int AddLocale(std::uint16_t langId) { return Add(reinterpret_cast<void*>(std::uintptr_t{langId})); }
};

class TLangResource : public TObject {
  FW_CLASS(TLangResource, TObject)
 public:
  TLangResource();
  void Destroy() override;

  TLResFormList* Forms() const { return forms_; }
  TLResUnitList* Units() const { return units_; }
  TLResExtGroupList* ExtGroups() const { return extGroups_; }
  TLocaleList* Languages() const { return languages_; }
  std::uint16_t NativeLocale() const { return nativeLangId_; }
  std::int32_t CurrentLanguage = 0;

  int GetLanguageCount() const { return languages_->Count(); }
  std::uint16_t GetLanguageLocale(int index) const;  // 0 outside the table
  int IndexOfLocale(std::uint16_t langId) const;
  int AddLanguage(int baseIndex, std::uint16_t langId);
  void RemoveLanguage(int index);
  void SetNativeLocale(std::uint16_t langId);
  void SetLanguageLocale(int index, std::uint16_t langId);

  TLResConstantItem* FindConstantByID(std::int32_t id) const;
  TLResPropertyItem* FindPropertyByID(std::int32_t id) const;
  TLResExternalItem* FindExternalItem(std::string_view groupName, std::string_view itemName) const;

  // Calls `f` for every constant, then every property (forms' own, then their
  // components'), then every external item.
  template <class F>
  void ForEachItem(F&& f) const;

 private:
  TLResFormList* forms_;
  TLResUnitList* units_;
  TLResExtGroupList* extGroups_;
  std::uint16_t nativeLangId_;
  TLocaleList* languages_;
};

template <class F>
void TLangResource::ForEachItem(F&& f) const {
  for (int u = 0; u < units_->Count(); ++u) {
    TLResConstantList* constants = units_->GetUnit(u)->Constants();
    for (int i = 0; i < constants->Count(); ++i) f(static_cast<TLResItem*>(constants->GetConstant(i)));
  }
  for (int fi = 0; fi < forms_->Count(); ++fi) {
    TLResFormItem* form = forms_->GetForm(fi);
    for (int i = 0; i < form->Properties()->Count(); ++i)
      f(static_cast<TLResItem*>(form->Properties()->GetProperty(i)));
    for (int c = 0; c < form->Components()->Count(); ++c) {
      TLResPropertyList* props = form->Components()->GetComponent(c)->Properties();
      for (int i = 0; i < props->Count(); ++i) f(static_cast<TLResItem*>(props->GetProperty(i)));
    }
  }
  for (int g = 0; g < extGroups_->Count(); ++g) {
    TLResExternalList* items = extGroups_->GetGroup(g)->Items();
    for (int i = 0; i < items->Count(); ++i) f(static_cast<TLResItem*>(items->GetExternal(i)));
  }
}
