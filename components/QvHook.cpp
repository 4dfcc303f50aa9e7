#include "QvHook.h"

#include "Exceptions.h"
#include "SysUtils.h"

namespace {
std::size_t CheckedSlot(const TMethodTable& table, int index) {
  if (index < 1 || index > table.Count())
    throw ERangeError(Format("Method table slot %d out of range (1..%d)", index, table.Count()));
  return static_cast<std::size_t>(index - 1);
}
}  // namespace

TCodeAddress VirtualMethodAt(const TMethodTable& table, int index) {
  return table.Slots()[CheckedSlot(table, index)];
}

int VirtualMethodSlotOf(const TMethodTable& table, TCodeAddress address) {
  for (int i = 0; i < table.Count(); ++i)
    if (table.Slots()[static_cast<std::size_t>(i)] == address) return i + 1;
  return 0;
}

TCodeAddress PatchVirtualMethod(TMethodTable& table, int index, TCodeAddress address) {
  TCodeAddress& slot = table.Slots()[CheckedSlot(table, index)];
  TCodeAddress old = slot;
  slot = address;
  return old;
}
