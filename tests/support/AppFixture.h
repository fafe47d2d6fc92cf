#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Application.h"
#include "tests/support/FakeInstallation.h"
#include "tests/support/RecordingDesktop.h"

class QAction;
class QWidget;

namespace halvoric::testing {

// The visible top-level window that shows the application's menu bar where
// there is no global one: titled "Halvoric", with a menu bar. nullptr while
// there is none.
QWidget* MenuBarHost();

// The action of the command captioned `caption` in the menus of the menu bar
// of `window`; nullptr when there is no such command, bar or window.
QAction* Command(const QWidget* window, const QString& caption);

// A framework runtime of the test's own, made with `info` before each test
// and ended after it (with the program's module state), the desktop recorded,
// and the service at kClosedServiceHost, so nothing leaves the machine.
// Nothing is started: Launch starts the application as its entry does.
class LaunchFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Ends the runtime and lets go of the program's module state, then makes
    // the runtime anew with `with`, which becomes `info`.
    virtual void Start(const platform::ApplicationInfo& with);
    void Stop();

    // Starts the application in a runtime made anew with `info`, as `halvoric`
    // started with `documents`, and runs its event loop. Once Open has been
    // delivered, `ready` is asked every 5 ms; when it holds, `whenRunning` is
    // called once. A run that has not ended after 20 s is ended with status 99,
    // so that a fault fails the test instead of hanging it. Returns the exit
    // status.
    int Launch(const std::vector<std::string>& documents, const std::function<bool()>& ready,
               const std::function<void()>& whenRunning);

    platform::ApplicationInfo info = TestApplicationInfo();
    DesktopRecord desktop;
    std::optional<platform::Runtime> runtime;
};

// A started application in the test's own process: as LaunchFixture, and the
// program's start-up steps have run (document type, application object with
// its menu bar, menu bindings), also at each Start.
class AppFixture : public LaunchFixture {
protected:
    void Start(const platform::ApplicationInfo& with) override;
};

}  // namespace halvoric::testing
