// The update check through its menu item, the launch report through the real
// start-up and event loop, and the update notice window through Qt events.
// Every request goes to a TLS server that the test starts on 127.0.0.1.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Application.h"
#include "platform/Desktop.h"
#include "platform/Files.h"
#include "platform/Window.h"
#include "product/Product.h"
#include "shell/Class1.h"
#include "tests/support/AppFixture.h"
#include "tests/support/CraftedDocument.h"
#include "tests/support/TestClock.h"
#include "tests/support/TlsTestServer.h"
#include "update/UpdateWin.h"

namespace {

using halvoric::UpdateWin;
using halvoric::testing::AppFixture;
using halvoric::testing::Command;
using halvoric::testing::LaunchFixture;
using halvoric::testing::MenuBarHost;
using halvoric::testing::WaitFor;
using platform::Ref;
using testsupport::TestClock;
using testsupport::TlsTestServer;
using testsupport::WaitUntil;
using Ending = TlsTestServer::Ending;

const std::string kLatest = "最新版を使用しています。";
const std::string kFailed = "通信に障害があり、確認できませんでした。";
const QString kNoticeTitle = QStringLiteral("ヴァージョンアップ情報");

std::string HttpReply(const std::string& body, const std::string& status = "200 OK") {
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n" + body;
}

// The request bytes the client sends for `form` to `path` on the server.
std::string ExpectedRequest(const TlsTestServer& server, const std::string& path, const std::string& form) {
    return "POST " + path + " HTTP/1.0\r\n" +
           "Accept: */*\r\n"
           "Accept-Language: en\r\n"
           "Host: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n" +
           "Content-type: application/x-www-form-urlencoded\r\n" +
           "Content-length: " + std::to_string(form.size()) + "\r\n\r\n" + form;
}

// `info` with the service at `port` on 127.0.0.1, trusted by the test CA,
// with its time-outs on `clock`.
platform::ApplicationInfo ServiceAt(platform::ApplicationInfo info, int port,
                                    std::shared_ptr<const platform::Clock> clock) {
    info.serviceHost = "127.0.0.1:" + std::to_string(port);
    info.connectionSettings = TlsTestServer::TrustingSettings();
    info.clock = std::move(clock);
    return info;
}

// Visible top-level windows with that title.
int VisibleWindowsTitled(const QString& title) {
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->windowTitle() == title) ++count;
    }
    return count;
}

// Visible top-level windows other than the menu bar's host.
int VisibleWindowsBesideTheMenuBar() {
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget != MenuBarHost()) ++count;
    }
    return count;
}

Ref<UpdateWin> OpenNotice() {
    return platform::Cast<UpdateWin>(platform::GetImplicitWindow(UpdateWin::kClassName));
}

// ---- the update check through its menu item ------------------------------------------------

class UpdateCheckTest : public AppFixture {
protected:
    // Starts the application anew with its service at `port`.
    void PointServiceAt(int port, std::shared_ptr<const platform::Clock> clock = platform::SystemClock()) {
        Start(ServiceAt(info, port, std::move(clock)));
    }

    // What a user does: bring the window with the menu bar to the front and
    // press Ctrl+R. The check runs to its end inside the key press.
    void PressUpdateCheckShortcut() {
        QWidget* host = MenuBarHost();
        ASSERT_NE(host, nullptr);
        host->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(host));
        QAction* action = Command(host, QStringLiteral("Update Check"));
        ASSERT_NE(action, nullptr);
        ASSERT_EQ(action->shortcut(), QKeySequence(Qt::ControlModifier | Qt::Key_R));
        QTest::keyClick(QApplication::activeWindow(), Qt::Key_R, Qt::ControlModifier);
    }

    // The other road: open the Edit menu of the menu bar with the mouse and
    // click "Update Check" in it.
    void ChooseUpdateCheckFromTheMenu() {
        QWidget* host = MenuBarHost();
        ASSERT_NE(host, nullptr);
        host->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(host));
        auto* bar = host->findChild<QMenuBar*>();
        ASSERT_NE(bar, nullptr);
        QMenu* edit = nullptr;
        for (QAction* top : bar->actions()) {
            if (top->text() == QStringLiteral("Edit")) edit = top->menu();
        }
        ASSERT_NE(edit, nullptr);
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(edit->menuAction()).center());
        ASSERT_TRUE(WaitFor([edit] { return edit->isVisible(); }, 10000));
        QAction* item = Command(host, QStringLiteral("Update Check"));
        ASSERT_NE(item, nullptr);
        ASSERT_TRUE(item->isEnabled());
        QTest::mouseClick(edit, Qt::LeftButton, {}, edit->actionGeometry(item).center());
    }

    // Runs one update check against a server that answers every connection
    // with `reply`, and returns the server's recorded requests.
    std::vector<std::string> CheckAgainst(const std::string& reply) {
        TlsTestServer server(TlsTestServer::Reply(reply));
        PointServiceAt(server.Port());
        PressUpdateCheckShortcut();
        return server.Requests();
    }
};

