#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Ref.h"

namespace platform {

class BinaryStream;
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
// The application's resources folder: "Resources" in the parent of the folder
// that holds the executable; nil when there is no such folder.
Ref<FolderItem> GetApplicationBundleResources();

// Makes ExecutableFile() report `path` instead of the running executable, so
// tests can give the application a resources folder of their own; nullopt
// returns to the real executable.
void SetExecutableFileForTesting(std::optional<std::filesystem::path> path);

}  // namespace platform
