#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Desktop.h"
#include "platform/Files.h"

namespace halvoric::testing {

// Answers the desktop's dialogs and records what the program showed and
// opened, so that tests run without a person.
struct DesktopRecord {
    std::vector<std::string> messages;
    std::vector<std::string> urls;
    int fileDialogs = 0;
    std::vector<std::string> fileDialogFilters;  // "name:extensions" of the types offered
    std::optional<std::filesystem::path> fileToChoose;  // nullopt: the user cancels
    std::function<void()> onMessage;  // runs while a message box is up
};

class RecordingDesktop final : public platform::DesktopServices {
public:
    explicit RecordingDesktop(DesktopRecord& record) : record_(record) {}
    void ShowMessage(const std::string& text) override;
    std::optional<std::filesystem::path> ChooseFileToOpen(const std::vector<const platform::FileType*>& types) override;
    void OpenURL(const std::string& url) override;

private:
    DesktopRecord& record_;
};

// Processes events until `condition` holds or `timeoutMs` passes; returns
// whether it holds. `pauseMs` rests between tests of a condition that is
// costly to test (one that asks another process).
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000, int pauseMs = 0);

}  // namespace halvoric::testing
