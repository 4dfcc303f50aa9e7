#include "TypeInfo.h"

#include "Object.h"
#include "SysUtils.h"

namespace {

[[noreturn]] void KindError(const PropInfo& prop) {
  throw EPropertyError("Invalid property type: \"" + prop.name + "\"");
}
[[noreturn]] void ReadOnly(const PropInfo& prop) {
  throw EPropertyError("Property " + prop.name + " is read-only");
}
const PropInfo& Need(const TObject* obj, std::string_view name) {
  const PropInfo* p = obj ? GetPropInfo(obj, name) : nullptr;
  if (!p) throw EPropertyError("Unknown property: \"" + std::string(name) + "\"");
  return *p;
}

TypeInfo Ordinal(const char* name, TypeKind kind, std::int64_t lo, std::int64_t hi) {
  TypeInfo t;
  t.name = name;
  t.kind = kind;
  t.minValue = lo;
  t.maxValue = hi;
  return t;
}

}  // namespace

const TypeInfo* BooleanTypeInfo() {
  static const TypeInfo t = [] {
    TypeInfo b = Ordinal("Boolean", TypeKind::Enumeration, 0, 1);
    b.names = {"False", "True"};
    return b;
  }();
  return &t;
}
const TypeInfo* IntegerTypeInfo() {
  static const TypeInfo t = Ordinal("Integer", TypeKind::Integer, INT32_MIN, INT32_MAX);
  return &t;
}
const TypeInfo* Int64TypeInfo() {
  static const TypeInfo t = Ordinal("Int64", TypeKind::Int64, INT64_MIN, INT64_MAX);
  return &t;
}
const TypeInfo* CharTypeInfo() {
  static const TypeInfo t = Ordinal("Char", TypeKind::Char, 0, 255);
  return &t;
}
const TypeInfo* WideCharTypeInfo() {
  static const TypeInfo t = Ordinal("WideChar", TypeKind::WChar, 0, 65535);
  return &t;
}
const TypeInfo* DoubleTypeInfo() {
  static const TypeInfo t = Ordinal("Double", TypeKind::Float, 0, 0);
  return &t;
}
const TypeInfo* StringTypeInfo() {
  static const TypeInfo t = Ordinal("AnsiString", TypeKind::String, 0, 0);
  return &t;
}
const TypeInfo* WideStringTypeInfo() {
  static const TypeInfo t = Ordinal("WideString", TypeKind::WString, 0, 0);
  return &t;
}

TypeInfo MakeEnumTypeInfo(const char* name, const char* valueList) {
  TypeInfo t;
  t.name = name;
  t.kind = TypeKind::Enumeration;
  std::string cur;
  for (const char* p = valueList;; ++p) {
    if (*p == ',' || *p == '\0') {
      t.names.push_back(Trim(cur));
      cur.clear();
      if (*p == '\0') break;
    } else {
      cur += *p;
    }
  }
  t.minValue = 0;
  t.maxValue = static_cast<std::int64_t>(t.names.size()) - 1;
  return t;
}

const PropInfo* GetPropInfo(const ClassInfo& cls, std::string_view name) {
  for (const ClassInfo* c = &cls; c; c = c->parent)
    for (const PropInfo& p : c->props)
      if (SameText(p.name, name)) return &p;
  return nullptr;
}

const PropInfo* GetPropInfo(const TObject* obj, std::string_view name) {
  return obj ? GetPropInfo(obj->ClassType(), name) : nullptr;
}

std::vector<const PropInfo*> GetPropList(const ClassInfo& cls) {
  std::vector<const ClassInfo*> chain;
  for (const ClassInfo* c = &cls; c; c = c->parent) chain.push_back(c);
  std::vector<const PropInfo*> out;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    for (const PropInfo& p : (*it)->props) {
      // a redeclared property replaces the ancestor's in place
      bool replaced = false;
      for (auto& q : out)
        if (SameText(q->name, p.name)) q = &p, replaced = true;
      if (!replaced) out.push_back(&p);
    }
  return out;
}

bool IsPublishedProp(const TObject* obj, std::string_view name) {
  return GetPropInfo(obj, name) != nullptr;
}

bool IsStoredProp(const TObject* obj, const PropInfo& prop) {
  return prop.stored ? prop.stored(obj) : prop.storedFlag;
}

std::int64_t GetOrdProp(const TObject* obj, const PropInfo& prop) {
  if (!prop.getOrd) KindError(prop);
  return prop.getOrd(obj);
}

void SetOrdProp(TObject* obj, const PropInfo& prop, std::int64_t value) {
  if (!prop.getOrd) KindError(prop);
  if (!prop.setOrd) ReadOnly(prop);
  const TypeInfo& t = *prop.type;
  if (t.kind == TypeKind::Enumeration || t.kind == TypeKind::Char || t.kind == TypeKind::WChar ||
      t.kind == TypeKind::Integer) {
    if (value < t.minValue || value > t.maxValue)
      throw EPropertyError("Invalid property value: " + prop.name + " = " + std::to_string(value));
  } else if (t.kind == TypeKind::Set && t.elemType) {
    std::size_t n = t.elemType->names.size();
    if (n < 64 && (static_cast<std::uint64_t>(value) >> n) != 0)
      throw EPropertyError("Invalid property value: " + prop.name);
  }
  prop.setOrd(obj, value);
}

