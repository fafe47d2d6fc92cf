// The window-free answer for one document: what Inspect reads from real and
// crafted files, and that it opens no window.
#include "inspection/Inspection.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <filesystem>

#include "platform/Exceptions.h"
#include "platform/Application.h"
#include "tests/support/CraftedDocument.h"

namespace halvoric {
namespace {

namespace fs = std::filesystem;
using platform::FolderItem;
using platform::Make;
using testing::CraftedDocument;
using testing::TemporaryFolder;
constexpr auto BE = HeaderLayout::BigEndian;
constexpr auto LE = HeaderLayout::LittleEndian;

DocumentInspection InspectFile(const fs::path& path) {
    return Inspect(Make<FolderItem>(path));
}

TEST(Inspection, TheRealDocumentsAnswerWithoutAnyWindow) {
    const fs::path samples = HALVORIC_SAMPLES_DIR;
    if (!fs::exists(samples / "cs-be-mac.indd")) GTEST_SKIP() << "no sample documents here";

    const DocumentInspection mac = InspectFile(samples / "cs-be-mac.indd");
    EXPECT_EQ(mac.release.majorVersionByte, 0x03);
    EXPECT_EQ(mac.release.name, "Adobe InDesign CS");
    EXPECT_EQ(mac.release.icon, "cs");
    ASSERT_TRUE(mac.record);
    EXPECT_EQ(mac.record->buildString, "3.0.0.424");
    EXPECT_EQ(mac.record->edition, "Macintosh Edition");

    // Its body holds no record: the release comes from the header alone.
    const DocumentInspection windows = InspectFile(samples / "cs6-le-windows.indd");
    EXPECT_EQ(windows.release.majorVersionByte, 0x08);
    EXPECT_EQ(windows.release.name, "Adobe InDesign CS6");
    EXPECT_EQ(windows.release.icon, "cs6");
    EXPECT_FALSE(windows.record);

    EXPECT_EQ(platform::WindowCount(), 0);
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
}

TEST(Inspection, EachRoadGivesItsValue) {
    TemporaryFolder folder;

    // A release byte outside the table: unknown, and the body is not searched
    // even when it holds a record.
    const DocumentInspection unknown = InspectFile(
        CraftedDocument(BE, 0x09, 50000).VersionRecord(45000, "5.0.4.682", 0x00).WriteTo(folder.File("unknown.indd")));
    EXPECT_EQ(unknown.release.majorVersionByte, 0x09);
    EXPECT_EQ(unknown.release.name, "バージョン不明");
    EXPECT_EQ(unknown.release.icon, "und");
    EXPECT_FALSE(unknown.release.Known());
    EXPECT_FALSE(unknown.record);

    // Too short for a release byte at all.
    const DocumentInspection empty = InspectFile(CraftedDocument(LE, 0).WriteTo(folder.File("empty.indd")));
    EXPECT_EQ(empty.release.majorVersionByte, std::nullopt);
    EXPECT_EQ(empty.release.icon, "und");
    EXPECT_FALSE(empty.record);

    // A known release whose body ends before the scan starts.
    const DocumentInspection shortBody =
        InspectFile(CraftedDocument(LE, 0x06, 40960).WriteTo(folder.File("short.indd")));
    EXPECT_EQ(shortBody.release.name, "Adobe InDesign CS4");
    EXPECT_FALSE(shortBody.record);

    // A record whose version-number text marks CS5.5: the header's byte stays,
    // name and icon become CS5.5; the raw bytes come back unchanged.
    const std::string build("5.5\xff\x00.401", 8);
    const DocumentInspection cs55 = InspectFile(
        CraftedDocument(LE, 0x07, 50000).BodyMarker(44000).VersionRecord(45000, build, 0x01).WriteTo(folder.File("cs55.indd")));
    EXPECT_EQ(cs55.release.majorVersionByte, 0x07);
    EXPECT_EQ(cs55.release.name, "Adobe InDesign CS5.5");
    EXPECT_EQ(cs55.release.icon, "cs55");
    ASSERT_TRUE(cs55.record);
    EXPECT_EQ(cs55.record->buildString.substr(0, build.size()), build);
    EXPECT_EQ(cs55.record->edition, "Windows Edition");

    // The same record under a CS5 header that does not mark CS5.5.
    const DocumentInspection cs5 = InspectFile(
        CraftedDocument(BE, 0x07, 50000).BodyMarker(44000).VersionRecord(45000, "7.0.4.553", 0x02).WriteTo(folder.File("cs5.indd")));
    EXPECT_EQ(cs5.release.name, "Adobe InDesign CS5");
    EXPECT_EQ(cs5.release.icon, "cs5");
    ASSERT_TRUE(cs5.record);
    EXPECT_EQ(cs5.record->buildString.substr(0, 9), "7.0.4.553");
    EXPECT_EQ(cs5.record->edition, "Not understand");
}

TEST(Inspection, AFileThatCannotBeOpenedRaises) {
    TemporaryFolder folder;
    EXPECT_THROW(InspectFile(folder.File("missing.indd")), platform::NilObjectException);
    EXPECT_THROW(InspectFile(folder.Path()), platform::NilObjectException);
}

}  // namespace
}  // namespace halvoric
