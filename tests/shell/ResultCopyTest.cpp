// "Copy" of a result window, driven the way a user drives it: the result
// window is activated, Ctrl+C is typed into it, and the clipboard is read
// back through Qt.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <filesystem>
#include <string>
#include <vector>

#include "shell/Window1.h"
#include "platform/Application.h"
#include "platform/Files.h"
#include "platform/Window.h"
#include "shell/Class1.h"
#include "shell/Menu.h"
#include "tests/support/AppFixture.h"
#include "tests/support/CraftedDocument.h"
#include "update/UpdateWin.h"

namespace halvoric {
namespace {

namespace fs = std::filesystem;
using platform::Ref;
using testing::CraftedDocument;
using testing::TemporaryFolder;

std::string ClipboardText() {
    return QGuiApplication::clipboard()->text().toStdString();
}

void SetClipboardText(const std::string& text) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

// The "Copy" actions of the menu bars in one top-level widget.
std::vector<QAction*> CopyActionsIn(QWidget* top) {
    std::vector<QAction*> found;
    for (QMenuBar* bar : top->findChildren<QMenuBar*>()) {
        for (QAction* menuAction : bar->actions()) {
            if (!menuAction->menu()) continue;
            for (QAction* action : menuAction->menu()->actions()) {
                if (action->text() == QStringLiteral("Copy")) found.push_back(action);
            }
        }
    }
    return found;
}

// The "Copy" action of every menu bar on screen: the application's own bar
// and the bar of each open result window.
std::vector<QAction*> CopyActionsOnScreen() {
    std::vector<QAction*> found;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible()) continue;
        for (QAction* action : CopyActionsIn(top)) found.push_back(action);
    }
    return found;
}

// "enabled", "disabled" or "mixed", over every Copy action on screen.
std::string CopyState() {
    const auto actions = CopyActionsOnScreen();
    if (actions.empty()) return "no Copy action on screen";
    int enabled = 0;
    for (QAction* action : actions) enabled += action->isEnabled() ? 1 : 0;
    if (enabled == 0) return "disabled";
    if (enabled == static_cast<int>(actions.size())) return "enabled";
    return "mixed";
}

class ResultCopyTest : public testing::AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        SetClipboardText("left over from before");
    }

    // Inspects the document at `path` and returns its new result window, active.
    Ref<Window1> Inspect(const fs::path& path) {
        App()->VersionCheck(platform::Make<platform::FolderItem>(path));
        Ref<Window1> window = platform::Cast<Window1>(platform::WindowAt(0));
        EXPECT_TRUE(window);
        Activate(window);
        return window;
    }
    Ref<Window1> Inspect(const CraftedDocument& document, const std::string& name) {
        return Inspect(document.WriteTo(folder.File(name)));
    }

    static void Activate(const Ref<platform::Window>& window) {
        window->Widget()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window->Widget()));
    }

    // Ctrl+C typed into the window, which must be the active one.
    static void PressCopy(const Ref<platform::Window>& window) {
        ASSERT_EQ(QApplication::activeWindow(), window->Widget());
        QTest::keyClick(window->Widget(), Qt::Key_C, Qt::ControlModifier);
    }

    TemporaryFolder folder;
};

// A CS4 document whose version record gives `buildString` and `editionByte`.
CraftedDocument Cs4Document(std::string_view buildString, std::uint8_t editionByte) {
    CraftedDocument document(HeaderLayout::LittleEndian, 0x06, CraftedDocument::ChunkStart(3));
    document.Noise(CraftedDocument::ChunkStart(0), CraftedDocument::ChunkStart(3), 7);
    document.BodyMarker(CraftedDocument::ChunkStart(0) + 30);
    document.VersionRecord(CraftedDocument::ChunkStart(0) + 4000, buildString, editionByte);
    return document;
}

TEST_F(ResultCopyTest, CtrlCPutsTheFourLabelsJoinedByTabsOnTheClipboard) {
    const std::string name = "見本の文書 (改訂).indd";
    Ref<Window1> window = Inspect(Cs4Document("6.0.3.109-and-more", 0x00), name);
    ASSERT_EQ(window->StaticText5()->Text(), "6.0.3.109");

    PressCopy(window);
    const std::string expected = name + "\tAdobe InDesign CS4\tMacintosh Edition\t6.0.3.109";
    EXPECT_EQ(ClipboardText(), expected);
    // The UTF-8 bytes themselves, not only their decoding.
    EXPECT_EQ(QGuiApplication::clipboard()->text().toUtf8().toStdString(), expected);

    // A second copy replaces the text; it is never appended to.
    PressCopy(window);
    EXPECT_EQ(ClipboardText(), expected);

    // The text stays after the command, also once the window has gone.
    window->Close();
    QApplication::processEvents();
    EXPECT_EQ(ClipboardText(), expected);
}

TEST_F(ResultCopyTest, VersionBytesThatAreNoUtf8BecomeReplacementCharacters) {
    // "6." then two stray bytes, ".4." and a cut-off three-byte sequence: the
    // nine bytes that the window shows.
    Ref<Window1> window = Inspect(Cs4Document(std::string("6.\xFF\xFE.4.\xE3\x81", 9), 0x01), "broken.indd");
    ASSERT_EQ(window->StaticText5()->Text(), std::string("6.\xFF\xFE.4.\xE3\x81", 9));

    PressCopy(window);
    EXPECT_EQ(ClipboardText(),
              "broken.indd\tAdobe InDesign CS4\tWindows Edition\t6.\xEF\xBF\xBD\xEF\xBF\xBD.4.\xEF\xBF\xBD");
}

