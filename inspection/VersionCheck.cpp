// The inspection of one document: its header gives the byte layout and the
// release, the version record in its body the version-number text and the
// edition. The result goes into a new result window as it is found.

#include <string>

#include "inspection/DocumentFormat.h"
#include "inspection/ReleaseIcons.h"
#include "inspection/Window1.h"
#include "platform/Desktop.h"
#include "platform/Picture.h"
#include "platform/Text.h"
#include "shell/Class1.h"

namespace halvoric {

using namespace platform;

namespace {

// The release icon for a release byte of the release table, or `und`.
Ref<Picture> ReleasePicture(std::optional<std::uint8_t> majorVersionByte) {
    switch (majorVersionByte.value_or(0)) {
        case 0x03: return cs();
        case 0x04: return cs2();
        case 0x05: return cs3();
        case 0x06: return cs4();
        case 0x07: return cs5();
        case 0x08: return cs6();
        default: return und();
    }
}

}  // namespace

void Class1::VersionCheck(const Ref<FolderItem>& file) {
    try {
        auto window = New<Window1>();
        window->SetTitle(file->Name());
        window->Label1()->SetText(file->Name());

        auto stream = file->OpenAsBinaryFile(false);
        const std::string header = stream->Read(kHeaderLength);
        stream->Close();

        const HeaderLayout layout = LayoutOf(header);
        const std::optional<std::uint8_t> majorVersionByte = MajorVersionByte(header, layout);
        const std::optional<std::string_view> releaseName = ReleaseName(majorVersionByte);

        window->Canvas1()->SetBackdrop(ReleasePicture(majorVersionByte));
        if (!releaseName) {
            window->StaticText2()->SetText("バージョン不明");
            window->StaticText3()->SetText("");
            return;
        }
        window->StaticText2()->SetText(std::string(*releaseName));

        stream = file->OpenAsBinaryFile(false);
        const ScanResult scan = VersionRecordScan(*stream, *majorVersionByte, layout);
        stream->Close();

        // Only a chunk that passed the release's test holds the version record;
        // without one the version and the edition are unknown. (A chunk that
        // passed holds its marker, so it is never empty.)
        if (!scan.passed) {
            window->StaticText5()->SetText("不明");
            window->StaticText3()->SetText("不明");
            return;
        }

        const std::string buildString = BuildString(scan.chunk, layout);
        window->StaticText5()->SetText(buildString);
        if (MarksCs55(buildString)) {
            window->Canvas1()->SetBackdrop(cs55());
            window->StaticText2()->SetText("Adobe InDesign CS5.5");
        }
        window->StaticText3()->SetText(std::string(EditionText(EditionByte(scan.chunk, layout))));
    } catch (const RuntimeException&) {
        MsgBox("エラーが起こりましたので" + std::string(EndOfLine) + "終了します");
        Quit(0);
    }
}

}  // namespace halvoric
