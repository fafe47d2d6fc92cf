#pragma once

#include <gtest/gtest.h>

#include <QColor>
#include <QTemporaryDir>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/Application.h"

namespace halvoric::testing {

// Port 1 on the loopback: a service there refuses at once, and nothing leaves
// the machine.
inline constexpr const char* kClosedServiceHost = "127.0.0.1:1";

// The info the tests run the application with: Halvoric at that version, with
// no application id or icon, its service at kClosedServiceHost, installed
// where this test program runs (the build tree, its pictures in Resources
// beside bin/), which is found as the program finds its own installation.
platform::ApplicationInfo TestApplicationInfo(int major = 1, int minor = 2, int bug = 0,
                                              const std::string& longVersion = "1.2.0");
// A fake installation in a temporary folder: while the test runs, a framework
// runtime of its own has TestApplicationInfo with <root>/Resources as the
// resources folder.
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
    std::optional<platform::Runtime> runtime_;
};

}  // namespace halvoric::testing
