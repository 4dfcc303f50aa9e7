#include "QvHook.h"

#include <gtest/gtest.h>

#include "Exceptions.h"

namespace {

void First() {}
void Second() {}
void Third() {}
void Replacement() {}

TCodeAddress Addr(void (*f)()) {
  return reinterpret_cast<TCodeAddress>(f);
}

TEST(QvHookTest, SlotsAreOneBasedFoundFromTheFrontAndPatchedInPlace) {
  TMethodTable table({Addr(First), Addr(Second), Addr(Third), Addr(Second)});
  for (void (*f)() : {First, Second, Third}) {
    const int slot = VirtualMethodSlotOf(table, Addr(f));
    ASSERT_GE(slot, 1);
    EXPECT_EQ(VirtualMethodAt(table, slot), Addr(f)) << "the slot found gives the address back";
  }
  EXPECT_EQ(VirtualMethodSlotOf(table, Addr(Second)), 2) << "the first of two";
  EXPECT_EQ(VirtualMethodSlotOf(table, Addr(Replacement)), 0) << "absent";

  EXPECT_EQ(PatchVirtualMethod(table, 2, Addr(Replacement)), Addr(Second)) << "the previous address";
  EXPECT_EQ(VirtualMethodAt(table, 2), Addr(Replacement));
  EXPECT_EQ(VirtualMethodSlotOf(table, Addr(Second)), 4);

  for (int bad : {0, -1, 5}) {
    EXPECT_THROW(VirtualMethodAt(table, bad), ERangeError) << bad;
    EXPECT_THROW(PatchVirtualMethod(table, bad, Addr(First)), ERangeError) << bad;
  }
  EXPECT_EQ(VirtualMethodAt(table, 1), Addr(First));
}

}  // namespace
