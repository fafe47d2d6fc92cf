#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "tests/support/CraftedDocument.h"

using namespace platform;

namespace {

namespace fs = std::filesystem;
using halvoric::testing::TemporaryFolder;

fs::path WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path;
}

// Bytes that differ from page to page and within a page.
std::string Pattern(std::size_t length) {
    std::string bytes(length, '\0');
    std::uint32_t state = 12345;
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

Ref<BinaryStream> Open(const fs::path& path) {
    Ref<BinaryStream> stream = FolderItem(path).OpenAsBinaryFile();
    if (!stream) throw std::runtime_error("cannot open " + path.string());
    return stream;
}

// The view's bytes, or "<shortened>" when the read reports a shortened file.
std::string Contents(const FileView& view) {
    std::string bytes;
    if (!view.Read([&](std::string_view seen) { bytes.assign(seen); })) return "<shortened>";
    return bytes;
}

std::string ViewOf(BinaryStream& stream, std::int64_t offset, std::size_t length) {
    const std::optional<FileView> view = stream.View(offset, length);
    if (!view) return "<not mapped>";
    EXPECT_EQ(view->Size(), Contents(*view).size());
    return Contents(*view);
}

TEST(FileView, HoldsTheFilesBytesAtAnyOffsetUpToItsEnd) {
    TemporaryFolder folder;
    const std::string bytes = Pattern(3 * 4096 + 123);
    const auto stream = Open(WriteFile(folder.File("file"), bytes));
    stream->SetPosition(17);
    for (std::int64_t offset : {0, 1, 4095, 4096, 5000, 12000}) {
        for (std::size_t length : {1, 100, 4096, 8193}) {
            EXPECT_EQ(ViewOf(*stream, offset, length), bytes.substr(offset, length)) << offset << " " << length;
        }
    }
    // Clipped to the end; empty at or past it and for no bytes.
    EXPECT_EQ(ViewOf(*stream, 12000, 1 << 20), bytes.substr(12000));
    EXPECT_EQ(ViewOf(*stream, static_cast<std::int64_t>(bytes.size()), 10), "");
    EXPECT_EQ(ViewOf(*stream, 1 << 20, 10), "");
    EXPECT_EQ(ViewOf(*stream, 5, 0), "");
    EXPECT_EQ(stream->Position(), 17);  // views do not move the position

    EXPECT_THROW(stream->View(-1, 10), OutOfBoundsException);
    stream->Close();
    EXPECT_THROW(stream->View(0, 10), IOException);
}

TEST(FileView, EmptyFileAndOffsetsBeyondFourGibibytes) {
    TemporaryFolder folder(halvoric::testing::SparseDocumentBase());
    EXPECT_EQ(ViewOf(*Open(WriteFile(folder.File("empty"), "")), 0, 4096), "");

    const std::int64_t far = (std::int64_t{1} << 32) + 4096 * 3 + 7;
    const fs::path path = WriteFile(folder.File("sparse"), "");
    fs::resize_file(path, far + 5);
    {
        std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(far);
        file << "tail!";
    }
    const auto stream = Open(path);
    EXPECT_EQ(ViewOf(*stream, far - 3, 100), std::string(3, '\0') + "tail!");
}

TEST(FileView, MovingHandsTheMappingOn) {
    TemporaryFolder folder;
    const std::string bytes = Pattern(10000);
    const auto stream = Open(WriteFile(folder.File("file"), bytes));
    std::optional<FileView> first = stream->View(100, 5000);
    ASSERT_TRUE(first);
    FileView moved(std::move(*first));
    EXPECT_EQ(first->Size(), 0u);
    EXPECT_EQ(Contents(*first), "");
    EXPECT_EQ(Contents(moved), bytes.substr(100, 5000));
    std::optional<FileView> second = stream->View(8000, 5000);
    ASSERT_TRUE(second);
    moved = std::move(*second);
    EXPECT_EQ(Contents(moved), bytes.substr(8000));
}

// A file shortened by someone else while it is viewed: reading past its new
// end is reported, the process lives on, and views keep working.
TEST(FileView, AFileShortenedUnderTheViewIsReportedNotFatal) {
    TemporaryFolder folder;
    const std::size_t length = 64 * 4096;
    const fs::path path = WriteFile(folder.File("file"), Pattern(length));
    const auto stream = Open(path);
    const std::optional<FileView> view = stream->View(0, length);
    ASSERT_TRUE(view);
    ASSERT_EQ(view->Size(), length);
    fs::resize_file(path, 8 * 4096 + 10);

    std::size_t readUpTo = 0;
    const bool whole = view->Read([&](std::string_view bytes) {
        for (std::size_t at = 0; at < bytes.size(); at += 4096) {
            readUpTo = at;
            static_cast<void>(*static_cast<const volatile char*>(bytes.data() + at));
        }
    });
    EXPECT_FALSE(whole);
    // The page holding the new end still reads; the first one past it faults.
    EXPECT_EQ(readUpTo, 9u * 4096);

    // Twice, so that the handler was left in place after the first fault.
    EXPECT_FALSE(view->Read([](std::string_view bytes) {
        static_cast<void>(*static_cast<const volatile char*>(bytes.data() + bytes.size() - 1));
    }));
    EXPECT_EQ(ViewOf(*stream, 0, length), Pattern(length).substr(0, 8 * 4096 + 10));
}

// Runs `work` in a child process and returns the signal that ended it (0 when
// it exited).
template <class Work>
int EndingSignal(Work work) {
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork");
    if (child == 0) {
        work();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

// Bus errors that no view's read caused end the process as they would without views.
TEST(FileView, OtherBusErrorsStillEndTheProcess) {
    TemporaryFolder folder;
    const fs::path path = WriteFile(folder.File("file"), Pattern(4 * 4096));
    const auto stream = Open(path);
    // Installs the handler in this process and so in the children.
    ASSERT_EQ(Contents(*stream->View(0, 10)), Pattern(10));

    EXPECT_EQ(EndingSignal([] { ::raise(SIGBUS); }), SIGBUS);
    EXPECT_EQ(EndingSignal([&] {
                  // A mapping of the program's own past the end of the file.
                  void* own = ::mmap(nullptr, 4 * 4096, PROT_READ, MAP_SHARED, ::open(path.c_str(), O_RDONLY), 0);
                  if (own == MAP_FAILED) ::_exit(1);
                  fs::resize_file(path, 4096);
                  static_cast<void>(static_cast<const volatile char*>(own)[3 * 4096]);
              }),
              SIGBUS);
    // A fault outside the view while a view is read is not the view's.
    EXPECT_EQ(EndingSignal([&] {
                  void* own = ::mmap(nullptr, 4 * 4096, PROT_READ, MAP_SHARED, ::open(path.c_str(), O_RDONLY), 0);
                  if (own == MAP_FAILED) ::_exit(1);
                  const std::optional<FileView> view = stream->View(0, 4096);
                  fs::resize_file(path, 4096);
                  view->Read([&](std::string_view) {
                      static_cast<void>(static_cast<const volatile char*>(own)[3 * 4096]);
                  });
              }),
              SIGBUS);
}

}  // namespace
