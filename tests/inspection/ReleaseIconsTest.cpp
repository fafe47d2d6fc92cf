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

// A fake installation in a temporary folder: <root>/bin/halvoric is reported as
// the running executable, so the resources folder is <root>/Resources. The
// icon caches start empty and are emptied again afterwards.
class ResourcePictureTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temp_.isValid());
        root_ = fs::path(temp_.path().toStdString());
        fs::create_directories(root_ / "bin");
        std::ofstream(root_ / "bin" / "halvoric") << "#!/bin/sh\n";
        platform::SetExecutableFileForTesting(root_ / "bin" / "halvoric");
        ForgetReleaseIconsForTesting();
    }
    void TearDown() override {
        platform::SetExecutableFileForTesting(std::nullopt);
        ForgetReleaseIconsForTesting();
    }

    fs::path Resources() const { return root_ / "Resources"; }
    void MakeResources() const { fs::create_directories(Resources()); }

    // A plain TIFF image of the given size and colour.
    void WriteImage(const std::string& name, int width, int height, QColor colour = Qt::red) const {
        MakeResources();
        QImage image(width, height, QImage::Format_ARGB32);
        image.fill(colour);
        ASSERT_TRUE(image.save(QString::fromStdString((Resources() / name).string()), "TIFF"));
    }
    void WriteBytes(const std::string& name, const std::string& bytes) const {
        MakeResources();
        std::ofstream(Resources() / name, std::ios::binary | std::ios::trunc) << bytes;
    }

    QTemporaryDir temp_;
    fs::path root_;
};

TEST(ReleaseIconFiles, TiffReaderIsPresent) {
    const QByteArrayList formats = QImageReader::supportedImageFormats();
    EXPECT_TRUE(formats.contains("tif") && formats.contains("tiff"))
        << "Qt's TIFF reader is missing: install qt6-image-formats-plugins";
}

// The pictures the build copied beside bin/, found the way the application
// finds them (this test program runs from the build tree's bin/ too).
TEST(ReleaseIconFiles, CommittedPicturesLoadAtTheirSizesAndDiffer) {
    platform::SetExecutableFileForTesting(std::nullopt);
    ForgetReleaseIconsForTesting();
    const Ref<platform::FolderItem> resources = platform::GetApplicationBundleResources();
    ASSERT_TRUE(resources);
    EXPECT_EQ(fs::canonical(resources->NativePath()), fs::canonical(HALVORIC_RESOURCES_BUILD_DIR));

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
    const Ref<Picture> logo = LoadResourcePicture(logoCache, "morvel.tif");
    ASSERT_TRUE(logo);
    EXPECT_EQ(logo->Width(), 170);
    EXPECT_EQ(logo->Height(), 65);
    ForgetReleaseIconsForTesting();
}

TEST_F(ResourcePictureTest, NoResourcesFolderGivesNilAndIsLookedUpAgain) {
    Ref<Picture> cache;
    EXPECT_FALSE(LoadResourcePicture(cache, "cs2.tif"));
    EXPECT_FALSE(cache);

    // A file where the folder should be is no resources folder either.
    std::ofstream(Resources()) << "not a folder";
    EXPECT_FALSE(LoadResourcePicture(cache, "cs2.tif"));
    fs::remove(Resources());

    WriteImage("cs2.tif", 64, 64);
    const Ref<Picture> loaded = LoadResourcePicture(cache, "cs2.tif");
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded, cache);
    EXPECT_EQ(loaded->Width(), 64);
}

TEST_F(ResourcePictureTest, MissingFileGivesNilThenLoadsWhenAdded) {
    MakeResources();
    Ref<Picture> cache;
    EXPECT_FALSE(LoadResourcePicture(cache, "cs2.tif"));
    EXPECT_FALSE(LoadResourcePicture(cache, "cs2.tif"));
    EXPECT_FALSE(cache);

    WriteImage("cs2.tif", 64, 64);
    ASSERT_TRUE(LoadResourcePicture(cache, "cs2.tif"));
    EXPECT_TRUE(cache);
}

TEST_F(ResourcePictureTest, FileThatIsNoImageGivesNilAndIsTriedAgain) {
    WriteBytes("cs3.tif", std::string("II*\0 this is not a picture", 27));
    Ref<Picture> cache;
    EXPECT_FALSE(LoadResourcePicture(cache, "cs3.tif"));
    WriteBytes("cs3.tif", "");
    EXPECT_FALSE(LoadResourcePicture(cache, "cs3.tif"));
    fs::remove(Resources() / "cs3.tif");
    fs::create_directory(Resources() / "cs3.tif");
    EXPECT_FALSE(LoadResourcePicture(cache, "cs3.tif"));
    EXPECT_FALSE(cache);

    fs::remove(Resources() / "cs3.tif");
    WriteImage("cs3.tif", 64, 64);
    EXPECT_TRUE(LoadResourcePicture(cache, "cs3.tif"));
}

TEST_F(ResourcePictureTest, LoadedPictureIsKeptWithoutTouchingTheDiskAgain) {
    WriteImage("cs6.tif", 64, 64, Qt::red);
    Ref<Picture> cache;
    const Ref<Picture> first = LoadResourcePicture(cache, "cs6.tif");
    ASSERT_TRUE(first);

    // Replaced on disk: the old picture stays.
    WriteImage("cs6.tif", 32, 16, Qt::blue);
    const Ref<Picture> second = LoadResourcePicture(cache, "cs6.tif");
    EXPECT_EQ(second, first);
    EXPECT_EQ(second->Width(), 64);
    EXPECT_EQ(second->Image().pixelColor(0, 0), QColor(Qt::red));

    // An executable at "/" has no parents: any lookup would raise. A loaded
    // cache answers without one.
    fs::remove_all(Resources());
    platform::SetExecutableFileForTesting(fs::path("/"));
    EXPECT_EQ(LoadResourcePicture(cache, "cs6.tif"), first);
}

TEST_F(ResourcePictureTest, LookupFailuresPassThroughAndLeaveTheCacheEmpty) {
    WriteImage("cs.tif", 64, 64);
    Ref<Picture> cache;

    // A name the folder can give no child for.
    EXPECT_THROW(LoadResourcePicture(cache, ""), platform::NilObjectException);
    EXPECT_THROW(LoadResourcePicture(cache, "../cs.tif"), platform::NilObjectException);
    EXPECT_FALSE(cache);

    // The executable's folders are missing.
    platform::SetExecutableFileForTesting(fs::path("/"));
    EXPECT_THROW(LoadResourcePicture(cache, "cs.tif"), platform::NilObjectException);
    EXPECT_FALSE(cache);

    platform::SetExecutableFileForTesting(root_ / "bin" / "halvoric");
    EXPECT_TRUE(LoadResourcePicture(cache, "cs.tif"));
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
    // Gone from disk, still served from the caches, each its own object.
    fs::remove_all(Resources());
    for (std::size_t i = 0; i < Accessors().size(); ++i) {
        EXPECT_EQ(Accessors()[i].load(), first[i]) << Accessors()[i].file;
    }
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
