#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>

#include "Component.h"
#include "MemoryManager.h"
#include "Object.h"

namespace {

// A manager over the C runtime that records what it is asked, in fixed
// storage (it must not allocate itself).
struct Recorder {
  int allocations = 0, frees = 0, reallocations = 0, instances = 0;
  const ClassInfo* lastClass = nullptr;
  std::size_t lastSize = 0;
  void* lastBlock = nullptr;
  void* lastFreed = nullptr;
};
Recorder g_rec;

void* RecAllocate(std::size_t size) {
  ++g_rec.allocations;
  g_rec.lastSize = size;
  return g_rec.lastBlock = std::malloc(size);
}
void RecFree(void* block) {
  ++g_rec.frees;
  g_rec.lastFreed = block;
  std::free(block);
}
void* RecReallocate(void* block, std::size_t size) {
  ++g_rec.reallocations;
  g_rec.lastSize = size;
  return g_rec.lastBlock = std::realloc(block, size);
}
void* RecAllocateInstance(std::size_t size, const ClassInfo* cls) {
  ++g_rec.instances;
  g_rec.lastClass = cls;
  g_rec.lastSize = size;
  return g_rec.lastBlock = std::malloc(size);
}

// Installs the recording manager for its lifetime.
class RecordingManager {
 public:
  explicit RecordingManager(bool withInstances = true) {
    GetMemoryManager(saved_);
    g_rec = Recorder{};
    SetMemoryManager({&RecAllocate, &RecFree, &RecReallocate, withInstances ? &RecAllocateInstance : nullptr});
  }
  ~RecordingManager() { SetMemoryManager(saved_); }

 private:
  TMemoryManager saved_{};
};

class TCounted : public TObject {
  FW_CLASS(TCounted, TObject)
 public:
  explicit TCounted(int v = 0) : Value(v) {}
  int Value;
};
FW_IMPLEMENT_CLASS(TCounted)

class TRefused : public TObject {
  FW_CLASS(TRefused, TObject)
 public:
  TRefused() { throw std::runtime_error("refused"); }
};
FW_IMPLEMENT_CLASS(TRefused)

struct alignas(64) TWide {
  char bytes[64];
};

TEST(MemoryManager, DefaultIsTheRuntimes) {
  EXPECT_TRUE(IsDefaultMemoryManager());
  TMemoryManager m{};
  GetMemoryManager(m);
  EXPECT_EQ(m.Allocate, DefaultMemoryManager().Allocate);
  EXPECT_EQ(m.AllocateInstance, nullptr);
}

TEST(MemoryManager, EveryFormOfNewAndDeleteGoesThroughIt) {
  RecordingManager rec;
  struct Case {
    const char* form;
    void* (*make)();
    void (*release)(void*);
  };
  const Case cases[] = {
      {"new", [] { return static_cast<void*>(new int(1)); }, [](void* p) { delete static_cast<int*>(p); }},
      {"new[]", [] { return static_cast<void*>(new int[3]); }, [](void* p) { delete[] static_cast<int*>(p); }},
      {"nothrow", [] { return static_cast<void*>(new (std::nothrow) int(2)); },
       [](void* p) { delete static_cast<int*>(p); }},
      {"nothrow[]", [] { return static_cast<void*>(new (std::nothrow) int[4]); },
       [](void* p) { delete[] static_cast<int*>(p); }},
      {"aligned", [] { return static_cast<void*>(new TWide); }, [](void* p) { delete static_cast<TWide*>(p); }},
      {"aligned[]", [] { return static_cast<void*>(new TWide[2]); }, [](void* p) { delete[] static_cast<TWide*>(p); }},
      {"aligned nothrow", [] { return static_cast<void*>(new (std::nothrow) TWide); },
       [](void* p) { delete static_cast<TWide*>(p); }},
      {"string buffer", [] { return static_cast<void*>(new std::string(100, 'x')); },
       [](void* p) { delete static_cast<std::string*>(p); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.form);
    const int allocations = g_rec.allocations, frees = g_rec.frees;
    void* p = c.make();
    ASSERT_NE(p, nullptr);
    EXPECT_GT(g_rec.allocations, allocations);
    if (std::string(c.form).starts_with("aligned")) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 64, 0u);
    }
    c.release(p);
    EXPECT_EQ(g_rec.frees - frees, g_rec.allocations - allocations);
  }
  EXPECT_EQ(g_rec.instances, 0);
}

