// Arbitrary bytes as an icon list's "Icons" form data. The reader must take
// them or raise its read error, never allocate for sizes the data does not
// hold; what it took must write and read back to the same entries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "IcoList.h"

namespace {

class Collected : public IconListBuilder {
 public:
  void Append(std::string_view iconFile) override { entries.emplace_back(iconFile); }
  std::vector<std::string> entries;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Collected first;
  bool complete = true;
  try {
    TOwned<TReadOnlyMemoryStream> in(New<TReadOnlyMemoryStream>(data, size));
    ReadIconsLayout(*in, first);
  } catch (const EReadError&) {
    complete = false;
  }
  std::size_t held = 0;
  for (const std::string& e : first.entries) held += e.size();
  if (held > size) std::abort();
  if (!complete) return 0;
  TOwned<TMemoryStream> out(New<TMemoryStream>());
  WriteIconsLayout(*out, first.entries);
  out->SetPosition(0);
  Collected again;
  ReadIconsLayout(*out, again);
  if (again.entries != first.entries) std::abort();
  return 0;
}
