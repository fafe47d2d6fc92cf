// The inspection end to end: crafted and real documents go through
// Class1::VersionCheck, and the result window's labels and icon are checked.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QAccessible>
#include <filesystem>
#include <functional>
#include <string>

#include "inspection/ReleaseIcons.h"
#include "shell/Window1.h"
#include "platform/Application.h"
#include "platform/Files.h"
#include "platform/Picture.h"
#include "platform/Window.h"
#include "shell/Class1.h"
#include "shell/Startup.h"
#include "tests/support/AppFixture.h"
#include "tests/support/CraftedDocument.h"

namespace halvoric {
namespace {

namespace fs = std::filesystem;
using platform::Make;
using platform::Ref;
using testing::CraftedDocument;
using testing::TemporaryFolder;
constexpr auto BE = HeaderLayout::BigEndian;
constexpr auto LE = HeaderLayout::LittleEndian;

// What a result window shows.
struct Shown {
    std::string title, fileName, release, edition, version;
    platform::Picture* icon = nullptr;
};

class VersionCheckTest : public testing::AppFixture {
protected:
    // Inspects the document at `path` and returns what its new window shows.
    Shown Inspect(const fs::path& path) {
        const int before = platform::WindowCount();
        App()->VersionCheck(Make<platform::FolderItem>(path));
        EXPECT_EQ(platform::WindowCount(), before + 1) << "one new result window";
        auto window = platform::Cast<Window1>(platform::WindowAt(0));
        return {window->Title(),
                window->Label1()->Text(),
                window->StaticText2()->Text(),
                window->StaticText3()->Text(),
                window->StaticText5()->Text(),
                window->Canvas1()->Backdrop().Get()};
    }

    Shown Inspect(const CraftedDocument& document, std::string_view name = "document.indd") {
        return Inspect(document.WriteTo(folder.File(name)));
    }

