// The Win32 half of the core unit: the system behind CoreSystemApi, memory
// readability, import jumps, INI and registry reads and a few system facts.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "ECore.h"

// Installs the Win32 implementation of CoreSystemApi (idempotent).
void UseWin32CoreSystem();
// The core unit's entries in a program: the Win32 system, then ECore's start-up; its shut-down.
void InitECoreWin();
void DoneECoreWin();

// Bytes readable from `address` on (committed, readable protection, across
// regions) when at least `length` are; else 0.
std::size_t ReadableRangeLength(const void* address, std::size_t length);
bool IsReadableMemory(const void* address, std::size_t length);
// The target of an indirect jump through an import slot at `address`, else `address`.
const void* FollowImportJump(const void* address);

bool ReadIniValue(std::string fileName, const std::string& section, const std::string& key, std::string& result,
                  const std::string& fallback);
bool WriteIniValue(std::string fileName, const std::string& section, const std::string& key, const std::string& value);
std::string ReadRegistryText(HKEY rootKey, std::string subKey, const std::string& valueName);
int GetUtcOffsetHours();
// Local time minus UTC, in minutes.
int GetUtcOffsetMinutes();
int GetLocaleCharset();
// The file's last-write time in local time (two-second steps); 0 when unknown.
double GetFileModifiedTime(const std::string& fileName);
// The long form of a path that holds short ("~") names: made absolute, each
// component looked up with a directory search; unchanged without "~".
std::string ExpandLongPathName(const std::string& path);

// --- System facts -----------------------------------------------------------------------------------
// The running system's version, as the portable version names read it.
TOsVersionFacts GetOsVersionFacts();
std::string GetComputerNameText();
std::string GetUserNameText();
// The registered owner from the first of the system's three places that has one
// (from Vista on, "Microsoft" counts as none).
std::string GetRegisteredOwnerText();
bool IsDebuggerAttached();
// The handle is valid and its thread has not ended.
bool IsThreadHandleActive(HANDLE thread);
// The calling thread's stack top, from its thread information block.
std::uintptr_t GetThreadStackTop();
// The module's file name without the system's path prefix and with long
// names; empty for a handle that names no loaded module.
std::string GetModuleFileNameOf(HMODULE module);
bool IsModuleLoaded(HMODULE module);
std::string GetOwnModuleFileName();
std::string GetCommandLineText();
DWORD GetOwnProcessId();
HANDLE GetOwnProcessHandle();
// The temporary folder, ending in a backslash.
std::string GetTempFolderPath();

// Loads RTF text into a rich edit control (EM_STREAMIN with SF_RTF).
void RichEditLoadRtf(HWND window, const std::string& rtf);
// A rich edit control's background; a negative colour is a system colour
// (its index in the low byte). The colour it had.
COLORREF RichEditSetBackColor(HWND window, std::int32_t colour);

// The library's debugger lines (OutputDebugString) and boxes (MessageBox).
LibraryOutput& Win32LibraryOutputInstance();
