#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

namespace platform {

// A steady clock, read as the time since a start of its own. The framework's
// timing runs on the clock it is given: Ticks counts it, the socket times its
// connection attempts by it, and the application's requests their waits.
// TimeSinceStart may be called on any thread.
class Clock {
public:
    virtual ~Clock() = default;

    // The time since the clock's start; it never goes backwards.
    virtual std::chrono::steady_clock::duration TimeSinceStart() const = 0;

    // Sixtieths of a second since the clock's start (TimeSinceStart), as a
    // signed 32-bit count (it wraps after about 414 days, as such a counter
    // does).
    std::int32_t Ticks() const;
};

// The system's steady clock, counted from the start of the process: the clock
// of everything that is given no other.
std::shared_ptr<const Clock> SystemClock();

}  // namespace platform
