#pragma once

// Crafted InDesign documents for tests: a header with a chosen layout and
// release byte, a chosen length, and markers, delimiters and version records
// placed at chosen offsets. Files are written sparse, so long documents cost
// neither time nor disk space; bytes that nothing was placed on read as zero.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "inspection/DocumentFormat.h"

namespace halvoric::testing {

// A fresh folder in `base` (the system's temporary folder unless told
// otherwise), removed with all that it holds when the object goes.
class TemporaryFolder {
public:
    TemporaryFolder();
    explicit TemporaryFolder(const std::filesystem::path& base);
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // The path of an entry named `name` in the folder (not created).
    std::filesystem::path File(std::string_view name) const { return path_ / std::string(name); }

private:
    std::filesystem::path path_;
};

// A folder for long sparse documents: a memory-backed one (/dev/shm) where the
// system has it, since reading a hole there costs no memory and little time;
// otherwise the system's temporary folder.
std::filesystem::path SparseDocumentBase();

class CraftedDocument {
public:
    // A document of `length` zero bytes whose header says `layout` (byte 24 is
    // 0x02 for BigEndian, 0x01 for LittleEndian) and no release.
    explicit CraftedDocument(halvoric::HeaderLayout layout = halvoric::HeaderLayout::LittleEndian,
                             std::int64_t length = 0);
    // The same with the release byte at the layout's offset; the document is at
    // least 48 bytes long.
    CraftedDocument(halvoric::HeaderLayout layout, std::uint8_t releaseByte, std::int64_t length);

    halvoric::HeaderLayout Layout() const { return layout_; }
    std::int64_t Length() const { return length_; }

    // Sets the document's length: a longer one adds zero bytes, a shorter one
    // cuts off what lies past it.
    CraftedDocument& SetLength(std::int64_t length);
    // Writes header byte 24 as it is; the layout of later placements follows it.
    CraftedDocument& LayoutByte(std::uint8_t value);
    // Writes the release byte at the current layout's offset (32 or 29).
    CraftedDocument& ReleaseByte(std::uint8_t value);

    // Places bytes at an offset, over whatever lay there; the document grows
    // when they reach past its end.
    CraftedDocument& Put(std::int64_t offset, std::string_view bytes);
    CraftedDocument& PutByte(std::int64_t offset, std::uint8_t value);
    // The current layout's byte sequences.
    CraftedDocument& BodyMarker(std::int64_t offset);
    CraftedDocument& FieldDelimiter(std::int64_t offset);
    CraftedDocument& CsMarker(std::int64_t offset);
    // Fills [from, to) with pseudo-random bytes that never hold 0x09 or 0x40, so
    // that the filling holds no FieldDelimiter and no CsMarker of either layout.
    CraftedDocument& Noise(std::int64_t from, std::int64_t to, std::uint32_t seed);

    // A version record whose FieldDelimiter starts at `delimiterOffset`: the
    // edition byte lies 12 (BigEndian) or 13 (LittleEndian) bytes before the
    // delimiter, and `buildString` follows the delimiter.
    CraftedDocument& VersionRecord(std::int64_t delimiterOffset, std::string_view buildString,
                                   std::uint8_t editionByte);

    // The start of chunk k of the body scan.
    static std::int64_t ChunkStart(std::int64_t k) {
        return halvoric::kBodyStart + halvoric::kChunkStep * k;
    }

    // All bytes of the document (for documents that fit in memory).
    std::string Bytes() const;
    // Writes the document as a sparse file (replacing one that exists) and
    // returns its path.
    std::filesystem::path WriteTo(const std::filesystem::path& file) const;

private:
    halvoric::HeaderLayout layout_;
    std::int64_t length_ = 0;
    std::vector<std::pair<std::int64_t, std::string>> placements_;  // applied in order
};

}  // namespace halvoric::testing
