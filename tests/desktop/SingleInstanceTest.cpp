// The real executable on a desktop of the test's own: an X server (Xvfb,
// with no window manager) and a session bus (dbus-daemon). One running
// application per session: a second launch hands its documents to the first
// and ends; the windows are looked at as the X server has them (titles,
// geometry, stacking, the process that owns each).

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/CraftedDocument.h"
#include "tests/support/DesktopSession.h"

namespace halvoric {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using testing::CraftedDocument;
using testing::PollUntil;
using testing::PrivateBus;
using testing::PrivateDisplay;
using testing::TemporaryFolder;
using Window = PrivateDisplay::Window;

// Generous deadlines: a start includes the launch report's time-out.
constexpr int kWindowsMs = 30000;
constexpr int kExitMs = 30000;

const std::string kMenuBarTitle = "Halvoric";
const std::string kSpaced = "two words.indd";
const std::string kJapanese = "日本語.indd";
const std::string kNotUtf8 = "caf\xE9.indd";
// How the title shows a name that is not UTF-8: the byte becomes U+FFFD.
const std::string kNotUtf8Title = "caf\xEF\xBF\xBD.indd";

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        display = std::make_unique<PrivateDisplay>();
        ASSERT_TRUE(display->Started()) << "Xvfb did not start (scripts/packages.sh installs it)";
        bus = std::make_unique<PrivateBus>(folder.Path());
        ASSERT_TRUE(bus->Started()) << "dbus-daemon did not start (scripts/packages.sh installs it)";
        fs::create_directory(folder.File("runtime"));
        fs::permissions(folder.File("runtime"), fs::perms::owner_all);
        fs::create_directory(documents());
    }

    // The launches first (they talk to the server and the bus), then the bus
    // and the server.
    void TearDown() override {
        launches.clear();
        bus.reset();
        display.reset();
    }

    fs::path documents() const { return folder.File("documents"); }

    // A crafted InDesign CS6 document named `name` in the documents folder.
    void Document(const std::string& name) const {
        CraftedDocument(HeaderLayout::LittleEndian, 0x08, 100).WriteTo(documents() / name);
    }

    // Starts `halvoric` with `arguments` (file names relative to the documents
    // folder, which is the launch's working folder) in the test's session.
    ChildProcess& Launch(const std::vector<std::string>& arguments, bool withBus = true) {
        testing::Environment environment = testing::SystemEnvironment();
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
            launches.push_back(std::make_unique<ChildProcess>("unshare", command, environment, documents()));
        } else {
            launches.push_back(
                std::make_unique<ChildProcess>(HALVORIC_EXECUTABLE, arguments, environment, documents()));
        }
        EXPECT_TRUE(launches.back()->Started());
        return *launches.back();
    }

    // Whether a launch can run in a network namespace of its own. There its
    // launch report's look-up of the service host fails at once, without a
    // query to the system's name server, while the X server and the bus stay
    // reachable through their sockets in the file system.
    static bool OwnNetworkNamespace() {
        static const bool available = [] {
            ChildProcess probe("unshare", {"--net", "true"}, testing::SystemEnvironment());
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

    static std::string Describe(const std::vector<Window>& windows) {
        std::string text;
        for (const Window& window : windows) text += "[" + window.title + " pid " + std::to_string(window.pid) + "] ";
        return text;
    }

    // The windows on the server and what each launch has said, for a failure.
    std::string Report() {
        std::string text = "windows: " + Describe(display->Windows());
        for (const auto& launch : launches) {
            text += "\nlaunch " + std::to_string(launch->Pid()) + (launch->Running() ? " running" : " ended");
            if (const std::optional<int> status = launch->ExitStatus()) text += " with status " + std::to_string(*status);
            text += ", said: " + launch->ErrorOutput();
        }
        return text;
    }

    TemporaryFolder folder;
    std::unique_ptr<PrivateDisplay> display;
    std::unique_ptr<PrivateBus> bus;
    std::vector<std::unique_ptr<ChildProcess>> launches;
};

TEST_F(SingleInstanceTest, ASecondLaunchHandsItsDocumentsToTheFirstAndEndsWithStatusZero) {
    for (const auto& name : {kSpaced, kJapanese, kNotUtf8}) Document(name);
    ChildProcess& first = Launch({});
    ASSERT_TRUE(WaitForWindows(first.Pid(), {kMenuBarTitle})) << Report();

    ChildProcess& second = Launch({kSpaced, kJapanese, kNotUtf8});
    ASSERT_TRUE(second.WaitForExit(kExitMs)) << "the second launch did not end: " << Report();
    EXPECT_EQ(second.ExitStatus(), 0) << second.ErrorOutput();

    // The first shows every document, each in one window titled with exactly
    // its file name; the second showed nothing and made no report of its own.
    ASSERT_TRUE(WaitForWindows(first.Pid(), {kSpaced, kJapanese, kNotUtf8Title})) << Report();
    const std::vector<Window> all = display->Windows();
    for (const auto& title : {kSpaced, kJapanese, kNotUtf8Title}) EXPECT_EQ(Titled(all, title), 1) << title;
    EXPECT_EQ(Titled(all, kMenuBarTitle), 1) << "one menu-bar window: " << Describe(all);
    EXPECT_TRUE(WindowsOf(second.Pid()).empty());
    EXPECT_TRUE(first.Running());
}

TEST_F(SingleInstanceTest, ASecondLaunchWithoutDocumentsBringsTheMenuBarWindowToTheFrontAndEnds) {
    Document(kSpaced);
    ChildProcess& first = Launch({kSpaced});
    ASSERT_TRUE(WaitForWindows(first.Pid(), {kMenuBarTitle, kSpaced})) << Report();
    // With no window manager both stand at the top-left; the result window,
    // opened last, is above the menu-bar window (windows are listed topmost first).
    const auto above = [&](const std::string& upper, const std::string& lower) {
        const std::vector<Window> windows = WindowsOf(first.Pid());
        const auto find = [&](const std::string& title) {
            return std::find_if(windows.begin(), windows.end(), [&](const Window& w) { return w.title == title; });
        };
        return find(upper) < find(lower) && find(lower) != windows.end();
    };
    ASSERT_TRUE(PollUntil([&] { return above(kSpaced, kMenuBarTitle); }, kWindowsMs));

    ChildProcess& second = Launch({});
    ASSERT_TRUE(second.WaitForExit(kExitMs));
    EXPECT_EQ(second.ExitStatus(), 0) << second.ErrorOutput();
    EXPECT_TRUE(PollUntil([&] { return above(kMenuBarTitle, kSpaced); }, kWindowsMs)) << Report();
    EXPECT_EQ(Titled(display->Windows(), kMenuBarTitle), 1);
    EXPECT_EQ(Titled(display->Windows(), kSpaced), 1);
}

TEST_F(SingleInstanceTest, LaunchesAtTheSameMomentEndWithOneApplicationShowingEveryDocument) {
    const std::vector<std::vector<std::string>> sets{{"a.indd"}, {"b c.indd", "日本.indd"}, {}, {"d.indd"}, {"e.indd"}};
    std::vector<std::string> titles;
    for (const auto& set : sets) {
        for (const auto& name : set) {
            Document(name);
            titles.push_back(name);
        }
    }
    std::vector<ChildProcess*> started;
    for (const auto& set : sets) started.push_back(&Launch(set));

    // All but one end, each with status 0; the one left shows everything.
    ASSERT_TRUE(PollUntil([&] {
        return std::count_if(started.begin(), started.end(), [](ChildProcess* p) { return !p->Running(); }) ==
               static_cast<long>(sets.size()) - 1;
    }, kExitMs)) << Report();
    ChildProcess* survivor = nullptr;
    for (ChildProcess* launch : started) {
        if (launch->Running()) {
            survivor = launch;
        } else {
            EXPECT_EQ(launch->ExitStatus(), 0) << launch->ErrorOutput();
        }
    }
    ASSERT_NE(survivor, nullptr);
    titles.push_back(kMenuBarTitle);
    ASSERT_TRUE(WaitForWindows(survivor->Pid(), titles)) << Report();
    const std::vector<Window> all = display->Windows();
    for (const auto& title : titles) EXPECT_EQ(Titled(all, title), 1) << title << ": " << Describe(all);
    EXPECT_EQ(WindowsOf(survivor->Pid()).size(), all.size()) << "windows of another launch: " << Describe(all);
}

TEST_F(SingleInstanceTest, WithoutABusEachLaunchRunsAloneAndSaysNothing) {
    Document(kSpaced);
    ChildProcess& first = Launch({}, /*withBus=*/false);
    ASSERT_TRUE(WaitForWindows(first.Pid(), {kMenuBarTitle})) << Report();
    ChildProcess& second = Launch({kSpaced}, /*withBus=*/false);
    ASSERT_TRUE(WaitForWindows(second.Pid(), {kMenuBarTitle, kSpaced})) << Report();
    EXPECT_TRUE(first.Running());
    EXPECT_TRUE(second.Running());
    EXPECT_EQ(Titled(WindowsOf(first.Pid()), kSpaced), 0);
    // Nothing about the missing bus on the terminal either.
    EXPECT_EQ(second.ErrorOutput().find("DBus"), std::string::npos);
}

TEST_F(SingleInstanceTest, TheMenuBarWindowStandsTopLeftFixedInSizeWithoutMaximiseAndTitlesAreBare) {
    Document(kJapanese);
    ChildProcess& first = Launch({kJapanese});
    ASSERT_TRUE(WaitForWindows(first.Pid(), {kMenuBarTitle, kJapanese})) << Report();
    const std::vector<Window> windows = WindowsOf(first.Pid());
    const auto bar = std::find_if(windows.begin(), windows.end(), [](const Window& w) { return w.title == kMenuBarTitle; });
    ASSERT_NE(bar, windows.end());
    EXPECT_EQ(bar->geometry.topLeft(), QPoint(0, 0));
    EXPECT_GE(bar->geometry.width(), 100);

    // What the window manager is told: minimum and maximum size are the size,
    // and neither the functions nor the decorations offer maximising.
    const QString hints = QString::fromStdString(display->Property(bar->id, "WM_NORMAL_HINTS"));
    const QString size = QStringLiteral("%1 by %2").arg(bar->geometry.width()).arg(bar->geometry.height());
    EXPECT_TRUE(hints.contains("program specified minimum size: " + size)) << hints.toStdString();
    EXPECT_TRUE(hints.contains("program specified maximum size: " + size)) << hints.toStdString();
    const QRegularExpressionMatch motif =
        QRegularExpression(QStringLiteral(R"re(= (0x[0-9a-f]+), (0x[0-9a-f]+), (0x[0-9a-f]+))re"))
            .match(QString::fromStdString(display->Property(bar->id, "_MOTIF_WM_HINTS")));
    ASSERT_TRUE(motif.hasMatch());
    constexpr unsigned kMaximiseFunction = 0x10;
    constexpr unsigned kMaximiseDecoration = 0x40;
    EXPECT_EQ(motif.captured(2).toUInt(nullptr, 16) & kMaximiseFunction, 0u);
    EXPECT_EQ(motif.captured(3).toUInt(nullptr, 16) & kMaximiseDecoration, 0u);

    // The result window's title on the X server is the file name and nothing
    // more (no " — Halvoric").
    const auto result = std::find_if(windows.begin(), windows.end(), [](const Window& w) { return w.title == kJapanese; });
    ASSERT_NE(result, windows.end());
    EXPECT_EQ(display->Property(result->id, "_NET_WM_NAME"), "_NET_WM_NAME(UTF8_STRING) = \"" + kJapanese + "\"\n");
}

}  // namespace
}  // namespace halvoric
