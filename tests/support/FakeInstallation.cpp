#include "tests/support/FakeInstallation.h"

#include <QImage>
#include <QString>
#include <fstream>

#include "platform/Files.h"

namespace halvoric::testing {

namespace fs = std::filesystem;

platform::ApplicationInfo TestApplicationInfo(int major, int minor, int bug, const std::string& longVersion) {
    return {.name = "Halvoric",
            .majorVersion = major,
            .minorVersion = minor,
            .bugVersion = bug,
            .longVersion = longVersion,
            .serviceHost = kClosedServiceHost,
            .resourcesFolder = platform::InstallationResourcesFolder(platform::ExecutableFile())};
}

void FakeInstallation::SetUp() {
    ASSERT_TRUE(temp_.isValid());
    root_ = fs::path(temp_.path().toStdString());
    platform::ApplicationInfo info = TestApplicationInfo();
    info.resourcesFolder = Resources();
    runtime_.emplace(info);
}

void FakeInstallation::TearDown() {
    runtime_.reset();
}

void FakeInstallation::MakeResources() const {
    fs::create_directories(Resources());
}

void FakeInstallation::WriteImage(const std::string& name, int width, int height, QColor colour) const {
    MakeResources();
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(colour);
    ASSERT_TRUE(image.save(QString::fromStdString((Resources() / name).string()), "TIFF"));
}

void FakeInstallation::WriteBytes(const std::string& name, const std::string& bytes) const {
    MakeResources();
    std::ofstream(Resources() / name, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace halvoric::testing
