#include "platform/Ticks.h"

#include <memory>
#include <mutex>

namespace platform {

namespace {

using Source = std::function<std::chrono::steady_clock::duration()>;

std::mutex& SourceMutex() {
    static std::mutex mutex;
    return mutex;
}

// The clock a test put in place of the steady clock; nil when none.
std::shared_ptr<const Source>& TestSource() {
    static std::shared_ptr<const Source> source;
    return source;
}

std::chrono::steady_clock::time_point ProcessStart() {
    static const auto start = std::chrono::steady_clock::now();
    return start;
}

// Taken when the program is loaded, so that the count starts with the process.
const auto kStartTakenAtLoad = ProcessStart();

}  // namespace

std::chrono::steady_clock::duration TimeSinceStart() {
    std::shared_ptr<const Source> source;
    {
        std::lock_guard lock(SourceMutex());
        source = TestSource();
    }
    if (source) return (*source)();
    return std::chrono::steady_clock::now() - ProcessStart();
}

std::int32_t Ticks() {
    using Tick = std::chrono::duration<std::int64_t, std::ratio<1, 60>>;
    const auto elapsed = std::chrono::duration_cast<Tick>(TimeSinceStart());
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(elapsed.count()));
}

void SetClockForTesting(Source source) {
    auto replacement = source ? std::make_shared<const Source>(std::move(source)) : nullptr;
    std::lock_guard lock(SourceMutex());
    TestSource() = std::move(replacement);
}

}  // namespace platform
