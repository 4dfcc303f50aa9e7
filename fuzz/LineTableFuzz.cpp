// Arbitrary bytes as a module's compact line table: the first two bytes give
// the data version, the third whether the password proved right, the rest is
// the table. The walk must answer for any address without reading past the
// table or looping without end.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ELocation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  TVantorModuleInfo entry;
  entry.Handle = 0x400000;
  entry.DataVersion = static_cast<std::uint16_t>(data[0] | (data[1] << 8));
  entry.PasswordAccepted = data[2] & 1;
  entry.Password = "pw";
  entry.DebugData = New<TMemoryStream>();
  entry.DebugData->WriteBuffer(data + 3, static_cast<std::int64_t>(size - 3));
  for (std::uint32_t offset : {0u, 0x10u, 0x101u, 0x1000u, 0xFFFFFu}) {
    TVLLocationInfo location;
    location.Module = &entry;
    LocateInOwnDebugData(CodeAddressFromOffset(entry.Handle, offset), location);
  }
  FreeAndNil(entry.DebugData);
  return 0;
}
