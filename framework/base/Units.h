// The unit table: the program's ordered list of unit initialization and
// finalization routines. main() runs the initializations front to back, then
// the program body, then the finalizations back to front. Only units whose
// initialization completed are finalized. Entries are plain writable data, so
// a unit may wrap another unit's entry by swapping its function pointers.
//
// No global object does work in a static constructor: each unit creates its
// globals in its init routine and frees them in its fini routine.
#pragma once

#include <cstddef>
#include <exception>

struct UnitEntry {
  const char* name;
  void (*init)();  // may be null
  void (*fini)();  // may be null
};

// Installs the program's table (not copied; the entries stay writable by the
// program). Resets the progress count. Must not be called while units are
// initialized.
void SetUnitTable(UnitEntry* entries, std::size_t count);
UnitEntry* UnitTableEntries();
std::size_t UnitTableCount();

// Runs every init routine in table order. When one throws, the units before it
// stay initialized (RunUnitFinalizations undoes them) and the exception is
// passed on. A second call runs nothing again.
void RunUnitInitializations();

// Runs the fini routines of the initialized units in reverse order. Every
// routine runs even when an earlier one throws; the first exception is passed
// on after the last routine. Afterwards no unit counts as initialized.
void RunUnitFinalizations();

// Called with an exception that leaves a unit's init or fini routine, before
// it passes on (null: nothing is called). A reporting library puts its
// handler here; what the handler raises is dropped.
using TUnitExceptionProc = void (*)(const UnitEntry& unit, bool initialization, std::exception_ptr error);
extern TUnitExceptionProc UnitExceptionHook;

// Number of units whose init routine has completed.
std::size_t InitializedUnitCount();
