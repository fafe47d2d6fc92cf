// The application's menu bar where there is no global one: the small window
// that carries it, and its keyboard shortcuts in the windows that carry no
// menu bar of their own (the About window, the update notice). Driven through
// Qt key events.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QDialog>
#include <mutex>
#include <string>
#include <vector>

#include "shell/Window1.h"
#include "platform/Application.h"
#include "platform/MenuBarView.h"
#include "platform/Window.h"
#include "shell/Class1.h"
#include "shell/Window2.h"
#include "tests/support/AppFixture.h"
#include "tests/support/CraftedDocument.h"
#include "update/UpdateWin.h"

namespace halvoric {
namespace {

namespace fs = std::filesystem;
using platform::Ref;

const std::string kCheckFailed = "通信に障害があり、確認できませんでした。";

// Qt's warnings while a test runs, to catch "Ambiguous shortcut overload".
std::mutex warningsMutex;
std::vector<std::string> warnings;
QtMessageHandler previousHandler = nullptr;

void RecordWarnings(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtWarningMsg) {
        const std::lock_guard lock(warningsMutex);
        warnings.push_back(text.toStdString());
    }
    if (previousHandler) previousHandler(type, context, text);
}

class MenuBarWindowTest : public testing::AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        warnings.clear();
        previousHandler = qInstallMessageHandler(RecordWarnings);
    }

    void TearDown() override {
        qInstallMessageHandler(previousHandler);
        AppFixture::TearDown();
    }

    static QWidget* BarWindow() { return testing::MenuBarHost(); }

    // Makes `widget`'s window the active one, as a click on it would.
    static void Activate(QWidget* widget) {
        widget->raise();
        widget->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(widget));
    }

    static void Press(QWidget* window, Qt::Key key) { QTest::keyClick(window, key, Qt::ControlModifier); }

    static bool AnyAmbiguousShortcut() {
        const std::lock_guard lock(warningsMutex);
        for (const std::string& warning : warnings) {
            if (warning.find("Ambiguous") != std::string::npos) return true;
        }
        return false;
    }

    Ref<Window1> OpenResult(const char* name) {
        const fs::path document =
            testing::CraftedDocument(HeaderLayout::LittleEndian, 0x08, 100).WriteTo(folder.File(name));
        App()->VersionCheck(platform::Make<platform::FolderItem>(document));
        return platform::Cast<Window1>(platform::WindowAt(0));
    }

    testing::TemporaryFolder folder;
};

TEST_F(MenuBarWindowTest, CtrlQWithTheAboutWindowActiveQuits) {
    const Ref<Window2> about = Window2::Instance();
    Activate(about->Widget());
    Press(about->Widget(), Qt::Key_Q);
    EXPECT_TRUE(platform::Quitting());
    EXPECT_EQ(runtime->QuitStatus(), 0);
    EXPECT_FALSE(AnyAmbiguousShortcut());
}

TEST_F(MenuBarWindowTest, CtrlOWithTheUpdateNoticeActiveOpensTheDialogOnce) {
    const Ref<UpdateWin> notice = UpdateWin::Instance();
    Activate(notice->Widget());
    Press(notice->Widget(), Qt::Key_O);
    EXPECT_EQ(desktop.fileDialogs, 1);
    EXPECT_EQ(desktop.fileDialogFilters, std::vector<std::string>{"indd:.indd"});
    EXPECT_FALSE(platform::Quitting());
    EXPECT_FALSE(AnyAmbiguousShortcut());
}

TEST_F(MenuBarWindowTest, EveryWindowAnswersEachShortcutExactlyOnceWithTheMenusEnablingRules) {
    const Ref<Window1> result = OpenResult("front.indd");
    ASSERT_TRUE(result);
    const Ref<UpdateWin> notice = UpdateWin::Instance();
    const Ref<Window2> about = Window2::Instance();

    // Ctrl+O: one dialog per press, whichever window is active.
    int dialogs = 0;
    for (QWidget* window : {BarWindow(), result->Widget(), about->Widget(), notice->Widget()}) {
        ASSERT_NE(window, nullptr);
        Activate(window);
        Press(window, Qt::Key_O);
        EXPECT_EQ(desktop.fileDialogs, ++dialogs) << window->windowTitle().toStdString();
    }

    // Ctrl+C copies only while a result window is in front: not from the About
    // window, although a result window stands behind it.
    QApplication::clipboard()->setText(QStringLiteral("untouched"));
    Activate(about->Widget());
    Press(about->Widget(), Qt::Key_C);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("untouched"));
    Activate(result->Widget());
    Press(result->Widget(), Qt::Key_C);
    EXPECT_TRUE(QApplication::clipboard()->text().startsWith(QStringLiteral("front.indd\t")));

    // Ctrl+K in the update notice brings the About window to the front.
    Activate(notice->Widget());
    Press(notice->Widget(), Qt::Key_K);
    EXPECT_EQ(platform::WindowAt(0), Ref<platform::Window>(about));
    EXPECT_EQ(platform::WindowCount(), 3) << "the one About window, not a second";

    // Ctrl+R in the About window runs the update check (the service is a
    // closed port here): one check, one message.
    Activate(about->Widget());
    Press(about->Widget(), Qt::Key_R);
    EXPECT_EQ(desktop.messages, std::vector<std::string>{kCheckFailed});

    EXPECT_FALSE(platform::Quitting());
    EXPECT_FALSE(AnyAmbiguousShortcut());
}

