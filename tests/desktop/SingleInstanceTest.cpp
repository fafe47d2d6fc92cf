// One running application per session, with the real executable on a
// desktop of the test's own: a second launch hands its documents to the first
// and ends.

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/desktop/DesktopTest.h"

namespace halvoric {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using testing::kExitMs;
using testing::kMenuBarTitle;
using testing::kWindowsMs;
using testing::PollUntil;
using Window = testing::PrivateDisplay::Window;

const std::string kSpaced = "two words.indd";
const std::string kJapanese = "日本語.indd";
const std::string kNotUtf8 = "caf\xE9.indd";
// How the title shows a name that is not UTF-8: the byte becomes U+FFFD.
const std::string kNotUtf8Title = "caf\xEF\xBF\xBD.indd";

using SingleInstanceTest = testing::DesktopTest;

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
    ChildProcess* survivor = TheOneLeft(started);
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

TEST_F(SingleInstanceTest, TheMenuBarWindowStandsTopLeftFixedInSizeWithoutMaximiseAndTitlesAreBareAndIconsSet) {
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

    // Both carry the application's icon, in the one size of its picture, for
    // a window manager's title bar and task list.
    for (const Window& window : {*bar, *result}) {
        const std::string icon = display->Property(window.id, "_NET_WM_ICON");
        EXPECT_NE(icon.find("Icon (64 x 64)"), std::string::npos) << window.title << ": " << icon.substr(0, 80);
        EXPECT_EQ(QString::fromStdString(icon).count(QStringLiteral("Icon (")), 1) << window.title;
    }
}

}  // namespace
}  // namespace halvoric
