#include <gtest/gtest.h>

#include <string>

#include "inspection/DocumentFormat.h"

namespace halvoric {
namespace {

using namespace std::string_literals;

std::string Header(std::size_t length, std::uint8_t layoutByte) {
    std::string header(length, '\0');
    if (length > 24) header[24] = static_cast<char>(layoutByte);
    return header;
}

TEST(HeaderLayout, Byte24DecidesTheLayout) {
    EXPECT_EQ(LayoutOf(Header(48, 0x02)), HeaderLayout::BigEndian);
    EXPECT_EQ(LayoutOf(Header(25, 0x02)), HeaderLayout::BigEndian);
    EXPECT_EQ(LayoutOf(Header(48, 0x01)), HeaderLayout::LittleEndian);
    EXPECT_EQ(LayoutOf(Header(48, 0x00)), HeaderLayout::LittleEndian);
    EXPECT_EQ(LayoutOf(Header(48, 0x03)), HeaderLayout::LittleEndian);
    std::string shortHeader(24, '\x02');
    EXPECT_EQ(LayoutOf(shortHeader), HeaderLayout::LittleEndian);
    EXPECT_EQ(LayoutOf(""), HeaderLayout::LittleEndian);
}

TEST(HeaderLayout, ReleaseByteSitsWhereTheLayoutSays) {
    std::string header = Header(48, 0x02);
    header[32] = 0x07;
    header[29] = 0x04;
    EXPECT_EQ(MajorVersionByte(header, LayoutOf(header)), 0x07);
    EXPECT_EQ(ReleaseName(MajorVersionByte(header, LayoutOf(header))), "Adobe InDesign CS5");
    header[24] = 0x01;
    EXPECT_EQ(MajorVersionByte(header, LayoutOf(header)), 0x04);
    EXPECT_EQ(ReleaseName(MajorVersionByte(header, LayoutOf(header))), "Adobe InDesign CS2");
}

TEST(HeaderLayout, ShortHeadersHaveNoReleaseByte) {
    EXPECT_EQ(MajorVersionByte(Header(32, 0x02), HeaderLayout::BigEndian), std::nullopt);
    EXPECT_EQ(MajorVersionByte(Header(33, 0x02), HeaderLayout::BigEndian), 0x00);
    EXPECT_EQ(MajorVersionByte(Header(29, 0x01), HeaderLayout::LittleEndian), std::nullopt);
    EXPECT_EQ(MajorVersionByte(Header(30, 0x01), HeaderLayout::LittleEndian), 0x00);
    EXPECT_EQ(MajorVersionByte("", HeaderLayout::LittleEndian), std::nullopt);
    EXPECT_EQ(ReleaseName(std::nullopt), std::nullopt);
}

TEST(HeaderLayout, ReleaseTable) {
    EXPECT_EQ(ReleaseName(0x03), "Adobe InDesign CS");
    EXPECT_EQ(ReleaseName(0x04), "Adobe InDesign CS2");
    EXPECT_EQ(ReleaseName(0x05), "Adobe InDesign CS3");
    EXPECT_EQ(ReleaseName(0x06), "Adobe InDesign CS4");
    EXPECT_EQ(ReleaseName(0x07), "Adobe InDesign CS5");
    EXPECT_EQ(ReleaseName(0x08), "Adobe InDesign CS6");
    for (int value : {0x00, 0x01, 0x02, 0x09, 0x35, 0xFF}) {
        EXPECT_EQ(ReleaseName(static_cast<std::uint8_t>(value)), std::nullopt) << value;
        EXPECT_FALSE(IsScannedRelease(static_cast<std::uint8_t>(value))) << value;
    }
}

// The body markers are seven bytes of the UTF-16 form of 不明なユ: the big-endian
// form without its last byte, the little-endian form without its first.
TEST(LayoutBytes, DerivedFromTheirDefinitions) {
    const std::u16string characters = u"不明なユ";
    std::string big, little;
    for (char16_t c : characters) {
        big += static_cast<char>(c >> 8);
        big += static_cast<char>(c & 0xFF);
        little += static_cast<char>(c & 0xFF);
        little += static_cast<char>(c >> 8);
    }
    const LayoutBytes& be = BytesOf(HeaderLayout::BigEndian);
    const LayoutBytes& le = BytesOf(HeaderLayout::LittleEndian);
    EXPECT_EQ(be.BodyMarker, big.substr(0, 7));
    EXPECT_EQ(le.BodyMarker, little.substr(1, 7));
    EXPECT_EQ(be.FieldDelimiter, "\x40\x09"s);
    EXPECT_EQ(le.FieldDelimiter, "\x09\x40"s);
    EXPECT_EQ(be.CsMarker, std::string(be.FieldDelimiter) + "3.");
    EXPECT_EQ(le.CsMarker, std::string(le.FieldDelimiter) + "3.");
}

class ChunkTest : public ::testing::TestWithParam<HeaderLayout> {
protected:
    const LayoutBytes& bytes() const { return BytesOf(GetParam()); }
    std::string marker() const { return std::string(bytes().BodyMarker); }
    std::string delimiter() const { return std::string(bytes().FieldDelimiter); }
    std::string csMarker() const { return std::string(bytes().CsMarker); }
    HeaderLayout layout() const { return GetParam(); }
};

TEST_P(ChunkTest, LaterReleasesNeedMarkerAndDelimiter) {
    const std::string filler(100, 'a');
    for (std::uint8_t release = 0x04; release <= 0x08; ++release) {
        EXPECT_TRUE(ChunkPasses(filler + marker() + filler + delimiter(), release, layout()));
        EXPECT_TRUE(ChunkPasses(delimiter() + filler + marker(), release, layout()));
        EXPECT_TRUE(ChunkPasses(marker() + delimiter(), release, layout()));
        EXPECT_FALSE(ChunkPasses(filler + marker() + filler, release, layout()));
        EXPECT_FALSE(ChunkPasses(filler + delimiter() + filler, release, layout()));
        EXPECT_FALSE(ChunkPasses(marker().substr(0, 6) + delimiter(), release, layout()));
        EXPECT_FALSE(ChunkPasses("", release, layout()));
    }
}

TEST_P(ChunkTest, CsNeedsOnlyTheCsMarker) {
    EXPECT_TRUE(ChunkPasses("abc" + csMarker() + "0.0.424", 0x03, layout()));
    EXPECT_FALSE(ChunkPasses("abc" + marker() + delimiter() + "4.0", 0x03, layout()));
    EXPECT_FALSE(ChunkPasses("abc" + delimiter() + "3", 0x03, layout()));
    // A CsMarker also holds a delimiter, but no body marker.
    EXPECT_FALSE(ChunkPasses("abc" + csMarker(), 0x05, layout()));
}

TEST_P(ChunkTest, TheOtherLayoutsBytesDoNotCount) {
    const HeaderLayout other =
        layout() == HeaderLayout::BigEndian ? HeaderLayout::LittleEndian : HeaderLayout::BigEndian;
    EXPECT_FALSE(ChunkPasses("x" + marker() + delimiter(), 0x06, other));
    EXPECT_FALSE(ChunkPasses("x" + csMarker(), 0x03, other));
}

TEST_P(ChunkTest, BuildStringIsTheStartOfTheLastField) {
    EXPECT_EQ(BuildString("junk" + delimiter() + "x" + delimiter() + "8.0.0.370 and more", layout()),
              "8.0.0.370");
    EXPECT_EQ(BuildString("junk" + delimiter() + "7.5", layout()), "7.5");
    EXPECT_EQ(BuildString("junk" + delimiter(), layout()), "");
    EXPECT_EQ(BuildString("no delimiter at all", layout()), "no delimi");
    EXPECT_EQ(BuildString("", layout()), "");
    // Raw bytes come through unchanged.
    EXPECT_EQ(BuildString(delimiter() + "\xFF\x00\x80"s, layout()), "\xFF\x00\x80"s);
}

TEST_P(ChunkTest, Cs55IsTheThirdByte) {
    EXPECT_TRUE(MarksCs55(BuildString("x" + delimiter() + "7.5.3.301", layout())));
    EXPECT_FALSE(MarksCs55(BuildString("x" + delimiter() + "7.0.4.553", layout())));
    EXPECT_FALSE(MarksCs55(BuildString("x" + delimiter() + "75", layout())));
    EXPECT_FALSE(MarksCs55(BuildString("x" + delimiter(), layout())));
    EXPECT_TRUE(MarksCs55("5.5"));
    EXPECT_FALSE(MarksCs55("55"));
}

// Position L - 12 (BigEndian) or L - 13 (LittleEndian) of the edition field.
TEST_P(ChunkTest, EditionBytePosition) {
    const bool big = layout() == HeaderLayout::BigEndian;
    std::string field(40, 'e');
    field[field.size() - 12] = 0x00;
    field[field.size() - 13] = 0x01;
    const std::string chunk = "first" + delimiter() + field + delimiter() + "6.0.6.622";
    EXPECT_EQ(EditionByte(chunk, layout()), big ? 0x00 : 0x01);
    EXPECT_EQ(EditionText(EditionByte(chunk, layout())), big ? "Macintosh Edition" : "Windows Edition");
}

TEST_P(ChunkTest, EditionFieldWithOneOrNoDelimiter) {
    const std::size_t back = layout() == HeaderLayout::BigEndian ? 12 : 13;
    // One delimiter: the edition field runs from the chunk's first byte.
    std::string field(back, 'e');
    field[0] = 0x01;
    EXPECT_EQ(EditionByte(field + delimiter() + "5.0.4.682", layout()), 0x01);
    // No delimiter: the whole chunk is the edition field.
    std::string whole(back + 20, 'e');
    whole[whole.size() - back] = 0x02;
    EXPECT_EQ(EditionByte(whole, layout()), 0x02);
    EXPECT_EQ(EditionText(EditionByte(whole, layout())), "Not understand");
    // Too short a field gives none.
    EXPECT_EQ(EditionByte(field.substr(1) + delimiter() + "5.0", layout()), std::nullopt);
    EXPECT_EQ(EditionByte("a" + delimiter() + field.substr(1) + delimiter() + "5.0", layout()), std::nullopt);
    EXPECT_EQ(EditionByte(delimiter() + "5.0", layout()), std::nullopt);
    EXPECT_EQ(EditionByte("", layout()), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(BothLayouts, ChunkTest,
                         ::testing::Values(HeaderLayout::BigEndian, HeaderLayout::LittleEndian),
                         [](const auto& info) {
                             return info.param == HeaderLayout::BigEndian ? "BigEndian" : "LittleEndian";
                         });

TEST(EditionText, Table) {
    EXPECT_EQ(EditionText(0x00), "Macintosh Edition");
    EXPECT_EQ(EditionText(0x01), "Windows Edition");
    EXPECT_EQ(EditionText(0x02), "Not understand");
    EXPECT_EQ(EditionText(0xFF), "Not understand");
    EXPECT_EQ(EditionText(std::nullopt), "Not understand");
}

}  // namespace
}  // namespace halvoric
