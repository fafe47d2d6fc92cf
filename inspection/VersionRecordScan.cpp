// The body scan. The plain way to find the version record positions the
// stream at every chunk and reads it afresh, so the 2048 bytes that
// neighbouring chunks share are read twice and every chunk is copied and
// searched. This scan reads the body once, window by window, into one fixed
// buffer: a window holds kChunksPerWindow whole chunks, and the next window
// keeps the last chunk's overlap at the front of the buffer and reads the
// bytes after it. In a window the scan looks for the marker only; a chunk is
// examined further only when it holds a whole occurrence of the marker, and
// chunks are examined in increasing order, so the first one that passes is
// the one at which the plain loop stops. When none passes, the chunk whose
// read reaches the end of the file is the one the plain loop ends with.

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <memory>
#include <span>

#include "inspection/ByteSearch.h"
#include "inspection/DocumentFormat.h"
#include "platform/Files.h"

namespace halvoric {

namespace {

constexpr std::size_t kStep = static_cast<std::size_t>(kChunkStep);
constexpr std::size_t kChunk = static_cast<std::size_t>(kChunkLength);
constexpr std::size_t kOverlap = kChunk - kStep;
constexpr std::size_t kChunksPerWindow = 256;
// Chunks 0 .. kChunksPerWindow - 1 of a window: 1 MiB plus one overlap.
constexpr std::size_t kWindowLength = (kChunksPerWindow - 1) * kStep + kChunk;
constexpr std::size_t kBufferAlignment = 64;
static_assert(kWindowLength % kBufferAlignment == 0);

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

}  // namespace

ScanResult VersionRecordScan(platform::BinaryStream& stream, std::uint8_t majorVersionByte,
                             HeaderLayout layout) {
    const LayoutBytes& bytes = BytesOf(layout);
    const bool canPass = IsScannedRelease(majorVersionByte);
    const bool cs = majorVersionByte == kFirstScannedRelease;
    // A chunk passes when it holds the marker and, except for CS, the partner too.
    const std::string_view marker = cs ? bytes.CsMarker : bytes.BodyMarker;
    const std::string_view partner = cs ? std::string_view() : bytes.FieldDelimiter;

    // Aligned for the vectorised search; never initialised, so only the pages
    // that reads reach are ever touched.
    const std::unique_ptr<char, void (*)(void*)> buffer(
        static_cast<char*>(std::aligned_alloc(kBufferAlignment, kWindowLength)), std::free);
    if (!buffer) throw std::bad_alloc();
    std::int64_t firstChunk = 0;  // the index of the window's chunk 0
    std::size_t carried = 0;      // bytes kept at the front from the previous window

    stream.SetPosition(kBodyStart);
    for (;;) {
        const std::size_t length =
            carried + stream.ReadInto(std::span<char>(buffer.get() + carried, kWindowLength - carried));
        const std::string_view window(buffer.get(), length);
        const bool atEnd = length < kWindowLength || stream.EndOfFile();
        // The plain loop reaches no chunk past this one in the window.
        const std::size_t lastChunk = atEnd ? ChunkReachingEnd(length) : kChunksPerWindow - 1;

        if (canPass) {
            std::size_t nextChunk = 0;  // chunks before it are known not to pass
            std::size_t from = 0;
            while (nextChunk <= lastChunk) {
                const std::size_t at = FindBytes(window, marker, from);
                if (at == std::string_view::npos) break;
                const std::size_t last = std::min(at / kStep, lastChunk);
                for (std::size_t index = std::max(FirstChunkHolding(at, marker.size()), nextChunk);
                     index <= last; ++index) {
                    const std::string_view chunk = ChunkOf(window, index);
                    if (partner.empty() || FindBytes(chunk, partner) != std::string_view::npos) {
                        return {std::string(chunk), true, firstChunk + static_cast<std::int64_t>(index)};
                    }
                }
                nextChunk = std::max(nextChunk, last + 1);
                // Occurrences that lie only in chunks already examined change nothing.
                from = std::max(at + 1, nextChunk * kStep);
            }
        }

        if (atEnd) {
            return {std::string(ChunkOf(window, lastChunk)), false,
                    firstChunk + static_cast<std::int64_t>(lastChunk)};
        }
        std::memmove(buffer.get(), buffer.get() + kChunksPerWindow * kStep, kOverlap);
        carried = kOverlap;
        firstChunk += static_cast<std::int64_t>(kChunksPerWindow);
    }
}

}  // namespace halvoric
