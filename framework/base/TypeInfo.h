// Run-time type information: what the per-class property, field and method
// tables hold, and the routines that get and set published properties by
// name (form streaming, re-translation by property path, wide extras).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Method.h"
#include "Types.h"

class TObject;
class TComponent;
struct ClassInfo;

enum class TypeKind { Unknown, Integer, Char, Enumeration, Float, String, Set, Class, Method, WChar, WString, Int64 };
enum class FloatType { Single, Double, Extended, Comp, Currency };

// One identifier of an integer type's map ("clBlue" for a TColor).
struct TIdentMapEntry {
  std::int64_t value;
  const char* name;
};

struct TypeInfo {
  std::string name;
  TypeKind kind = TypeKind::Unknown;
  std::vector<std::string> names;             // enumeration: value names, ordinal = position
  const TypeInfo* elemType = nullptr;         // set: the element enumeration
  const ClassInfo& (*classType)() = nullptr;  // class: the declared class
  const void* sig = nullptr;                  // method: the delegate type's identity
  FloatType floatType = FloatType::Double;    // float
  std::int64_t minValue = 0, maxValue = 0;    // ordinal range
  const TIdentMapEntry* idents = nullptr;     // integer: the type's own identifiers (may be null)
  std::size_t identCount = 0;
};

struct PropInfo {
  std::string name;
  const TypeInfo* type = nullptr;
  // Accessors by kind group; a null setter means read-only.
  std::int64_t (*getOrd)(const TObject*) = nullptr;
  void (*setOrd)(TObject*, std::int64_t) = nullptr;
  AnsiString (*getStr)(const TObject*) = nullptr;
  void (*setStr)(TObject*, const AnsiString&) = nullptr;
  WideString (*getWStr)(const TObject*) = nullptr;
  void (*setWStr)(TObject*, const WideString&) = nullptr;
  double (*getFloat)(const TObject*) = nullptr;
  void (*setFloat)(TObject*, double) = nullptr;
  TObject* (*getObj)(const TObject*) = nullptr;
  void (*setObj)(TObject*, TObject*) = nullptr;
  MethodRef (*getMethod)(const TObject*) = nullptr;
  void (*setMethod)(TObject*, const MethodRef&) = nullptr;
  bool (*stored)(const TObject*) = nullptr;  // null: `storedFlag` decides
  bool storedFlag = true;
  std::optional<std::int64_t> defaultOrd;  // nullopt: no default, every value is written

  TypeKind Kind() const { return type ? type->kind : TypeKind::Unknown; }
  bool HasGetter() const { return getOrd || getStr || getWStr || getFloat || getObj || getMethod; }
  bool HasSetter() const { return setOrd || setStr || setWStr || setFloat || setObj || setMethod; }
};

// A published field of a root: a component pointer that the component's Name binds.
struct FieldEntry {
  std::string name;
  const ClassInfo& (*classType)() = nullptr;
  void (*set)(TObject* root, TObject* component) = nullptr;
  TObject* (*get)(const TObject* root) = nullptr;
};

// A published method: a handler that a form binds by name.
struct MethodEntry {
  std::string name;
  const void* sig = nullptr;
  MethodRef (*bind)(TObject* root) = nullptr;
};

// Looks a property up by name (case-insensitive) in the class and its ancestors.
const PropInfo* GetPropInfo(const ClassInfo& cls, std::string_view name);
const PropInfo* GetPropInfo(const TObject* obj, std::string_view name);
// Every published property, base classes first, each in declaration order.
std::vector<const PropInfo*> GetPropList(const ClassInfo& cls);
bool IsPublishedProp(const TObject* obj, std::string_view name);
bool IsStoredProp(const TObject* obj, const PropInfo& prop);

// Accessors; a kind mismatch or a missing accessor raises EPropertyError.
std::int64_t GetOrdProp(const TObject* obj, const PropInfo& prop);
void SetOrdProp(TObject* obj, const PropInfo& prop, std::int64_t value);
AnsiString GetStrProp(const TObject* obj, const PropInfo& prop);  // String, WString (narrowed), Char, WChar
void SetStrProp(TObject* obj, const PropInfo& prop, const AnsiString& value);  // widens for WString
WideString GetWideStrProp(const TObject* obj, const PropInfo& prop);
void SetWideStrProp(TObject* obj, const PropInfo& prop, const WideString& value);
double GetFloatProp(const TObject* obj, const PropInfo& prop);
void SetFloatProp(TObject* obj, const PropInfo& prop, double value);
TObject* GetObjectProp(const TObject* obj, const PropInfo& prop);
void SetObjectProp(TObject* obj, const PropInfo& prop, TObject* value);
MethodRef GetMethodProp(const TObject* obj, const PropInfo& prop);
void SetMethodProp(TObject* obj, const PropInfo& prop, const MethodRef& value);
// By name; an unknown property raises EPropertyError "Unknown property: \"%s\"".
std::int64_t GetOrdProp(const TObject* obj, std::string_view name);
void SetOrdProp(TObject* obj, std::string_view name, std::int64_t value);
AnsiString GetStrProp(const TObject* obj, std::string_view name);
void SetStrProp(TObject* obj, std::string_view name, const AnsiString& value);
TObject* GetObjectProp(const TObject* obj, std::string_view name);

// Enumeration names; GetEnumValue returns -1 for an unknown name (case-insensitive).
std::string GetEnumName(const TypeInfo& type, std::int64_t value);
int GetEnumValue(const TypeInfo& type, std::string_view name);
// Set text as "[a,b]" and back (unknown names raise EPropertyError).
std::string SetToString(const TypeInfo& setType, std::uint64_t bits, bool brackets = true);
std::uint64_t StringToSet(const TypeInfo& setType, std::string_view text);

// Builds an enumeration's type information from the stringized list of its values.
TypeInfo MakeEnumTypeInfo(const char* name, const char* valueList);

// The built-in types.
const TypeInfo* BooleanTypeInfo();
const TypeInfo* IntegerTypeInfo();
const TypeInfo* Int64TypeInfo();
const TypeInfo* CharTypeInfo();
const TypeInfo* WideCharTypeInfo();
const TypeInfo* DoubleTypeInfo();
const TypeInfo* StringTypeInfo();
const TypeInfo* WideStringTypeInfo();

// Declares an enumeration together with its value names, for streaming:
//   FW_ENUM(TAlign, alNone, alTop, alBottom, alLeft, alRight, alClient);
#define FW_ENUM(Name, ...)                                              \
  enum Name : int { __VA_ARGS__ };                                      \
  inline const TypeInfo* FwEnumTypeInfo(Name*) {                        \
    static const TypeInfo info = MakeEnumTypeInfo(#Name, #__VA_ARGS__); \
    return &info;                                                       \
  }