TEST_F(UpdateCheckTest, TrueShowsTheOneUpdateNoticeAndASecondTrueShowsTheSameOne) {
    TlsTestServer server(TlsTestServer::Reply(HttpReply("true")));
    PointServiceAt(server.Port());

    PressUpdateCheckShortcut();
    Ref<UpdateWin> first = OpenNotice();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->Widget()->isVisible());
    EXPECT_EQ(platform::WindowCount(), 1);
    EXPECT_EQ(VisibleWindowsTitled(kNoticeTitle), 1);
    EXPECT_TRUE(desktop.messages.empty());

    // Minimised, then found and shown again by the second check.
    first->Widget()->showMinimized();
    PressUpdateCheckShortcut();
    Ref<UpdateWin> second = OpenNotice();
    EXPECT_EQ(second.Get(), first.Get());
    EXPECT_EQ(platform::WindowCount(), 1);
    EXPECT_EQ(VisibleWindowsTitled(kNoticeTitle), 1);
    EXPECT_FALSE(first->Widget()->isMinimized());
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_TRUE(desktop.urls.empty());

    // Two checks, two connections, each carrying the whole request.
    EXPECT_EQ(server.Connections(), 2);
    const std::string expected = ExpectedRequest(server, "/www/ssl/vcheck.php", "app_id=3&ver=120&regi=Halvoric");
    EXPECT_EQ(server.Requests(), (std::vector<std::string>{expected, expected}));
}

TEST_F(UpdateCheckTest, AResultWindowsMenuBarRunsTheSameCheck) {
    TlsTestServer server(TlsTestServer::Reply(HttpReply("true")));
    PointServiceAt(server.Port());
    halvoric::testing::TemporaryFolder folder;
    const auto document =
        halvoric::testing::CraftedDocument(halvoric::HeaderLayout::LittleEndian, 0x07, 4096).WriteTo(folder.File("a.indd"));
    halvoric::App()->VersionCheck(platform::Make<platform::FolderItem>(document));
    ASSERT_EQ(platform::WindowCount(), 1);
    QWidget* result = platform::WindowAt(0)->Widget();
    ASSERT_EQ(result->windowTitle(), QStringLiteral("a.indd"));
    ASSERT_NE(Command(result, QStringLiteral("Update Check")), nullptr);

    for (int check = 1; check <= 2; ++check) {
        SCOPED_TRACE("check " + std::to_string(check));
        result->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(result));
        QTest::keyClick(result, Qt::Key_R, Qt::ControlModifier);
        EXPECT_EQ(server.Connections(), check);
        EXPECT_TRUE(OpenNotice());
        EXPECT_EQ(platform::WindowCount(), 2);  // the result window and one notice
        EXPECT_EQ(VisibleWindowsTitled(kNoticeTitle), 1);
    }
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(UpdateCheckTest, FalseShowsThatTheLatestVersionIsInUse) {
    TlsTestServer server(TlsTestServer::Reply(HttpReply("false")));
    PointServiceAt(server.Port());
    ChooseUpdateCheckFromTheMenu();
    ASSERT_TRUE(WaitFor([this] { return !desktop.messages.empty(); }, 10000));
    EXPECT_EQ(desktop.messages, std::vector<std::string>{kLatest});
    EXPECT_EQ(platform::WindowCount(), 0);
    EXPECT_FALSE(OpenNotice());
    EXPECT_EQ(server.Requests(),
              std::vector<std::string>{
                  ExpectedRequest(server, "/www/ssl/vcheck.php", "app_id=3&ver=120&regi=Halvoric")});
}

