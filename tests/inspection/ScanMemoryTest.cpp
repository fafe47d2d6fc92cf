// The scan's memory stays flat: inspecting a 256 MiB document takes no more
// than 1 MiB more peak memory than inspecting a 1 MiB one. Each inspection
// runs in a child process of its own, which resets its peak resident size and
// reports how far the peak rose above the resident size it started with.

#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "inspection/DocumentFormat.h"
#include "platform/Files.h"
#include "tests/support/CraftedDocument.h"

namespace halvoric {
namespace {

using testing::CraftedDocument;
using testing::TemporaryFolder;

// A value in kB from /proc/self/status ("VmHWM", "VmRSS"); -1 when missing.
long StatusKilobytes(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
    }
    return -1;
}

struct PeakGrowth {
    long startKilobytes = -1;  // resident size before the inspection
    long peakKilobytes = -1;   // peak resident size after it
    long GrowthKilobytes() const { return peakKilobytes - startKilobytes; }
};

// The format steps of an inspection: header, layout, release, scan, fields.
void Inspect(const std::filesystem::path& path) {
    platform::FolderItem file(path);
    std::string header;
    {
        const platform::Ref<platform::BinaryStream> stream = file.OpenAsBinaryFile();
        header = stream->Read(kHeaderLength);
        stream->Close();
    }
    const HeaderLayout layout = LayoutOf(header);
    const std::optional<std::uint8_t> release = MajorVersionByte(header, layout);
    if (!release || !IsScannedRelease(*release)) throw std::runtime_error("no scanned release");
    const platform::Ref<platform::BinaryStream> stream = file.OpenAsBinaryFile();
    const ScanResult result = VersionRecordScan(*stream, *release, layout);
    stream->Close();
    if (result.passed) throw std::runtime_error("unexpected passing chunk");
    const volatile std::size_t used = BuildString(result.chunk, layout).size() + EditionText(EditionByte(result.chunk, layout)).size();
    (void)used;
}

// Touches `bytes` of fresh memory and frees it again: the method must see that peak.
void Calibrate(std::size_t bytes) {
    const auto block = std::make_unique<char[]>(bytes);
    for (std::size_t at = 0; at < bytes; at += 4096) static_cast<volatile char*>(block.get())[at] = 1;
}

template <class Work>
PeakGrowth MeasureInChild(Work work) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) throw std::runtime_error("pipe");
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork");
    if (child == 0) {
        ::close(pipeEnds[0]);
        PeakGrowth growth;
        int status = 0;
        try {
            // Free heap memory inherited from the parent goes back to the
            // system, so that what the inspection allocates is counted.
            ::malloc_trim(0);
            // Resets the peak resident size to the current one (Linux 4.0 and later).
            std::ofstream("/proc/self/clear_refs") << "5";
            growth.startKilobytes = StatusKilobytes("VmRSS");
            work();
            growth.peakKilobytes = StatusKilobytes("VmHWM");
        } catch (...) {
            status = 2;
        }
        const ssize_t wrote = ::write(pipeEnds[1], &growth, sizeof growth);
        ::_exit(wrote == sizeof growth ? status : 3);
    }
    ::close(pipeEnds[1]);
    PeakGrowth growth;
    const ssize_t got = ::read(pipeEnds[0], &growth, sizeof growth);
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (got != sizeof growth || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("the measuring child failed");
    }
    return growth;
}

TEST(ScanMemory, FlatWhateverTheDocumentSize) {
    TemporaryFolder folder(testing::SparseDocumentBase());
    // Sparse documents: a CS4 header, then zero bytes in which no chunk passes.
    const auto small = CraftedDocument(HeaderLayout::LittleEndian, 0x06, std::int64_t{1} << 20)
                           .WriteTo(folder.File("small.indd"));
    const auto large = CraftedDocument(HeaderLayout::LittleEndian, 0x06, std::int64_t{256} << 20)
                           .WriteTo(folder.File("large.indd"));

    // The method sees a short-lived peak of 4 MiB.
    const PeakGrowth calibration = MeasureInChild([] { Calibrate(std::size_t{4} << 20); });
    ASSERT_GE(calibration.GrowthKilobytes(), 3 * 1024);

    const PeakGrowth smallGrowth = MeasureInChild([&] { Inspect(small); });
    const PeakGrowth largeGrowth = MeasureInChild([&] { Inspect(large); });
    ASSERT_GT(smallGrowth.peakKilobytes, 0);
    ASSERT_GT(largeGrowth.peakKilobytes, 0);
    std::cout << "[          ] peak growth: 4 MiB calibration " << calibration.GrowthKilobytes()
              << " kB, 1 MiB document " << smallGrowth.GrowthKilobytes()
              << " kB (peak " << smallGrowth.peakKilobytes << " kB), 256 MiB document "
              << largeGrowth.GrowthKilobytes() << " kB (peak " << largeGrowth.peakKilobytes << " kB)\n";
    ::testing::Test::RecordProperty("small_growth_kB", static_cast<int>(smallGrowth.GrowthKilobytes()));
    ::testing::Test::RecordProperty("large_growth_kB", static_cast<int>(largeGrowth.GrowthKilobytes()));
    EXPECT_LE(largeGrowth.GrowthKilobytes() - smallGrowth.GrowthKilobytes(), 1024);
}

}  // namespace
}  // namespace halvoric
