// Leak mode of the library: with the leak catcher active, start-up hands it
// the library's handlers. Overruns and multiple frees are reported as
// EMemoryOverrun / EMultiFree while the program runs; at the end the library,
// already shut down, is started again for the leak report, the leaks become
// the call stack of one EMemoryLeak report, and the library is shut down again.
#pragma once

#include <string>

class TVantorModulesList;

void InstallLeakMode();

// The messages of the multiple-free and overrun reports: at first
// "Multi Free memory leak" and "Memory Overrun leak", then the texts 154 and
// 155 of the options of the last report (an empty text keeps the message).
void KeepLeakFaultMessages(const std::string& multiFree, const std::string& overrun);
std::string MultiFreeMessage();
std::string MemoryOverrunMessage();

// The library's shut-down keeps this module's options (the program may have
// changed them) in the debug-data temporary file for the leak report's
// restart; the end of the run deletes the file.
void SaveOptionsForLeakReport(TVantorModulesList* modules);
std::string DebugDataTempFilePath();
