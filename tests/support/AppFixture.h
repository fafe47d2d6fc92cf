#pragma once

#include <gtest/gtest.h>

#include "tests/support/FakeInstallation.h"
#include "tests/support/RecordingDesktop.h"

namespace halvoric::testing {

// A started application in the test's own process: the framework's state is
// reset, the program's start-up steps have run (document type, application
// object with its menu bar, menu bindings), and the desktop is recorded. The
// service host points at a closed port on 127.0.0.1, so nothing leaves the
// machine.
class AppFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    DesktopRecord desktop;
};

}  // namespace halvoric::testing
