// The application as a whole in the test's own process: start-up, the event
// loop with its Open and OpenDocument events, the menu bar on screen, the
// open-file roads and quitting.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFileOpenEvent>
#include <QIcon>
#include <QImage>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <stdexcept>
#include <vector>

#include "shell/Window1.h"
#include "platform/Application.h"
#include "platform/Window.h"
#include "shell/Class1.h"
#include "shell/FileTypes.h"
#include "shell/Menu.h"
#include "shell/Startup.h"
#include "tests/support/AppFixture.h"
#include "tests/support/CraftedDocument.h"

namespace halvoric {
namespace {

namespace fs = std::filesystem;
using testing::Command;
using testing::CraftedDocument;
using testing::MenuBarHost;
using testing::TemporaryFolder;

class LaunchTest : public testing::LaunchFixture {
protected:
    TemporaryFolder folder;
};

TEST_F(LaunchTest, WithNoDocumentOnlyTheMenuBarAppearsAndQuitEndsWithStatusZero) {
    bool checked = false;
    const int status = Launch({}, [] { return true; }, [&] {
        checked = true;
        EXPECT_EQ(platform::WindowCount(), 0);
        QWidget* host = MenuBarHost();
        ASSERT_NE(host, nullptr);
        for (const char* caption : {"開く", "Update Check", "Halvoric", "Quit"}) {
            ASSERT_NE(Command(host, QString::fromUtf8(caption)), nullptr) << caption;
            EXPECT_TRUE(Command(host, QString::fromUtf8(caption))->isEnabled()) << caption;
        }
        EXPECT_FALSE(Command(host, "Copy")->isEnabled());
        Command(host, "Quit")->trigger();
    });
    EXPECT_TRUE(checked);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(LaunchTest, ClosingTheMenuBarWindowQuitsLikeQuit) {
    const int status = Launch({}, [] { return MenuBarHost() != nullptr; }, [] {
        EXPECT_EQ(platform::WindowAt(0), nullptr) << "the menu bar's window is not one of the program's";
        MenuBarHost()->close();
    });
    EXPECT_EQ(status, 0);
}

TEST_F(LaunchTest, EachDocumentOnTheCommandLineOpensOneResultWindow) {
    const fs::path first = CraftedDocument(HeaderLayout::LittleEndian, 0x08, 100).WriteTo(folder.File("一.indd"));
    const fs::path second = CraftedDocument(HeaderLayout::BigEndian, 0x04, 100).WriteTo(folder.File("two.indd"));
    const int status = Launch({first.string(), second.string()}, [] { return platform::WindowCount() == 2; }, [&] {
        EXPECT_EQ(platform::WindowAt(0)->Title(), "two.indd");
        EXPECT_EQ(platform::WindowAt(1)->Title(), "一.indd");
        EXPECT_EQ(platform::Cast<Window1>(platform::WindowAt(1))->StaticText2()->Text(), "Adobe InDesign CS6");
        // The result window's own menu bar works too.
        QWidget* front = platform::WindowAt(0)->Widget();
        ASSERT_TRUE(QTest::qWaitForWindowActive(front));
        EXPECT_TRUE(Command(front, "Copy")->isEnabled());
        Command(front, "Quit")->trigger();
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(LaunchTest, ADocumentTheDesktopHandsInWhileRunningOpensAWindow) {
    const fs::path document = CraftedDocument(HeaderLayout::BigEndian, 0x03, 100).WriteTo(folder.File("later.indd"));
    bool sent = false;
    const int status = Launch({}, [&] {
        if (!sent) {  // as the Finder hands a document to a running application
            sent = true;
            QFileOpenEvent event(QString::fromStdString(document.string()));
            QApplication::sendEvent(qApp, &event);
        }
        return platform::WindowCount() == 1;
    }, [] {
        EXPECT_EQ(platform::WindowAt(0)->Title(), "later.indd");
        platform::Quit(0);
    });
    EXPECT_EQ(status, 0);
}

// Initialisation runs again with the same QApplication in a test process:
// the second run adds nothing to the application object, and a document the
// desktop hands in still opens one window.
TEST_F(LaunchTest, ASecondLaunchWithTheSameQApplicationAddsNothingToIt) {
    const fs::path document = CraftedDocument(HeaderLayout::LittleEndian, 0x05, 100).WriteTo(folder.File("again.indd"));
    qsizetype childrenWhenRunning[2] = {-1, -1};
    for (int launch = 0; launch < 2; ++launch) {
        bool sent = false;
        const int status = Launch({}, [&] {
            if (!sent) {
                sent = true;
                QFileOpenEvent event(QString::fromStdString(document.string()));
                QApplication::sendEvent(qApp, &event);
            }
            return platform::WindowCount() == 1;
        }, [&] {
            childrenWhenRunning[launch] = qApp->children().size();
            platform::Quit(0);
        });
        EXPECT_EQ(status, 0) << launch;
        EXPECT_EQ(platform::WindowCount(), 1) << launch;
    }
    EXPECT_NE(childrenWhenRunning[0], -1);
    EXPECT_EQ(childrenWhenRunning[1], childrenWhenRunning[0]);
}

TEST_F(LaunchTest, ADocumentThatCannotBeReadEndsTheApplicationBeforeTheNext) {
    const fs::path missing = folder.File("missing.indd");
    const fs::path next = CraftedDocument(HeaderLayout::LittleEndian, 0x08, 100).WriteTo(folder.File("next.indd"));
    const int status = Launch({missing.string(), next.string()}, [] { return false; }, [] {});
    EXPECT_EQ(status, 0);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0], "エラーが起こりましたので\n終了します");
    EXPECT_EQ(platform::WindowCount(), 1) << "the second document is never opened";
    EXPECT_EQ(platform::WindowAt(0)->Title(), "missing.indd");
}

// A document handed in while a menu command shows a message waits until the
// command is over: taken inside it, it would be lost should the command end
// the application, as a document that cannot be read does.
TEST_F(LaunchTest, ADocumentHandedInWhileAMessageIsUpWaitsForItAndIsNeverTakenWhenTheApplicationEnds) {
    const fs::path later = CraftedDocument(HeaderLayout::LittleEndian, 0x08, 100).WriteTo(folder.File("later.indd"));
    int windowsWhileUp = -1;
    desktop.onMessage = [&] {
        QFileOpenEvent event(QString::fromStdString(later.string()));
        QApplication::sendEvent(qApp, &event);
        for (int round = 0; round < 5; ++round) QApplication::processEvents();
        windowsWhileUp = platform::WindowCount();
    };
    // Update Check fails here and says so: the document follows the message.
    const int status = Launch({}, [] { return true; }, [&] {
        platform::HandleMenuCommand(upchk());
        EXPECT_EQ(windowsWhileUp, 0);
        EXPECT_TRUE(testing::WaitFor([] { return platform::WindowCount() == 1; }));
        platform::Quit(0);
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(desktop.messages.size(), 1u);

    // The open-file dialog's document cannot be read: its message, then the end.
    desktop.messages.clear();
    desktop.fileToChoose = folder.File("missing.indd");
    const int ended = Launch({}, [] { return true; }, [&] { platform::HandleMenuCommand(hiraku()); });
    EXPECT_EQ(ended, 0);
    ASSERT_EQ(desktop.messages, std::vector<std::string>{"エラーが起こりましたので\n終了します"});
    EXPECT_EQ(windowsWhileUp, 1);
    EXPECT_EQ(platform::WindowCount(), 1) << "only the unreadable document's window; the later one never opened";
    EXPECT_EQ(platform::WindowAt(0)->Title(), "missing.indd");
}

// When the message of an error that nothing handled cannot be shown, that
// failure passes on, and the application still takes the documents handed in
// afterwards: no handler is counted as running any more.
TEST_F(LaunchTest, AMessageBoxThatFailsLeavesNoHandlerCountedAsRunning) {
    const fs::path later = CraftedDocument(HeaderLayout::LittleEndian, 0x08, 100).WriteTo(folder.File("later.indd"));
    desktop.onMessage = [] { throw std::logic_error("no screen to show it on"); };
    const int status = Launch({}, [] { return true; }, [&] {
        EXPECT_THROW(platform::Dispatch([] { throw platform::NilObjectException(); }), std::logic_error);
        desktop.onMessage = nullptr;
        QFileOpenEvent event(QString::fromStdString(later.string()));
        QApplication::sendEvent(qApp, &event);
        EXPECT_TRUE(testing::WaitFor([] { return platform::WindowCount() == 1; }));
        platform::Quit(0);
    });
    EXPECT_EQ(status, 0);
}

TEST_F(LaunchTest, AnErrorThatNothingHandlesIsShownByNameAndEndsTheApplication) {
    // The menu bar missing at a menu update: the item accessors use a nil bar.
    const int status = Launch({}, [] { return true; }, [] {
        App()->SetMenuBar(nullptr);
        platform::UpdateMenus();
    });
    EXPECT_EQ(status, 1);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_NE(desktop.messages[0].find("NilObjectException"), std::string::npos) << desktop.messages[0];
}

TEST_F(LaunchTest, EveryWindowCarriesTheApplicationsIconInThePicturesOwnSize) {
    // The picture in the resources folder (beside the tests' bin/, as beside
    // the installed program's) that the desktop entry names too.
    info.iconFileName = "halvoric.png";
    const QImage picture = QImage(HALVORIC_SOURCE_DIR "/resources/halvoric.png").convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(picture.isNull());
    const fs::path document = CraftedDocument(HeaderLayout::LittleEndian, 0x08, 100).WriteTo(folder.File("icon.indd"));
    bool checked = false;
    Launch({document.string()}, [] { return platform::WindowCount() == 1 && MenuBarHost(); }, [&] {
        checked = true;
        for (QWidget* window : {MenuBarHost(), platform::WindowAt(0)->Widget()}) {
            const QIcon icon = window->windowIcon();
            EXPECT_EQ(icon.availableSizes(), QList<QSize>{picture.size()}) << window->windowTitle().toStdString();
            EXPECT_EQ(icon.pixmap(picture.size()).toImage().convertToFormat(QImage::Format_ARGB32), picture);
        }
        platform::Quit(0);
    });
    QApplication::setWindowIcon(QIcon());
    EXPECT_TRUE(checked);
}

class ShellTest : public testing::AppFixture {
protected:
    TemporaryFolder folder;
};

TEST_F(ShellTest, StartUpRegistersTheDocumentTypeAndInstallsTheOneMenuBar) {
    const platform::FileType* type = platform::RegisteredFileType("indd");
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->Extensions, ".indd");
    EXPECT_EQ(type->MacType, "????");
    EXPECT_EQ(type->MacCreator, "InDn");
    EXPECT_EQ(FileTypes::Indd(), "indd");
    EXPECT_EQ(App()->MenuBar(), Menu::Instance());
    EXPECT_EQ(CompactVersion(), "120");
    Start(testing::TestApplicationInfo(1, 10, 3, "1.10.3"));
    EXPECT_EQ(CompactVersion(), "1103");

    ReleaseModuleState();
    EXPECT_EQ(platform::RegisteredFileType("indd"), nullptr) << "releasing the type withdraws it";
}

TEST_F(ShellTest, OpeningGoesThroughTheDialogOfferingOnlyInDesignDocuments) {
    // Cancelled: nothing happens.
    EXPECT_FALSE(App()->_hiraku_Action());
    EXPECT_EQ(desktop.fileDialogs, 1);
    EXPECT_EQ(desktop.fileDialogFilters, std::vector<std::string>{"indd:.indd"});
    EXPECT_EQ(platform::WindowCount(), 0);

    // Chosen: one inspection of that file.
    desktop.fileToChoose = CraftedDocument(HeaderLayout::LittleEndian, 0x07, 100).WriteTo(folder.File("a.indd"));
    EXPECT_FALSE(App()->_hiraku_Action());
    ASSERT_EQ(platform::WindowCount(), 1);
    EXPECT_EQ(platform::WindowAt(0)->Title(), "a.indd");

    // OpenDocument without a document asks with the same dialog...
    App()->Event_OpenDocument(nullptr);
    EXPECT_EQ(desktop.fileDialogs, 3);
    EXPECT_EQ(platform::WindowCount(), 2);
    // ...and with one goes straight to the inspection.
    App()->Event_OpenDocument(platform::Make<platform::FolderItem>(*desktop.fileToChoose));
    EXPECT_EQ(desktop.fileDialogs, 3);
    EXPECT_EQ(platform::WindowCount(), 3);
}

TEST_F(ShellTest, TheOpenShortcutOfTheMenuBarReachesTheDialog) {
    QWidget* host = MenuBarHost();
    ASSERT_NE(host, nullptr);
    host->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(host));
    QTest::keyClick(host, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(desktop.fileDialogs, 1);
}

TEST_F(ShellTest, TheMenuBarHasTwoMenusWithTheirCommandsInOrder) {
    const auto bar = Menu::Instance();
    ASSERT_EQ(bar->Count(), 2);
    const struct {
        const char* name;
        const char* text;
        const char* shortcut;
        bool autoEnable;
    } expected[2][4] = {
        {{"hiraku", "開く", "Cmd+O", false}, {"FileQuit", "Quit", "Cmd+Q", true}},
        {{"clcopy", "Copy", "Cmd+C", false},
         {"upchk", "Update Check", "Cmd+R", false},
         {"UntitledMenu1", "-", "", false},
         {"kono", "Halvoric", "Cmd+K", true}},
    };
    const char* menus[2][2] = {{"UntitledMenu2", "File"}, {"UntitledMenu0", "Edit"}};
    const int counts[2] = {2, 4};
    for (int m = 0; m < 2; ++m) {
        const auto menu = bar->Item(m);
        EXPECT_EQ(menu->Name(), menus[m][0]);
        EXPECT_EQ(menu->Text(), menus[m][1]);
        EXPECT_EQ(menu->KeyboardShortcut(), "");
        EXPECT_FALSE(menu->AutoEnable());
        ASSERT_EQ(menu->Count(), counts[m]);
        for (int i = 0; i < counts[m]; ++i) {
            const auto item = menu->Item(i);
            EXPECT_EQ(item->Name(), expected[m][i].name);
            EXPECT_EQ(item->Text(), expected[m][i].text);
            EXPECT_EQ(item->KeyboardShortcut(), expected[m][i].shortcut);
            EXPECT_EQ(item->AutoEnable(), expected[m][i].autoEnable);
        }
    }
    EXPECT_NE(dynamic_cast<platform::QuitMenuItem*>(bar->Lookup("FileQuit").Get()), nullptr);
    EXPECT_NE(kono().Get(), nullptr);
    EXPECT_EQ(bar->Lookup("UntitledMenu3"), nullptr);
    EXPECT_EQ(bar->Lookup("nothing"), nullptr);
}

TEST_F(ShellTest, EveryResultWindowShowsTheSameBarWithCopyEnabledOnlyInFront) {
    platform::UpdateMenus();
    EXPECT_TRUE(hiraku()->Enabled());
    EXPECT_TRUE(upchk()->Enabled());
    EXPECT_TRUE(kono()->Enabled());
    EXPECT_TRUE(Menu::Instance()->Lookup("FileQuit")->Enabled());
    EXPECT_FALSE(Menu::Instance()->Lookup("clcopy")->Enabled());

    const fs::path document = CraftedDocument(HeaderLayout::LittleEndian, 0x08, 100).WriteTo(folder.File("d.indd"));
    App()->VersionCheck(platform::Make<platform::FolderItem>(document));
    App()->VersionCheck(platform::Make<platform::FolderItem>(document));
    ASSERT_EQ(platform::WindowCount(), 2);
    for (int index = 0; index < 2; ++index) {
        auto window = platform::WindowAt(index);
        EXPECT_EQ(window->MenuBar(), Menu::Instance());
        const auto menus = window->Widget()->findChild<QMenuBar*>()->actions();
        ASSERT_EQ(menus.size(), 2);
        EXPECT_EQ(menus[0]->text(), "File");
        EXPECT_EQ(menus[1]->text(), "Edit");
    }
    QWidget* front = platform::WindowAt(0)->Widget();
    ASSERT_TRUE(QTest::qWaitForWindowActive(front));
    EXPECT_TRUE(Command(front, "Copy")->isEnabled());
    EXPECT_TRUE(Command(front, "Copy")->shortcut() == QKeySequence(Qt::ControlModifier | Qt::Key_C));

    // The result window's Close button closes the front window only.
    platform::Cast<Window1>(platform::WindowAt(0))->PushButton2()->ButtonWidget()->click();
    EXPECT_EQ(platform::WindowCount(), 1);
    platform::WindowAt(0)->Close();
    EXPECT_EQ(platform::WindowCount(), 0);
    EXPECT_FALSE(Menu::Instance()->Lookup("clcopy")->Enabled());
    EXPECT_FALSE(Command(MenuBarHost(), "Copy")->isEnabled());
}

}  // namespace
}  // namespace halvoric
