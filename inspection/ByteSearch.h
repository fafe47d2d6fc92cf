#pragma once

#include <cstddef>
#include <string_view>

namespace halvoric {

// The offset of the first occurrence of `needle` in `haystack` at or after
// `from`, or std::string_view::npos; npos for an empty needle. Gives the same
// answer as haystack.find(needle, from), with a vectorised search that tests
// the needle's first and last bytes 32 positions at a time.
std::size_t FindBytes(std::string_view haystack, std::string_view needle, std::size_t from = 0);

}  // namespace halvoric
