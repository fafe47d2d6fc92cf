#include "tests/support/AppFixture.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include "shell/Startup.h"

namespace halvoric::testing {

QWidget* MenuBarHost() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->windowTitle() == "Halvoric" && widget->findChild<QMenuBar*>()) {
            return widget;
        }
    }
    return nullptr;
}

QAction* Command(const QWidget* window, const QString& caption) {
    const QMenuBar* bar = window ? window->findChild<QMenuBar*>() : nullptr;
    if (!bar) return nullptr;
    for (const QAction* menu : bar->actions()) {
        if (!menu->menu()) continue;
        for (QAction* action : menu->menu()->actions()) {
            if (action->text() == caption) return action;
        }
    }
    return nullptr;
}

void LaunchFixture::SetUp() {
    platform::SetDesktopServices(std::make_unique<RecordingDesktop>(desktop));
    Start(info);
}

void LaunchFixture::TearDown() {
    Stop();
    platform::SetDesktopServices(nullptr);
}

void LaunchFixture::Start(const platform::ApplicationInfo& with) {
    Stop();
    info = with;
    runtime.emplace(info);
}

void LaunchFixture::Stop() {
    runtime.reset();
    ReleaseModuleState();
}

int LaunchFixture::Launch(const std::vector<std::string>& documents, const std::function<bool()>& ready,
                          const std::function<void()>& whenRunning) {
    LaunchFixture::Start(info);
    std::vector<std::string> arguments{"halvoric"};
    arguments.insert(arguments.end(), documents.begin(), documents.end());
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    int argc = static_cast<int>(arguments.size());
    platform::RunFrameworkInitialization(argc, argv.data(), &Startup);

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!runtime->OpenDelivered() || !ready()) return;
        poll.stop();
        whenRunning();
    });
    poll.start(5);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { platform::Quit(99); });
    guard.start(20000);
    return platform::RuntimeRun();
}

void AppFixture::Start(const platform::ApplicationInfo& with) {
    LaunchFixture::Start(with);
    Startup();
}

}  // namespace halvoric::testing
