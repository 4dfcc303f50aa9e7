#include "MemoryManager.h"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <stdexcept>

namespace {
void* RuntimeAllocate(std::size_t size) {
  return std::malloc(size);
}
void RuntimeFree(void* block) {
  std::free(block);
}
void* RuntimeReallocate(void* block, std::size_t size) {
  return std::realloc(block, size);
}

constexpr TMemoryManager kRuntimeManager{&RuntimeAllocate, &RuntimeFree, &RuntimeReallocate, nullptr};
}  // namespace

// Constant-initialized: operator new works before any static constructor runs.
constinit TMemoryManager fw_detail::g_memoryManager = kRuntimeManager;

using fw_detail::g_memoryManager;

void GetMemoryManager(TMemoryManager& manager) {
  manager = g_memoryManager;
}

void SetMemoryManager(const TMemoryManager& manager) {
  if (!manager.Allocate || !manager.Free || !manager.Reallocate)
    throw std::invalid_argument("SetMemoryManager: allocate, free and reallocate must be set");
  g_memoryManager = manager;
}

const TMemoryManager& DefaultMemoryManager() {
  return kRuntimeManager;
}

bool IsDefaultMemoryManager() {
  return g_memoryManager.Allocate == kRuntimeManager.Allocate && g_memoryManager.Free == kRuntimeManager.Free &&
         g_memoryManager.Reallocate == kRuntimeManager.Reallocate && !g_memoryManager.AllocateInstance;
}

// Every routine below calls the manager itself (the helpers are inlined), so
// that a recording manager finds the call site one frame up.
void fw_detail::OutOfMemory() {
  throw std::bad_alloc();
}

using fw_detail::OutOfMemory;

namespace {

// Retries through the new-handler as operator new must; false when there is none.
bool CallNewHandler() {
  std::new_handler handler = std::get_new_handler();
  if (!handler) return false;
  handler();
  return true;
}

[[gnu::always_inline]] inline void* NewBlock(std::size_t size) {
  if (size == 0) size = 1;
  for (;;) {
    if (void* block = g_memoryManager.Allocate(size)) return block;
    if (!CallNewHandler()) OutOfMemory();
  }
}

[[gnu::always_inline]] inline void* NewBlockNoThrow(std::size_t size) noexcept {
  if (size == 0) size = 1;
  for (;;) {
    if (void* block = g_memoryManager.Allocate(size)) return block;
    try {
      if (!CallNewHandler()) return nullptr;
    } catch (...) {
      return nullptr;
    }
  }
}

[[gnu::always_inline]] inline void FreeBlock(void* block) noexcept {
  if (block) g_memoryManager.Free(block);
}

// Over-aligned blocks: the manager's block holds the aligned one, and the
// word before the aligned address keeps the manager's block.
bool NeedsOwnAlignment(std::align_val_t alignment) {
  return static_cast<std::size_t>(alignment) > __STDCPP_DEFAULT_NEW_ALIGNMENT__;
}

[[gnu::always_inline]] inline void* NewAlignedBlock(std::size_t size, std::align_val_t alignment, bool nothrow) {
  if (!NeedsOwnAlignment(alignment)) return nothrow ? NewBlockNoThrow(size) : NewBlock(size);
  const std::size_t align = static_cast<std::size_t>(alignment);
  if (size > SIZE_MAX - align - sizeof(void*)) {
    if (nothrow) return nullptr;
    OutOfMemory();
  }
  const std::size_t total = size + align + sizeof(void*);
  void* raw;
  for (;;) {
    raw = g_memoryManager.Allocate(total);
    if (raw) break;
    bool retry;
    try {
      retry = CallNewHandler();
    } catch (...) {
      if (nothrow) return nullptr;
      throw;
    }
    if (retry) continue;
    if (nothrow) return nullptr;
    OutOfMemory();
  }
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw) + sizeof(void*);
  void* aligned = reinterpret_cast<void*>((start + align - 1) & ~(align - 1));
  static_cast<void**>(aligned)[-1] = raw;
  return aligned;
}

[[gnu::always_inline]] inline void FreeAlignedBlock(void* block, std::align_val_t alignment) noexcept {
  if (!block) return;
  g_memoryManager.Free(NeedsOwnAlignment(alignment) ? static_cast<void**>(block)[-1] : block);
}
}  // namespace

void* GetMem(std::size_t size) {
  if (size == 0) size = 1;
  void* block = g_memoryManager.Allocate(size);
  if (!block) OutOfMemory();
  return block;
}

void FreeMem(void* block) {
  if (block) g_memoryManager.Free(block);
}

void* ReallocMem(void* block, std::size_t size) {
  if (!block) {
    if (size == 0) return nullptr;
    block = g_memoryManager.Allocate(size);
    if (!block) OutOfMemory();
    return block;
  }
  if (size == 0) {
    g_memoryManager.Free(block);
    return nullptr;
  }
  void* resized = g_memoryManager.Reallocate(block, size);
  if (!resized) OutOfMemory();
  return resized;
}

void* AllocInstance(std::size_t size, const ClassInfo* cls) {
  return fw_detail::AllocateInstanceBlock(size, cls);
}

// --- The global operator new and delete -----------------------------------------------------------
void* operator new(std::size_t size) {
  return NewBlock(size);
}
void* operator new[](std::size_t size) {
  return NewBlock(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return NewBlockNoThrow(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return NewBlockNoThrow(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return NewAlignedBlock(size, alignment, false);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return NewAlignedBlock(size, alignment, false);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return NewAlignedBlock(size, alignment, true);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return NewAlignedBlock(size, alignment, true);
}

void operator delete(void* block) noexcept {
  FreeBlock(block);
}
void operator delete[](void* block) noexcept {
  FreeBlock(block);
}
void operator delete(void* block, std::size_t) noexcept {
  FreeBlock(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  FreeBlock(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  FreeBlock(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  FreeBlock(block);
}
void operator delete(void* block, std::align_val_t alignment) noexcept {
  FreeAlignedBlock(block, alignment);
}
void operator delete[](void* block, std::align_val_t alignment) noexcept {
  FreeAlignedBlock(block, alignment);
}
void operator delete(void* block, std::size_t, std::align_val_t alignment) noexcept {
  FreeAlignedBlock(block, alignment);
}
void operator delete[](void* block, std::size_t, std::align_val_t alignment) noexcept {
  FreeAlignedBlock(block, alignment);
}
void operator delete(void* block, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  FreeAlignedBlock(block, alignment);
}
void operator delete[](void* block, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  FreeAlignedBlock(block, alignment);
}
