// Reading, finding and overwriting a slot of a method table.
//
// A method table is an explicit, writable list of code addresses with 1-based
// slots: a class that lets one of its operations be replaced at run time keeps
// one and calls through it. Nothing here touches the language's own tables.
#pragma once

#include <cstddef>
#include <vector>

using TCodeAddress = const void*;

class TMethodTable {
 public:
  TMethodTable() = default;
  explicit TMethodTable(std::vector<TCodeAddress> slots) : slots_(std::move(slots)) {}
  int Count() const { return static_cast<int>(slots_.size()); }
  std::vector<TCodeAddress>& Slots() { return slots_; }
  const std::vector<TCodeAddress>& Slots() const { return slots_; }

 private:
  std::vector<TCodeAddress> slots_;
};

// The address in slot `index` (1-based); ERangeError outside 1 .. Count.
TCodeAddress VirtualMethodAt(const TMethodTable& table, int index);
// The first slot (counting from 1) that holds `address`; 0 when none does.
int VirtualMethodSlotOf(const TMethodTable& table, TCodeAddress address);
// Writes `address` into slot `index` and returns what the slot held; ERangeError
// outside 1 .. Count (nothing written).
TCodeAddress PatchVirtualMethod(TMethodTable& table, int index, TCodeAddress address);
