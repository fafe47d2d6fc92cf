#pragma once

#include <cstddef>
#include <string_view>

namespace halvoric {

// The offset of the first occurrence of `needle` in `haystack` at or after
// `from`, or std::string_view::npos; npos for an empty needle. Gives the same
// answer as haystack.find(needle, from), with a vectorised search that tests
// the needle's first and last bytes at 256 (AVX-512), 64 (AVX2) or 32 (SSE2)
// positions at a time on x86-64, and a memchr-driven search elsewhere.
std::size_t FindBytes(std::string_view haystack, std::string_view needle, std::size_t from = 0);

// The same with one kind of search only, so that each can be tested on a
// processor that would pick another; a kind the processor lacks is not used.
enum class SearchKind { Best, Avx512, Avx2, Sse2, Scalar };
std::size_t FindBytesWith(SearchKind kind, std::string_view haystack, std::string_view needle,
                          std::size_t from = 0);

}  // namespace halvoric
