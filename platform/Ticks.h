#pragma once

#include <cstdint>

namespace platform {

// Sixtieths of a second since the process started, as a signed 32-bit count
// (it wraps after about 414 days, as such a counter does).
std::int32_t Ticks();

}  // namespace platform
