#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace testsupport {

// Waits until `condition` holds, testing it every millisecond, for at most
// `limit`; returns whether it holds. Usable on any thread (it dispatches no
// Qt events).
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

// A clock that a test moves by hand. While one lives it is the framework's
// clock (platform::TimeSinceStart and Ticks), so that the test decides when a
// time-out or a connection attempt is due: it stands still until it is moved
// or set running. It counts how often it was read: code that waits on it
// reads it at every pass, so a test can tell that such a wait goes on.
//
// A watchdog keeps a fault from hanging the test: should the clock still be in
// place after `watchdog` of real time, it jumps an hour ahead every 50 ms from
// then on, so that every wait on it ends, and the test fails.
class TestClock {
public:
    using Duration = std::chrono::steady_clock::duration;

    // The clock stands at the start of tick `startTick` (0 or more).
    explicit TestClock(std::int64_t startTick = 1000,
                       std::chrono::seconds watchdog = std::chrono::seconds(30));
    ~TestClock();
    TestClock(const TestClock&) = delete;
    TestClock& operator=(const TestClock&) = delete;

    // Moves the clock to the start of tick `tick` (the first moment at which
    // Ticks answers it), never backwards.
    void SetTicks(std::int64_t tick);
    void AdvanceTicks(std::int64_t ticks) { SetTicks(Ticks() + ticks); }
    // Moves the clock on by `step`.
    void Advance(Duration step);
    // From now on the clock goes at the pace of the real one, from where it
    // stands.
    void Run();

    // The time the clock shows, as platform::TimeSinceStart answers it.
    Duration Now() const;
    // The tick it stands in, as platform::Ticks counts it (not wrapped).
    std::int64_t Ticks() const;

    // How often the clock was read so far, and when it was first read (on the
    // steady clock; nullopt before): when the first wait on it began.
    std::uint64_t Reads() const { return reads_.load(); }
    std::optional<std::chrono::steady_clock::time_point> FirstRead() const;
    // Waits until the clock has been read `count` more times than now, for at
    // most `limit` of real time; returns whether it was.
    bool WaitForReads(std::uint64_t count, std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) const;

    bool WatchdogFired() const { return watchdogFired_.load(); }

private:
    Duration NowLocked() const;
    void Watch(std::chrono::seconds watchdog);

    mutable std::mutex mutex_;
    Duration shown_;  // what the clock shows; while running, at runningSince_
    bool running_ = false;
    std::chrono::steady_clock::time_point runningSince_;
    std::atomic<std::uint64_t> reads_{0};
    std::optional<std::chrono::steady_clock::time_point> firstRead_;
    std::atomic<bool> watchdogFired_{false};
    std::condition_variable stop_;
    bool stopping_ = false;
    std::thread watchdog_;
};

}  // namespace testsupport