TEST_F(MenuBarWindowTest, StandsTopLeftFixedInSizeAndTheAboutWindowAndNoticeOpenClearOfIt) {
    QWidget* bar = BarWindow();
    ASSERT_NE(bar, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(bar));
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(bar->frameGeometry().topLeft(), available.topLeft());
    // Fixed: not resizable, no maximise button; wide enough for its menus.
    EXPECT_EQ(bar->minimumSize(), bar->maximumSize());
    EXPECT_EQ(bar->size(), bar->minimumSize());
    const QMenuBar* menus = bar->findChild<QMenuBar*>();
    ASSERT_NE(menus, nullptr);
    EXPECT_GE(bar->width(), menus->sizeHint().width());
    EXPECT_EQ(bar->height(), menus->sizeHint().height());
    EXPECT_FALSE(bar->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(bar->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    for (const QAction* menu : menus->actions()) {
        EXPECT_TRUE(bar->rect().contains(menus->actionGeometry(const_cast<QAction*>(menu))))
            << menu->text().toStdString();
    }

    // Wherever it stands, the centred windows open clear of it: here it is
    // moved where the About window and the notice would be centred.
    const QPoint centre = available.center() - QPoint(bar->width() / 2, bar->height() / 2);
    bar->move(centre);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar->frameGeometry().topLeft() == centre; }));
    const Ref<Window2> about = Window2::Instance();
    EXPECT_FALSE(about->Widget()->frameGeometry().intersects(bar->frameGeometry()));
    const Ref<UpdateWin> notice = UpdateWin::Instance();
    EXPECT_FALSE(notice->Widget()->frameGeometry().intersects(bar->frameGeometry()));
}

// The desktop's own dialogs, placed by the platform, answered as soon as
// they show: where each stood, in the order they showed.
class DialogPlacementTest : public MenuBarWindowTest {
protected:
    void SetUp() override {
        MenuBarWindowTest::SetUp();
        platform::SetDesktopServices(nullptr);
        QObject::connect(&answer_, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible()) return;
            shown.push_back(dialog->frameGeometry());
            dialog->reject();
        });
        answer_.start(5);
    }

    // Where the dialog that `key` asks for in `window` stood.
    QRect DialogFrom(QWidget* window, Qt::Key key) {
        Activate(window);
        const std::size_t before = shown.size();
        Press(window, key);
        EXPECT_EQ(shown.size(), before + 1) << "one dialog";
        return shown.size() > before ? shown.back() : QRect();
    }

    std::vector<QRect> shown;

private:
    QTimer answer_;
};

TEST_F(DialogPlacementTest, FromTheMenuBarWindowTheyStandInTheMiddleOrOverTheFrontWindowAndNeverCoverIt) {
    QWidget* bar = BarWindow();
    ASSERT_NE(bar, nullptr);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();

    // No other window: the message box (Update Check fails here) and the
    // open-file dialog stand in the middle of the screen.
    for (const Qt::Key key : {Qt::Key_R, Qt::Key_O}) {
        const QRect dialog = DialogFrom(bar, key);
        EXPECT_FALSE(dialog.intersects(bar->frameGeometry())) << key;
        EXPECT_LE((dialog.center() - screen.center()).manhattanLength(), 4) << key;
    }

    // A result window in front, away from the bar: over it.
    const Ref<Window1> result = OpenResult("front.indd");
    ASSERT_TRUE(result);
    QWidget* front = result->Widget();
    front->move(screen.center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return front->pos() == screen.center(); }));
    for (const Qt::Key key : {Qt::Key_R, Qt::Key_O}) {
        const QRect dialog = DialogFrom(bar, key);
        EXPECT_FALSE(dialog.intersects(bar->frameGeometry())) << key;
        EXPECT_TRUE(front->frameGeometry().contains(dialog.center())) << key;
    }

    // A result window at the screen's corner, under the bar: over it still,
    // but clear of the bar (the open-file dialog, larger than the window,
    // would reach the screen's top edge).
    front->move(screen.topLeft());
    ASSERT_TRUE(QTest::qWaitFor([&] { return front->pos() == screen.topLeft(); }));
    for (const Qt::Key key : {Qt::Key_R, Qt::Key_O}) {
        const QRect dialog = DialogFrom(bar, key);
        EXPECT_FALSE(dialog.intersects(bar->frameGeometry())) << key;
        EXPECT_TRUE(dialog.intersects(front->frameGeometry())) << key;
    }
}

TEST_F(DialogPlacementTest, FromAResultWindowTheyStandOverIt) {
    const Ref<Window1> result = OpenResult("front.indd");
    ASSERT_TRUE(result);
    QWidget* window = result->Widget();
    const QPoint place = QGuiApplication::primaryScreen()->availableGeometry().center() - QPoint(200, 150);
    window->move(place);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->pos() == place; }));
    for (const Qt::Key key : {Qt::Key_R, Qt::Key_O}) {
        const QRect dialog = DialogFrom(window, key);
        EXPECT_TRUE(window->frameGeometry().contains(dialog.center())) << key;
        EXPECT_FALSE(dialog.intersects(BarWindow()->frameGeometry())) << key;
    }
}

}  // namespace
}  // namespace halvoric
