// System routines, portable half: the texts of the report's module, process
// and thread lists and the address of a code offset. The Win32 half
// (win/ESystemWin.h) finds windows, uses the clipboard, restarts the program
// and fills the modules and processes lists.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Modules.h"

// The folder part of a path without its trailing backslash (kept after a
// drive colon) and without a leading "\??\".
std::string GetFolderOfPath(std::string_view path);
// Bytes as whole kilobytes (halves to even) followed by " Kb"; empty for 0.
std::string FormatSizeInKb(std::uint64_t bytes);
// The text up to and including its second "." followed by "x"; unchanged with fewer dots.
std::string MaskVersionBuild(std::string_view version);
// "Normal", "Low", "High", "Real-Time", "Below-Normal", "Above-Normal"; empty for other values.
std::string GetPriorityClassName(std::uint32_t priorityClass);
// The decimal number, "??" for 0.
std::string FormatNumberOrUnknown(std::int64_t n);
// The priority class of a process's base priority (as the process snapshot gives it).
std::uint32_t PriorityClassFromBasePriority(std::int32_t basePriority);
// The relative address where a module's code starts, which code offsets count from.
constexpr std::uint32_t kCodeStartRva = 0x1000;
// A code offset of the debug data taken as an address in the module.
std::uintptr_t CodeAddressFromOffset(ModuleHandle module, std::uint32_t offset);
