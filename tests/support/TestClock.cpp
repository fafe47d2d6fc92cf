#include "tests/support/TestClock.h"

#include <gtest/gtest.h>

#include "platform/Ticks.h"

namespace testsupport {

namespace {

using Tick = std::chrono::duration<std::int64_t, std::ratio<1, 60>>;

// The first moment of `tick`: the least whole number of the clock's units
// that Ticks counts as that tick (a tick is not a whole number of them).
TestClock::Duration StartOfTick(std::int64_t tick) {
    using Period = TestClock::Duration::period;
    const std::int64_t units = (tick * Period::den + 60 * Period::num - 1) / (60 * Period::num);
    return TestClock::Duration(units);
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TestClock::TestClock(std::int64_t startTick, std::chrono::seconds watchdog) : shown_(StartOfTick(startTick)) {
    platform::SetClockForTesting([this] {
        ++reads_;
        std::lock_guard lock(mutex_);
        if (!firstRead_) firstRead_ = std::chrono::steady_clock::now();
        return NowLocked();
    });
    watchdog_ = std::thread([this, watchdog] { Watch(watchdog); });
}

TestClock::~TestClock() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stop_.notify_all();
    watchdog_.join();
    platform::SetClockForTesting({});
    if (watchdogFired_) ADD_FAILURE() << "the test clock's watchdog had to end a wait that would not end";
}

void TestClock::Watch(std::chrono::seconds watchdog) {
    std::unique_lock lock(mutex_);
    if (stop_.wait_for(lock, watchdog, [this] { return stopping_; })) return;
    watchdogFired_ = true;
    do {
        shown_ += std::chrono::hours(1);
    } while (!stop_.wait_for(lock, std::chrono::milliseconds(50), [this] { return stopping_; }));
}

TestClock::Duration TestClock::NowLocked() const {
    if (!running_) return shown_;
    return shown_ + (std::chrono::steady_clock::now() - runningSince_);
}

TestClock::Duration TestClock::Now() const {
    std::lock_guard lock(mutex_);
    return NowLocked();
}

std::optional<std::chrono::steady_clock::time_point> TestClock::FirstRead() const {
    std::lock_guard lock(mutex_);
    return firstRead_;
}

std::int64_t TestClock::Ticks() const {
    return std::chrono::duration_cast<Tick>(Now()).count();
}

void TestClock::SetTicks(std::int64_t tick) {
    std::lock_guard lock(mutex_);
    const Duration target = StartOfTick(tick);
    if (target <= NowLocked()) return;
    shown_ = target;
    runningSince_ = std::chrono::steady_clock::now();
}

void TestClock::Advance(Duration step) {
    std::lock_guard lock(mutex_);
    shown_ = NowLocked() + step;
    runningSince_ = std::chrono::steady_clock::now();
}

void TestClock::Run() {
    std::lock_guard lock(mutex_);
    shown_ = NowLocked();
    runningSince_ = std::chrono::steady_clock::now();
    running_ = true;
}

bool TestClock::WaitForReads(std::uint64_t count, std::chrono::milliseconds limit) const {
    const std::uint64_t target = Reads() + count;
    return WaitUntil([&] { return Reads() >= target; }, limit);
}

}  // namespace testsupport
