#include "tests/support/AppFixture.h"

#include "platform/Application.h"
#include "shell/Startup.h"
#include "update/ServiceHost.h"

namespace halvoric::testing {

void RecordingDesktop::ShowMessage(const std::string& text) {
    record_.messages.push_back(text);
    if (record_.onMessage) record_.onMessage();
}

std::optional<std::filesystem::path> RecordingDesktop::ChooseFileToOpen(
    const std::vector<const platform::FileType*>& types) {
    ++record_.fileDialogs;
    for (const auto* type : types) record_.fileDialogFilters.push_back(type->Name + ":" + type->Extensions);
    return record_.fileToChoose;
}

void RecordingDesktop::OpenURL(const std::string& url) {
    record_.urls.push_back(url);
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void UseVersion(int major, int minor, int bug, const std::string& longVersion) {
    platform::SetApplicationInfoForTesting({"Halvoric", major, minor, bug, longVersion});
}

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
