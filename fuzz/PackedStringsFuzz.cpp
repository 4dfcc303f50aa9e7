// Arbitrary bytes as a run of packed strings: the first byte picks the format
// and the string kinds. The reader must raise EReadError on lengths that lie,
// never allocate or read past the data; what it reads must write back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ByteReader.h"
#include "Exceptions.h"
#include "PackedStrings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  int format = data[0] & 7;
  std::uint8_t kinds = data[0];
  ByteReader reader(data + 1, size - 1);
  try {
    for (int i = 0; !reader.AtEnd(); ++i) {
      std::size_t start = reader.Position();
      std::string again;
      if ((kinds >> (3 + i % 5)) & 1) {
        std::u16string s = ReadPackedWideString(reader, format);
        WritePackedWideString(again, s, format);
      } else {
        std::string s = ReadPackedAnsiString(reader, format);
        WritePackedAnsiString(again, s, format);
      }
      // Lengths may be written longer than needed; the shortest form is never longer.
      if (again.size() > reader.Position() - start) std::abort();
    }
  } catch (const EReadError&) {
  }
  return 0;
}
