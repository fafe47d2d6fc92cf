#include "platform/Files.h"

#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QImageReader>
#include <QString>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <system_error>
#include <utility>

#include "platform/Picture.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

std::map<std::string, const FileType*, std::less<>>& FileTypeRegistry() {
    static std::map<std::string, const FileType*, std::less<>> registry;
    return registry;
}

std::string ErrnoText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

// Reading a mapped page that lies wholly past the end of its file raises
// SIGBUS. While a FileView is read, the thread's guard records the view's
// range and where to return to; the handler sends a fault in that range back
// there and hands every other SIGBUS on to the handler it replaced.
struct BusGuard {
    sigjmp_buf resume;
    const char* begin;
    const char* end;
};

thread_local BusGuard* activeBusGuard = nullptr;
struct sigaction replacedBusAction {};

void OnBusError(int signal, siginfo_t* info, void* context) {
    BusGuard* const guard = activeBusGuard;
    const char* address = static_cast<const char*>(info->si_addr);
    if (guard != nullptr && info->si_code > 0 && address >= guard->begin && address < guard->end) {
        siglongjmp(guard->resume, 1);
    }
    if (replacedBusAction.sa_flags & SA_SIGINFO) {
        replacedBusAction.sa_sigaction(signal, info, context);
    } else if (replacedBusAction.sa_handler != SIG_DFL && replacedBusAction.sa_handler != SIG_IGN) {
        replacedBusAction.sa_handler(signal);
    } else {
        // Back to the default action: a fault strikes again when the faulting
        // instruction is retried, a sent signal is sent again.
        ::sigaction(SIGBUS, &replacedBusAction, nullptr);
        if (info->si_code <= 0) ::raise(signal);
    }
}

void InstallBusErrorHandler() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &replacedBusAction);
    });
}

