#pragma once

// What an InDesign document says about itself, read from its file with no
// window: the release from the header and, for a release the program knows,
// the version record from the body. Reads the file, never writes it, and
// keeps nothing between calls.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "inspection/DocumentFormat.h"
#include "platform/Files.h"
#include "platform/Ref.h"

namespace halvoric {

// A release as the program names and pictures it.
struct Release {
    // The header's release byte; nullopt when the header is too short to hold it.
    std::optional<std::uint8_t> majorVersionByte;
    // "Adobe InDesign CS" ... "Adobe InDesign CS6", "Adobe InDesign CS5.5",
    // or "バージョン不明" for a release byte not in the release table.
    std::string_view name;
    // The release icon's name (see ReleaseIcon): "cs" ... "cs6", "cs55", "und".
    std::string_view icon;

    // Whether the release byte is one of the release table's.
    bool Known() const { return majorVersionByte && IsScannedRelease(*majorVersionByte); }
};

// The release that a release byte names.
Release ReleaseOf(std::optional<std::uint8_t> majorVersionByte);
// `release` shown as CS5.5, which only the version record tells apart.
Release AsCs55(const Release& release);

// What the header says: the byte layout and the release.
struct DocumentHeader {
    HeaderLayout layout = HeaderLayout::LittleEndian;
    Release release;
};

// The version record found in the document's body.
struct VersionRecord {
    // The version-number text, as the raw bytes of the record.
    std::string buildString;
    // "Macintosh Edition", "Windows Edition" or "Not understand".
    std::string_view edition;
};

// The whole answer for one document.
struct DocumentInspection {
    // The header's release, or CS5.5 when the version record marks it.
    Release release;
    // nullopt when the release is not known (the body is not searched) or no
    // chunk of the body holds the record.
    std::optional<VersionRecord> record;
};

// Opens the file, reads its header and closes it again. A file that cannot be
// opened raises platform::NilObjectException.
DocumentHeader ReadHeader(const platform::Ref<platform::FolderItem>& file);

// Opens the file again, scans its body for the version record of the header's
// release and closes it. For a release that is not known the file is not
// opened and the result is nullopt. A file that cannot be opened raises
// platform::NilObjectException.
std::optional<VersionRecord> FindVersionRecord(const platform::Ref<platform::FolderItem>& file,
                                               const DocumentHeader& header);

// ReadHeader, then FindVersionRecord, with CS5.5 told apart.
DocumentInspection Inspect(const platform::Ref<platform::FolderItem>& file);

}  // namespace halvoric
