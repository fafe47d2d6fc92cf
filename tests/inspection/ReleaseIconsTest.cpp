#include "inspection/ReleaseIcons.h"

#include <gtest/gtest.h>

#include <QByteArrayList>
#include <QColor>
#include <QImage>
#include <QImageReader>
#include <QString>
#include <QTemporaryDir>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "tests/support/FakeInstallation.h"

namespace halvoric {
namespace {

namespace fs = std::filesystem;
using platform::Picture;
using platform::Ref;

struct Accessor {
    const char* file;
    std::function<Ref<Picture>()> load;
};

const std::array<Accessor, 8>& Accessors() {
    static const std::array<Accessor, 8> accessors = {{
        {"cs.tif", cs}, {"cs2.tif", cs2}, {"cs3.tif", cs3}, {"cs4.tif", cs4},
        {"cs5.tif", cs5}, {"cs55.tif", cs55}, {"cs6.tif", cs6}, {"und.tif", und},
    }};
    return accessors;
}

// A fake installation whose icon caches start empty and are emptied again
// afterwards.
class ResourcePictureTest : public testing::FakeInstallation {
protected:
    void SetUp() override {
        FakeInstallation::SetUp();
        ForgetReleaseIconsForTesting();
    }
    void TearDown() override {
        FakeInstallation::TearDown();
        ForgetReleaseIconsForTesting();
    }
};

TEST(ReleaseIconFiles, TiffReaderIsPresent) {
    const QByteArrayList formats = QImageReader::supportedImageFormats();
    EXPECT_TRUE(formats.contains("tif") && formats.contains("tiff"))
        << "Qt's TIFF reader is missing: install qt6-image-formats-plugins";
}

// The pictures the build copied beside bin/, found the way the application
// finds them (this test program runs from the build tree's bin/ too).
TEST(ReleaseIconFiles, CommittedPicturesLoadAtTheirSizesAndDiffer) {
    ForgetReleaseIconsForTesting();
    const fs::path resources = platform::InstallationResourcesFolder(platform::ExecutableFile());
    ASSERT_TRUE(fs::is_directory(resources));
    EXPECT_EQ(fs::canonical(resources), fs::canonical(HALVORIC_RESOURCES_BUILD_DIR));
    const platform::Runtime runtime(testing::TestApplicationInfo());

    std::array<Ref<Picture>, 8> icons;
    for (std::size_t i = 0; i < icons.size(); ++i) {
        icons[i] = Accessors()[i].load();
        ASSERT_TRUE(icons[i]) << Accessors()[i].file;
        EXPECT_EQ(icons[i]->Width(), 64) << Accessors()[i].file;
        EXPECT_EQ(icons[i]->Height(), 64) << Accessors()[i].file;
    }
    for (std::size_t i = 0; i < icons.size(); ++i) {
        for (std::size_t j = i + 1; j < icons.size(); ++j) {
            EXPECT_NE(icons[i]->Image(), icons[j]->Image())
                << Accessors()[i].file << " and " << Accessors()[j].file << " look the same";
        }
    }

    Ref<Picture> logoCache;
    const Ref<Picture> logo = platform::LoadResourcePicture(resources, logoCache, "morvel.tif");
    ASSERT_TRUE(logo);
    EXPECT_EQ(logo->Width(), 170);
    EXPECT_EQ(logo->Height(), 65);
    ForgetReleaseIconsForTesting();
}

TEST_F(ResourcePictureTest, EachAccessorLoadsItsOwnFileIntoItsOwnCache) {
    // Distinct widths tell which file an accessor read.
    for (std::size_t i = 0; i < Accessors().size(); ++i) {
        WriteImage(Accessors()[i].file, 10 + static_cast<int>(i), 8);
    }
    std::array<Ref<Picture>, 8> first;
    for (std::size_t i = 0; i < Accessors().size(); ++i) {
        first[i] = Accessors()[i].load();
        ASSERT_TRUE(first[i]) << Accessors()[i].file;
        EXPECT_EQ(first[i]->Width(), 10 + static_cast<int>(i)) << Accessors()[i].file;
    }
    // Gone from disk, still served from the caches, each its own object, and
    // the same through the icon's name.
    fs::remove_all(Resources());
    for (std::size_t i = 0; i < Accessors().size(); ++i) {
        EXPECT_EQ(Accessors()[i].load(), first[i]) << Accessors()[i].file;
        const std::string file = Accessors()[i].file;
        EXPECT_EQ(ReleaseIcon(file.substr(0, file.size() - 4)), first[i]) << file;
    }
    EXPECT_FALSE(ReleaseIcon("cs7"));
    EXPECT_FALSE(ReleaseIcon("cs.tif"));
    EXPECT_FALSE(ReleaseIcon(""));
}

TEST_F(ResourcePictureTest, Cs5AndCs55KeepSeparateCaches) {
    WriteImage("cs55.tif", 64, 64, Qt::darkRed);
    EXPECT_FALSE(cs5());
    const Ref<Picture> picked55 = cs55();
    ASSERT_TRUE(picked55);
    EXPECT_FALSE(cs5()) << "loading cs55 filled the cs5 cache";

    // An inspection ending in CS5.5 asks for the header's icon first, then cs55.
    WriteImage("cs5.tif", 64, 64, QColor(255, 128, 0));
    const Ref<Picture> picked5 = cs5();
    ASSERT_TRUE(picked5);
    EXPECT_NE(picked5, picked55);
    EXPECT_EQ(picked5->Image().pixelColor(0, 0), QColor(255, 128, 0));
    EXPECT_EQ(cs55(), picked55);
    EXPECT_EQ(cs5(), picked5);
}

TEST_F(ResourcePictureTest, UnknownReleaseIconIsCachedLikeTheOthers) {
    EXPECT_FALSE(und());
    WriteImage("und.tif", 64, 64, Qt::gray);
    const Ref<Picture> first = und();
    ASSERT_TRUE(first);
    WriteImage("und.tif", 64, 64, Qt::black);
    EXPECT_EQ(und(), first);
}

}  // namespace
}  // namespace halvoric
