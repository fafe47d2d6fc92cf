#pragma once

// The InDesign document format as the inspection reads it: the header's
// layout and release bytes, the byte sequences of each layout, the test that
// a body chunk holds the version record, and the fields of that record.
// Every comparison is of raw bytes; no text encoding is involved.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {
class BinaryStream;
}

namespace halvoric {

// The header: the first bytes of the file that decide layout and release.
inline constexpr std::int64_t kHeaderLength = 48;
inline constexpr std::size_t kLayoutByteOffset = 24;
inline constexpr std::size_t kBigEndianMajorVersionOffset = 32;
inline constexpr std::size_t kLittleEndianMajorVersionOffset = 29;
inline constexpr std::uint8_t kBigEndianLayoutByte = 0x02;

// The body is searched in chunks: chunk k is the up to kChunkLength bytes from
// kBodyStart + kChunkStep * k. Consecutive chunks overlap by
// kChunkLength - kChunkStep bytes.
inline constexpr std::int64_t kBodyStart = 40960;
inline constexpr std::int64_t kChunkStep = 4096;
inline constexpr std::int64_t kChunkLength = 6144;

// The release bytes for which the body is scanned.
inline constexpr std::uint8_t kFirstScannedRelease = 0x03;  // CS
inline constexpr std::uint8_t kLastScannedRelease = 0x08;   // CS6

// The version-number text is this many bytes from the start of the last field.
inline constexpr std::int64_t kBuildStringLength = 9;

enum class HeaderLayout { BigEndian, LittleEndian };

// Byte 24 == 0x02 selects BigEndian; any other value, and a header too short
// to hold byte 24, LittleEndian.
HeaderLayout LayoutOf(std::string_view header);

// The release byte: byte 32 of a BigEndian header, byte 29 of a LittleEndian
// one; nullopt when the header is too short to hold it.
std::optional<std::uint8_t> MajorVersionByte(std::string_view header, HeaderLayout layout);

// "Adobe InDesign CS" (0x03) ... "Adobe InDesign CS6" (0x08); nullopt for any
// other byte and for none.
std::optional<std::string_view> ReleaseName(std::optional<std::uint8_t> majorVersionByte);

// The name of the release's icon: "cs" (0x03) ... "cs6" (0x08); "und" for any
// other byte and for none.
std::string_view ReleaseIconName(std::optional<std::uint8_t> majorVersionByte);

// Whether the body of a document with this release byte is scanned.
bool IsScannedRelease(std::uint8_t majorVersionByte);

// The byte sequences that the scan and the record's fields use, in the
// layout's byte order.
struct LayoutBytes {
    std::string_view BodyMarker;      // 7 bytes
    std::string_view FieldDelimiter;  // 2 bytes
    std::string_view CsMarker;        // FieldDelimiter + "3."
};
const LayoutBytes& BytesOf(HeaderLayout layout);

// The marker without which no chunk passes the release's test: the CsMarker
// for CS (0x03), the BodyMarker for CS2 to CS6 (0x04..0x08); empty for a
// release that is not scanned.
std::string_view RecordMarker(std::uint8_t majorVersionByte, HeaderLayout layout);

// The release's test for the version record: CS (0x03) needs the CsMarker in
// the chunk; CS2 to CS6 (0x04..0x08) need the BodyMarker and the
// FieldDelimiter, anywhere in the chunk and in either order. Other release
// bytes pass no chunk. The body scan decides with this test too.
bool ChunkPasses(std::string_view chunk, std::uint8_t majorVersionByte, HeaderLayout layout);

// Where the chunk loop stops: the first chunk that passes the release's test
// or, when none does, the chunk whose read reached the end of the file (empty
// when the file is not longer than kBodyStart).
struct ScanResult {
    std::string chunk;
    bool passed = false;
    std::int64_t chunkIndex = 0;
};

// Scans the stream's body from kBodyStart on. The result is the one that the
// plain loop gives (position each chunk, read kChunkLength bytes, stop when it
// passes or when the stream is at its end), but the file is gone through once,
// in large windows searched in place in memory views of the file (or read
// through one fixed buffer where the file cannot be mapped), and only chunks
// that hold a marker are examined. Moves the stream's position; does not
// close it.
ScanResult VersionRecordScan(platform::BinaryStream& stream, std::uint8_t majorVersionByte,
                             HeaderLayout layout);

// The same scan, reading every window through the buffer: the road that
// VersionRecordScan takes where the file cannot be mapped, open to tests.
ScanResult VersionRecordScanByReading(platform::BinaryStream& stream, std::uint8_t majorVersionByte,
                                      HeaderLayout layout);

// The version-number text: the first 9 bytes of the chunk's last field (the
// whole field when shorter); empty for an empty chunk or an empty last field.
std::string BuildString(std::string_view chunk, HeaderLayout layout);

// Whether a version-number text marks a CS5.5 document: its third byte is "5".
bool MarksCs55(std::string_view buildString);

// The edition byte, taken from the edition field (the field before the last
// one, or the whole chunk when it holds no FieldDelimiter) at position L - 12
// (BigEndian) or L - 13 (LittleEndian), L being the field's length. nullopt
// for an empty chunk and for a field too short to reach that position.
std::optional<std::uint8_t> EditionByte(std::string_view chunk, HeaderLayout layout);

// "Macintosh Edition" (0x00), "Windows Edition" (0x01), else "Not understand".
std::string_view EditionText(std::optional<std::uint8_t> editionByte);

}  // namespace halvoric
