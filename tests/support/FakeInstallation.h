#pragma once

#include <gtest/gtest.h>

#include <QColor>
#include <QTemporaryDir>
#include <filesystem>
#include <string>

namespace halvoric::testing {

// A fake installation in a temporary folder: <root>/bin/halvoric is reported as
// the running executable, so the resources folder is <root>/Resources.
class FakeInstallation : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::filesystem::path Resources() const { return root_ / "Resources"; }
    void MakeResources() const;

    // A plain TIFF image of the given size and colour.
    void WriteImage(const std::string& name, int width, int height, QColor colour = Qt::red) const;
    void WriteBytes(const std::string& name, const std::string& bytes) const;

    QTemporaryDir temp_;
    std::filesystem::path root_;
};

}  // namespace halvoric::testing
