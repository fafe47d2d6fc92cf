#pragma once

// The real executable on a desktop of the test's own: an X server (Xvfb,
// with no window manager) and a session bus (dbus-daemon). The windows are
// looked at as the X server has them (titles, geometry, stacking, the process
// that owns each), the application's name as the bus has it.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "product/Product.h"
#include "tests/support/CraftedDocument.h"
#include "tests/support/DesktopSession.h"

namespace halvoric::testing {

// Generous deadlines: a start includes the launch report's time-out.
constexpr int kWindowsMs = 30000;
constexpr int kExitMs = 30000;

inline const std::string kMenuBarTitle = "Halvoric";
inline const std::string kApplicationId{product::kApplicationId};

class DesktopTest : public ::testing::Test {
protected:
    using Window = PrivateDisplay::Window;

    void SetUp() override {
        display = std::make_unique<PrivateDisplay>();
        ASSERT_TRUE(display->Started()) << "Xvfb did not start (scripts/packages.sh installs it)";
        bus = std::make_unique<PrivateBus>(folder.Path());
        ASSERT_TRUE(bus->Started()) << "dbus-daemon did not start (scripts/packages.sh installs it)";
        std::filesystem::create_directory(folder.File("runtime"));
        std::filesystem::permissions(folder.File("runtime"), std::filesystem::perms::owner_all);
        std::filesystem::create_directory(documents());
    }

    // The launches first (they talk to the server and the bus), then the bus
    // and the server. A stopped launch is let go on, so that it can end.
    void TearDown() override {
        for (const auto& launch : launches) launch->Signal(SIGCONT);
        launches.clear();
        bus.reset();
        display.reset();
    }

    std::filesystem::path documents() const { return folder.File("documents"); }

    // A crafted InDesign CS6 document named `name` in the documents folder.
    void Document(const std::string& name) const {
        CraftedDocument(HeaderLayout::LittleEndian, 0x08, 100).WriteTo(documents() / name);
    }

    // Starts `halvoric` with `arguments` (file names relative to the documents
    // folder, which is the launch's working folder) in the test's session.
    ChildProcess& Launch(const std::vector<std::string>& arguments, bool withBus = true) {
        Environment environment = SystemEnvironment();
        environment["DISPLAY"] = display->Name();
        environment["QT_QPA_PLATFORM"] = "xcb";
        environment["XDG_RUNTIME_DIR"] = folder.File("runtime").string();
        environment["DBUS_SESSION_BUS_ADDRESS"] =
            withBus ? bus->Address() : "unix:path=" + folder.File("no-bus").string();
        environment.erase("DESKTOP_STARTUP_ID");
        environment.erase("XDG_ACTIVATION_TOKEN");
        if (OwnNetworkNamespace()) {
            std::vector<std::string> command{"--net", HALVORIC_EXECUTABLE};
            command.insert(command.end(), arguments.begin(), arguments.end());
            launches.push_back(std::make_unique<ChildProcess>("unshare", command, environment, documents(), true));
        } else {
            launches.push_back(
                std::make_unique<ChildProcess>(HALVORIC_EXECUTABLE, arguments, environment, documents(), true));
        }
        EXPECT_TRUE(launches.back()->Started());
        return *launches.back();
    }

    // Whether a launch can run in a network namespace of its own. There its
    // launch report's look-up of the service host fails at once, without a
    // query to the system's name server, while the X server and the bus stay
    // reachable through their sockets in the file system. (unshare execs the
    // program, so the launch's process id is the program's.)
    static bool OwnNetworkNamespace() {
        static const bool available = [] {
            ChildProcess probe("unshare", {"--net", "true"}, SystemEnvironment());
            return probe.WaitForExit(10000) && probe.ExitStatus() == 0;
        }();
        return available;
    }

    std::vector<Window> WindowsOf(pid_t pid) const {
        std::vector<Window> windows = display->Windows();
        std::erase_if(windows, [pid](const Window& window) { return window.pid != pid; });
        return windows;
    }

    static int Titled(const std::vector<Window>& windows, const std::string& title) {
        return static_cast<int>(
            std::count_if(windows.begin(), windows.end(), [&](const Window& window) { return window.title == title; }));
    }

    // Waits until the process shows at least the windows titled `titles`.
    bool WaitForWindows(pid_t pid, const std::vector<std::string>& titles) const {
        return PollUntil([&] {
            const std::vector<Window> windows = WindowsOf(pid);
            return std::all_of(titles.begin(), titles.end(),
                               [&](const std::string& title) { return Titled(windows, title) > 0; });
        }, kWindowsMs);
    }

    // The process's message box (a dialog window), once it shows one.
    std::optional<Window> WaitForMessageBox(pid_t pid) const {
        std::optional<Window> box;
        PollUntil([&] {
            for (const Window& window : WindowsOf(pid)) {
                if (display->Property(window.id, "_NET_WM_WINDOW_TYPE").find("_NET_WM_WINDOW_TYPE_DIALOG") !=
                    std::string::npos) {
                    box = window;
                    return true;
                }
            }
            return false;
        }, kWindowsMs);
        return box;
    }

    // The connections that own or wait for the application's name, once there
    // are `count` of them.
    std::vector<std::string> WaitForQueue(std::size_t count) const {
        std::vector<std::string> queue;
        PollUntil([&] {
            queue = bus->Queue(kApplicationId);
            return queue.size() == count;
        }, kWindowsMs);
        return queue;
    }

    // Waits until all but one of `started` have ended, each with status 0,
    // and returns the one left, which owns the application's name; nullptr
    // when that does not come.
    ChildProcess* TheOneLeft(const std::vector<ChildProcess*>& started) {
        const bool allButOne = PollUntil([&] {
            return std::count_if(started.begin(), started.end(), [](ChildProcess* p) { return !p->Running(); }) ==
                   static_cast<long>(started.size()) - 1;
        }, kExitMs);
        EXPECT_TRUE(allButOne) << Report();
        if (!allButOne) return nullptr;
        ChildProcess* left = nullptr;
        for (ChildProcess* launch : started) {
            if (launch->Running()) {
                left = launch;
            } else {
                EXPECT_EQ(launch->ExitStatus(), 0) << launch->ErrorOutput();
            }
        }
        if (left) {
            EXPECT_EQ(bus->OwnerPid(kApplicationId), left->Pid()) << Report();
        }
        return left;
    }

    static std::string Describe(const std::vector<Window>& windows) {
        std::string text;
        for (const Window& window : windows) text += "[" + window.title + " pid " + std::to_string(window.pid) + "] ";
        return text;
    }

    // The windows on the server, the name's owner and what each launch has
    // said, for a failure.
    std::string Report() {
        std::string text = "windows: " + Describe(display->Windows());
        const std::optional<pid_t> owner = bus->OwnerPid(kApplicationId);
        text += "\nthe name's owner: " + (owner ? std::to_string(*owner) : std::string("none"));
        for (const auto& launch : launches) {
            text += "\nlaunch " + std::to_string(launch->Pid()) + (launch->Running() ? " running" : " ended");
            if (const std::optional<int> status = launch->ExitStatus()) {
                text += " with status " + std::to_string(*status);
            }
            text += ", said: " + launch->ErrorOutput();
        }
        return text;
    }

    TemporaryFolder folder;
    std::unique_ptr<PrivateDisplay> display;
    std::unique_ptr<PrivateBus> bus;
    std::vector<std::unique_ptr<ChildProcess>> launches;
};

}  // namespace halvoric::testing
