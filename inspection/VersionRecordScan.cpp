// The body scan. The plain way to find the version record positions the
// stream at every chunk and reads it afresh, so the 2048 bytes that
// neighbouring chunks share are read twice and every chunk is copied and
// searched. This scan goes through the body once, window by window: a window
// holds the whole chunks that start in one MiB of the file (counted from the
// file's start, so the first window, which begins at kBodyStart, holds fewer),
// that is 1 MiB plus one overlap, and consecutive windows share one overlap.
//
// Where the bytes come from: each window is a read-only memory view of the
// file (platform::FileView), so the scan searches the page cache in place
// instead of copying every byte out of it first; that copy cost as much as
// the search. Only one window is mapped at a time and it is unmapped before
// the next one is made, so the file's pages that the scan holds stay bounded
// by the window however long the file is. Windows keep to whole MiBs of the
// file because the page cache holds a file in large blocks aligned the same
// way, and a view that straddles them costs half as much again to map.
//
// A view never reaches past the length the file has when it is made. Should
// the file be shortened while a window is searched, the view's read reports
// it instead of faulting, and the scan goes on from that window by reading.
// It also reads when the file cannot be mapped at all: then each window is
// read into one fixed buffer, which keeps the last chunk's overlap at its
// front and reads the bytes after it.
//
// In a window the scan looks for the marker only; a chunk is examined further
// only when it holds a whole occurrence of the marker, and chunks are examined
// in increasing order, so the first one that passes is the one at which the
// plain loop stops. When none passes, the chunk whose read reaches the end of
// the file is the one the plain loop ends with.

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>

#include "inspection/ByteSearch.h"
#include "inspection/DocumentFormat.h"
#include "platform/Files.h"

namespace halvoric {

namespace {

constexpr std::size_t kStep = static_cast<std::size_t>(kChunkStep);
constexpr std::size_t kChunk = static_cast<std::size_t>(kChunkLength);
constexpr std::size_t kOverlap = kChunk - kStep;
constexpr std::size_t kWindowSpan = std::size_t{1} << 20;  // the file bytes where a window's chunks start
constexpr std::size_t kChunksPerWindow = kWindowSpan / kStep;
// The most a window holds: 1 MiB plus one overlap.
constexpr std::size_t kWindowLength = (kChunksPerWindow - 1) * kStep + kChunk;
static_assert(kWindowSpan % kStep == 0 && kBodyStart % kChunkStep == 0);
constexpr std::size_t kBufferAlignment = 64;
static_assert(kWindowLength % kBufferAlignment == 0);
constexpr std::size_t npos = std::string_view::npos;

// The first chunk of a window whose read reaches the window's `length` bytes:
// the chunk at which the plain loop sees the end of the file when the file
// ends there.
std::size_t ChunkReachingEnd(std::size_t length) {
    return length <= kChunk ? 0 : (length - kChunk + kStep - 1) / kStep;
}

// The first chunk that holds the whole of `length` bytes at `offset`.
std::size_t FirstChunkHolding(std::size_t offset, std::size_t length) {
    const std::size_t end = offset + length;
    return end <= kChunk ? 0 : (end - kChunk + kStep - 1) / kStep;
}

std::string_view ChunkOf(std::string_view window, std::size_t index) {
    const std::size_t start = std::min(index * kStep, window.size());
    return window.substr(start, kChunk);
}

// The release's test (ChunkPasses), and the marker without which no chunk
// passes: only chunks that hold it are tested.
struct ChunkTest {
    std::uint8_t majorVersionByte;
    HeaderLayout layout;
    std::string_view marker;  // empty: no chunk passes

