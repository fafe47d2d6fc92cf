#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "platform/Ticks.h"

namespace testsupport {

// Waits until `condition` holds, testing it every millisecond, for at most
// `limit`; returns whether it holds. Usable on any thread (it dispatches no
// Qt events).
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

// A clock that a test moves by hand and hands to what it tests (a socket, a
// request, the application's info) in place of the system's clock, so that
// the test decides when a time-out or a connection attempt is due: it stands
// still until it is moved or set running. It counts how often it was read:
// code that waits on it reads it at every pass, so a test can tell that such a
// wait goes on.
//
// What is handed out shares the clock's state with this object, which only
// moves it: a reader on any thread that still holds it after the test let the
// object go finds the clock as the test left it, never freed memory.
//
// A watchdog keeps a fault from hanging the test: should the object still
// live after `watchdog` of real time, the clock jumps an hour ahead every
// 50 ms from then on, so that every wait on it ends, and the test fails.
class TestClock {
public:
    using Duration = std::chrono::steady_clock::duration;

    // The clock stands at the start of tick `startTick` (0 or more).
    explicit TestClock(std::int64_t startTick = 1000,
                       std::chrono::seconds watchdog = std::chrono::seconds(30));
    ~TestClock();
    TestClock(const TestClock&) = delete;
    TestClock& operator=(const TestClock&) = delete;

    // The clock itself, as those that read it take it.
    operator std::shared_ptr<const platform::Clock>() const;

    // Moves the clock to the start of tick `tick` (the first moment at which
    // Ticks answers it), never backwards.
    void SetTicks(std::int64_t tick);
    void AdvanceTicks(std::int64_t ticks) { SetTicks(Ticks() + ticks); }
    // Moves the clock on by `step`.
    void Advance(Duration step);
    // From now on the clock goes at the pace of the real one, from where it
    // stands.
    void Run();

    // The time the clock shows, as its TimeSinceStart answers it.
    Duration Now() const;
    // The tick it stands in, as its Ticks counts it (not wrapped).
    std::int64_t Ticks() const;

    // How often the clock was read so far, and when it was first read (on the
    // steady clock; nullopt before): when the first wait on it began.
    std::uint64_t Reads() const;
    std::optional<std::chrono::steady_clock::time_point> FirstRead() const;
    // Waits until the clock has been read `count` more times than now, for at
    // most `limit` of real time; returns whether it was.
    bool WaitForReads(std::uint64_t count, std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) const;

private:
    struct State;

    std::shared_ptr<State> state_;
    std::thread watchdog_;
};

}  // namespace testsupport
