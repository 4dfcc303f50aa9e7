#include "Units.h"

#include <exception>
#include <stdexcept>

namespace {
UnitEntry* g_entries = nullptr;
std::size_t g_count = 0;
std::size_t g_initialized = 0;
bool g_initStarted = false;
}  // namespace

void SetUnitTable(UnitEntry* entries, std::size_t count) {
  if (g_initialized != 0) throw std::logic_error("the unit table cannot be replaced while units are initialized");
  g_entries = entries;
  g_count = entries ? count : 0;
  g_initialized = 0;
  g_initStarted = false;
}

UnitEntry* UnitTableEntries() {
  return g_entries;
}
std::size_t UnitTableCount() {
  return g_count;
}
std::size_t InitializedUnitCount() {
  return g_initialized;
}

TUnitExceptionProc UnitExceptionHook = nullptr;

namespace {
void TellUnitException(const UnitEntry& unit, bool initialization, std::exception_ptr error) {
  if (!UnitExceptionHook) return;
  try {
    UnitExceptionHook(unit, initialization, std::move(error));
  } catch (...) {
  }
}
}  // namespace

void RunUnitInitializations() {
  if (g_initStarted) return;
  g_initStarted = true;
  while (g_initialized < g_count) {
    UnitEntry& e = g_entries[g_initialized];
    if (e.init) {
      try {
        e.init();
      } catch (...) {
        TellUnitException(e, true, std::current_exception());
        throw;
      }
    }
    ++g_initialized;
  }
}

void RunUnitFinalizations() {
  std::exception_ptr first;
  while (g_initialized > 0) {
    --g_initialized;
    UnitEntry& e = g_entries[g_initialized];
    if (!e.fini) continue;
    try {
      e.fini();
    } catch (...) {
      TellUnitException(e, false, std::current_exception());
      if (!first) first = std::current_exception();
    }
  }
  g_initStarted = false;
  if (first) std::rethrow_exception(first);
}
