#include <gtest/gtest.h>

#include <random>
#include <string>

#include "inspection/ByteSearch.h"

namespace halvoric {
namespace {

// The vectorised search against the standard one on haystacks drawn from a
// small alphabet, so that partial and whole matches are frequent, for every
// needle length the scan uses and more, every start offset and lengths around
// the 32-byte step.
TEST(ByteSearch, AgreesWithStringFind) {
    std::mt19937 random(7);
    const std::string alphabet("\x40\x09\x4E\x30\x00\xFF", 6);
    auto draw = [&](std::size_t length) {
        std::string text(length, '\0');
        for (char& byte : text) byte = alphabet[random() % alphabet.size()];
        return text;
    };
    int matches = 0;
    for (int round = 0; round < 400; ++round) {
        const std::string haystack = draw(random() % 600);
        const std::string needle = draw(1 + random() % 8);
        for (std::size_t from = 0; from <= haystack.size() + 1; ++from) {
            const std::size_t expected = std::string_view(haystack).find(needle, from);
            ASSERT_EQ(FindBytes(haystack, needle, from), expected) << "round " << round << " from " << from;
            for (SearchKind kind : {SearchKind::Avx512, SearchKind::Avx2, SearchKind::Sse2, SearchKind::Scalar}) {
                ASSERT_EQ(FindBytesWith(kind, haystack, needle, from), expected)
                    << "round " << round << " from " << from << " kind " << static_cast<int>(kind);
            }
            if (expected != std::string_view::npos) ++matches;
        }
    }
    EXPECT_GT(matches, 1000);
}

TEST(ByteSearch, EdgesOfTheHaystack) {
    const std::string needle("\x4E\x0D\x66\x0E\x30\x6A\x30", 7);
    std::string haystack(1000, 'x');
    EXPECT_EQ(FindBytes(haystack, needle), std::string_view::npos);
    haystack.replace(993, 7, needle);  // ends on the last byte
    EXPECT_EQ(FindBytes(haystack, needle), 993u);
    haystack.replace(0, 7, needle);
    EXPECT_EQ(FindBytes(haystack, needle), 0u);
    EXPECT_EQ(FindBytes(haystack, needle, 1), 993u);
    EXPECT_EQ(FindBytes(std::string_view(haystack).substr(0, 999), needle, 1), std::string_view::npos);
    EXPECT_EQ(FindBytes(haystack, ""), std::string_view::npos);
    EXPECT_EQ(FindBytes("", needle), std::string_view::npos);
}

}  // namespace
}  // namespace halvoric
