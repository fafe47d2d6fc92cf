// The version-record scan against a plain sequential read of the same file in
// 1 MiB blocks. The file is 256 MiB of random-looking bytes in which no chunk
// passes, so the scan runs to the end; it is written once and read once
// before timing, so both sides read from the page cache.
//
//   scan_bench [--benchmark_...]   (build with -DCMAKE_BUILD_TYPE=Release)
//
// ScanVersusPlainRead times both alternately in every iteration and reports
// their throughputs and scan_over_read, the ratio of the scan's time to the
// plain read's (the target is at most 1.5).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "inspection/DocumentFormat.h"
#include "platform/Files.h"

namespace {

namespace fs = std::filesystem;
using halvoric::HeaderLayout;

constexpr std::int64_t kFileLength = std::int64_t{256} << 20;
constexpr std::size_t kBlock = std::size_t{1} << 20;
constexpr std::uint8_t kRelease = 0x08;  // CS6: marker and delimiter
constexpr HeaderLayout kLayout = HeaderLayout::LittleEndian;

// The benchmark file: created on first use, removed at exit.
class BenchFile {
public:
    BenchFile() {
        std::string pattern = (fs::temp_directory_path() / "halvoric-scan-bench-XXXXXX").string();
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0) throw std::runtime_error("cannot create the benchmark file");
        path_ = pattern;
        std::vector<char> block(kBlock);
        std::uint64_t state = 0x9E3779B97F4A7C15ULL;
        for (std::int64_t written = 0; written < kFileLength; written += kBlock) {
            for (std::size_t at = 0; at < kBlock; at += 8) {
                // xorshift64*: bytes of every value, delimiters among them.
                state ^= state >> 12;
                state ^= state << 25;
                state ^= state >> 27;
                const std::uint64_t value = state * 0x2545F4914F6CDD1DULL;
                std::memcpy(block.data() + at, &value, 8);
            }
            if (::write(fd, block.data(), kBlock) != static_cast<ssize_t>(kBlock)) {
                ::close(fd);
                throw std::runtime_error("cannot write the benchmark file");
            }
        }
        ::close(fd);
    }
    ~BenchFile() {
        std::error_code ignored;
        fs::remove(path_, ignored);
    }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

const BenchFile& File() {
    static const BenchFile file;
    return file;
}

platform::Ref<platform::BinaryStream> Open() {
    return platform::FolderItem(File().Path()).OpenAsBinaryFile();
}

std::int64_t PlainRead() {
    const auto stream = Open();
    // Page-aligned: the copy out of the page cache runs at its full speed only
    // into some alignments (a buffer 16 bytes past a page takes twice as long
    // on some processors), and the reference must not be the slow one.
    alignas(4096) static std::array<char, kBlock> buffer;
    std::int64_t total = 0;
    for (std::size_t got; (got = stream->ReadInto(std::span<char>(buffer))) > 0;) total += got;
    stream->Close();
    return total;
}

halvoric::ScanResult Scan() {
    const auto stream = Open();
    halvoric::ScanResult result = halvoric::VersionRecordScan(*stream, kRelease, kLayout);
    stream->Close();
    return result;
}

// Brings the file into the page cache and checks that the scan runs to its end.
void Prepare(const benchmark::State&) {
    if (PlainRead() != kFileLength) throw std::runtime_error("the benchmark file is short");
    const halvoric::ScanResult result = Scan();
    if (result.passed) throw std::runtime_error("a chunk of the benchmark file passes");
}

void PlainReadBench(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(PlainRead());
    state.SetBytesProcessed(state.iterations() * kFileLength);
}

void ScanBench(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(Scan());
    state.SetBytesProcessed(state.iterations() * (kFileLength - halvoric::kBodyStart));
}

void ScanVersusPlainRead(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    double readSeconds = 0, scanSeconds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        benchmark::DoNotOptimize(PlainRead());
        const auto middle = Clock::now();
        benchmark::DoNotOptimize(Scan());
        const auto end = Clock::now();
        readSeconds += std::chrono::duration<double>(middle - start).count();
        scanSeconds += std::chrono::duration<double>(end - middle).count();
    }
    const double mebibytes = static_cast<double>(state.iterations()) * kFileLength / (1 << 20);
    state.counters["read_MiBps"] = mebibytes / readSeconds;
    state.counters["scan_MiBps"] = mebibytes / scanSeconds;
    state.counters["scan_over_read"] = scanSeconds / readSeconds;
}

BENCHMARK(PlainReadBench)->Name("PlainRead1MiB")->Setup(Prepare)->Unit(benchmark::kMillisecond);
BENCHMARK(ScanBench)->Name("VersionRecordScan")->Setup(Prepare)->Unit(benchmark::kMillisecond);
BENCHMARK(ScanVersusPlainRead)->Setup(Prepare)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
