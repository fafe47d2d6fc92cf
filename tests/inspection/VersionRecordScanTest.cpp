#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "inspection/DocumentFormat.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "tests/support/CraftedDocument.h"

namespace halvoric {
namespace {

namespace fs = std::filesystem;
using testing::CraftedDocument;
using testing::TemporaryFolder;

// The chunk loop as the inspection defines it: position the stream at each
// chunk, read 6144 bytes, stop when the chunk passes the release's test or the
// stream is at its end.
ScanResult PlainScan(platform::BinaryStream& stream, std::uint8_t release, HeaderLayout layout) {
    const LayoutBytes& bytes = BytesOf(layout);
    for (std::int64_t k = 0;; ++k) {
        stream.SetPosition(40960 + 4096 * k);
        const std::string chunk = stream.Read(6144);
        const bool passes = release == 0x03
                                ? platform::InStrB(chunk, bytes.CsMarker) > 0
                                : platform::InStrB(chunk, bytes.BodyMarker) > 0 &&
                                      platform::InStrB(chunk, bytes.FieldDelimiter) > 0;
        if (passes) return {chunk, true, k};
        if (stream.EndOfFile()) return {chunk, false, k};
    }
}

platform::Ref<platform::BinaryStream> Open(const fs::path& path) {
    platform::Ref<platform::BinaryStream> stream = platform::FolderItem(path).OpenAsBinaryFile();
    if (!stream) throw std::runtime_error("cannot open " + path.string());
    return stream;
}

ScanResult Scan(const fs::path& path, std::uint8_t release, HeaderLayout layout) {
    return VersionRecordScan(*Open(path), release, layout);
}

std::int64_t Start(std::int64_t k) { return CraftedDocument::ChunkStart(k); }

// Offsets at which the scan starts a new window: the body's start, then every
// whole MiB of the file (chunk 246, then every 256 chunks).
std::int64_t WindowStart(std::int64_t w) { return w == 0 ? 40960 : w << 20; }

class ScanTest : public ::testing::Test {
protected:
    ScanResult Run(const CraftedDocument& document, std::uint8_t release) {
        const fs::path path = document.WriteTo(folder.File("document.indd"));
        return Scan(path, release, document.Layout());
    }
    TemporaryFolder folder;
};

// Files that end before or inside the first chunk --------------------------------

TEST_F(ScanTest, ShortFilesGiveAnEmptyFirstChunk) {
    for (std::int64_t length : {0, 48, 40959, 40960}) {
        const ScanResult result = Run(CraftedDocument(HeaderLayout::LittleEndian, 0x05, length), 0x05);
        EXPECT_EQ(result.chunk, "") << length;
        EXPECT_FALSE(result.passed) << length;
        EXPECT_EQ(result.chunkIndex, 0) << length;
    }
}

TEST_F(ScanTest, FileEndingInsideTheFirstChunk) {
    CraftedDocument document(HeaderLayout::BigEndian, 0x06, 45000);
    document.Noise(40960, 45000, 1);
    const ScanResult result = Run(document, 0x06);
    EXPECT_EQ(result.chunk, document.Bytes().substr(40960));
    EXPECT_EQ(result.chunk.size(), 4040u);
    EXPECT_FALSE(result.passed);
    EXPECT_EQ(result.chunkIndex, 0);

    document.BodyMarker(44000).FieldDelimiter(41000);
    const ScanResult passing = Run(document, 0x06);
    EXPECT_TRUE(passing.passed);
    EXPECT_EQ(passing.chunk, document.Bytes().substr(40960));
}

TEST_F(ScanTest, OneChunkExactlyAndOneByteMore) {
    CraftedDocument document(HeaderLayout::LittleEndian, 0x04, 40960 + 6144);
    document.Noise(40960, 40960 + 6144 + 1, 2);
    document.SetLength(40960 + 6144);
    ScanResult result = Run(document, 0x04);
    EXPECT_EQ(result.chunkIndex, 0);
    EXPECT_EQ(result.chunk.size(), 6144u);
    EXPECT_FALSE(result.passed);

    document.SetLength(40960 + 6144 + 1);
    result = Run(document, 0x04);
    EXPECT_EQ(result.chunkIndex, 1);
    EXPECT_EQ(result.chunk, document.Bytes().substr(Start(1)));
    EXPECT_EQ(result.chunk.size(), 2049u);
}

// Where the scan stops ------------------------------------------------------------

TEST_F(ScanTest, MarkerSplitAcrossAChunkEdge) {
    for (HeaderLayout layout : {HeaderLayout::BigEndian, HeaderLayout::LittleEndian}) {
        CraftedDocument document(layout, 0x07, Start(10));
        document.BodyMarker(Start(0) + 6144 - 3).FieldDelimiter(Start(1) + 5000);
        const ScanResult result = Run(document, 0x07);
        EXPECT_TRUE(result.passed);
        EXPECT_EQ(result.chunkIndex, 1);
        EXPECT_EQ(result.chunk, document.Bytes().substr(Start(1), 6144));
    }
}

TEST_F(ScanTest, MarkerInTheOverlapStopsAtTheEarlierChunk) {
    CraftedDocument document(HeaderLayout::BigEndian, 0x05, Start(10));
    document.BodyMarker(Start(1) + 100).FieldDelimiter(Start(0) + 10);
    const ScanResult result = Run(document, 0x05);
    EXPECT_TRUE(result.passed);
    EXPECT_EQ(result.chunkIndex, 0);
}

TEST_F(ScanTest, MarkerWithoutDelimiterDoesNotStop) {
    CraftedDocument document(HeaderLayout::LittleEndian, 0x08, Start(40));
    document.Noise(Start(0), Start(40), 3);
    document.BodyMarker(Start(2) + 10);        // chunks 1 and 2, neither holds a delimiter
    document.FieldDelimiter(Start(4));         // chunks 3 and 4, neither holds a marker
    document.FieldDelimiter(Start(20) + 6000)  // chunk 20 alone, with a marker before it
        .BodyMarker(Start(20) + 4097);
    const ScanResult result = Run(document, 0x08);
    EXPECT_TRUE(result.passed);
    EXPECT_EQ(result.chunkIndex, 20);
}

TEST_F(ScanTest, DelimiterBeforeMarkerStops) {
    CraftedDocument document(HeaderLayout::BigEndian, 0x04, Start(40));
    document.FieldDelimiter(Start(7) + 3).BodyMarker(Start(7) + 6000);
    EXPECT_EQ(Run(document, 0x04).chunkIndex, 7);
    EXPECT_TRUE(Run(document, 0x04).passed);
}

TEST_F(ScanTest, CsLooksOnlyForTheCsMarker) {
    for (HeaderLayout layout : {HeaderLayout::BigEndian, HeaderLayout::LittleEndian}) {
        CraftedDocument document(layout, 0x03, Start(40));
        // Chunk 1 alone holds these (chunk 0 ends at Start(1) + 2048).
        document.BodyMarker(Start(1) + 2100).FieldDelimiter(Start(1) + 2200);
        document.CsMarker(Start(5) + 6144 - 4);  // the last four bytes of chunk 5
        const ScanResult result = Run(document, 0x03);
        EXPECT_TRUE(result.passed);
        EXPECT_EQ(result.chunkIndex, 5);
        // Chunk 1 would have passed a later release's test.
        EXPECT_EQ(Run(document, 0x04).chunkIndex, 1);
    }
}

TEST_F(ScanTest, MarkerAcrossABlockBoundary) {
    for (std::int64_t shift : {-7, -3, 0, 2041, 2045}) {
        CraftedDocument document(HeaderLayout::LittleEndian, 0x06, WindowStart(2) + 20000);
        document.BodyMarker(WindowStart(1) + shift).FieldDelimiter(WindowStart(1) + shift + 100);
        const ScanResult result = Run(document, 0x06);
        const ScanResult plain = PlainScan(*Open(folder.File("document.indd")), 0x06, HeaderLayout::LittleEndian);
        EXPECT_TRUE(result.passed) << shift;
        EXPECT_EQ(result.chunkIndex, plain.chunkIndex) << shift;
        EXPECT_EQ(result.chunk, plain.chunk) << shift;
    }
}

// Both roads, the memory views and the reads, against the plain loop.
void ExpectBothRoadsAgree(const fs::path& path, std::uint8_t release, HeaderLayout layout, bool passes) {
    const ScanResult plain = PlainScan(*Open(path), release, layout);
    EXPECT_EQ(plain.passed, passes);
    for (const ScanResult& result : {Scan(path, release, layout), VersionRecordScanByReading(*Open(path), release, layout)}) {
        EXPECT_EQ(result.passed, plain.passed);
        EXPECT_EQ(result.chunkIndex, plain.chunkIndex);
        EXPECT_EQ(result.chunk, plain.chunk);
    }
}

// A window's last chunk ends one overlap into the next window: a record whose
// marker lies in that overlap and whose delimiter lies after it is found only
// in the next window's first chunk; one that straddles the windows' edge
// is found in the earlier window.
TEST_F(ScanTest, RecordInTheOverlapAfterAWindow) {
    for (std::int64_t w : {1, 2}) {
        for (const auto& [marker, delimiter] : {std::pair{10, 3000}, std::pair{2040, 2100}, std::pair{2041, 5000}, std::pair{-3, 1000}}) {
            SCOPED_TRACE(::testing::Message() << "window " << w << ", marker " << marker);
            CraftedDocument document(HeaderLayout::BigEndian, 0x07, WindowStart(3));
            document.Noise(WindowStart(w) - 8192, WindowStart(w) + 8192, static_cast<std::uint32_t>(w));
            document.BodyMarker(WindowStart(w) + marker).FieldDelimiter(WindowStart(w) + delimiter);
            ExpectBothRoadsAgree(document.WriteTo(folder.File("document.indd")), 0x07, HeaderLayout::BigEndian, true);
        }
    }
}

// Files that end with a window's last chunk, one byte before and one byte after.
TEST_F(ScanTest, FileEndingWithAWindow) {
    for (std::int64_t w : {1, 2}) {
        for (std::int64_t end : {-1, 0, 1}) {
            SCOPED_TRACE(::testing::Message() << "window " << w << ", end " << end);
            const std::int64_t length = WindowStart(w) + 2048 + end;
            CraftedDocument document(HeaderLayout::LittleEndian, 0x05, length);
            document.Noise(WindowStart(w) - 8192, length, static_cast<std::uint32_t>(end + 7));
            document.SetLength(length);
            ExpectBothRoadsAgree(document.WriteTo(folder.File("document.indd")), 0x05, HeaderLayout::LittleEndian, false);
        }
    }
}

TEST_F(ScanTest, NoPassingChunkEndsAtTheLastChunk) {
    CraftedDocument document(HeaderLayout::BigEndian, 0x05, Start(600) + 6144 + 1);
    document.BodyMarker(Start(100));
    document.Noise(Start(600), document.Length(), 4);
    document.FieldDelimiter(document.Length() - 2);
    const ScanResult result = Run(document, 0x05);
    EXPECT_FALSE(result.passed);
    EXPECT_EQ(result.chunkIndex, 601);
    EXPECT_EQ(result.chunk, document.Bytes().substr(Start(601)));
    EXPECT_EQ(BuildString(result.chunk, HeaderLayout::BigEndian), "");
}

TEST_F(ScanTest, RecordIsInterpretedFromTheStoppingChunk) {
    for (HeaderLayout layout : {HeaderLayout::BigEndian, HeaderLayout::LittleEndian}) {
        for (std::uint8_t edition : {0x00, 0x01, 0x02}) {
            CraftedDocument document(layout, 0x07, Start(30));
            document.Noise(Start(0), Start(30), edition);
            document.BodyMarker(Start(12) + 30);
            // Chunk 11 holds the marker but not the record's delimiter; chunk 12 both.
            document.VersionRecord(Start(12) + 4000, "7.5.4.102extra", edition);
            const ScanResult result = Run(document, 0x07);
            ASSERT_TRUE(result.passed);
            EXPECT_EQ(result.chunkIndex, 12);
            EXPECT_EQ(BuildString(result.chunk, layout), "7.5.4.102");
            EXPECT_TRUE(MarksCs55(BuildString(result.chunk, layout)));
            EXPECT_EQ(EditionByte(result.chunk, layout), edition);
        }
    }
}

// Documents over 2 GiB are scanned to their end.
TEST(VersionRecordScanLarge, BeyondTwoGibibytes) {
    TemporaryFolder folder(testing::SparseDocumentBase());
    const std::int64_t twoGiB = std::int64_t{1} << 31;
    CraftedDocument document(HeaderLayout::BigEndian, 0x08, twoGiB + 100000);
    document.BodyMarker(twoGiB + 50000).FieldDelimiter(twoGiB + 50010);
    const ScanResult result = Scan(document.WriteTo(folder.File("document.indd")), 0x08, HeaderLayout::BigEndian);
    EXPECT_TRUE(result.passed);
    const std::int64_t expected = (twoGiB + 50000 + 7 - 40960 - 6144 + 4095) / 4096;
    EXPECT_EQ(result.chunkIndex, expected);
    const platform::Ref<platform::BinaryStream> stream = Open(folder.File("document.indd"));
    stream->SetPosition(Start(expected));
    EXPECT_EQ(result.chunk, stream->Read(6144));
    EXPECT_TRUE(ChunkPasses(result.chunk, 0x08, HeaderLayout::BigEndian));

    // Without the record the scan ends at the last chunk, past 2 GiB.
    CraftedDocument plain(HeaderLayout::BigEndian, 0x08, twoGiB + 9000);
    plain.Put(twoGiB + 8996, "tail");
    const ScanResult last = Scan(plain.WriteTo(folder.File("plain.indd")), 0x08, HeaderLayout::BigEndian);
    EXPECT_FALSE(last.passed);
    const std::int64_t lastIndex = (twoGiB + 9000 - 40960 - 6144 + 4095) / 4096;
    EXPECT_EQ(last.chunkIndex, lastIndex);
    EXPECT_EQ(static_cast<std::int64_t>(last.chunk.size()), twoGiB + 9000 - Start(lastIndex));
    EXPECT_EQ(last.chunk.substr(last.chunk.size() - 10), std::string(6, '\0') + "tail");
}

// The differential test -------------------------------------------------------------

// Offsets worth placing things at: around chunk edges, around the scan's block
// edges and anywhere in the body.
std::int64_t InterestingOffset(std::mt19937& random, std::int64_t length) {
    const std::int64_t lastChunk = std::max<std::int64_t>(0, (length - 40960) / 4096);
    std::int64_t base;
    switch (random() % 4) {
    case 0: base = Start(static_cast<std::int64_t>(random() % (lastChunk + 1))); break;
    case 1: base = Start(static_cast<std::int64_t>(random() % (lastChunk + 1))) + 6144; break;
    case 2: base = WindowStart(static_cast<std::int64_t>(random() % 3)) + (random() % 2) * 2048; break;
    default: base = 40960 + static_cast<std::int64_t>(random() % static_cast<std::uint32_t>(std::max<std::int64_t>(1, length - 40960))); break;
    }
    return std::max<std::int64_t>(0, base + static_cast<std::int64_t>(random() % 24) - 12);
}

std::int64_t RandomLength(std::mt19937& random) {
    switch (random() % 6) {
    case 0: return random() % 45000;
    case 1: return 40960 + 6144 + static_cast<std::int64_t>(random() % 3) - 1;
    case 2: return Start(random() % 600) + 6144 + static_cast<std::int64_t>(random() % 3) - 1;
    case 3: return WindowStart(1 + random() % 2) + static_cast<std::int64_t>(random() % 4097) - 2048;
    case 4: return 40960 + static_cast<std::int64_t>(random() % (3 << 20));
    default: return 40960 + static_cast<std::int64_t>(random() % 200000);
    }
}

void FillRandomly(CraftedDocument& document, std::mt19937& random, std::int64_t from, std::int64_t to) {
    if (to <= from) return;
    switch (random() % 3) {
    case 0: break;  // zero bytes
    case 1: document.Noise(from, to, static_cast<std::uint32_t>(random())); break;
    default: {
        // The markers' own bytes, so that delimiters and partial markers abound.
        static const std::string soup("\x40\x09\x4E\x0D\x66\x0E\x30\x6A\xE6\x33\x2E\x00", 12);
        std::string bytes(static_cast<std::size_t>(to - from), '\0');
        for (char& byte : bytes) byte = soup[random() % soup.size()];
        document.Put(from, bytes);
    }
    }
}

TEST(VersionRecordScanDifferential, AgreesWithThePlainLoop) {
    TemporaryFolder folder;
    std::mt19937 random(20240611);
    int passed = 0, notPassed = 0, emptyChunks = 0, beyondFirstBlock = 0;
    for (int round = 0; round < 300; ++round) {
        const HeaderLayout layout = random() % 2 ? HeaderLayout::BigEndian : HeaderLayout::LittleEndian;
        const std::int64_t length = RandomLength(random);
        CraftedDocument document(layout, 0x03, length);
        document.SetLength(length);
        // A few filled regions of up to 20000 bytes, then markers and delimiters.
        for (int region = static_cast<int>(random() % 4); region > 0; --region) {
            const std::int64_t from = InterestingOffset(random, length);
            FillRandomly(document, random, from, std::min(length, from + static_cast<std::int64_t>(random() % 20000)));
        }
        for (int placed = static_cast<int>(random() % 8); placed > 0; --placed) {
            const std::int64_t at = InterestingOffset(random, length);
            const HeaderLayout bytesOf = random() % 4 == 0
                ? (layout == HeaderLayout::BigEndian ? HeaderLayout::LittleEndian : HeaderLayout::BigEndian)
                : layout;
            switch (random() % 3) {
            case 0: document.Put(at, BytesOf(bytesOf).BodyMarker); break;
            case 1: document.Put(at, BytesOf(bytesOf).FieldDelimiter); break;
            default: document.Put(at, BytesOf(bytesOf).CsMarker); break;
            }
        }
        document.SetLength(length);
        const fs::path path = document.WriteTo(folder.File("random.indd"));

        const HeaderLayout other = layout == HeaderLayout::BigEndian ? HeaderLayout::LittleEndian : HeaderLayout::BigEndian;
        const std::pair<HeaderLayout, std::uint8_t> runs[] = {
            {layout, 0x03},
            {layout, static_cast<std::uint8_t>(0x04 + random() % 5)},
            {other, static_cast<std::uint8_t>(0x03 + random() % 6)},
        };
        for (const auto& [runLayout, release] : runs) {
            SCOPED_TRACE(::testing::Message() << "round " << round << ", length " << length << ", release "
                                              << int(release) << ", big-endian " << (runLayout == HeaderLayout::BigEndian));
            const ScanResult expected = PlainScan(*Open(path), release, runLayout);
            const ScanResult actual = Scan(path, release, runLayout);
            ASSERT_EQ(actual.chunkIndex, expected.chunkIndex);
            ASSERT_EQ(actual.passed, expected.passed);
            ASSERT_EQ(actual.chunk, expected.chunk);
            // The road taken where the file cannot be mapped.
            const ScanResult read = VersionRecordScanByReading(*Open(path), release, runLayout);
            ASSERT_EQ(read.chunkIndex, expected.chunkIndex);
            ASSERT_EQ(read.passed, expected.passed);
            ASSERT_EQ(read.chunk, expected.chunk);
            (expected.passed ? passed : notPassed)++;
            if (expected.chunk.empty()) ++emptyChunks;
            if (expected.chunkIndex >= 246) ++beyondFirstBlock;
        }
    }
    // The files must have exercised every road.
    EXPECT_GT(passed, 100);
    EXPECT_GT(notPassed, 100);
    EXPECT_GT(emptyChunks, 10);
    EXPECT_GT(beyondFirstBlock, 50);
    std::cout << "[          ] passed " << passed << ", not passed " << notPassed << ", empty " << emptyChunks
              << ", beyond the first block " << beyondFirstBlock << "\n";
}

// The two real documents ----------------------------------------------------------

fs::path Sample(const char* name) { return fs::path(HALVORIC_SAMPLES_DIR) / name; }

std::string HeaderOf(const fs::path& path) {
    return Open(path)->Read(48);
}

TEST(Samples, Cs6LittleEndianWindowsHasNoPassingChunk) {
    const fs::path path = Sample("cs6-le-windows.indd");
    if (!fs::exists(path)) GTEST_SKIP() << "no sample documents at " << path;
    const std::string header = HeaderOf(path);
    const HeaderLayout layout = LayoutOf(header);
    EXPECT_EQ(layout, HeaderLayout::LittleEndian);
    EXPECT_EQ(MajorVersionByte(header, layout), 0x08);
    EXPECT_EQ(ReleaseName(MajorVersionByte(header, layout)), "Adobe InDesign CS6");
    const ScanResult result = Scan(path, 0x08, layout);
    const ScanResult plain = PlainScan(*Open(path), 0x08, layout);
    EXPECT_FALSE(result.passed);
    EXPECT_EQ(result.chunkIndex, plain.chunkIndex);
    EXPECT_EQ(result.chunk, plain.chunk);
}

TEST(Samples, CsBigEndianMacPassesInTheFirstChunk) {
    const fs::path path = Sample("cs-be-mac.indd");
    if (!fs::exists(path)) GTEST_SKIP() << "no sample documents at " << path;
    const std::string header = HeaderOf(path);
    const HeaderLayout layout = LayoutOf(header);
    EXPECT_EQ(layout, HeaderLayout::BigEndian);
    EXPECT_EQ(MajorVersionByte(header, layout), 0x03);
    EXPECT_EQ(ReleaseName(MajorVersionByte(header, layout)), "Adobe InDesign CS");
    const ScanResult result = Scan(path, 0x03, layout);
    EXPECT_TRUE(result.passed);
    EXPECT_EQ(result.chunkIndex, 0);
    EXPECT_EQ(result.chunk, PlainScan(*Open(path), 0x03, layout).chunk);
    EXPECT_EQ(BuildString(result.chunk, layout), "3.0.0.424");
    EXPECT_FALSE(MarksCs55(BuildString(result.chunk, layout)));
    EXPECT_EQ(EditionByte(result.chunk, layout), 0x00);
    EXPECT_EQ(EditionText(EditionByte(result.chunk, layout)), "Macintosh Edition");
}

}  // namespace
}  // namespace halvoric