    TemporaryFolder folder;
};

TEST_F(VersionCheckTest, TheReleaseByteOfEitherLayoutPicksNameAndIcon) {
    const struct {
        std::uint8_t byte;
        const char* name;
        Ref<platform::Picture> (*icon)();
    } releases[] = {
        {0x03, "Adobe InDesign CS", &cs},   {0x04, "Adobe InDesign CS2", &cs2}, {0x05, "Adobe InDesign CS3", &cs3},
        {0x06, "Adobe InDesign CS4", &cs4}, {0x07, "Adobe InDesign CS5", &cs5}, {0x08, "Adobe InDesign CS6", &cs6},
    };
    for (const auto layout : {BE, LE}) {
        for (const auto& release : releases) {
            SCOPED_TRACE(release.name);
            const Shown shown = Inspect(CraftedDocument(layout, release.byte, 40960));
            EXPECT_EQ(shown.release, release.name);
            ASSERT_NE(shown.icon, nullptr);
            EXPECT_EQ(shown.icon, release.icon().Get());
        }
    }
    // Big-endian reads byte 32, little-endian byte 29; the other plays no part.
    CraftedDocument both(BE, 0x07, 48);
    both.PutByte(29, 0x04);
    EXPECT_EQ(Inspect(both).release, "Adobe InDesign CS5");
    both.LayoutByte(0x01);
    EXPECT_EQ(Inspect(both).release, "Adobe InDesign CS2");
}

TEST_F(VersionCheckTest, AnUnknownOrMissingReleaseByteShowsTheUnknownRelease) {
    const auto expectUnknown = [](const Shown& shown) {
        EXPECT_EQ(shown.release, "バージョン不明");
        EXPECT_EQ(shown.edition, "");
        EXPECT_EQ(shown.version, "サブバージョン不明");
        EXPECT_EQ(shown.icon, und().Get());
        EXPECT_NE(shown.icon, nullptr);
    };
    expectUnknown(Inspect(CraftedDocument(LE, 0x09, 50000)));
    expectUnknown(Inspect(CraftedDocument(BE, 0x02, 50000)));
    expectUnknown(Inspect(CraftedDocument(LE, 0)));          // empty file
    expectUnknown(Inspect(CraftedDocument(LE, 29)));         // too short for byte 29
    expectUnknown(Inspect(CraftedDocument(BE, 32)));         // too short for byte 32
    CraftedDocument shortHeader(LE, 24);                     // no layout byte: little-endian
    expectUnknown(Inspect(shortHeader));
}

TEST_F(VersionCheckTest, TitleAndHiddenLabelHoldTheFileNameAsWritten) {
    const Shown shown = Inspect(CraftedDocument(LE, 0x08, 100), "<b>チラシ<i> v2.indd");
    EXPECT_EQ(shown.title, "<b>チラシ<i> v2.indd");
    EXPECT_EQ(shown.fileName, "<b>チラシ<i> v2.indd");
    auto window = platform::Cast<Window1>(platform::WindowAt(0));
    EXPECT_FALSE(window->Label1()->Widget()->isVisible());
    EXPECT_EQ(window->Widget()->windowTitle(), QString::fromUtf8("<b>チラシ<i> v2.indd"));
}

TEST_F(VersionCheckTest, ABodyTooShortToScanLeavesVersionAndEditionUnknown) {
    for (const std::int64_t length : {48, 40959, 40960}) {
        SCOPED_TRACE(length);
        const Shown shown = Inspect(CraftedDocument(BE, 0x06, length));
        EXPECT_EQ(shown.release, "Adobe InDesign CS4");
        EXPECT_EQ(shown.edition, "不明");
        EXPECT_EQ(shown.version, "不明");
        EXPECT_EQ(shown.icon, cs4().Get());
    }
}

TEST_F(VersionCheckTest, ARecordFoundInTheBodyGivesVersionAndEdition) {
    // Each edition byte, in each layout, in a chunk far into the body.
    const struct {
        std::uint8_t byte;
        const char* text;
    } editions[] = {{0x00, "Macintosh Edition"}, {0x01, "Windows Edition"}, {0x02, "Not understand"}};
    for (const auto layout : {BE, LE}) {
        for (const auto& edition : editions) {
            SCOPED_TRACE(edition.text);
            CraftedDocument document(layout, 0x06, 200000);
            document.BodyMarker(120000).VersionRecord(120100, "6.0.4.401", edition.byte);
            const Shown shown = Inspect(document);
            EXPECT_EQ(shown.release, "Adobe InDesign CS4");
            EXPECT_EQ(shown.version, "6.0.4.401");
            EXPECT_EQ(shown.edition, edition.text);
        }
    }
}

TEST_F(VersionCheckTest, OnlyTheFirstNineBytesAfterTheLastDelimiterAreTheVersion) {
    CraftedDocument document(LE, 0x08, 60000);
    document.BodyMarker(50000).VersionRecord(50100, "8.0.2.413 and more", 0x01);
    EXPECT_EQ(Inspect(document).version, "8.0.2.413");

    // A chunk that ends with the delimiter: the version is empty, no CS5.5.
    CraftedDocument ending(BE, 0x07, CraftedDocument::ChunkStart(0) + 6144);
    ending.BodyMarker(42000).FieldDelimiter(CraftedDocument::ChunkStart(0) + 6142);
    const Shown shown = Inspect(ending);
    EXPECT_EQ(shown.version, "");
    EXPECT_EQ(shown.release, "Adobe InDesign CS5");
}

TEST_F(VersionCheckTest, AVersionWhoseThirdByteIsFiveMeansCS55WhateverTheHeaderSays) {
    for (const std::uint8_t release : {0x07, 0x03}) {
        SCOPED_TRACE(int(release));
        CraftedDocument document(BE, release, 50000);
        // The record's chunk holds both markers, so either release stops there.
        document.CsMarker(44000).BodyMarker(45000).VersionRecord(45100, "7.5.3.333", 0x00);
        const Shown shown = Inspect(document);
        EXPECT_EQ(shown.release, "Adobe InDesign CS5.5");
        EXPECT_EQ(shown.version, "7.5.3.333");
        EXPECT_EQ(shown.edition, "Macintosh Edition");
        EXPECT_EQ(shown.icon, cs55().Get());
        EXPECT_NE(cs55().Get(), cs5().Get());
    }
    // Fewer than three bytes never make CS5.5.
    CraftedDocument shortVersion(LE, 0x07, 50000);
    shortVersion.BodyMarker(45000).Put(45100, std::string("\x09\x40" "75", 4)).SetLength(45104);
    const Shown shown = Inspect(shortVersion);
    EXPECT_EQ(shown.version, "75");
    EXPECT_EQ(shown.release, "Adobe InDesign CS5");
}

// What a screen reader finds for the release icon, walking the front result
// window's accessible tree: the picture's name, or "(none)" when no picture
// is found.
std::string IconNameForAScreenReader() {
    const auto window = platform::Cast<Window1>(platform::WindowAt(0));
    std::string found = "(none)";
    const std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
        if (!node) return;
        if (node->role() == QAccessible::Graphic && node->object() == window->Canvas1()->Widget()) {
            found = node->text(QAccessible::Name).toStdString();
        }
        for (int index = 0; index < node->childCount(); ++index) walk(node->child(index));
    };
    walk(QAccessible::queryAccessibleInterface(window->Widget()));
    return found;
}

TEST_F(VersionCheckTest, TheReleaseIconIsNamedForAScreenReaderAsTheWindowNamesTheRelease) {
    Inspect(CraftedDocument(LE, 0x07, 40960));
    EXPECT_EQ(IconNameForAScreenReader(), "Adobe InDesign CS5");
    Inspect(CraftedDocument(BE, 0x03, 40960));
    EXPECT_EQ(IconNameForAScreenReader(), "Adobe InDesign CS");
    Inspect(CraftedDocument(LE, 0x09, 100));
    EXPECT_EQ(IconNameForAScreenReader(), "バージョン不明");

    // The version record turns the CS5 icon into the CS5.5 one: the name follows.
    CraftedDocument cs55(BE, 0x07, 50000);
    cs55.BodyMarker(45000).VersionRecord(45100, "7.5.3.333", 0x00);
    EXPECT_EQ(Inspect(cs55).release, "Adobe InDesign CS5.5");
    EXPECT_EQ(IconNameForAScreenReader(), "Adobe InDesign CS5.5");
}

TEST_F(VersionCheckTest, TheCSReleaseLooksForItsOwnMarkerOnly) {
    // A CS marker alone passes for CS; the body marker is not needed.
    CraftedDocument cs(LE, 0x03, 70000);
    cs.Put(60000, std::string("\x09\x40" "3.0.0.424", 11));
    EXPECT_EQ(Inspect(cs).version, "3.0.0.424");
    // For CS2..CS6 the same bytes without a body marker are no record.
    CraftedDocument cs2(LE, 0x04, 70000);
    cs2.Put(60000, std::string("\x09\x40" "3.0.0.424", 11));
    EXPECT_EQ(Inspect(cs2).version, "不明");
}

TEST_F(VersionCheckTest, AMarkerSplitAcrossAChunkEdgeIsFoundInTheNextChunk) {
    CraftedDocument document(BE, 0x08, 100000);
    const std::int64_t edge = CraftedDocument::ChunkStart(3) + 6144;
    document.BodyMarker(edge - 3).VersionRecord(edge + 200, "8.0.0.370", 0x01);
    const Shown shown = Inspect(document);
    EXPECT_EQ(shown.version, "8.0.0.370");
    EXPECT_EQ(shown.edition, "Windows Edition");
}

TEST_F(VersionCheckTest, WithoutARecordTheVersionAndEditionAreUnknownNotGuessed) {
    // Delimiters and edition-looking bytes everywhere, but no body marker: the
    // last chunk is not a record, so none of its bytes may be shown as one.
    CraftedDocument document(LE, 0x08, 90000);
    for (std::int64_t at = 41000; at < 90000; at += 3000) document.VersionRecord(at, "9.9.9.999", 0x01);
    const Shown shown = Inspect(document);
    EXPECT_EQ(shown.release, "Adobe InDesign CS6");
    EXPECT_EQ(shown.version, "不明");
    EXPECT_EQ(shown.edition, "不明");
    EXPECT_EQ(shown.icon, cs6().Get());
}

TEST_F(VersionCheckTest, AnEditionFieldTooShortForTheEditionByteIsNotUnderstood) {
    CraftedDocument document(BE, 0x05, 50000);
    // Body marker, then the delimiter 4 bytes after the previous delimiter.
    document.BodyMarker(45000).FieldDelimiter(45010).Put(45012, "abcd").FieldDelimiter(45016).Put(45018, "5.0.4.682");
    const Shown shown = Inspect(document);
    EXPECT_EQ(shown.version, "5.0.4.682");
    EXPECT_EQ(shown.edition, "Not understand");
}

TEST_F(VersionCheckTest, TheRealDocumentsReadAsTheyWereWritten) {
    const fs::path samples = HALVORIC_SAMPLES_DIR;
    if (!fs::exists(samples / "cs-be-mac.indd")) GTEST_SKIP() << "no sample documents here";

    const Shown mac = Inspect(samples / "cs-be-mac.indd");
    EXPECT_EQ(mac.release, "Adobe InDesign CS");
    EXPECT_EQ(mac.version, "3.0.0.424");
    EXPECT_EQ(mac.edition, "Macintosh Edition");
    EXPECT_EQ(mac.icon, cs().Get());

    // No record in its body: the release comes from the header alone.
    const Shown windows = Inspect(samples / "cs6-le-windows.indd");
    EXPECT_EQ(windows.release, "Adobe InDesign CS6");
    EXPECT_EQ(windows.version, "不明");
    EXPECT_EQ(windows.edition, "不明");
    EXPECT_EQ(windows.title, "cs6-le-windows.indd");
}

TEST_F(VersionCheckTest, EveryDocumentGetsAWindowOfItsOwn) {
    Inspect(CraftedDocument(LE, 0x04, 100), "first.indd");
    auto first = platform::WindowAt(0);
    Inspect(CraftedDocument(BE, 0x05, 100), "second.indd");
    ASSERT_EQ(platform::WindowCount(), 2);
    EXPECT_NE(platform::WindowAt(0), first);
    EXPECT_EQ(first->Title(), "first.indd");
    EXPECT_EQ(platform::Cast<Window1>(first)->StaticText2()->Text(), "Adobe InDesign CS2");
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_FALSE(platform::Quitting());
}

TEST_F(VersionCheckTest, AFileThatCannotBeReadShowsTheMessageAndEndsTheApplication) {
    const auto expectFailure = [this](const fs::path& path, const std::string& name) {
        desktop.messages.clear();
        Start(info);
        const Shown shown = Inspect(path);
        EXPECT_EQ(shown.title, name);
        EXPECT_EQ(shown.fileName, name);
        EXPECT_EQ(shown.release, "Adobe InDesign CS3") << "the window keeps its design texts";
        ASSERT_EQ(desktop.messages.size(), 1u);
        EXPECT_EQ(desktop.messages[0], "エラーが起こりましたので\n終了します");
        EXPECT_TRUE(platform::Quitting());
        EXPECT_EQ(runtime->QuitStatus(), 0);
    };
    expectFailure(folder.File("missing.indd"), "missing.indd");
    fs::create_directory(folder.File("folder.indd"));
    expectFailure(folder.File("folder.indd"), "folder.indd");
    if (::geteuid() != 0) {  // root reads every file
        const fs::path locked = CraftedDocument(LE, 0x08, 100).WriteTo(folder.File("locked.indd"));
        ::chmod(locked.c_str(), 0);
        expectFailure(locked, "locked.indd");
    }
}

}  // namespace
}  // namespace halvoric
