#include "platform/Ticks.h"

#include <chrono>

namespace platform {

std::int32_t Ticks() {
    using Tick = std::chrono::duration<std::int64_t, std::ratio<1, 60>>;
    static const auto start = std::chrono::steady_clock::now();
    const auto elapsed = std::chrono::duration_cast<Tick>(std::chrono::steady_clock::now() - start);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(elapsed.count()));
}

}  // namespace platform
