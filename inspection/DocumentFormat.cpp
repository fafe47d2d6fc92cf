#include "inspection/DocumentFormat.h"

#include <array>

#include "inspection/ByteSearch.h"
#include "platform/Text.h"

namespace halvoric {

namespace {

using namespace std::string_view_literals;

const LayoutBytes kBigEndianBytes{
    "\x4E\x0D\x66\x0E\x30\x6A\x30"sv,
    "\x40\x09"sv,
    "\x40\x09\x33\x2E"sv,
};

const LayoutBytes kLittleEndianBytes{
    "\x4E\x0E\x66\x6A\x30\xE6\x30"sv,
    "\x09\x40"sv,
    "\x09\x40\x33\x2E"sv,
};

// The release table, from CS (0x03) to CS6 (0x08): name and icon.
struct ReleaseRow {
    std::string_view name;
    std::string_view icon;
};
constexpr std::array<ReleaseRow, 6> kReleases{{
    {"Adobe InDesign CS", "cs"},
    {"Adobe InDesign CS2", "cs2"},
    {"Adobe InDesign CS3", "cs3"},
    {"Adobe InDesign CS4", "cs4"},
    {"Adobe InDesign CS5", "cs5"},
    {"Adobe InDesign CS6", "cs6"},
}};

const ReleaseRow* RowOf(std::optional<std::uint8_t> majorVersionByte) {
    if (!majorVersionByte || !IsScannedRelease(*majorVersionByte)) return nullptr;
    return &kReleases[*majorVersionByte - kFirstScannedRelease];
}

std::optional<std::uint8_t> ByteAt(std::string_view bytes, std::size_t offset) {
    if (offset >= bytes.size()) return std::nullopt;
    return static_cast<std::uint8_t>(bytes[offset]);
}

bool Contains(std::string_view text, std::string_view find) {
    return FindBytes(text, find) != std::string_view::npos;
}

}  // namespace

HeaderLayout LayoutOf(std::string_view header) {
    return ByteAt(header, kLayoutByteOffset) == kBigEndianLayoutByte ? HeaderLayout::BigEndian
                                                                      : HeaderLayout::LittleEndian;
}

std::optional<std::uint8_t> MajorVersionByte(std::string_view header, HeaderLayout layout) {
    return ByteAt(header, layout == HeaderLayout::BigEndian ? kBigEndianMajorVersionOffset
                                                           : kLittleEndianMajorVersionOffset);
}

std::optional<std::string_view> ReleaseName(std::optional<std::uint8_t> majorVersionByte) {
    const ReleaseRow* row = RowOf(majorVersionByte);
    if (!row) return std::nullopt;
    return row->name;
}

std::string_view ReleaseIconName(std::optional<std::uint8_t> majorVersionByte) {
    const ReleaseRow* row = RowOf(majorVersionByte);
    return row ? row->icon : "und";
}

bool IsScannedRelease(std::uint8_t majorVersionByte) {
    return majorVersionByte >= kFirstScannedRelease && majorVersionByte <= kLastScannedRelease;
}

const LayoutBytes& BytesOf(HeaderLayout layout) {
    return layout == HeaderLayout::BigEndian ? kBigEndianBytes : kLittleEndianBytes;
}

std::string_view RecordMarker(std::uint8_t majorVersionByte, HeaderLayout layout) {
    if (!IsScannedRelease(majorVersionByte)) return {};
    const LayoutBytes& bytes = BytesOf(layout);
    return majorVersionByte == kFirstScannedRelease ? bytes.CsMarker : bytes.BodyMarker;
}

bool ChunkPasses(std::string_view chunk, std::uint8_t majorVersionByte, HeaderLayout layout) {
    const std::string_view marker = RecordMarker(majorVersionByte, layout);
    if (marker.empty() || !Contains(chunk, marker)) return false;
    // CS needs its marker only; the later releases also need a delimiter,
    // which is looked for only once the marker is there.
    return majorVersionByte == kFirstScannedRelease || Contains(chunk, BytesOf(layout).FieldDelimiter);
}

std::string BuildString(std::string_view chunk, HeaderLayout layout) {
    const std::string_view delimiter = BytesOf(layout).FieldDelimiter;
    const std::int64_t fields = platform::CountFields(chunk, delimiter);
    if (fields == 0) return {};
    return platform::LeftB(platform::NthField(chunk, delimiter, fields), kBuildStringLength);
}

bool MarksCs55(std::string_view buildString) {
    return buildString.size() >= 3 && buildString[2] == '5';
}

std::optional<std::uint8_t> EditionByte(std::string_view chunk, HeaderLayout layout) {
    const std::string_view delimiter = BytesOf(layout).FieldDelimiter;
    const std::int64_t fields = platform::CountFields(chunk, delimiter);
    if (fields == 0) return std::nullopt;
    const std::string field = platform::NthField(chunk, delimiter, fields > 1 ? fields - 1 : fields);
    // The 12th (BigEndian) or 13th (LittleEndian) byte counted back from the
    // field's last byte. A shorter field has no edition byte.
    const std::size_t back = layout == HeaderLayout::BigEndian ? 12 : 13;
    if (field.size() < back) return std::nullopt;
    return static_cast<std::uint8_t>(field[field.size() - back]);
}

std::string_view EditionText(std::optional<std::uint8_t> editionByte) {
    if (editionByte == 0x00) return "Macintosh Edition";
    if (editionByte == 0x01) return "Windows Edition";
    return "Not understand";
}

}  // namespace halvoric
