// Walks arbitrary bytes as a chain of length-prefixed records with every kind
// of read; the reader must throw EByteRange, never read outside the data.
#include "ByteReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ByteReader r(data, size);
  try {
    while (!r.AtEnd()) {
      switch (r.U8() & 7) {
        case 0:
          r.Skip(r.U8());
          break;
        case 1:
          (void)r.U16LE();
          break;
        case 2:
          (void)r.U32BE();
          break;
        case 3:
          (void)r.Bytes(r.U16BE());
          break;
        case 4:
          r.Seek(r.Position() + r.U16LE());
          break;
        case 5:
          (void)r.U16LEAt(r.U16LE());
          break;
        case 6:
          (void)r.U64LE();
          break;
        default:
          (void)r.View(r.U8());
          break;
      }
    }
  } catch (const EByteRange&) {
  }
  return 0;
}