std::size_t PageSize() {
    static const std::size_t size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

// The page cache keeps a file in blocks of up to 2 MiB aligned to their size
// in the file, and a fault maps such a block whole only when its addresses do
// not cross a 2 MiB boundary of the address space. Placing the mapping at an
// address that agrees with its file offset modulo 2 MiB guarantees that; where
// the kernel happens to place a mapping, a scan of it through page faults can
// take half as much again.
constexpr std::size_t kMappingAlignment = std::size_t{2} << 20;

// Where the last aligned mapping's 2 MiB block began: views made one after
// the other are asked for there first, which the kernel grants when the place
// is free again, sparing the reservation below.
std::atomic<std::uintptr_t> lastAlignedBlock{0};

// Maps `length` bytes of the file from the page-aligned `offset` read-only,
// placed as above; nullptr when the file cannot be mapped.
void* MapAligned(int fd, std::int64_t offset, std::size_t length) {
    const std::uintptr_t phase = static_cast<std::uintptr_t>(offset) % kMappingAlignment;
    if (const std::uintptr_t block = lastAlignedBlock.load(std::memory_order_relaxed); block != 0) {
        void* mapping = ::mmap(reinterpret_cast<void*>(block + phase), length, PROT_READ, MAP_SHARED, fd,
                               static_cast<off_t>(offset));
        if (mapping == MAP_FAILED) return nullptr;
        if (reinterpret_cast<std::uintptr_t>(mapping) % kMappingAlignment == phase) return mapping;
        ::munmap(mapping, length);
    }
    // A reservation with room to slide the mapping into place.
    const std::size_t reserved = length + kMappingAlignment;
    void* reservation = ::mmap(nullptr, reserved, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (reservation == MAP_FAILED) return nullptr;
    const auto base = reinterpret_cast<std::uintptr_t>(reservation);
    const std::uintptr_t at = base + (phase - base % kMappingAlignment + kMappingAlignment) % kMappingAlignment;
    void* mapping = ::mmap(reinterpret_cast<void*>(at), length, PROT_READ, MAP_SHARED | MAP_FIXED, fd,
                           static_cast<off_t>(offset));
    if (mapping == MAP_FAILED) {
        ::munmap(reservation, reserved);
        return nullptr;
    }
    // The reservation's unused ends.
    const std::uintptr_t end = at + length;
    const std::uintptr_t pageEnd = (end + PageSize() - 1) / PageSize() * PageSize();
    if (at > base) ::munmap(reservation, at - base);
    if (base + reserved > pageEnd) ::munmap(reinterpret_cast<void*>(pageEnd), base + reserved - pageEnd);
    lastAlignedBlock.store(at - phase, std::memory_order_relaxed);
    return mapping;
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

std::optional<FileView> BinaryStream::View(std::int64_t offset, std::size_t length) const {
    if (offset < 0) throw OutOfBoundsException("A file offset cannot be negative.");
    const int fd = Descriptor();
    // The length now, so that no page of the mapping lies past the end of the file.
    const std::int64_t fileLength = Length();
    if (offset >= fileLength || length == 0) return FileView();
    const std::size_t size = static_cast<std::size_t>(std::min<std::int64_t>(
        fileLength - offset, static_cast<std::int64_t>(std::min<std::size_t>(length, INT64_MAX))));
    const std::int64_t mapStart = offset - offset % static_cast<std::int64_t>(PageSize());
    const std::size_t skip = static_cast<std::size_t>(offset - mapStart);
    void* mapping = MapAligned(fd, mapStart, skip + size);
    if (mapping == nullptr) return std::nullopt;
    return FileView(mapping, skip + size, skip, size);
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

// FileView -----------------------------------------------------------------

FileView::~FileView() {
    if (mapping_ != nullptr) ::munmap(mapping_, mappedLength_);
}

FileView::FileView(FileView&& other) noexcept
    : mapping_(std::exchange(other.mapping_, nullptr)),
      mappedLength_(std::exchange(other.mappedLength_, 0)),
      skip_(std::exchange(other.skip_, 0)),
      size_(std::exchange(other.size_, 0)) {}

FileView& FileView::operator=(FileView&& other) noexcept {
    if (this != &other) {
        if (mapping_ != nullptr) ::munmap(mapping_, mappedLength_);
        mapping_ = std::exchange(other.mapping_, nullptr);
        mappedLength_ = std::exchange(other.mappedLength_, 0);
        skip_ = std::exchange(other.skip_, 0);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

bool FileView::ReadGuarded(void (*reader)(void*, std::string_view), void* context) const {
    if (mapping_ == nullptr) {
        reader(context, std::string_view());
        return true;
    }
    InstallBusErrorHandler();
    const char* const begin = static_cast<const char*>(mapping_);
    BusGuard guard;
    guard.begin = begin;
    guard.end = begin + mappedLength_;
    BusGuard* const outer = activeBusGuard;
    // The signal mask is saved, so that SIGBUS is unblocked again after a fault.
    if (sigsetjmp(guard.resume, 1) != 0) {
        activeBusGuard = outer;
        return false;
    }
    activeBusGuard = &guard;
    reader(context, std::string_view(begin + skip_, size_));
    activeBusGuard = outer;
    return true;
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

Ref<FolderItem> ExecutableFile() {
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

fs::path InstallationResourcesFolder(const Ref<FolderItem>& executable) {
    const Ref<FolderItem> folder = executable ? executable->Parent() : nullptr;
    const Ref<FolderItem> installation = folder ? folder->Parent() : nullptr;
    return installation ? installation->NativePath() / "Resources" : fs::path();
}

Ref<Picture> LoadResourcePicture(const fs::path& resources, Ref<Picture>& cache, std::string_view fileName) {
    if (!cache) {
        if (resources.empty()) throw NilObjectException("A nil object was used.");
        // Looked at on every call that gets here: the folder may appear later.
        const FolderItem folder(resources);
        if (folder.Directory()) {
            // A nil child raises NilObjectException; the cache stays nil.
            cache = folder.Child(fileName)->OpenAsPicture();
        }
    }
    return cache;
}

}  // namespace platform