TEST_F(ResultCopyTest, UnknownReleaseAndShortDocumentsCopyTheirPlaceholders) {
    // A release byte outside the release table: no edition, and the version
    // label keeps its design text.
    Ref<Window1> unknown = Inspect(CraftedDocument(HeaderLayout::BigEndian, 0x02, 100000), "unknown.indd");
    PressCopy(unknown);
    EXPECT_EQ(ClipboardText(), "unknown.indd\tバージョン不明\t\tサブバージョン不明");

    // A known release whose document ends before its body: "不明" twice.
    for (std::int64_t length : {48, 40960}) {
        const std::string name = "short-" + std::to_string(length) + ".indd";
        Ref<Window1> window = Inspect(CraftedDocument(HeaderLayout::LittleEndian, 0x05, length), name);
        PressCopy(window);
        EXPECT_EQ(ClipboardText(), name + "\tAdobe InDesign CS3\t不明\t不明") << length;
    }
}

TEST_F(ResultCopyTest, RealCsDocumentCopiesItsResult) {
    const fs::path sample = fs::path(HALVORIC_SAMPLES_DIR) / "cs-be-mac.indd";
    if (!fs::exists(sample)) GTEST_SKIP() << "no sample documents at " << sample;
    Ref<Window1> window = Inspect(sample);
    PressCopy(window);
    EXPECT_EQ(ClipboardText(), "cs-be-mac.indd\tAdobe InDesign CS\tMacintosh Edition\t3.0.0.424");
}

TEST_F(ResultCopyTest, CopyTakesTheFrontmostOfTwoResultWindows) {
    Ref<Window1> first = Inspect(Cs4Document("6.0.0.352", 0x00), "first.indd");
    Ref<Window1> second = Inspect(CraftedDocument(HeaderLayout::LittleEndian, 0x08, 48), "second.indd");
    ASSERT_EQ(platform::WindowCount(), 2);

    PressCopy(second);
    EXPECT_EQ(ClipboardText(), "second.indd\tAdobe InDesign CS6\t不明\t不明");

    Activate(first);
    EXPECT_EQ(platform::WindowAt(0), Ref<platform::Window>(first));
    PressCopy(first);
    EXPECT_EQ(ClipboardText(), "first.indd\tAdobe InDesign CS4\tMacintosh Edition\t6.0.0.352");

    // Choosing Copy from the menu, too, takes the window in front.
    Activate(second);
    const auto copy = CopyActionsIn(second->Widget());
    ASSERT_EQ(copy.size(), 1u);
    copy[0]->trigger();
    EXPECT_EQ(ClipboardText(), "second.indd\tAdobe InDesign CS6\t不明\t不明");
}

TEST_F(ResultCopyTest, CopyIsEnabledExactlyWhileAResultWindowIsInFront) {
    const Ref<platform::MenuItem> clcopy = Menu::Instance()->Lookup("clcopy");
    ASSERT_TRUE(clcopy);

    // No window: the application's bar shows Copy disabled, and choosing it
    // anyway copies nothing.
    ASSERT_EQ(platform::WindowCount(), 0);
    platform::UpdateMenus();
    EXPECT_EQ(CopyState(), "disabled");
    platform::HandleMenuCommand(clcopy);
    EXPECT_EQ(ClipboardText(), "left over from before");

    Ref<Window1> result = Inspect(Cs4Document("6.0.0.352", 0x01), "result.indd");
    EXPECT_EQ(CopyState(), "enabled");

    // The About window in front.
    App()->_kono_Action();
    Ref<platform::Window> about = platform::GetImplicitWindow("Window2.Window2");
    ASSERT_TRUE(about);
    ASSERT_TRUE(QTest::qWaitForWindowActive(about->Widget()));
    EXPECT_EQ(platform::WindowAt(0), about);
    EXPECT_EQ(CopyState(), "disabled");
    platform::HandleMenuCommand(clcopy);
    EXPECT_EQ(ClipboardText(), "left over from before");

    // Back to the result window, then the update notice in front.
    Activate(result);
    EXPECT_EQ(CopyState(), "enabled");
    Ref<UpdateWin> notice = UpdateWin::Instance();
    notice->Show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(notice->Widget()));
    EXPECT_EQ(CopyState(), "disabled");
    platform::HandleMenuCommand(clcopy);
    EXPECT_EQ(ClipboardText(), "left over from before");

    notice->Close();
    about->Close();
    Activate(result);
    EXPECT_EQ(CopyState(), "enabled");
    PressCopy(result);
    EXPECT_EQ(ClipboardText(), "result.indd\tAdobe InDesign CS4\tWindows Edition\t6.0.0.352");

    // The last result window closed: disabled again.
    result->Close();
    QApplication::processEvents();
    EXPECT_EQ(CopyState(), "disabled");
}

}  // namespace
}  // namespace halvoric