TEST_F(UpdateCheckTest, TwoChecksInARowUseTwoConnections) {
    TlsTestServer server(TlsTestServer::Reply(HttpReply("false")));
    PointServiceAt(server.Port());
    PressUpdateCheckShortcut();
    PressUpdateCheckShortcut();
    EXPECT_EQ(desktop.messages, (std::vector<std::string>{kLatest, kLatest}));
    EXPECT_EQ(server.Connections(), 2);
    EXPECT_EQ(server.Requests().size(), 2u);
}

TEST_F(UpdateCheckTest, TheVersionSentFollowsTheApplicationsVersionData) {
    Start(halvoric::testing::TestApplicationInfo(1, 10, 3, "1.10.3"));
    TlsTestServer server(TlsTestServer::Reply(HttpReply("false")));
    PointServiceAt(server.Port());
    PressUpdateCheckShortcut();
    EXPECT_EQ(server.Requests(),
              std::vector<std::string>{
                  ExpectedRequest(server, "/www/ssl/vcheck.php", "app_id=3&ver=1103&regi=Halvoric")});
    EXPECT_EQ(desktop.messages, std::vector<std::string>{kLatest});
}

TEST_F(UpdateCheckTest, OnlyABodyOfExactlyTrueOrFalseCounts) {
    const std::vector<std::string> bodies = {"true\r\n", " true", "", "false\n", "truefalse", "<html>true</html>"};
    for (const std::string& body : bodies) {
        SCOPED_TRACE("body \"" + body + "\"");
        desktop.messages.clear();
        const auto requests = CheckAgainst(HttpReply(body));
        EXPECT_EQ(requests.size(), 1u);
        EXPECT_EQ(desktop.messages, std::vector<std::string>{kFailed});
        EXPECT_EQ(platform::WindowCount(), 0);
    }
}

TEST_F(UpdateCheckTest, TheStatusIsNotLookedAtOnlyTheBody) {
    CheckAgainst(HttpReply("false", "404 Not Found"));
    EXPECT_EQ(desktop.messages, std::vector<std::string>{kLatest});
    EXPECT_EQ(platform::WindowCount(), 0);

    CheckAgainst(HttpReply("true", "500 Internal Server Error"));
    EXPECT_TRUE(OpenNotice());
    EXPECT_EQ(platform::WindowCount(), 1);
    EXPECT_EQ(desktop.messages, std::vector<std::string>{kLatest});
}

TEST_F(UpdateCheckTest, ARefusedConnectionOrAnUntrustedServerShowsTheFailureMessage) {
    // The clock stands: neither failure waits for the time-out.
    TestClock clock;
    PointServiceAt(TlsTestServer::UnusedPort(), clock);
    PressUpdateCheckShortcut();
    EXPECT_EQ(desktop.messages, std::vector<std::string>{kFailed});

    TlsTestServer::Script selfSigned = TlsTestServer::Reply(HttpReply("true"));
    selfSigned.certificate = TlsTestServer::Certificate::SelfSigned;
    TlsTestServer untrusted(selfSigned);
    PointServiceAt(untrusted.Port(), clock);
    PressUpdateCheckShortcut();
    EXPECT_EQ(desktop.messages, (std::vector<std::string>{kFailed, kFailed}));
    EXPECT_TRUE(untrusted.Requests().empty());
    EXPECT_EQ(platform::WindowCount(), 0);
}

