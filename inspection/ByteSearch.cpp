#include "inspection/ByteSearch.h"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#define HALVORIC_X86_SEARCH 1
#endif

namespace halvoric {

namespace {

constexpr std::size_t npos = std::string_view::npos;

// Checks the candidate positions whose bits are set in `mask` (bit b is
// position base + b) against the whole needle.
inline std::size_t FirstMatch(std::uint64_t mask, const char* data, std::size_t base, std::string_view needle) {
    while (mask != 0) {
        const std::size_t at = base + static_cast<std::size_t>(__builtin_ctzll(mask));
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

#if HALVORIC_X86_SEARCH

// Positions at .. at+255 are tested at once with AVX-512BW: the last bytes
// are compared only where the first bytes matched.
__attribute__((target("avx512f,avx512bw"))) std::size_t FindAvx512(const char* data, std::size_t size,
                                                                   std::string_view needle, std::size_t& at) {
    const __m512i first = _mm512_set1_epi8(needle.front());
    const __m512i last = _mm512_set1_epi8(needle.back());
    const std::size_t offsetOfLast = needle.size() - 1;
    while (size - at >= 256 + offsetOfLast) {
        const char* p = data + at;
        __mmask64 m[4];
        for (int i = 0; i < 4; ++i) {
            m[i] = _mm512_mask_cmpeq_epi8_mask(_mm512_cmpeq_epi8_mask(_mm512_loadu_si512(p + 64 * i), first),
                                               _mm512_loadu_si512(p + 64 * i + offsetOfLast), last);
        }
        if ((m[0] | m[1] | m[2] | m[3]) != 0) {
            for (int i = 0; i < 4; ++i) {
                const std::size_t found = FirstMatch(m[i], data, at + 64 * static_cast<std::size_t>(i), needle);
                if (found != npos) return found;
            }
        }
        at += 256;
    }
    return npos;
}

__attribute__((target("avx2"))) inline __m256i Load32(const char* from) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
}

// Positions at .. at+63 are tested at once: their first bytes are loaded from
// data + at, their last bytes from data + at + needle.size() - 1. Stops with
// `at` at the first position it did not test when there is no match.
__attribute__((target("avx2"))) std::size_t FindAvx2(const char* data, std::size_t size,
                                                     std::string_view needle, std::size_t& at) {
    const __m256i first = _mm256_set1_epi8(needle.front());
    const __m256i last = _mm256_set1_epi8(needle.back());
    const std::size_t offsetOfLast = needle.size() - 1;
    while (size - at >= 64 + offsetOfLast) {
        const char* p = data + at;
        const __m256i m0 = _mm256_and_si256(_mm256_cmpeq_epi8(Load32(p), first),
                                            _mm256_cmpeq_epi8(Load32(p + offsetOfLast), last));
        const __m256i m1 = _mm256_and_si256(_mm256_cmpeq_epi8(Load32(p + 32), first),
                                            _mm256_cmpeq_epi8(Load32(p + 32 + offsetOfLast), last));
        const __m256i any = _mm256_or_si256(m0, m1);
        if (!_mm256_testz_si256(any, any)) {
            const std::uint64_t mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(m0)) |
                                       (std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(m1))} << 32);
            const std::size_t found = FirstMatch(mask, data, at, needle);
            if (found != npos) return found;
        }
        at += 64;
    }
    return npos;
}

// The same with SSE2, which every x86-64 processor has, 32 positions at once.
std::size_t FindSse2(const char* data, std::size_t size, std::string_view needle, std::size_t& at) {
    const __m128i first = _mm_set1_epi8(needle.front());
    const __m128i last = _mm_set1_epi8(needle.back());
    const std::size_t offsetOfLast = needle.size() - 1;
    while (size - at >= 32 + offsetOfLast) {
        const char* p = data + at;
        const auto load = [](const char* from) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        };
        const __m128i m0 = _mm_and_si128(_mm_cmpeq_epi8(load(p), first),
                                         _mm_cmpeq_epi8(load(p + offsetOfLast), last));
        const __m128i m1 = _mm_and_si128(_mm_cmpeq_epi8(load(p + 16), first),
                                         _mm_cmpeq_epi8(load(p + 16 + offsetOfLast), last));
        if (_mm_movemask_epi8(_mm_or_si128(m0, m1)) != 0) {
            const std::uint64_t mask = static_cast<std::uint32_t>(_mm_movemask_epi8(m0)) |
                                       (static_cast<std::uint32_t>(_mm_movemask_epi8(m1)) << 16);
            const std::size_t found = FirstMatch(mask, data, at, needle);
            if (found != npos) return found;
        }
        at += 32;
    }
    return npos;
}

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

bool HasAvx512() {
    static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    return has;
}

#endif

}  // namespace

std::size_t FindBytes(std::string_view haystack, std::string_view needle, std::size_t from) {
    return FindBytesWith(SearchKind::Best, haystack, needle, from);
}

std::size_t FindBytesWith(SearchKind kind, std::string_view haystack, std::string_view needle,
                          std::size_t from) {
    const std::size_t size = haystack.size();
    const std::size_t length = needle.size();
    if (length == 0 || from > size || size - from < length) return npos;
    const char* data = haystack.data();
    std::size_t at = from;
#if HALVORIC_X86_SEARCH
    if (length >= 2) {
        const bool any = kind == SearchKind::Best;
        if (HasAvx512() && (any || kind == SearchKind::Avx512)) {
            const std::size_t found = FindAvx512(data, size, needle, at);
            if (found != npos) return found;
        }
        if (HasAvx2() && (any || kind == SearchKind::Avx2)) {
            const std::size_t found = FindAvx2(data, size, needle, at);
            if (found != npos) return found;
        }
        if (kind != SearchKind::Scalar) {
            const std::size_t found = FindSse2(data, size, needle, at);
            if (found != npos) return found;
        }
    }
#endif
    return FindScalar(data, size, needle, at);
}

}  // namespace halvoric
