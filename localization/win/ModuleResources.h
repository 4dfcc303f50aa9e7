// Reads a loaded module's string-table and RCDATA resources through the
// system's resource enumeration, for TResProcessor::LoadFromModule.
#pragma once

#include <windows.h>

#include <vector>

#include "ResProc.h"

// The module's RT_STRING and RT_RCDATA resources (first language of each);
// the data views point into the module and live as long as it stays loaded.
std::vector<TResListEntry> ReadModuleResources(HMODULE module);
// Makes TResProcessor::LoadFromModule use ReadModuleResources.
void InstallModuleResourceReader();
