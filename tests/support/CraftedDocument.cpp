#include "tests/support/CraftedDocument.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <system_error>

namespace halvoric::testing {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

// TemporaryFolder ------------------------------------------------------------

TemporaryFolder::TemporaryFolder() : TemporaryFolder(fs::temp_directory_path()) {}

TemporaryFolder::TemporaryFolder(const fs::path& base) {
    std::string pattern = (base / "halvoric-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp");
    path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

fs::path SparseDocumentBase() {
    const fs::path shared("/dev/shm");
    std::error_code error;
    if (fs::is_directory(shared, error) && ::access(shared.c_str(), W_OK) == 0) return shared;
    return fs::temp_directory_path();
}

// CraftedDocument ------------------------------------------------------------

CraftedDocument::CraftedDocument(halvoric::HeaderLayout layout, std::int64_t length)
    : layout_(layout) {
    SetLength(length);
    if (length_ > static_cast<std::int64_t>(halvoric::kLayoutByteOffset)) {
        LayoutByte(layout == halvoric::HeaderLayout::BigEndian ? 0x02 : 0x01);
    }
}

CraftedDocument::CraftedDocument(halvoric::HeaderLayout layout, std::uint8_t releaseByte,
                                 std::int64_t length)
    : CraftedDocument(layout, std::max<std::int64_t>(length, halvoric::kHeaderLength)) {
    ReleaseByte(releaseByte);
}

CraftedDocument& CraftedDocument::SetLength(std::int64_t length) {
    if (length < 0) throw std::invalid_argument("negative document length");
    length_ = length;
    return *this;
}

CraftedDocument& CraftedDocument::LayoutByte(std::uint8_t value) {
    layout_ = value == halvoric::kBigEndianLayoutByte ? halvoric::HeaderLayout::BigEndian
                                                      : halvoric::HeaderLayout::LittleEndian;
    return PutByte(static_cast<std::int64_t>(halvoric::kLayoutByteOffset), value);
}

CraftedDocument& CraftedDocument::ReleaseByte(std::uint8_t value) {
    const std::size_t offset = layout_ == halvoric::HeaderLayout::BigEndian
                                   ? halvoric::kBigEndianMajorVersionOffset
                                   : halvoric::kLittleEndianMajorVersionOffset;
    return PutByte(static_cast<std::int64_t>(offset), value);
}

CraftedDocument& CraftedDocument::Put(std::int64_t offset, std::string_view bytes) {
    if (offset < 0) throw std::invalid_argument("negative offset");
    placements_.emplace_back(offset, std::string(bytes));
    length_ = std::max(length_, offset + static_cast<std::int64_t>(bytes.size()));
    return *this;
}

CraftedDocument& CraftedDocument::PutByte(std::int64_t offset, std::uint8_t value) {
    return Put(offset, std::string(1, static_cast<char>(value)));
}

CraftedDocument& CraftedDocument::BodyMarker(std::int64_t offset) {
    return Put(offset, halvoric::BytesOf(layout_).BodyMarker);
}

CraftedDocument& CraftedDocument::FieldDelimiter(std::int64_t offset) {
    return Put(offset, halvoric::BytesOf(layout_).FieldDelimiter);
}

CraftedDocument& CraftedDocument::CsMarker(std::int64_t offset) {
    return Put(offset, halvoric::BytesOf(layout_).CsMarker);
}

CraftedDocument& CraftedDocument::Noise(std::int64_t from, std::int64_t to, std::uint32_t seed) {
    if (to <= from) return *this;
    std::mt19937 random(seed);
    std::string bytes(static_cast<std::size_t>(to - from), '\0');
    for (char& byte : bytes) {
        std::uint8_t value;
        do {
            value = static_cast<std::uint8_t>(random());
        } while (value == 0x09 || value == 0x40);
        byte = static_cast<char>(value);
    }
    return Put(from, bytes);
}

CraftedDocument& CraftedDocument::VersionRecord(std::int64_t delimiterOffset,
                                                std::string_view buildString,
                                                std::uint8_t editionByte) {
    const std::int64_t back = layout_ == halvoric::HeaderLayout::BigEndian ? 12 : 13;
    PutByte(delimiterOffset - back, editionByte);
    FieldDelimiter(delimiterOffset);
    return Put(delimiterOffset + 2, buildString);
}

std::string CraftedDocument::Bytes() const {
    std::string bytes(static_cast<std::size_t>(length_), '\0');
    for (const auto& [offset, placed] : placements_) {
        if (offset >= length_) continue;
        const std::size_t count = std::min<std::size_t>(placed.size(), static_cast<std::size_t>(length_ - offset));
        bytes.replace(static_cast<std::size_t>(offset), count, placed, 0, count);
    }
    return bytes;
}

fs::path CraftedDocument::WriteTo(const fs::path& file) const {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) Fail("open " + file.string());
    bool ok = ::ftruncate(fd, static_cast<off_t>(length_)) == 0;
    for (const auto& [offset, placed] : placements_) {
        if (!ok || offset >= length_) continue;
        const std::size_t count = std::min<std::size_t>(placed.size(), static_cast<std::size_t>(length_ - offset));
        std::size_t done = 0;
        while (ok && done < count) {
            const ssize_t wrote = ::pwrite(fd, placed.data() + done, count - done,
                                           static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
            if (wrote < 0 && errno == EINTR) continue;
            ok = wrote > 0;
            if (ok) done += static_cast<std::size_t>(wrote);
        }
    }
    if (!ok) {
        const int error = errno;
        ::close(fd);
        errno = error;
        Fail("write " + file.string());
    }
    if (::close(fd) != 0) Fail("close " + file.string());
    return file;
}

}  // namespace halvoric::testing