AnsiString GetStrProp(const TObject* obj, const PropInfo& prop) {
  if (prop.getStr) return prop.getStr(obj);
  if (prop.getWStr) return WideToAnsi(prop.getWStr(obj));
  if (prop.Kind() == TypeKind::Char) return std::string(1, static_cast<char>(prop.getOrd(obj)));
  if (prop.Kind() == TypeKind::WChar) return WideToAnsi(WideString(1, static_cast<char16_t>(prop.getOrd(obj))));
  KindError(prop);
}

void SetStrProp(TObject* obj, const PropInfo& prop, const AnsiString& value) {
  if (prop.getStr) {
    if (!prop.setStr) ReadOnly(prop);
    prop.setStr(obj, value);
  } else if (prop.getWStr) {
    if (!prop.setWStr) ReadOnly(prop);
    prop.setWStr(obj, AnsiToWide(value));
  } else {
    KindError(prop);
  }
}

WideString GetWideStrProp(const TObject* obj, const PropInfo& prop) {
  if (prop.getWStr) return prop.getWStr(obj);
  if (prop.getStr) return AnsiToWide(prop.getStr(obj));
  if (prop.Kind() == TypeKind::WChar) return WideString(1, static_cast<char16_t>(prop.getOrd(obj)));
  KindError(prop);
}

void SetWideStrProp(TObject* obj, const PropInfo& prop, const WideString& value) {
  if (prop.getWStr) {
    if (!prop.setWStr) ReadOnly(prop);
    prop.setWStr(obj, value);
  } else if (prop.getStr) {
    if (!prop.setStr) ReadOnly(prop);
    prop.setStr(obj, WideToAnsi(value));
  } else {
    KindError(prop);
  }
}

double GetFloatProp(const TObject* obj, const PropInfo& prop) {
  if (!prop.getFloat) KindError(prop);
  return prop.getFloat(obj);
}

void SetFloatProp(TObject* obj, const PropInfo& prop, double value) {
  if (!prop.getFloat) KindError(prop);
  if (!prop.setFloat) ReadOnly(prop);
  prop.setFloat(obj, value);
}

TObject* GetObjectProp(const TObject* obj, const PropInfo& prop) {
  if (!prop.getObj) KindError(prop);
  return prop.getObj(obj);
}

void SetObjectProp(TObject* obj, const PropInfo& prop, TObject* value) {
  if (!prop.getObj) KindError(prop);
  if (!prop.setObj) ReadOnly(prop);
  if (value && prop.type->classType && !value->InheritsFrom(prop.type->classType()))
    throw EPropertyError("Invalid property value: " + prop.name + " cannot hold a " + value->ClassName());
  prop.setObj(obj, value);
}

MethodRef GetMethodProp(const TObject* obj, const PropInfo& prop) {
  if (!prop.getMethod) KindError(prop);
  return prop.getMethod(obj);
}

void SetMethodProp(TObject* obj, const PropInfo& prop, const MethodRef& value) {
  if (!prop.getMethod) KindError(prop);
  if (!prop.setMethod) ReadOnly(prop);
  if (value && value.sig != prop.type->sig)
    throw EPropertyError("Invalid property value: " + prop.name + " takes a handler of another type");
  prop.setMethod(obj, value);
}

std::int64_t GetOrdProp(const TObject* obj, std::string_view name) {
  return GetOrdProp(obj, Need(obj, name));
}
void SetOrdProp(TObject* obj, std::string_view name, std::int64_t value) {
  SetOrdProp(obj, Need(obj, name), value);
}
AnsiString GetStrProp(const TObject* obj, std::string_view name) {
  return GetStrProp(obj, Need(obj, name));
}
void SetStrProp(TObject* obj, std::string_view name, const AnsiString& value) {
  SetStrProp(obj, Need(obj, name), value);
}
TObject* GetObjectProp(const TObject* obj, std::string_view name) {
  return GetObjectProp(obj, Need(obj, name));
}

std::string GetEnumName(const TypeInfo& type, std::int64_t value) {
  if (value < 0 || static_cast<std::uint64_t>(value) >= type.names.size()) return std::to_string(value);
  return type.names[static_cast<std::size_t>(value)];
}

int GetEnumValue(const TypeInfo& type, std::string_view name) {
  for (std::size_t i = 0; i < type.names.size(); ++i)
    if (SameText(type.names[i], name)) return static_cast<int>(i);
  return -1;
}

std::string SetToString(const TypeInfo& setType, std::uint64_t bits, bool brackets) {
  std::string out;
  const TypeInfo* e = setType.elemType;
  for (unsigned i = 0; i < 64; ++i) {
    if (!(bits & (std::uint64_t{1} << i))) continue;
    if (!out.empty()) out += ',';
    out += e ? GetEnumName(*e, i) : std::to_string(i);
  }
  return brackets ? "[" + out + "]" : out;
}

std::uint64_t StringToSet(const TypeInfo& setType, std::string_view text) {
  std::string s = Trim(text);
  if (!s.empty() && s.front() == '[') s.erase(0, 1);
  if (!s.empty() && s.back() == ']') s.pop_back();
  std::uint64_t bits = 0;
  std::size_t pos = 0;
  while (pos <= s.size()) {
    std::size_t comma = s.find(',', pos);
    std::string name = Trim(s.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos));
    if (!name.empty()) {
      int v = setType.elemType ? GetEnumValue(*setType.elemType, name) : -1;
      if (v < 0 || v >= 64) throw EPropertyError("Invalid property element: " + name);
      bits |= std::uint64_t{1} << v;
    }
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  return bits;
}
