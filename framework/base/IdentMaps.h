// Identifiers for integer property types: colours ("clBlue"), cursors
// ("crHandPoint"), character sets ("DEFAULT_CHARSET") and the like.
//
// Such a type is a TNamedInt: it converts to and from its representation
// freely, so code uses it like a plain integer, but it carries type
// information of its own. That type information may hold the type's
// identifier map, and more maps can be registered for it
// (RegisterIntegerConsts). Form data then names values by identifier: the
// reader turns an identifier into the number with the maps of the
// property's type, and the writer writes a value that has a name by its name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "TypeInfo.h"

// Looks an identifier up in a map (case-insensitive), or a value (the first name that has it).
bool IdentToInt(std::string_view ident, std::int64_t& value, const TIdentMapEntry* map, std::size_t count);
bool IntToIdent(std::int64_t value, std::string& ident, const TIdentMapEntry* map, std::size_t count);
template <std::size_t N>
bool IdentToInt(std::string_view ident, std::int64_t& value, const TIdentMapEntry (&map)[N]) {
  return IdentToInt(ident, value, map, N);
}
template <std::size_t N>
bool IntToIdent(std::int64_t value, std::string& ident, const TIdentMapEntry (&map)[N]) {
  return IntToIdent(value, ident, map, N);
}

// The type information of a named integer type with the range [lo, hi] and its identifier map.
TypeInfo MakeIntegerTypeInfo(const char* name, std::int64_t lo, std::int64_t hi, const TIdentMapEntry* map,
                             std::size_t count);

// More identifiers for an integer type (they are asked after the type's own map).
using IdentToIntFunc = bool (*)(const std::string& ident, std::int64_t& value);
using IntToIdentFunc = bool (*)(std::int64_t value, std::string& ident);
void RegisterIntegerConsts(const TypeInfo* type, IdentToIntFunc identToInt, IntToIdentFunc intToIdent);

// Every map of `type`: its own, then the registered ones.
bool FindIdentToInt(const TypeInfo* type, const std::string& ident, std::int64_t& value);
bool FindIntToIdent(const TypeInfo* type, std::int64_t value, std::string& ident);

// An integer with a type of its own. `Tag::Info()` gives its type information:
//   struct TColorTag { static const TypeInfo* Info(); };
//   using TColor = TNamedInt<TColorTag, std::int32_t>;
template <class Tag, class Rep>
class TNamedInt {
 public:
  using RepType = Rep;
  constexpr TNamedInt() = default;
  constexpr TNamedInt(Rep value) : value_(value) {}
  constexpr operator Rep() const { return value_; }
  static const TypeInfo* FwTypeInfo() { return Tag::Info(); }

 private:
  Rep value_{};
};
