// The hooking engine in the running process: pointer slots, code hooks with
// trampolines (32-bit x86 only; the x86_64 build refuses them) and import
// patching, each recorded and undone at the unit's shut-down ("EHook.Done"),
// in reverse order of installation.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "EHook.h"

// The process's own memory: IsReadableMemory and plain reads.
class ProcessMemoryReader : public MemoryReader {
 public:
  bool IsReadable(std::uint64_t address, std::size_t length) override;
  bool Read(std::uint64_t address, void* buffer, std::size_t length) override;
};
ProcessMemoryReader& ProcessMemory();

// The unit entries ("EHook.Init" / "EHook.Done"); nested calls count.
void InitEHook();
void DoneEHook();

// Replaces slot `index` of the pointer array `table`; the previous pointer
// (none without the unit). Hooking a slot again with the same pointer writes
// nothing and records nothing: it returns the original saved first.
void* HookPointerSlot(void** table, int index, void* newPointer);
bool UnhookPointerSlot(void** table, int index);
// Writes into a slot of committed memory; false when the slot is not committed or the write failed.
bool WritePointerSlot(void** table, int index, void* pointer);
// Writes code bytes: made writable, written, the old protection put back
// whatever the write did, the instruction cache flushed. False when it failed.
bool WriteCodeBytes(void* address, const void* bytes, std::size_t size);
bool WriteJumpAt(void* address, const void* target);

// Patches the procedure's entry with a jump to `replacement`; the trampoline
// that runs the original. Raises EProcNull for a missing procedure and
// EHookingError when the entry cannot be moved (always in the x86_64 build).
void* HookProcedureCode(void* procedure, void* replacement, const std::string& name);
// Undoes the code hook whose entry or trampoline is `address`.
bool UnhookProcedureCode(void* address);

// The module's NT headers when its image header reads as a PE image; else null.
const IMAGE_NT_HEADERS* GetPeNtHeaders(HMODULE module);
// Points the module's import slots of `dllName` that hold `oldProc` at
// `newProc`; `oldProc` when a slot was patched, else null (EHookingError
// unless noError).
void* PatchImportInModule(HMODULE module, const std::string& dllName, void* oldProc, bool noRecord, bool noError,
                          const std::string& label, void* newProc);
// `oldProc` is set to the DLL's own procedure; true when any listed module was patched.
bool HookImportInModules(const std::vector<std::string>& moduleNames, const std::string& dllName, bool noError,
                         void*& oldProc, void* newProc, const std::string& procName);
