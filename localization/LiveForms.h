// Re-translation of live forms: after a language switch the forms, frames
// and data modules that already exist are walked, and the translated values
// of the store are written into their published properties through the
// framework's type information (always through the properties' setters, so
// window texts and painted captions change).
//
// The store describes a form class by a form item named like the class
// without its leading "T": the form's own property items and its component
// items, each holding property items. A component item's name is a path:
// "Panel1" (an owned component), "Panel1.Font" (an object the component
// holds), "rgType.Items" (a held string list), "Grid.Columns[1]" (an item of
// a collection, possibly followed by further ".Name[n]" groups). A part of a
// path that names no object is put before each property name.
//
// Language data is outside input: an entry that cannot be applied (a
// malformed path, a value a setter refuses) is skipped and the walk goes on
// with the rest.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "Component.h"
#include "LangRes.h"
#include "Method.h"

// What the walk needs of the screen and of forms. The Win32 side answers
// from the framework's Screen (win/ScreenFormsHost.h); tests fake it.
class LiveFormsHost {
 public:
  virtual ~LiveFormsHost() = default;
  // The screen's list of custom forms and its list of data modules.
  virtual int FormCount() = 0;
  virtual TComponent* Form(int index) = 0;
  virtual int DataModuleCount() = 0;
  virtual TComponent* DataModule(int index) = 0;
  virtual int ScreenPixelsPerInch() = 0;
  virtual int FormPixelsPerInch(TComponent* form) = 0;
  // Scales the form's positions, sizes and font heights down its tree by
  // screenPpi / formPpi, keeping the form's own position; afterwards the form
  // counts as made at the screen's PixelsPerInch.
  virtual void ScaleForm(TComponent* form, int screenPpi, int formPpi) = 0;
  // Right-to-left (true) or left-to-right BiDiMode.
  virtual void SetRightToLeft(TComponent* form, bool rightToLeft) = 0;
  // The charset of the screen's icon, hint and menu fonts.
  virtual void SetScreenFontsCharset(std::uint32_t charset) = 0;
};

// OnCustomObject(Object, PropertyPath, var Handled, Value).
using TCustomObjectEvent = Method<void(TObject* object, const std::string& path, bool& handled, TLResValue* value)>;
// OnCollectionItem / OnSpecialPath(Object, Name, var Result, Index).
using TIndexedObjectEvent = Method<void(TObject* object, const std::string& name, TObject*& result, int index)>;

// The state of a re-translation: the localizer owns one and forwards to it.
class TLiveTranslator {
 public:
  virtual ~TLiveTranslator() = default;

  TLangResource* Store = nullptr;  // the store used when a call passes none
  bool ApplyCharset = true;        // give fonts the charset of the current locale
  bool ApplyBiDiMode = false;      // set forms' right-to-left mode by the current locale
  bool ShowOutdated = false;       // show translations older than the native text
  std::uint32_t CurrentLocale = 0;
  TCustomObjectEvent OnCustomObject;
  TIndexedObjectEvent OnCollectionItem;
  TIndexedObjectEvent OnSpecialPath;
  LiveFormsHost* Host = nullptr;  // null: no forms, no scaling, no BiDiMode

  // Every form of the screen, in index order; then every data module.
  void RetranslateForms(TLangResource* store);
  void RetranslateDataModules(TLangResource* store);
  // One form, data module or frame: the form items of its ancestor classes
  // (nearest first), then its own; a form is then scaled to the screen and
  // given its BiDiMode.
  void TranslateLiveComponent(TLangResource* store, TComponent* component);
  // Applies one form item: owned frames first, the item's own properties,
  // then its component items in the store's order.
  void TranslateContainer(TLangResource* store, TComponent* container, TLResFormItem* formItem);
  // Applies every property item of `item` to `target` (Prefix + "." before
  // each name when Prefix is not empty); with at least one property set and
  // ApplyCharset on, the target's font gets the current locale's charset.
  void ApplyItemProperties(TLResComponentItem* item, TObject* target, const std::string& prefix);
  // Sets one property; true when a published property of that name was found.
  bool ApplyPropertyTranslation(TObject* object, const std::string& path, TLResValue* value);
  // String-list contents, tabbed-notebook pages and OnCustomObject; true when handled.
  bool ApplySpecialProperty(TObject* object, const std::string& path, TLResValue* value);
  // A component item whose path holds "[index]" groups.
  void ApplyIndexedPath(TComponent* container, TLResComponentItem* item, const std::string& path);
  // OnCollectionItem, then OnSpecialPath when that gives nothing.
  TObject* ResolveIndexedObject(TObject* object, const std::string& name, int index);
  // The screen's icon, hint and menu fonts get the current locale's charset (when ApplyCharset is on).
  void ApplyScreenCharset();

 protected:
  virtual bool ProcessCustomObject(TObject* object, const std::string& path, TLResValue* value);
  virtual TObject* ProcessCollectionItem(TObject* object, const std::string& name, int index);

 private:
  TLangResource* StoreOr(TLangResource* store) const { return store ? store : Store; }
  // The value to show for a property item (outdated translations give the native text); null when none.
  TLResValue* ValueToApply(TLResPropertyItem* item) const;
};

// True when the object's class or an ancestor has one of the names (any case).
bool ClassNameInList(const TObject* object, std::initializer_list<std::string_view> names);
// Gives the object's font (its "Font", else its "Style"'s font, recursively)
// the charset; false when there is no font, or the font's charset type has
// no identifier for the charset.
bool SetFontCharset(TObject* object, std::uint32_t charset);
// Depth first: an owned component named Name, then the same search in each
// owned component, then the object held in Root's published property Name.
TObject* FindLiveComponent(TObject* root, std::string_view name);
// Resolves a dotted path of objects; the part that names no object is left in `tail`.
TObject* ResolveComponentPath(TObject* root, const std::string& path, std::string& tail);

// One "Name[index]" group of an indexed path and the text after it.
struct TIndexStep {
  std::string Name;
  int Index = 0;
  std::string Rest;
};
// "Object.Path.Name[index].Rest": the object path and the first group. False
// for a malformed path: no "]", an index that is not a non-negative decimal
// number, or something other than "." after the "]".
bool ParseFirstIndex(const std::string& path, std::string& objectPath, TIndexStep& step);
// "Name[index].Rest": the next group, with the same rules.
bool ParseNextIndex(const std::string& rest, TIndexStep& step);
