#include "tests/support/AppFixture.h"

#include "platform/Application.h"
#include "shell/Startup.h"
#include "update/ServiceHost.h"

namespace halvoric::testing {

void AppFixture::SetUp() {
    platform::ResetRuntimeForTesting();
    ReleaseModuleState();
    UseVersion(1, 2, 0, "1.2.0");
    // Port 1 on the loopback: refused at once.
    SetServiceHostForTesting("127.0.0.1:1");
    platform::SetDesktopServices(std::make_unique<RecordingDesktop>(desktop));
    Startup();
}

void AppFixture::TearDown() {
    platform::ResetRuntimeForTesting();
    ReleaseModuleState();
    platform::SetDesktopServices(nullptr);
    SetServiceHostForTesting(std::nullopt);
}

}  // namespace halvoric::testing
