#include "tests/support/RecordingDesktop.h"

#include <QThread>

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

bool WaitFor(const std::function<bool()>& condition, int timeoutMs, int pauseMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        if (pauseMs > 0) QThread::msleep(static_cast<unsigned long>(pauseMs));
    }
    return true;
}

}  // namespace halvoric::testing
