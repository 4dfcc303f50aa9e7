// The program's start-up block: the unit table in its order, the application
// with the wizard form as its main form, and the unit finalizations in
// reverse order once the form is gone.
#pragma once

// Runs before the unit initializations (the finder and its search thread are
// made there), e.g. to install other device providers for the finder.
using TPelloryStartupHook = void (*)();

// Runs the whole program; the process's exit code.
int RunPellory(TPelloryStartupHook beforeUnits = nullptr);
