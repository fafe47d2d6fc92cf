// The picture loader for the application's resources folder: found anew
// until a picture loads, then kept.
#include <gtest/gtest.h>

#include <QColor>
#include <filesystem>
#include <fstream>

#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/Picture.h"
#include "tests/support/FakeInstallation.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using ResourcePictureTest = halvoric::testing::FakeInstallation;

TEST_F(ResourcePictureTest, NoResourcesFolderGivesNilAndIsLookedUpAgain) {
    Ref<Picture> cache;
    EXPECT_FALSE(LoadResourcePicture(Resources(), cache, "cs2.tif"));
    EXPECT_FALSE(cache);

    // A file where the folder should be is no resources folder either.
    std::ofstream(Resources()) << "not a folder";
    EXPECT_FALSE(LoadResourcePicture(Resources(), cache, "cs2.tif"));
    fs::remove(Resources());

    WriteImage("cs2.tif", 64, 64);
    const Ref<Picture> loaded = LoadResourcePicture(Resources(), cache, "cs2.tif");
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded, cache);
    EXPECT_EQ(loaded->Width(), 64);
}

TEST_F(ResourcePictureTest, MissingFileGivesNilThenLoadsWhenAdded) {
    MakeResources();
    Ref<Picture> cache;
    EXPECT_FALSE(LoadResourcePicture(Resources(), cache, "cs2.tif"));
    EXPECT_FALSE(LoadResourcePicture(Resources(), cache, "cs2.tif"));
    EXPECT_FALSE(cache);

    WriteImage("cs2.tif", 64, 64);
    ASSERT_TRUE(LoadResourcePicture(Resources(), cache, "cs2.tif"));
    EXPECT_TRUE(cache);
}

TEST_F(ResourcePictureTest, FileThatIsNoImageGivesNilAndIsTriedAgain) {
    WriteBytes("cs3.tif", std::string("II*\0 this is not a picture", 27));
    Ref<Picture> cache;
    EXPECT_FALSE(LoadResourcePicture(Resources(), cache, "cs3.tif"));
    WriteBytes("cs3.tif", "");
    EXPECT_FALSE(LoadResourcePicture(Resources(), cache, "cs3.tif"));
    fs::remove(Resources() / "cs3.tif");
    fs::create_directory(Resources() / "cs3.tif");
    EXPECT_FALSE(LoadResourcePicture(Resources(), cache, "cs3.tif"));
    EXPECT_FALSE(cache);

    fs::remove(Resources() / "cs3.tif");
    WriteImage("cs3.tif", 64, 64);
    EXPECT_TRUE(LoadResourcePicture(Resources(), cache, "cs3.tif"));
}

TEST_F(ResourcePictureTest, LoadedPictureIsKeptWithoutTouchingTheDiskAgain) {
    WriteImage("cs6.tif", 64, 64, Qt::red);
    Ref<Picture> cache;
    const Ref<Picture> first = LoadResourcePicture(Resources(), cache, "cs6.tif");
    ASSERT_TRUE(first);

    // Replaced on disk: the old picture stays.
    WriteImage("cs6.tif", 32, 16, Qt::blue);
    const Ref<Picture> second = LoadResourcePicture(Resources(), cache, "cs6.tif");
    EXPECT_EQ(second, first);
    EXPECT_EQ(second->Width(), 64);
    EXPECT_EQ(second->Image().pixelColor(0, 0), QColor(Qt::red));

    // An executable at "/" has no resources folder: any lookup would raise. A
    // loaded cache answers without one.
    fs::remove_all(Resources());
    EXPECT_EQ(LoadResourcePicture(InstallationResourcesFolder(Make<FolderItem>("/")), cache, "cs6.tif"), first);
}

TEST_F(ResourcePictureTest, LookupFailuresPassThroughAndLeaveTheCacheEmpty) {
    WriteImage("cs.tif", 64, 64);
    Ref<Picture> cache;

    // A name the folder can give no child for.
    EXPECT_THROW(LoadResourcePicture(Resources(), cache, ""), NilObjectException);
    EXPECT_THROW(LoadResourcePicture(Resources(), cache, "../cs.tif"), NilObjectException);
    EXPECT_FALSE(cache);

    // The executable's folders are missing.
    EXPECT_THROW(LoadResourcePicture(InstallationResourcesFolder(Make<FolderItem>("/")), cache, "cs.tif"),
                 NilObjectException);
    EXPECT_FALSE(cache);

    EXPECT_TRUE(LoadResourcePicture(InstallationResourcesFolder(Make<FolderItem>(root_ / "bin" / "halvoric")), cache,
                                    "cs.tif"));
}

}  // namespace
}  // namespace platform
