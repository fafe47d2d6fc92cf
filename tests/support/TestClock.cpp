#include "tests/support/TestClock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

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

// The clock that readers hold, shared by the test's handle, its watchdog and
// every reader: it lives until the last of them lets it go.
struct TestClock::State final : platform::Clock {
    explicit State(Duration start) : shown(start) {}

    Duration TimeSinceStart() const override {
        ++reads;
        std::lock_guard lock(mutex);
        if (!firstRead) firstRead = std::chrono::steady_clock::now();
        return NowLocked();
    }

    Duration NowLocked() const {
        if (!running) return shown;
        return shown + (std::chrono::steady_clock::now() - runningSince);
    }

    // Until stopped: after `watchdog`, an hour on every 50 ms.
    void Watch(std::chrono::seconds watchdog) {
        std::unique_lock lock(mutex);
        if (stop.wait_for(lock, watchdog, [this] { return stopping; })) return;
        watchdogFired = true;
        do {
            shown += std::chrono::hours(1);
        } while (!stop.wait_for(lock, std::chrono::milliseconds(50), [this] { return stopping; }));
    }

    mutable std::mutex mutex;
    Duration shown;  // what the clock shows; while running, at runningSince
    bool running = false;
    std::chrono::steady_clock::time_point runningSince;
    mutable std::atomic<std::uint64_t> reads{0};
    mutable std::optional<std::chrono::steady_clock::time_point> firstRead;
    std::atomic<bool> watchdogFired{false};
    std::condition_variable stop;
    bool stopping = false;
};

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TestClock::TestClock(std::int64_t startTick, std::chrono::seconds watchdog)
    : state_(std::make_shared<State>(StartOfTick(startTick))) {
    watchdog_ = std::thread([state = state_, watchdog] { state->Watch(watchdog); });
}

TestClock::~TestClock() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->stop.notify_all();
    watchdog_.join();
    if (state_->watchdogFired) ADD_FAILURE() << "the test clock's watchdog had to end a wait that would not end";
}

TestClock::operator std::shared_ptr<const platform::Clock>() const { return state_; }

TestClock::Duration TestClock::Now() const {
    std::lock_guard lock(state_->mutex);
    return state_->NowLocked();
}

std::uint64_t TestClock::Reads() const { return state_->reads.load(); }

std::optional<std::chrono::steady_clock::time_point> TestClock::FirstRead() const {
    std::lock_guard lock(state_->mutex);
    return state_->firstRead;
}

std::int64_t TestClock::Ticks() const {
    return std::chrono::duration_cast<Tick>(Now()).count();
}

void TestClock::SetTicks(std::int64_t tick) {
    std::lock_guard lock(state_->mutex);
    const Duration target = StartOfTick(tick);
    if (target <= state_->NowLocked()) return;
    state_->shown = target;
    state_->runningSince = std::chrono::steady_clock::now();
}

void TestClock::Advance(Duration step) {
    std::lock_guard lock(state_->mutex);
    state_->shown = state_->NowLocked() + step;
    state_->runningSince = std::chrono::steady_clock::now();
}

void TestClock::Run() {
    std::lock_guard lock(state_->mutex);
    state_->shown = state_->NowLocked();
    state_->runningSince = std::chrono::steady_clock::now();
    state_->running = true;
}

bool TestClock::WaitForReads(std::uint64_t count, std::chrono::milliseconds limit) const {
    const std::uint64_t target = Reads() + count;
    return WaitUntil([&] { return Reads() >= target; }, limit);
}

}  // namespace testsupport