// A service that takes the connection and never answers: the check gives up
// at the first tick after its ten seconds and shows the failure. The test
// clock stands while the check holds the event loop; another thread moves it
// to the ten seconds, sees the check still waiting (it goes on reading the
// clock, the connection stays), then one tick on, and sees the connection
// closed.
TEST_F(UpdateCheckTest, AServiceThatNeverAnswersFailsAtTheFirstTickAfterTenSeconds) {
    TlsTestServer server(TlsTestServer::NeverHandshake());
    TestClock clock;
    PointServiceAt(server.Port(), clock);
    const std::int64_t start = clock.Ticks();
    bool waitingAtTenSeconds = false;
    bool gaveUpAfterThem = false;
    std::thread mover([&] {
        WaitUntil([&] { return server.Connections() == 1; });
        clock.SetTicks(start + 600);
        waitingAtTenSeconds = clock.WaitForReads(20) && server.ClientCloses() == 0;
        clock.SetTicks(start + 601);
        gaveUpAfterThem = WaitUntil([&] { return server.ClientCloses() == 1; });
        if (!gaveUpAfterThem) clock.SetTicks(start + 100000);  // let the check end
    });
    PressUpdateCheckShortcut();
    mover.join();
    EXPECT_TRUE(waitingAtTenSeconds);
    EXPECT_TRUE(gaveUpAfterThem);
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_EQ(desktop.messages, std::vector<std::string>{kFailed});
    EXPECT_EQ(platform::WindowCount(), 0);
}

// ---- the launch report through the real start-up and event loop ----------------------------

class LaunchReportTest : public LaunchFixture {
protected:
    // The service the launch reports to.
    void PointServiceAt(int port, std::shared_ptr<const platform::Clock> clock = platform::SystemClock()) {
        info = ServiceAt(info, port, std::move(clock));
    }

    struct Launch {
        int exitStatus = -1;
        qint64 usableAfterMs = -1;  // from start until Update Check and Quit could be chosen
        std::chrono::steady_clock::time_point usableAt;  // that moment
        int windows = -1;           // the program's windows at that moment
        int otherVisibleWindows = -1;
        int requestsWhenUsable = -1;
    };

    // Starts the application in this process as its entry does, with no
    // document, and runs its event loop. Once the launch event has been
    // delivered, a probe looks for the menu bar's Update Check and Quit
    // actions; from the moment both can be chosen it lets `lingerMs` pass and
    // chooses Quit. `requests` tells how many requests the service recorded.
    Launch Run(int major, int minor, int bug, const std::function<int()>& requests = {}, int lingerMs = 200) {
        Launch launch;
        QElapsedTimer clock;
        clock.start();
        info.majorVersion = major;
        info.minorVersion = minor;
        info.bugVersion = bug;
        info.longVersion = std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(bug);
        const auto usableAndLingered = [&] {
            if (launch.usableAfterMs < 0) {
                QAction* check = Command(MenuBarHost(), QStringLiteral("Update Check"));
                QAction* quit = Command(MenuBarHost(), QStringLiteral("Quit"));
                if (!check || !quit || !check->isEnabled() || !quit->isEnabled()) return false;
                launch.usableAfterMs = clock.elapsed();
                launch.usableAt = std::chrono::steady_clock::now();
                launch.windows = platform::WindowCount();
                launch.otherVisibleWindows = VisibleWindowsBesideTheMenuBar();
                if (requests) launch.requestsWhenUsable = requests();
            }
            return clock.elapsed() >= launch.usableAfterMs + lingerMs;
        };
        launch.exitStatus = LaunchFixture::Launch({}, usableAndLingered,
                                                  [] { Command(MenuBarHost(), QStringLiteral("Quit"))->trigger(); });
        return launch;
    }
};

// The launch report's own second is checked below. The tests of the road on
// which the report gets through keep the test clock standing, so that the
// report waits for the service however long the handshake takes here.

TEST_F(LaunchReportTest, PostsTheReportOnceAndShowsNothingWhenTheServiceAnswersTrue) {
    TlsTestServer server(TlsTestServer::Reply(HttpReply("true")));
    TestClock clock;
    PointServiceAt(server.Port(), clock);
    const Launch launch = Run(1, 2, 0, [&server] { return static_cast<int>(server.Requests().size()); });

    EXPECT_EQ(launch.exitStatus, 0);  // quit through the menu's Quit item
    EXPECT_EQ(launch.requestsWhenUsable, 1);
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_EQ(server.Requests(),
              std::vector<std::string>{
                  ExpectedRequest(server, "/www/ssl/kcheck.php", "app_id=3&ver=120&regi=Halvorik")});
    EXPECT_EQ(launch.windows, 0);
    EXPECT_EQ(launch.otherVisibleWindows, 0);
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_TRUE(desktop.urls.empty());
    EXPECT_EQ(desktop.fileDialogs, 0);
}