TEST(MemoryManager, ObjectsComeFromTheInstanceEntryWithTheirClass) {
  RecordingManager rec;
  TCounted* obj = New<TCounted>(7);
  EXPECT_EQ(g_rec.instances, 1);
  EXPECT_EQ(g_rec.lastClass, &TCounted::StaticClass());
  EXPECT_EQ(g_rec.lastBlock, static_cast<void*>(obj));
  EXPECT_GE(g_rec.lastSize, sizeof(TCounted));
  EXPECT_EQ(obj->Value, 7);
  obj->Free();
  EXPECT_EQ(g_rec.lastFreed, static_cast<void*>(obj));

  // The class registry's create goes the same way.
  RegisterClass(TComponent::StaticClass());
  TObject* made = GetClass("TComponent")->create(nullptr);
  EXPECT_EQ(g_rec.instances, 2);
  EXPECT_EQ(g_rec.lastClass, &TComponent::StaticClass());
  made->Free();
  UnRegisterClass(TComponent::StaticClass());
}

TEST(MemoryManager, ObjectWithoutInstanceEntryUsesAllocate) {
  RecordingManager rec(false);
  const int allocations = g_rec.allocations;
  TCounted* obj = New<TCounted>();
  EXPECT_EQ(g_rec.allocations, allocations + 1);
  EXPECT_EQ(g_rec.lastBlock, static_cast<void*>(obj));
  obj->Free();
}

TEST(MemoryManager, ConstructorThatRaisesGivesTheBlockBack) {
  RecordingManager rec;
  EXPECT_THROW(New<TRefused>(), std::runtime_error);
  EXPECT_EQ(g_rec.instances, 1);
  EXPECT_EQ(g_rec.lastFreed, g_rec.lastBlock);
}

TEST(MemoryManager, GetMemFreeMemReallocMemEdges) {
  RecordingManager rec;
  void* p = GetMem(0);  // one byte, not null
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(g_rec.lastSize, 1u);
  p = ReallocMem(p, 200);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(g_rec.reallocations, 1);
  static_cast<char*>(p)[199] = 'z';
  EXPECT_EQ(ReallocMem(p, 0), nullptr);  // frees
  EXPECT_EQ(g_rec.lastFreed, p);
  void* q = ReallocMem(nullptr, 16);  // allocates
  EXPECT_EQ(g_rec.allocations, 2);
  FreeMem(q);
  const int frees = g_rec.frees;
  FreeMem(nullptr);
  delete static_cast<int*>(nullptr);
  EXPECT_EQ(g_rec.frees, frees);
}

void* NoMemory(std::size_t) {
  return nullptr;
}

TEST(MemoryManager, NoMemoryRaisesOrGivesNull) {
  TMemoryManager saved{};
  GetMemoryManager(saved);
  TMemoryManager empty = saved;
  empty.Allocate = &NoMemory;
  SetMemoryManager(empty);
  bool threw = false;
  try {
    (void)GetMem(8);
  } catch (const std::bad_alloc&) {
    threw = true;
  }
  int* viaNothrow = new (std::nothrow) int;
  SetMemoryManager(saved);
  EXPECT_TRUE(threw);
  EXPECT_EQ(viaNothrow, nullptr);
}

TEST(MemoryManager, ManagerWithoutAnEntryIsRefused) {
  TMemoryManager m = DefaultMemoryManager();
  m.Free = nullptr;
  EXPECT_THROW(SetMemoryManager(m), std::invalid_argument);
  EXPECT_TRUE(IsDefaultMemoryManager());
}

#if defined(__SANITIZE_ADDRESS__)
// Replacing operator new keeps the address sanitizer's view of the heap.
TEST(MemoryManagerDeathTest, AddressSanitizerStillSeesOverruns) {
  EXPECT_DEATH(
      {
        char* volatile p = new char[8];
        p[8] = 1;
        delete[] p;
      },
      "heap-buffer-overflow");
}
#endif

}  // namespace
