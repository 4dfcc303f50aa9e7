// The "Icons" layout in which an icon list streams itself into form data
// (little-endian): a 32-bit signed entry count N, then for each entry a
// 32-bit signed size S and S bytes of the icon as an icon file; S is 0 for an
// absent or empty icon.
//
// Form data comes from outside: the counts are checked against the bytes the
// stream still holds before anything is allocated for them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Streams.h"

// Receives the entries of the layout in order.
class IconListBuilder {
 public:
  virtual ~IconListBuilder() = default;
  // The icon file of a present entry, or empty for an absent one (S <= 0).
  virtual void Append(std::string_view iconFile) = 0;
};

// Reads the layout at the stream's position. An entry count above the bytes
// left / 4, an entry size above the bytes left, and a stream that ends inside
// a number raise EReadError "Stream read error"; the entries handed over
// before that stay handed over. A negative count reads as no entry.
void ReadIconsLayout(TStream& stream, IconListBuilder& list);

// Writes the layout of `iconFiles` (an empty string for an absent entry).
void WriteIconsLayout(TStream& stream, const std::vector<std::string>& iconFiles);
