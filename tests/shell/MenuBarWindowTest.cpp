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

    static QWidget* BarWindow() { return platform::MenuBarWindow::Current(); }

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
    EXPECT_EQ(platform::QuitStatusForTesting(), 0);
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

}  // namespace
}  // namespace halvoric
