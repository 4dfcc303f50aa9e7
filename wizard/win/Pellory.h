// The program's start-up block: the unit table in its order, the application
// with the wizard form as its main form, and the unit finalizations in
// reverse order once the form is gone.
#pragma once

// Runs during the unit initializations, right after the real infrared and
// DKU-2 devices are installed and before the finder and its search thread are
// made, e.g. to install other devices for the finder in their place.
using TPelloryStartupHook = void (*)();

// Runs once the wizard form is made, before the message loop starts.
class TCustomForm;
using TPelloryFormHook = void (*)(TCustomForm* form);

// The program's language set-up, run right after the application is
// initialized: the localizer takes "Languages" beside the program for its
// language files and libraries, then reports no more errors.
void SetUpLanguages();

// Runs the whole program; the process's exit code.
int RunPellory(TPelloryStartupHook installDevices = nullptr, TPelloryFormHook formMade = nullptr);
