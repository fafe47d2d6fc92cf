#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QImageReader>
#include <QString>
#include <cerrno>
#include <cstring>
#include <map>
#include <system_error>

#include "platform/Picture.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

std::optional<fs::path>& ExecutableOverride() {
    static std::optional<fs::path> path;
    return path;
}

std::map<std::string, const FileType*, std::less<>>& FileTypeRegistry() {
    static std::map<std::string, const FileType*, std::less<>> registry;
    return registry;
}

std::string ErrnoText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

}  // namespace

// FolderItem ---------------------------------------------------------------

std::string FolderItem::Name() const {
    return path_.filename().string();
}

bool FolderItem::Exists() const {
    std::error_code error;
    return fs::exists(path_, error);
}

bool FolderItem::Directory() const {
    std::error_code error;
    return fs::is_directory(path_, error);
}

Ref<FolderItem> FolderItem::Child(std::string_view name) const {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos) {
        return nullptr;
    }
    return Make<FolderItem>(path_ / fs::path(std::string(name)));
}

Ref<FolderItem> FolderItem::Parent() const {
    const fs::path parent = path_.parent_path();
    if (parent.empty() || parent == path_) return nullptr;
    return Make<FolderItem>(parent);
}

Ref<BinaryStream> FolderItem::OpenAsBinaryFile(bool readWrite) const {
    if (readWrite) throw IOException("Files are opened for reading only.");
    // O_NONBLOCK keeps a pipe from holding the open; regular files ignore it.
    const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return Make<BinaryStream>(fd);
}

Ref<Picture> FolderItem::OpenAsPicture() const {
    QImageReader reader(QString::fromStdString(path_.string()));
    QImage image = reader.read();
    if (image.isNull()) return nullptr;
    return Make<Picture>(std::move(image));
}

// BinaryStream -------------------------------------------------------------

BinaryStream::~BinaryStream() {
    if (fd_ >= 0) ::close(fd_);
}

int BinaryStream::Descriptor() const {
    if (fd_ < 0) throw IOException("The stream is closed.");
    return fd_;
}

std::size_t BinaryStream::ReadInto(std::span<char> buffer) {
    const int fd = Descriptor();
    std::size_t total = 0;
    while (total < buffer.size()) {
        const ssize_t got = ::pread(fd, buffer.data() + total, buffer.size() - total,
                                    static_cast<off_t>(position_));
        if (got < 0) {
            if (errno == EINTR) continue;
            throw IOException("Reading the file failed: " + ErrnoText(errno));
        }
        if (got == 0) break;
        total += static_cast<std::size_t>(got);
        position_ += got;
    }
    return total;
}

std::string BinaryStream::Read(std::int64_t count) {
    if (count <= 0) return {};
    std::string bytes;
    // Never reserve more than the file can still give.
    const std::int64_t left = std::max<std::int64_t>(0, Length() - position_);
    bytes.resize(static_cast<std::size_t>(std::min(count, left)));
    bytes.resize(ReadInto(bytes));
    return bytes;
}

void BinaryStream::SetPosition(std::int64_t position) {
    if (position < 0) throw OutOfBoundsException("A stream position cannot be negative.");
    Descriptor();
    position_ = position;
}

std::int64_t BinaryStream::Length() const {
    struct stat info {};
    if (::fstat(Descriptor(), &info) != 0) throw IOException("The file's length is unknown: " + ErrnoText(errno));
    return static_cast<std::int64_t>(info.st_size);
}

void BinaryStream::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

// FileType -----------------------------------------------------------------

FileType::~FileType() {
    if (!registered_) return;
    auto& registry = FileTypeRegistry();
    const auto found = registry.find(Name);
    if (found != registry.end() && found->second == this) registry.erase(found);
}

std::string FileType::ToString() {
    if (!registered_) {
        FileTypeRegistry()[Name] = this;
        registered_ = true;
    }
    return Name;
}

const FileType* RegisteredFileType(std::string_view name) {
    const auto& registry = FileTypeRegistry();
    const auto found = registry.find(name);
    return found == registry.end() ? nullptr : found->second;
}

// The application's files --------------------------------------------------

void SetExecutableFileForTesting(std::optional<fs::path> path) {
    ExecutableOverride() = std::move(path);
}

Ref<FolderItem> ExecutableFile() {
    if (ExecutableOverride()) return Make<FolderItem>(*ExecutableOverride());
    fs::path path;
    if (QCoreApplication::instance()) {
        path = QCoreApplication::applicationFilePath().toStdString();
    } else {
        path = "/proc/self/exe";
    }
    std::error_code error;
    fs::path resolved = fs::canonical(path, error);
    if (error) return nullptr;
    return Make<FolderItem>(std::move(resolved));
}

Ref<FolderItem> GetApplicationBundleResources() {
    Ref<FolderItem> resources = ExecutableFile()->Parent()->Parent()->Child("Resources");
    if (!resources || !resources->Directory()) return nullptr;
    return resources;
}

}  // namespace platform
