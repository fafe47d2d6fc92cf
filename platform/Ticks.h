#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace platform {

// The time since the process started, on the system's steady clock. It is the
// one clock of the framework's timing: Ticks counts it, and the socket times
// its connection attempts by it.
std::chrono::steady_clock::duration TimeSinceStart();

// Sixtieths of a second since the process started (TimeSinceStart), as a
// signed 32-bit count (it wraps after about 414 days, as such a counter does).
std::int32_t Ticks();

// For tests only: TimeSinceStart, and with it Ticks, answers what `source`
// returns instead of reading the steady clock, in the whole process, until
// this is called again with an empty function. `source` may be called on any
// thread. Nothing else ever replaces the clock.
void SetClockForTesting(std::function<std::chrono::steady_clock::duration()> source);

}  // namespace platform