TEST_F(LaunchReportTest, ShowsNothingWhenTheServiceAnswersGarbageAndSendsTheCompactVersion) {
    TlsTestServer server(TlsTestServer::Reply(HttpReply(std::string("\0\xff<html>false</html>\r\n", 22), "502 Bad Gateway")));
    TestClock clock;
    PointServiceAt(server.Port(), clock);
    const Launch launch = Run(1, 10, 3, [&server] { return static_cast<int>(server.Requests().size()); });

    EXPECT_EQ(launch.exitStatus, 0);
    EXPECT_EQ(launch.requestsWhenUsable, 1);
    EXPECT_EQ(server.Requests(),
              std::vector<std::string>{
                  ExpectedRequest(server, "/www/ssl/kcheck.php", "app_id=3&ver=1103&regi=Halvorik")});
    EXPECT_EQ(launch.windows, 0);
    EXPECT_EQ(launch.otherVisibleWindows, 0);
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(LaunchReportTest, ShowsNothingWhenTheServiceIsUnreachable) {
    // The clock stands: the start goes on at the refusal, not at the time-out.
    TestClock clock;
    PointServiceAt(TlsTestServer::UnusedPort(), clock);
    const Launch launch = Run(1, 2, 0);

    EXPECT_EQ(launch.exitStatus, 0);
    EXPECT_GE(launch.usableAfterMs, 0);
    EXPECT_EQ(launch.windows, 0);
    EXPECT_EQ(launch.otherVisibleWindows, 0);
    EXPECT_TRUE(desktop.messages.empty());
}

// The report's time-out is one second of real time: a service whose address
// never answers the connection holds the start for that second. The test clock
// runs at the real pace here; its first reading tells when the report's wait
// began, so that a slow start-up does not count. The upper bound leaves a
// loaded machine two seconds beyond the wait.
TEST_F(LaunchReportTest, AServiceThatNeverAnswersTheConnectionLeavesTheMenuBarUsableAfterASecond) {
    const int port = TlsTestServer::UnusedPort();
    testsupport::UnansweredListener unanswered("127.0.0.2", port);
    ASSERT_TRUE(unanswered.Listening());
    TestClock clock;
    info = ServiceAt(info, port, clock);
    info.serviceHost = "127.0.0.2:" + std::to_string(port);
    clock.Run();
    const Launch launch = Run(1, 2, 0, {}, 0);
    EXPECT_EQ(launch.exitStatus, 0);
    ASSERT_TRUE(clock.FirstRead());
    const auto waited = launch.usableAt - *clock.FirstRead();
    EXPECT_GE(waited, std::chrono::seconds(1));
    EXPECT_LT(waited, std::chrono::seconds(1) + std::chrono::seconds(2));
    EXPECT_EQ(launch.otherVisibleWindows, 0);
    EXPECT_TRUE(desktop.messages.empty());
}

// The same second, to the tick, once the report has reached the service: the
// test clock stands while the report is sent, then another thread moves it to
// the second, sees the report still waiting (it goes on reading the clock, the
// connection stays), then one tick on, and sees the connection closed.
TEST_F(LaunchReportTest, AServiceThatReadsTheReportAndNeverAnswersHoldsTheStartUntilTheFirstTickAfterASecond) {
    TlsTestServer server(TlsTestServer::Reply("", Ending::KeepOpen));
    TestClock clock;
    PointServiceAt(server.Port(), clock);
    const std::int64_t start = clock.Ticks();
    bool waitingAtOneSecond = false;
    bool gaveUpAfterIt = false;
    std::thread mover([&] {
        WaitUntil([&] { return server.Requests().size() == 1; });
        // The client wrote the request in the Poll that saw the connection
        // come up; the time-out restarts once that Poll has returned, at the
        // client's next reading of the clock, which still stands.
        clock.WaitForReads(10);
        clock.SetTicks(start + 60);
        waitingAtOneSecond = clock.WaitForReads(20) && server.ClientCloses() == 0;
        clock.SetTicks(start + 61);
        gaveUpAfterIt = WaitUntil([&] { return server.ClientCloses() == 1; });
        if (!gaveUpAfterIt) clock.SetTicks(start + 100000);  // let the start go on
    });
    const Launch launch = Run(1, 2, 0, [&server] { return static_cast<int>(server.Requests().size()); }, 0);
    mover.join();
    EXPECT_TRUE(waitingAtOneSecond);
    EXPECT_TRUE(gaveUpAfterIt);
    EXPECT_EQ(launch.exitStatus, 0);
    EXPECT_EQ(launch.requestsWhenUsable, 1);
    EXPECT_EQ(server.Requests(),
              std::vector<std::string>{
                  ExpectedRequest(server, "/www/ssl/kcheck.php", "app_id=3&ver=120&regi=Halvorik")});
    EXPECT_EQ(launch.otherVisibleWindows, 0);
    EXPECT_TRUE(desktop.messages.empty());
}

// ---- the update notice window ---------------------------------------------------------------

// Records the links handed to the system and whether the update notice was
// still open at that moment.
class LinkRecordingDesktop final : public platform::DesktopServices {
public:
    struct Opened {
        std::string url;
        bool noticeOpen = false;
    };
    explicit LinkRecordingDesktop(std::vector<Opened>& opened) : opened_(opened) {}
    void ShowMessage(const std::string&) override { ADD_FAILURE() << "the update notice shows no message"; }
    std::optional<std::filesystem::path> ChooseFileToOpen(const std::vector<const platform::FileType*>&) override {
        ADD_FAILURE() << "the update notice asks for no file";
        return std::nullopt;
    }
    void OpenURL(const std::string& url) override { opened_.push_back({url, static_cast<bool>(OpenNotice())}); }

private:
    std::vector<Opened>& opened_;
};

class UpdateWinTest : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        platform::SetDesktopServices(std::make_unique<LinkRecordingDesktop>(opened));
        notice = UpdateWin::Instance();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(notice->Widget()));
    }

    void TearDown() override {
        notice = nullptr;
        AppFixture::TearDown();
    }

    QPushButton* Later() const { return notice->PushButton1()->ButtonWidget(); }
    QPushButton* VisitSite() const { return notice->PushButton2()->ButtonWidget(); }

    bool Closed() const { return !notice->IsOpen() && !notice->Widget()->isVisible() && !OpenNotice(); }

    std::vector<LinkRecordingDesktop::Opened> opened;
    Ref<UpdateWin> notice;
};

