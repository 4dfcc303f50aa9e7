// The phone finder's Windows side: the main thread's wait for the search
// thread at shut-down keeps the main thread's messages flowing.
#pragma once

#include <functional>

// Handles the calling thread's messages and, on the main thread, synchronous
// calls until `done()` holds; blocks in between (it looks at `done()` again at
// least every 100 ms).
void PumpingFinderWait(const std::function<bool()>& done);

// Makes PumpingFinderWait the finder's shut-down wait. UseWinPhonePlatform
// calls it.
void UseWinFinderWait();
