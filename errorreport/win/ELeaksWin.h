// The leak catcher in the running process (unit "ELeaks"). Its start-up reads
// the leak options of the module's data block (the main module's for a DLL
// whose block says so) and, when they switch the catcher on, installs it as
// the framework's memory manager over the manager it finds. The report of the
// blocks never freed runs among the process's exit handlers, after the unit
// finalizations and the static objects made since start-up, through the
// handlers the library installed (TLeakCatcher::Handlers). The unit has no
// finalization of its own: it stands first in the unit table.
//
// Call sites: every allocation entry of the framework calls the manager
// directly, so the catcher's entries take the stack from the caller of that
// one routine: on i686 along the frame-pointer chain (the library and its
// users are compiled with -fno-omit-frame-pointer), on x86_64 with
// RtlCaptureStackBackTrace.
#pragma once

#include <cstdint>

#include "ELeaks.h"

void InitELeaks();

// The process's catcher once the unit started it, else null.
TLeakCatcher* ProcessLeakCatcher();
bool IsLeakCatcherActive();
// The options the unit read at start-up (0 without a block).
std::uint8_t ProcessLeakOptions();

// The allocator shared between the modules of a process (start-up does not
// call it): the first module registers a global window class, the same name
// for every module, whose window-procedure field holds its saved
// memory-manager record; a later module that finds the class installs that
// record as its own memory manager, so blocks pass freely between modules.
// A class that cannot be registered ends the process with exit code 1 after a
// message box. The class goes when the module that registered it ends.
void SetupSharedMemoryAllocator();
constexpr const char* kSharedAllocatorClassName = "TVantorLogSharedMemoryAllocator";
