// The Win32 half of the protocol clock: the multimedia timer as the tick
// source, and the waits that keep the calling thread's messages and the
// main thread's synchronous calls moving while they wait for a tick deadline.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

#include "Timers.h"

// Makes timeGetTime the millisecond counter of the tick clock. The start-up
// block calls it once on Windows (no static initializer does it); tests may
// call it again after replacing the clock.
void UseMultimediaClock();

// Waits until the tick deadline of `ms` milliseconds has passed (it ends at the
// first 55 ms tick boundary past it), handling the calling thread's messages
// and, on the main thread, synchronous calls meanwhile. Blocks between them
// instead of spinning.
void DelayWithMessages(std::int32_t ms);

// Waits, handling messages as DelayWithMessages does, until `done()` is true or
// `timer` has expired; `wake` (may be null) is a kernel object whose signal
// makes the wait look at `done()` again. True when `done()` became true.
bool WaitWithMessages(const std::function<bool()>& done, const TTickTimer& timer, HANDLE wake);
