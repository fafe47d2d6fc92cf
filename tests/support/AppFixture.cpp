#include "tests/support/AppFixture.h"

#include "platform/Application.h"
#include "shell/Startup.h"

namespace halvoric::testing {

void AppFixture::SetUp() {
    platform::ResetRuntimeForTesting();
    ReleaseModuleState();
    UseVersion(1, 2, 0, "1.2.0");
    platform::SetDesktopServices(std::make_unique<RecordingDesktop>(desktop));
    Startup();
}

void AppFixture::TearDown() {
    platform::ResetRuntimeForTesting();
    ReleaseModuleState();
    platform::SetDesktopServices(nullptr);
}

}  // namespace halvoric::testing
