// Wide property streaming. The form stream keeps ANSI text only; a component
// keeps the full value of each published WideString and WideChar property by
// defining two extra streamed properties per property P, "PW" and "P_UTF7":
//
//   WideString: "PW" read only (a string value holding UTF-8);
//               "P_UTF7" read and written (a string value holding UTF-7),
//               written only for a value with a character from U+0080 up
//               that differs from the ancestor's.
//   WideChar:   "PW" read and written (a wide-string value of one unit),
//               not written at its default; "P_UTF7" read only.
//
// Values read are applied only when the reader has an owner that is being
// designed, or ExtraPropertiesEnabled holds; otherwise they are read and
// dropped. Every Unicode component calls DefineWideProperties from its
// DefineProperties, after the inherited one.
#pragma once

#include <cstddef>
#include <string>

#include "Filer.h"
#include "Lists.h"

// Whether the extra properties are applied at run time; on from the start.
extern bool ExtraPropertiesEnabled;

// Defines the extra properties of every published WideString and WideChar
// property of `instance`'s class.
void DefineWideProperties(TFiler& filer, TPersistent* instance);

// The extra properties of one WideString property.
class TUcxWideStringPropertyFiler : public TObject {
  FW_CLASS(TUcxWideStringPropertyFiler, TObject)
 public:
  void DefineProperties(TFiler& filer, TPersistent* instance, const std::string& propName);

 private:
  bool HasUtf7Data(TFiler& filer) const;
  void ReadUtf8(TReader& reader);
  void ReadUtf7(TReader& reader);
  void WriteUtf7(TWriter& writer);
  void Store(TReader& reader, const WideString& value);

  TPersistent* instance_ = nullptr;
  const PropInfo* prop_ = nullptr;
};

// The extra properties of one WideChar property.
class TUcxWideCharPropertyFiler : public TObject {
  FW_CLASS(TUcxWideCharPropertyFiler, TObject)
 public:
  void DefineProperties(TFiler& filer, TPersistent* instance, const std::string& propName);

 private:
  bool HasWData(TFiler& filer) const;
  bool IsDefaultValue() const;
  void ReadW(TReader& reader);
  void ReadUtf7(TReader& reader);
  void WriteW(TWriter& writer);
  void Store(TReader& reader, char16_t value);

  TPersistent* instance_ = nullptr;
  const PropInfo* prop_ = nullptr;
  TWriter* writer_ = nullptr;
};

// Binary search of `list`, sorted by `compare` (an item against the target:
// negative, 0 or positive). True when an equal item exists; `index` gets the
// leftmost equal item, or the insertion point when there is none.
using TListSortCompareTarget = int (*)(void* item, const void* target);
bool FindInSortedList(const TList& list, TListSortCompareTarget compare, const void* target, int& index);
