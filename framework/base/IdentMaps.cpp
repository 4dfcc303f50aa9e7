#include "IdentMaps.h"

#include <mutex>
#include <vector>

#include "SysUtils.h"

bool IdentToInt(std::string_view ident, std::int64_t& value, const TIdentMapEntry* map, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    if (SameText(ident, map[i].name)) {
      value = map[i].value;
      return true;
    }
  return false;
}

bool IntToIdent(std::int64_t value, std::string& ident, const TIdentMapEntry* map, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    if (map[i].value == value) {
      ident = map[i].name;
      return true;
    }
  return false;
}

TypeInfo MakeIntegerTypeInfo(const char* name, std::int64_t lo, std::int64_t hi, const TIdentMapEntry* map,
                             std::size_t count) {
  TypeInfo t;
  t.name = name;
  t.kind = hi > INT32_MAX || lo < INT32_MIN ? TypeKind::Int64 : TypeKind::Integer;
  t.minValue = lo;
  t.maxValue = hi;
  t.idents = map;
  t.identCount = map ? count : 0;
  return t;
}

namespace {

struct IntConsts {
  const TypeInfo* type;
  IdentToIntFunc identToInt;
  IntToIdentFunc intToIdent;
};

std::mutex& ConstsLock() {
  static std::mutex m;
  return m;
}
std::vector<IntConsts>& Consts() {
  static std::vector<IntConsts> v;
  return v;
}

}  // namespace

void RegisterIntegerConsts(const TypeInfo* type, IdentToIntFunc identToInt, IntToIdentFunc intToIdent) {
  std::lock_guard<std::mutex> g(ConstsLock());
  for (const IntConsts& c : Consts())
    if (c.type == type && c.identToInt == identToInt && c.intToIdent == intToIdent) return;  // once is enough
  Consts().push_back({type, identToInt, intToIdent});
}

bool FindIdentToInt(const TypeInfo* type, const std::string& ident, std::int64_t& value) {
  if (!type) return false;
  std::int64_t v;
  if (type->idents && IdentToInt(ident, v, type->idents, type->identCount)) {
    value = v;
    return true;
  }
  std::lock_guard<std::mutex> g(ConstsLock());
  for (const IntConsts& c : Consts())
    if (c.type == type && c.identToInt && c.identToInt(ident, v)) {
      value = v;
      return true;
    }
  return false;
}

bool FindIntToIdent(const TypeInfo* type, std::int64_t value, std::string& ident) {
  if (!type) return false;
  if (type->idents && IntToIdent(value, ident, type->idents, type->identCount)) return true;
  std::lock_guard<std::mutex> g(ConstsLock());
  for (const IntConsts& c : Consts())
    if (c.type == type && c.intToIdent && c.intToIdent(value, ident)) return true;
  return false;
}