    bool Passes(std::string_view chunk) const { return ChunkPasses(chunk, majorVersionByte, layout); }
};

// Where the plain loop stops in a window, if it does: the chunk's index in the
// window and whether it passed. Holds only plain values, since a view's read
// may abandon it (see platform::FileView::Read).
struct Stop {
    std::size_t index = npos;
    bool passed = false;
};

std::int64_t WindowStart(std::int64_t firstChunk) {
    return kBodyStart + firstChunk * kChunkStep;
}

// The number of chunks in the window whose chunk 0 is `firstChunk`: those
// that start before the next whole MiB of the file.
std::size_t ChunksInWindow(std::int64_t firstChunk) {
    return kChunksPerWindow - static_cast<std::size_t>(WindowStart(firstChunk) % kWindowSpan) / kStep;
}

// The bytes of a window of `chunks` chunks when the file does not end in it.
std::size_t WindowLength(std::size_t chunks) {
    return (chunks - 1) * kStep + kChunk;
}

// The window's `window` bytes are those of its chunks 0 .. chunks - 1, all of
// them unless `atEnd` says that the file ends with them.
Stop SearchWindow(std::string_view window, std::size_t chunks, bool atEnd, const ChunkTest& test) {
    // The plain loop reaches no chunk past this one in the window.
    const std::size_t lastChunk = atEnd ? ChunkReachingEnd(window.size()) : chunks - 1;
    if (!test.marker.empty()) {
        std::size_t nextChunk = 0;  // chunks before it are known not to pass
        std::size_t from = 0;
        while (nextChunk <= lastChunk) {
            const std::size_t at = FindBytes(window, test.marker, from);
            if (at == npos) break;
            const std::size_t last = std::min(at / kStep, lastChunk);
            for (std::size_t index = std::max(FirstChunkHolding(at, test.marker.size()), nextChunk);
                 index <= last; ++index) {
                if (test.Passes(ChunkOf(window, index))) return {index, true};
            }
            nextChunk = std::max(nextChunk, last + 1);
            // Occurrences that lie only in chunks already examined change nothing.
            from = std::max(at + 1, nextChunk * kStep);
        }
    }
    if (atEnd) return {lastChunk, false};
    return {};
}

ScanResult ResultAt(std::string_view chunk, const Stop& stop, std::int64_t firstChunk) {
    return {std::string(chunk), stop.passed, firstChunk + static_cast<std::int64_t>(stop.index)};
}

// The scan through memory views from the window whose chunk 0 is `firstChunk`.
// Returns nullopt, with `firstChunk` at the window to go on from by reading,
// when a window cannot be mapped or the file shrank under it.
std::optional<ScanResult> ScanViews(const platform::BinaryStream& stream, const ChunkTest& test,
                                    std::int64_t& firstChunk) {
    for (;;) {
        const std::size_t chunks = ChunksInWindow(firstChunk);
        const std::size_t length = WindowLength(chunks);
        // One byte more than the window tells whether the file ends with it.
        const std::optional<platform::FileView> view = stream.View(WindowStart(firstChunk), length + 1);
        if (!view) return std::nullopt;
        Stop stop;
        std::array<char, kChunk> chunk;
        std::size_t chunkLength = 0;
        const bool whole = view->Read([&](std::string_view bytes) {
            const std::string_view window = bytes.substr(0, length);
            stop = SearchWindow(window, chunks, bytes.size() <= length, test);
            if (stop.index != npos) {
                // A view of no bytes (a file that ends before the body) hands
                // a null pointer; string_view's copy copies nothing from it.
                chunkLength = ChunkOf(window, stop.index).copy(chunk.data(), chunk.size());
            }
        });
        if (!whole) return std::nullopt;
        if (stop.index != npos) return ResultAt(std::string_view(chunk.data(), chunkLength), stop, firstChunk);
        firstChunk += static_cast<std::int64_t>(chunks);
    }
}

// The scan by reading, from the window whose chunk 0 is `firstChunk`.
ScanResult ScanReads(platform::BinaryStream& stream, const ChunkTest& test, std::int64_t firstChunk) {
    // Aligned for the vectorised search; never initialised, so only the pages
    // that reads reach are ever touched.
    const std::unique_ptr<char, void (*)(void*)> buffer(
        static_cast<char*>(std::aligned_alloc(kBufferAlignment, kWindowLength)), std::free);
    if (!buffer) throw std::bad_alloc();
    std::size_t carried = 0;  // bytes kept at the front from the previous window

    stream.SetPosition(WindowStart(firstChunk));
    for (;;) {
        const std::size_t chunks = ChunksInWindow(firstChunk);
        const std::size_t wanted = WindowLength(chunks);
        const std::size_t length =
            carried + stream.ReadInto(std::span<char>(buffer.get() + carried, wanted - carried));
        const std::string_view window(buffer.get(), length);
        const bool atEnd = length < wanted || stream.EndOfFile();
        const Stop stop = SearchWindow(window, chunks, atEnd, test);
        if (stop.index != npos) return ResultAt(ChunkOf(window, stop.index), stop, firstChunk);
        std::memmove(buffer.get(), buffer.get() + chunks * kStep, kOverlap);
        carried = kOverlap;
        firstChunk += static_cast<std::int64_t>(chunks);
    }
}

ChunkTest TestOf(std::uint8_t majorVersionByte, HeaderLayout layout) {
    return {majorVersionByte, layout, RecordMarker(majorVersionByte, layout)};
}

}  // namespace

ScanResult VersionRecordScan(platform::BinaryStream& stream, std::uint8_t majorVersionByte,
                             HeaderLayout layout) {
    const ChunkTest test = TestOf(majorVersionByte, layout);
    stream.SetPosition(kBodyStart);
    std::int64_t firstChunk = 0;  // the index of the window's chunk 0
    if (std::optional<ScanResult> result = ScanViews(stream, test, firstChunk)) return std::move(*result);
    return ScanReads(stream, test, firstChunk);
}

ScanResult VersionRecordScanByReading(platform::BinaryStream& stream, std::uint8_t majorVersionByte,
                                      HeaderLayout layout) {
    return ScanReads(stream, TestOf(majorVersionByte, layout), 0);
}

}  // namespace halvoric