TEST_F(UpdateWinTest, LooksAsDesigned) {
    QWidget* window = notice->Widget();
    EXPECT_EQ(window->windowTitle(), kNoticeTitle);
    EXPECT_EQ(notice->Content()->size(), QSize(250, 100));
    // Placed in the middle of the screen (give or take the frame's border).
    const QPoint offCentre =
        window->frameGeometry().center() - QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 10);
    EXPECT_EQ(OpenNotice().Get(), notice.Get());
    EXPECT_EQ(platform::WindowCount(), 1);
    EXPECT_FALSE(notice->MenuBar());
    EXPECT_EQ(window->findChild<QMenuBar*>(), nullptr);

    const QLabel* label = notice->Label1()->LabelWidget();
    EXPECT_EQ(notice->Label1()->Text(), "新しいバージョンが公開されています。");
    EXPECT_EQ(label->text(), QStringLiteral("新しいバージョンが公開されています。"));
    EXPECT_EQ(label->geometry(), QRect(10, 15, 230, 20));
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0, 0, 0));
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_FALSE(label->wordWrap());
    EXPECT_EQ(label->textInteractionFlags(), Qt::NoTextInteraction);
    EXPECT_TRUE(label->alignment().testFlag(Qt::AlignLeft));

    EXPECT_EQ(Later()->text(), QStringLiteral("また後で"));
    EXPECT_EQ(Later()->geometry(), QRect(160, 55, 80, 20));
    EXPECT_EQ(VisitSite()->text(), QStringLiteral("サイトを見に行く"));
    EXPECT_EQ(VisitSite()->geometry(), QRect(10, 55, 140, 20));
    for (QWidget* control : {static_cast<QWidget*>(const_cast<QLabel*>(label)), static_cast<QWidget*>(Later()),
                             static_cast<QWidget*>(VisitSite())}) {
        EXPECT_EQ(control->parentWidget(), notice->Content());
        EXPECT_TRUE(control->isVisible());
        EXPECT_TRUE(control->isEnabled());
    }

    // "サイトを見に行く" is the default button; neither is a cancel button.
    EXPECT_TRUE(notice->PushButton2()->Default());
    EXPECT_TRUE(VisitSite()->isDefault());
    EXPECT_FALSE(notice->PushButton1()->Default());
    EXPECT_FALSE(Later()->isDefault());
    EXPECT_FALSE(notice->PushButton1()->Cancel());
    EXPECT_FALSE(notice->PushButton2()->Cancel());

    // Tab order: the label, "また後で", "サイトを見に行く".
    EXPECT_EQ(label->nextInFocusChain(), Later());
    EXPECT_EQ(Later()->nextInFocusChain(), VisitSite());
}

