// The inspection of a document, from its bytes to the answer: the header's
// layout and release, the body scan, the version record's fields, CS5.5 and
// the edition. The input is the document. It is inspected as a file (Inspect),
// its body is scanned both ways (through memory views and by reading in
// blocks), and everything is checked against a plain reading written here
// from the rules themselves: the chunks read one by one from offset 40960,
// 6144 bytes every 4096, until one passes the release's test or the file
// ends; fields cut at the layout's delimiter; the version-number text the
// first 9 bytes of the last field, CS5.5 when its third byte is "5"; the
// edition byte 12 (big-endian) or 13 (little-endian) bytes back from the end
// of the field before the last.
//
// A document whose first byte is odd (a byte that the inspection never
// reads) is scanned a second time with its body moved to just below 1 MiB, so
// that the body crosses the edge between the scan's windows. That scan reads
// a megabyte three times over, so the input chooses it rather than every run
// paying for it.
//
// Any difference aborts, and so becomes a finding.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "inspection/DocumentFormat.h"
#include "inspection/Inspection.h"
#include "platform/Files.h"

namespace halvoric::fuzz {
namespace {

void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "inspection: %s\n", what);
    std::abort();
}

// ---- the plain reading ------------------------------------------------------------

struct PlainLayout {
    bool bigEndian;
    std::string_view bodyMarker;
    std::string_view delimiter;
    std::string_view csMarker;
};

const PlainLayout kBig{true, std::string_view("\x4E\x0D\x66\x0E\x30\x6A\x30", 7), "\x40\x09", "\x40\x09\x33\x2E"};
const PlainLayout kLittle{false, std::string_view("\x4E\x0E\x66\x6A\x30\xE6\x30", 7), "\x09\x40", "\x09\x40\x33\x2E"};

struct PlainAnswer {
    const PlainLayout* layout = nullptr;
    std::optional<std::uint8_t> releaseByte;
    std::string_view name;
    std::string_view icon;
    bool scanned = false;
    // Where the chunk loop stopped.
    std::string chunk;
    bool passed = false;
    std::int64_t chunkIndex = 0;
    // The record's fields read from that chunk, whether or not it passed.
    std::string buildString;
    std::string_view edition;
};

std::optional<std::uint8_t> ByteAt(std::string_view bytes, std::size_t offset) {
    if (offset >= bytes.size()) return std::nullopt;
    return static_cast<std::uint8_t>(bytes[offset]);
}

bool Holds(std::string_view text, std::string_view what) {
    return text.find(what) != std::string_view::npos;
}

// The fields of a chunk cut at every delimiter, found left to right without
// overlap; none for an empty chunk.
std::vector<std::string_view> Fields(std::string_view chunk, std::string_view delimiter) {
    std::vector<std::string_view> fields;
    if (chunk.empty()) return fields;
    std::size_t start = 0;
    std::size_t at = 0;
    while (at + delimiter.size() <= chunk.size()) {
        if (chunk.substr(at, delimiter.size()) == delimiter) {
            fields.push_back(chunk.substr(start, at - start));
            at += delimiter.size();
            start = at;
        } else {
            ++at;
        }
    }
    fields.push_back(chunk.substr(start));
    return fields;
}

bool Passes(std::string_view chunk, std::uint8_t release, const PlainLayout& layout) {
    if (release == 0x03) return Holds(chunk, layout.csMarker);
    if (release >= 0x04 && release <= 0x08) return Holds(chunk, layout.bodyMarker) && Holds(chunk, layout.delimiter);
    return false;
}

PlainAnswer ReadPlainly(std::string_view document) {
    PlainAnswer answer;
    const std::string_view header = document.substr(0, 48);
    answer.layout = ByteAt(header, 24) == 0x02 ? &kBig : &kLittle;
    answer.releaseByte = ByteAt(header, answer.layout->bigEndian ? 32 : 29);
    constexpr std::string_view kNames[] = {"Adobe InDesign CS",  "Adobe InDesign CS2", "Adobe InDesign CS3",
                                           "Adobe InDesign CS4", "Adobe InDesign CS5", "Adobe InDesign CS6"};
    constexpr std::string_view kIcons[] = {"cs", "cs2", "cs3", "cs4", "cs5", "cs6"};
    answer.scanned = answer.releaseByte && *answer.releaseByte >= 0x03 && *answer.releaseByte <= 0x08;
    answer.name = answer.scanned ? kNames[*answer.releaseByte - 3] : "バージョン不明";
    answer.icon = answer.scanned ? kIcons[*answer.releaseByte - 3] : "und";

    // The chunk loop, for the header's release byte (one outside the table
    // passes no chunk).
    const std::uint8_t release = answer.releaseByte.value_or(0);
    for (std::int64_t k = 0;; ++k) {
        const std::size_t start = static_cast<std::size_t>(40960 + 4096 * k);
        const std::string_view chunk = start < document.size() ? document.substr(start, 6144) : std::string_view();
        answer.chunk = std::string(chunk);
        answer.chunkIndex = k;
        answer.passed = Passes(chunk, release, *answer.layout);
        // The stream is at its end once the read reached the file's end.
        if (answer.passed || start + chunk.size() >= document.size()) break;
    }

    const std::vector<std::string_view> fields = Fields(answer.chunk, answer.layout->delimiter);
    if (fields.empty()) return answer;
    answer.buildString = std::string(fields.back().substr(0, 9));
    const std::string_view editionField = fields.size() > 1 ? fields[fields.size() - 2] : fields.back();
    const std::size_t back = answer.layout->bigEndian ? 12 : 13;
    // A field too short to reach back that far has no edition byte.
    const std::optional<std::uint8_t> editionByte =
        editionField.size() >= back ? ByteAt(editionField, editionField.size() - back) : std::nullopt;
    answer.edition = editionByte == 0x00   ? "Macintosh Edition"
                     : editionByte == 0x01 ? "Windows Edition"
                                           : "Not understand";
    return answer;
}

