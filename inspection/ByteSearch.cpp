#include "inspection/ByteSearch.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace halvoric {

namespace {

constexpr std::size_t npos = std::string_view::npos;

// Checks the candidate positions whose bits are set in `mask` (bit b is
// position base + b) against the whole needle.
inline std::size_t FirstMatch(unsigned mask, const char* data, std::size_t base, std::string_view needle) {
    while (mask != 0) {
        const std::size_t at = base + static_cast<std::size_t>(__builtin_ctz(mask));
        if (std::memcmp(data + at, needle.data(), needle.size()) == 0) return at;
        mask &= mask - 1;
    }
    return npos;
}

std::size_t FindScalar(const char* data, std::size_t size, std::string_view needle, std::size_t at) {
    const std::size_t lastStart = size - needle.size();
    while (at <= lastStart) {
        const void* first = std::memchr(data + at, needle[0], lastStart - at + 1);
        if (first == nullptr) return npos;
        at = static_cast<std::size_t>(static_cast<const char*>(first) - data);
        if (std::memcmp(data + at, needle.data(), needle.size()) == 0) return at;
        ++at;
    }
    return npos;
}

}  // namespace

std::size_t FindBytes(std::string_view haystack, std::string_view needle, std::size_t from) {
    const std::size_t size = haystack.size();
    const std::size_t length = needle.size();
    if (length == 0 || from > size || size - from < length) return npos;
    const char* data = haystack.data();
    std::size_t at = from;
#if defined(__SSE2__)
    if (length >= 2) {
        // Positions at..at+31 are tested at once: their first bytes are loaded
        // from data + at, their last bytes from data + at + length - 1.
        const __m128i first = _mm_set1_epi8(needle.front());
        const __m128i last = _mm_set1_epi8(needle.back());
        const std::size_t offsetOfLast = length - 1;
        while (size - at >= 32 + offsetOfLast) {
            const char* p = data + at;
            const __m128i f0 = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), first);
            const __m128i f1 = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), first);
            const __m128i l0 = _mm_cmpeq_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + offsetOfLast)), last);
            const __m128i l1 = _mm_cmpeq_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 + offsetOfLast)), last);
            const __m128i m0 = _mm_and_si128(f0, l0);
            const __m128i m1 = _mm_and_si128(f1, l1);
            if (_mm_movemask_epi8(_mm_or_si128(m0, m1)) != 0) {
                const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(m0)) |
                                      (static_cast<unsigned>(_mm_movemask_epi8(m1)) << 16);
                const std::size_t found = FirstMatch(mask, data, at, needle);
                if (found != npos) return found;
            }
            at += 32;
        }
    }
#endif
    return FindScalar(data, size, needle, at);
}

}  // namespace halvoric
