#include "inspection/Inspection.h"

namespace halvoric {

Release ReleaseOf(std::optional<std::uint8_t> majorVersionByte) {
    return {majorVersionByte, ReleaseName(majorVersionByte).value_or("バージョン不明"),
            ReleaseIconName(majorVersionByte)};
}

Release AsCs55(const Release& release) {
    return {release.majorVersionByte, "Adobe InDesign CS5.5", "cs55"};
}

DocumentHeader ReadHeader(const platform::Ref<platform::FolderItem>& file) {
    const auto stream = file->OpenAsBinaryFile(false);
    const std::string header = stream->Read(kHeaderLength);
    stream->Close();
    const HeaderLayout layout = LayoutOf(header);
    return {layout, ReleaseOf(MajorVersionByte(header, layout))};
}

std::optional<VersionRecord> FindVersionRecord(const platform::Ref<platform::FolderItem>& file,
                                               const DocumentHeader& header) {
    if (!header.release.Known()) return std::nullopt;
    const auto stream = file->OpenAsBinaryFile(false);
    const ScanResult scan = VersionRecordScan(*stream, *header.release.majorVersionByte, header.layout);
    stream->Close();
    // Only a chunk that passed the release's test holds the version record.
    if (!scan.passed) return std::nullopt;
    return VersionRecord{BuildString(scan.chunk, header.layout),
                         EditionText(EditionByte(scan.chunk, header.layout))};
}

DocumentInspection Inspect(const platform::Ref<platform::FolderItem>& file) {
    const DocumentHeader header = ReadHeader(file);
    DocumentInspection inspection{header.release, FindVersionRecord(file, header)};
    if (inspection.record && MarksCs55(inspection.record->buildString)) {
        inspection.release = AsCs55(inspection.release);
    }
    return inspection;
}

}  // namespace halvoric
