// The memory manager: the entries every allocation of the program goes
// through. All forms of the global operator new and delete, the framework's
// objects (New<T>, the class registry's create) and GetMem / FreeMem /
// ReallocMem call the installed manager. The default manager is the C
// runtime's (malloc, free, realloc).
//
// A manager may be replaced (a leak catcher wraps the one it finds and calls
// it underneath); blocks the previous manager handed out stay valid, so a
// replacement must pass blocks it does not know to the manager it wrapped.
// Replace the manager while only one thread runs (start-up or shut-down).
//
// Each entry is called directly by one framework routine, whose caller is the
// allocation's call site: a manager that records where blocks come from skips
// its own frames and that routine's one frame. The instance-allocation entry
// is called by TObject's operator new, called by New<T>: its call site is two
// frames up.
#pragma once

#include <cstddef>

struct ClassInfo;

struct TMemoryManager {
  // A block of at least `size` bytes (size > 0), aligned for any fundamental
  // type; null when there is no memory.
  void* (*Allocate)(std::size_t size);
  // Releases a block this manager (or the one it wrapped) handed out; never null.
  void (*Free)(void* block);
  // Resizes a block (never null, size > 0); null when there is no memory,
  // and the block is then left as it was.
  void* (*Reallocate)(void* block, std::size_t size);
  // The instance-allocation entry: the storage of an object of class `cls`.
  // May be null: objects then come from Allocate.
  void* (*AllocateInstance)(std::size_t size, const ClassInfo* cls);
};

void GetMemoryManager(TMemoryManager& manager);
// Every entry but AllocateInstance must be set; raises std::invalid_argument otherwise.
void SetMemoryManager(const TMemoryManager& manager);
// The C runtime's manager (the default).
const TMemoryManager& DefaultMemoryManager();
bool IsDefaultMemoryManager();

// Through the current manager. GetMem(0) gives a block of one byte; they
// raise std::bad_alloc when there is no memory. FreeMem(nullptr) does nothing;
// ReallocMem(nullptr, n) allocates and ReallocMem(p, 0) frees and gives null.
void* GetMem(std::size_t size);
void FreeMem(void* block);
void* ReallocMem(void* block, std::size_t size);
// The storage of an object of class `cls` (TObject's operator new).
void* AllocInstance(std::size_t size, const ClassInfo* cls);

namespace fw_detail {
// The installed manager, read by the framework's allocation routines so that
// each calls it directly.
extern TMemoryManager g_memoryManager;

[[noreturn]] void OutOfMemory();  // raises std::bad_alloc

// The instance-allocation entry, or the allocate entry when the manager has none.
[[gnu::always_inline]] inline void* AllocateInstanceBlock(std::size_t size, const ClassInfo* cls) {
  if (size == 0) size = 1;
  const TMemoryManager& m = g_memoryManager;
  void* block = m.AllocateInstance ? m.AllocateInstance(size, cls) : m.Allocate(size);
  if (!block) OutOfMemory();
  return block;
}
}  // namespace fw_detail
