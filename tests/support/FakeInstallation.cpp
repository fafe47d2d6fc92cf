#include "tests/support/FakeInstallation.h"

#include <QImage>
#include <QString>
#include <fstream>

#include "platform/Files.h"

namespace halvoric::testing {

namespace fs = std::filesystem;

void FakeInstallation::SetUp() {
    ASSERT_TRUE(temp_.isValid());
    root_ = fs::path(temp_.path().toStdString());
    fs::create_directories(root_ / "bin");
    std::ofstream(root_ / "bin" / "halvoric") << "#!/bin/sh\n";
    platform::SetExecutableFileForTesting(root_ / "bin" / "halvoric");
}

void FakeInstallation::TearDown() {
    platform::SetExecutableFileForTesting(std::nullopt);
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
