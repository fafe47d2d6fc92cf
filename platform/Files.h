#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/Ref.h"

namespace platform {

class BinaryStream;
class FileView;
class Picture;

// A reference to an entry on disk, which may or may not exist.
class FolderItem {
public:
    explicit FolderItem(std::filesystem::path path) : path_(std::move(path)) {}

    // The entry's name as the user sees it (the last path component, raw bytes).
    std::string Name() const;
    const std::filesystem::path& NativePath() const { return path_; }
    bool Exists() const;
    bool Directory() const;

    // The entry named `name` inside this folder, whether or not it exists; nil
    // for a name that cannot name an entry (empty, ".", "..", or with a "/").
    Ref<FolderItem> Child(std::string_view name) const;
    // The folder that holds this entry; nil for the root.
    Ref<FolderItem> Parent() const;

    // Opens the file for reading, positioned at offset 0. Nil when the entry is
    // missing, unreadable or not a regular file (a folder, a pipe, a device).
    // Files are only ever opened read-only: `readWrite` true raises IOException.
    Ref<BinaryStream> OpenAsBinaryFile(bool readWrite = false) const;

    // The file's image as a new picture; nil when the file is missing or is not
    // an image the platform can read.
    Ref<Picture> OpenAsPicture() const;

private:
    std::filesystem::path path_;
};

// A read-only stream over a file's bytes with a 64-bit position.
class BinaryStream {
public:
    explicit BinaryStream(int descriptor) : fd_(descriptor) {}
    ~BinaryStream();
    BinaryStream(const BinaryStream&) = delete;
    BinaryStream& operator=(const BinaryStream&) = delete;

    // The next up to `count` bytes from the position, fewer at the end of the
    // file and none at or past it; the position moves past what was read.
    std::string Read(std::int64_t count);
    // The same into a caller's buffer; returns the number of bytes read.
    std::size_t ReadInto(std::span<char> buffer);

    // A read-only view of up to `length` bytes of the file from `offset`, mapped
    // into memory instead of copied; never more than the file holds when it is
    // made (empty at or past the end). nullopt when the file cannot be mapped:
    // the caller then reads it. Does not move the position.
    std::optional<FileView> View(std::int64_t offset, std::size_t length) const;

    std::int64_t Position() const { return position_; }
    void SetPosition(std::int64_t position);
    std::int64_t Length() const;
    // True when the position is at or past the end of the file. (The framework
    // calls it EOF; that name is taken by the C library's macro.)
    bool EndOfFile() const { return position_ >= Length(); }

    void Close();

private:
    int Descriptor() const;

    int fd_;
    std::int64_t position_ = 0;
};

// Bytes of a file mapped read-only into memory, for reading a large file
// without copying it; unmapped when the view is destroyed. The bytes are the
// file's own, so they change when the file is written to, and a file that
// another process shortens while it is viewed would make reading the pages
// past its new end fault: read the bytes only inside Read(), which turns that
// fault into a false result.
class FileView {
public:
    FileView() = default;
    ~FileView();
    FileView(FileView&& other) noexcept;
    FileView& operator=(FileView&& other) noexcept;

    // Runs reader(bytes) and returns true; returns false, leaving the reader
    // where the fault struck it, when the file was shortened under the view.
    // An abandoned reader unwinds nothing, so it must own nothing that needs
    // destroying (no strings, containers or locks of its own) and should only
    // store plain values and copy bytes into memory of its caller's. Reads do
    // not nest: a reader reads no other view.
    template <class Reader>
    bool Read(Reader&& reader) const {
        auto* target = &reader;
        return ReadGuarded(
            [](void* context, std::string_view bytes) {
                (*static_cast<decltype(target)>(context))(bytes);
            },
            target);
    }

    std::size_t Size() const { return size_; }

private:
    friend class BinaryStream;
    FileView(void* mapping, std::size_t mappedLength, std::size_t skip, std::size_t size)
        : mapping_(mapping), mappedLength_(mappedLength), skip_(skip), size_(size) {}
    bool ReadGuarded(void (*reader)(void*, std::string_view), void* context) const;

    void* mapping_ = nullptr;  // page-aligned; nullptr for an empty view
    std::size_t mappedLength_ = 0;
    std::size_t skip_ = 0;  // the view's first byte in the mapping
    std::size_t size_ = 0;
};

// A document type the application registers with the platform; the open-file
// dialog offers the files of the registered types that its filter names.
class FileType {
public:
    FileType() = default;
    ~FileType();
    FileType(const FileType&) = delete;
    FileType& operator=(const FileType&) = delete;

    std::string Name;
    std::string Extensions;  // ".indd", several separated by ";"
    std::string MacType;
    std::string MacCreator;

    // Registers the type under its Name (once) and returns the Name.
    std::string ToString();
    bool Registered() const { return registered_; }

private:
    bool registered_ = false;
};

// The registered file type of that name, or nullptr.
const FileType* RegisteredFileType(std::string_view name);

// The running executable, its symbolic links resolved.
Ref<FolderItem> ExecutableFile();
// The resources folder of the installation that holds `executable`:
// "Resources" in the parent of the folder that holds the executable, whether
// or not it exists. Empty when the executable or either of those two folders
// is unknown (an executable at "/", say).
std::filesystem::path InstallationResourcesFolder(const Ref<FolderItem>& executable);

// Loads the picture file `fileName` from the resources folder `resources`
// into `cache` on first use and returns the cache.
//
// A cache that holds a picture is returned as it is: the file is not looked at
// again. Otherwise the folder is looked at anew; while it is no folder (not
// there yet, say) the result is nil and nothing is recorded. The folder's
// child `fileName` is opened as a picture and the result, possibly nil
// (missing file, not an image), is stored in the cache, so a failed load is
// tried again on the next call. An empty `resources` (the folder is unknown)
// and a child lookup that yields no file reference raise NilObjectException;
// nothing is caught here.
Ref<Picture> LoadResourcePicture(const std::filesystem::path& resources, Ref<Picture>& cache,
                                 std::string_view fileName);

}  // namespace platform
