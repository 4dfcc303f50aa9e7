// The debug-information readers and the location lookups in the running
// process: module file names and mapped images for the readers, module
// entries, own units and code for the lookups, and this module's own
// special symbols and resources.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "EDebug.h"
#include "ELocation.h"

// The unit entries: install and remove the process's readers and environment.
void InitEDebug();
void DoneEDebug();

// The address of special symbol `id` of this module's own data block
// ("VLDATA" resource); null when the block or the symbol is missing.
void* GetDataBlockSymbolAddress(std::uint8_t id);
// The 32-bit value of that symbol's entry; false when it is missing.
bool GetDataBlockSymbolValue(std::uint8_t id, std::uint32_t& value);
// A resource of a module: its bytes and size; null when missing.
const void* LoadModuleResource(HMODULE module, const char* name, const char* type, DWORD& size);