TEST_F(UpdateWinTest, IsResizableWithinItsLimitsAndHasNoMaximiseButton) {
    QWidget* window = notice->Widget();
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_EQ(window->minimumSize(), QSize(64, 64));
    EXPECT_EQ(window->maximumSize(), QSize(32000, 32000));

    const QRect label = notice->Label1()->Widget()->geometry();
    const QRect later = Later()->geometry();
    const QRect visit = VisitSite()->geometry();
    window->resize(800, 500);
    QApplication::processEvents();
    EXPECT_EQ(window->size(), QSize(800, 500));
    EXPECT_EQ(notice->Label1()->Widget()->geometry(), label);
    EXPECT_EQ(Later()->geometry(), later);
    EXPECT_EQ(VisitSite()->geometry(), visit);

    window->resize(10, 10);
    EXPECT_EQ(window->size(), QSize(64, 64));
    window->resize(40000, 40000);
    EXPECT_EQ(window->size(), QSize(32000, 32000));
}

TEST_F(UpdateWinTest, VisitSiteOpensTheMakersWebPageThenCloses) {
    QTest::mouseClick(VisitSite(), Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].url, std::string(halvoric::product::kWebPage));
    EXPECT_TRUE(opened[0].noticeOpen);  // the page first, the close after it
    EXPECT_TRUE(Closed());
    EXPECT_EQ(platform::WindowCount(), 0);

    // The next notice is a new window.
    Ref<UpdateWin> next = UpdateWin::Instance();
    EXPECT_NE(next.Get(), notice.Get());
    EXPECT_TRUE(next->IsOpen());
}

TEST_F(UpdateWinTest, ReturnPressesTheDefaultButton) {
    notice->Widget()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(notice->Widget()));
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus ? focus : notice->Widget(), Qt::Key_Escape);  // no cancel button
    QApplication::processEvents();
    EXPECT_TRUE(notice->IsOpen());

    focus = QApplication::focusWidget();
    QTest::keyClick(focus ? focus : notice->Widget(), Qt::Key_Return);
    ASSERT_TRUE(WaitFor([this] { return !opened.empty(); }, 10000));
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].url, std::string(halvoric::product::kWebPage));
    EXPECT_TRUE(Closed());
}

TEST_F(UpdateWinTest, LaterAndTheCloseBoxOnlyClose) {
    QTest::mouseClick(Later(), Qt::LeftButton);
    EXPECT_TRUE(Closed());
    EXPECT_TRUE(opened.empty());

    notice = UpdateWin::Instance();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(notice->Widget()));
    EXPECT_TRUE(notice->Widget()->close());
    EXPECT_TRUE(Closed());
    EXPECT_EQ(platform::WindowCount(), 0);
    QApplication::processEvents();
    EXPECT_TRUE(opened.empty());
}

}  // namespace
