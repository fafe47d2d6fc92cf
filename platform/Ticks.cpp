#include "platform/Ticks.h"

namespace platform {

namespace {

std::chrono::steady_clock::time_point ProcessStart() {
    static const auto start = std::chrono::steady_clock::now();
    return start;
}

// Taken when the program is loaded, so that the count starts with the process.
const auto kStartTakenAtLoad = ProcessStart();

class SteadyClock final : public Clock {
public:
    std::chrono::steady_clock::duration TimeSinceStart() const override {
        return std::chrono::steady_clock::now() - ProcessStart();
    }
};

}  // namespace

std::int32_t Clock::Ticks() const {
    using Tick = std::chrono::duration<std::int64_t, std::ratio<1, 60>>;
    const auto elapsed = std::chrono::duration_cast<Tick>(TimeSinceStart());
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(elapsed.count()));
}

std::shared_ptr<const Clock> SystemClock() {
    static const std::shared_ptr<const Clock> clock = std::make_shared<const SteadyClock>();
    return clock;
}

}  // namespace platform