bool MarksCs55Plainly(std::string_view buildString) {
    return buildString.size() >= 3 && buildString[2] == '5';
}

// ---- the product, on the document as a file ---------------------------------------------

// The document as a file in memory, named by a path like any other.
class MemoryFile {
public:
    MemoryFile() : descriptor_(::memfd_create("document", MFD_CLOEXEC)) {
        Require(descriptor_ >= 0, "no memory file");
        path_ = "/proc/self/fd/" + std::to_string(descriptor_);
    }

    // Writes over the file and cuts it to the bytes' length, so that the
    // pages it holds are used again run after run.
    void Hold(std::string_view bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t wrote = ::pwrite(descriptor_, bytes.data() + done, bytes.size() - done,
                                           static_cast<off_t>(done));
            Require(wrote > 0, "the memory file cannot be written");
            done += static_cast<std::size_t>(wrote);
        }
        Require(::ftruncate(descriptor_, static_cast<off_t>(bytes.size())) == 0, "the memory file cannot be cut");
    }

    platform::Ref<platform::FolderItem> Item() const { return platform::Make<platform::FolderItem>(path_); }

private:
    int descriptor_;
    std::string path_;
};

void RequireSameScan(const ScanResult& scan, const PlainAnswer& plain, const char* what) {
    Require(scan.chunk == plain.chunk && scan.passed == plain.passed && scan.chunkIndex == plain.chunkIndex, what);
}

// The scan's two roads, and the record's fields of the chunk where the scan
// stopped, passed or not.
void CheckScan(MemoryFile& file, const PlainAnswer& plain) {
    const HeaderLayout layout = plain.layout->bigEndian ? HeaderLayout::BigEndian : HeaderLayout::LittleEndian;
    const std::uint8_t release = plain.releaseByte.value_or(0);
    const auto viewed = file.Item()->OpenAsBinaryFile(false);
    RequireSameScan(VersionRecordScan(*viewed, release, layout), plain, "the scan through views stops elsewhere");
    const auto read = file.Item()->OpenAsBinaryFile(false);
    RequireSameScan(VersionRecordScanByReading(*read, release, layout), plain, "the scan by reading stops elsewhere");

    Require(BuildString(plain.chunk, layout) == plain.buildString, "another version-number text of the chunk");
    Require(plain.chunk.empty() || EditionText(EditionByte(plain.chunk, layout)) == plain.edition,
            "another edition of the chunk");
    Require(MarksCs55(plain.buildString) == MarksCs55Plainly(plain.buildString), "another CS5.5 decision");
}

// The whole inspection, as the program makes it.
void CheckInspection(MemoryFile& file, const PlainAnswer& plain) {
    const DocumentInspection inspection = Inspect(file.Item());
    Require(inspection.release.majorVersionByte == plain.releaseByte, "another release byte");
    Require(inspection.release.Known() == plain.scanned, "another release table row");
    const bool cs55 = plain.passed && MarksCs55Plainly(plain.buildString);
    Require(inspection.release.name == (cs55 ? "Adobe InDesign CS5.5" : plain.name), "another release name");
    Require(inspection.release.icon == (cs55 ? "cs55" : plain.icon), "another release icon");
    // Only a chunk that passed the release's test gives a record.
    Require(inspection.record.has_value() == (plain.scanned && plain.passed), "a record where there is none, or none");
    if (inspection.record) {
        Require(inspection.record->buildString == plain.buildString, "another version-number text");
        Require(inspection.record->edition == plain.edition, "another edition");
    }
}

// The body, from offset 40960 on, moved to start two chunk steps below the
// scan's second window (which starts at 1 MiB), zeros filling the gap.
std::string_view BodyAcrossTheWindowEdge(std::string_view document) {
    constexpr std::size_t kBody = 40960;
    constexpr std::size_t kMovedBody = (std::size_t{1} << 20) - 2 * 4096;
    static std::string moved;  // its memory is used again run after run
    moved.assign(document.substr(0, kBody));
    moved.resize(kMovedBody, '\0');
    moved.append(document.substr(kBody));
    return moved;
}

}  // namespace
}  // namespace halvoric::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace halvoric::fuzz;
    static MemoryFile file;
    const std::string_view document(reinterpret_cast<const char*>(data), size);
    const PlainAnswer plain = ReadPlainly(document);
    file.Hold(document);
    CheckInspection(file, plain);
    CheckScan(file, plain);
    if (document.size() > 40960 && (static_cast<std::uint8_t>(document[0]) & 1) != 0) {
        const std::string_view moved = BodyAcrossTheWindowEdge(document);
        file.Hold(moved);
        CheckScan(file, ReadPlainly(moved));
    }
    return 0;
}
