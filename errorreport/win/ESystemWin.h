// System routines in the running process: the program's main window and its
// windows, the monitors, the clipboard, restarting, the parent process, the
// module of an address and its kind, version information, and the filling of
// the library's modules and processes lists.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "ESystem.h"
#include "ExceptionLog.h"
#include "Streams.h"
#include "Units.h"

// --- Windows ---
HWND FindProcessMainWindow(DWORD processId);
// The class name of the development environment's main window.
constexpr const char* kIdeMainWindowClass = "TVantorIdeMainForm";
bool IsIdeProcess(DWORD processId);
// The union of the visible top-level windows' rectangles; (-1, -1, -1, -1) for none.
bool GetProcessWindowsBounds(DWORD processId, RECT& bounds);
void SnapshotProcessWindows();
bool IsOwnProcessWindow(HWND window);
bool IsWindowNotInSnapshot(HWND window);
bool SpanMonitorsOfRect(RECT& rect);
RECT GetWindowMonitorWorkArea(HWND window);
RECT GetForegroundMonitorWorkArea();

// --- Clipboard and process ---
void CopyTextToClipboard(const std::string& text);
// Starts the program again when `restart` is set; ends this process with exit code 1 in any case.
[[noreturn]] void RestartApplication(bool restart);
DWORD GetParentProcessId();

// --- Modules ---
// A read-only stream over memory (a module's image) that reads only readable bytes.
class THModuleStream : public TReadOnlyMemoryStream {
  FW_CLASS(THModuleStream, TReadOnlyMemoryStream)
 public:
  explicit THModuleStream(const void* address);
  // All `count` bytes when they are readable memory, else none.
  std::int64_t Read(void* buffer, std::int64_t count) override;
};

HMODULE GetModuleBaseOfAddress(const void* address);
TVantorModuleInfo* GetModuleEntry(HMODULE module);
TVantorModuleInfo* GetModuleEntryOfAddress(const void* address);
bool IsModuleDll(HMODULE module);
// 0 unreadable header, 1 program, 2 run-time package, 3 other library.
std::uint8_t GetModuleKind(HMODULE module);
void RefreshModulesList();
// The program's table of unit initialization and finalization entries.
UnitEntry* GetUnitInitTable();
void RefreshProcessesList();
// The library's processes list (null while dormant).
TVantorProcessesList* VantorProcessesList();
// Set by the library's start-up and shut-down.
void SetVantorProcessesList(TVantorProcessesList* list);

// --- Files ---
void ReadVersionInfo(const std::string& fileName, std::string& description, std::string& version);
std::string GetExeFileVersion();
std::uint32_t GetFileSizeByName(const std::string& fileName);
bool ForceDeleteFile(const std::string& fileName);
