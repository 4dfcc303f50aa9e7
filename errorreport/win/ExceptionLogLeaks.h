// Leak mode of the library: with the leak catcher active, start-up hands it
// the library's handlers. Overruns and multiple frees are reported as
// EMemoryOverrun / EMultiFree while the program runs; at the end the library,
// already shut down, is started again for the leak report, the leaks become
// the call stack of one EMemoryLeak report, and the library is shut down again.
#pragma once

void InstallLeakMode();
