// The About window, opened from the menu and used through real Qt events:
// key presses, clicks, the pointer moving over its link labels.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QColor>
#include <QCursor>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <string>

#include "shell/Window1.h"
#include "platform/Application.h"
#include "platform/Files.h"
#include "platform/Picture.h"
#include "platform/Window.h"
#include "product/Product.h"
#include "shell/Class1.h"
#include "shell/Window2.h"
#include "tests/support/AppFixture.h"
#include "tests/support/CraftedDocument.h"

namespace halvoric {
namespace {

namespace fs = std::filesystem;
using platform::Ref;
using testing::Command;
using testing::MenuBarHost;
using testing::TemporaryFolder;

const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);
const QColor kWhite(255, 255, 255);

int AboutWindowsOpen() {
    int count = 0;
    for (std::int32_t i = 0; i < platform::WindowCount(); ++i) {
        count += platform::WindowAt(i)->ClassName() == "Window2.Window2" ? 1 : 0;
    }
    return count;
}

QColor ShownColor(const Ref<platform::Label>& label) {
    return label->LabelWidget()->palette().color(QPalette::WindowText);
}

// Whether the label, as drawn, holds a pixel of about that colour.
bool DrawnIn(const Ref<platform::Label>& label, const QColor& colour) {
    const QImage image = label->Widget()->grab().toImage();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (std::abs(pixel.red() - colour.red()) < 40 && std::abs(pixel.green() - colour.green()) < 40 &&
                std::abs(pixel.blue() - colour.blue()) < 40) {
                return true;
            }
        }
    }
    return false;
}

// Puts the pointer in a corner of the screen that no window covers.
void MovePointerAway() {
    QCursor::setPos(QGuiApplication::primaryScreen()->geometry().bottomRight() - QPoint(2, 2));
    QApplication::processEvents();
}

class AboutWindowTest : public testing::AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        MovePointerAway();
        ForgetLogoForTesting();
    }
    void TearDown() override {
        ForgetLogoForTesting();
        AppFixture::TearDown();
    }

    // Chooses the About item from the application's menu bar (in its window,
    // brought to the front) and returns the About window, once it is active.
    Ref<Window2> ChooseAbout() {
        QWidget* host = MenuBarHost();
        EXPECT_TRUE(host);
        if (!host) return nullptr;
        host->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(host));
        QAction* about = Command(host, "Halvoric");
        EXPECT_TRUE(about && about->isEnabled());
        if (!about) return nullptr;
        about->trigger();
        return ActiveAbout();
    }

    static Ref<Window2> ActiveAbout() {
        Ref<Window2> window = platform::Cast<Window2>(platform::GetImplicitWindow("Window2.Window2"));
        EXPECT_TRUE(window);
        if (!window) return nullptr;
        EXPECT_TRUE(QTest::qWaitForWindowActive(window->Widget()));
        return window;
    }
};

TEST_F(AboutWindowTest, AboutItemShowsOneWindowAndCloseLetsTheNextChoiceBuildAFreshOne) {
    const Ref<Window2> first = ChooseAbout();
    ASSERT_TRUE(first);
    EXPECT_EQ(AboutWindowsOpen(), 1);
    EXPECT_EQ(first->StaticText5()->Text(), "Ver. 1.2.0");
    EXPECT_EQ(first->StaticText5()->LabelWidget()->text(), QStringLiteral("Ver. 1.2.0"));

    // Chosen again while open: the same window, still one.
    EXPECT_EQ(ChooseAbout(), first);
    EXPECT_EQ(AboutWindowsOpen(), 1);

    // Chosen while a result window is in front: the About window comes back
    // to the front, and there is still one.
    TemporaryFolder folder;
    const fs::path document =
        testing::CraftedDocument(HeaderLayout::LittleEndian, 0x05, 48).WriteTo(folder.File("a.indd"));
    App()->VersionCheck(platform::Make<platform::FolderItem>(document));
    ASSERT_TRUE(QTest::qWaitForWindowActive(platform::WindowAt(0)->Widget()));
    ASSERT_NE(platform::WindowAt(0), Ref<platform::Window>(first));
    QWidget* resultWidget = platform::WindowAt(0)->Widget();
    QAction* aboutInResult = Command(resultWidget, "Halvoric");
    ASSERT_TRUE(aboutInResult);
    aboutInResult->trigger();
    EXPECT_EQ(ActiveAbout(), first);
    EXPECT_EQ(platform::WindowAt(0), Ref<platform::Window>(first));
    EXPECT_EQ(AboutWindowsOpen(), 1);

    // Leave a mark on the open window: its web link turns red under the pointer.
    QTest::mouseMove(first->StaticText1()->Widget());
    ASSERT_EQ(ShownColor(first->StaticText1()), kRed);

    // A real click on "Close".
    QTest::mouseClick(first->PushButton1()->ButtonWidget(), Qt::LeftButton);
    EXPECT_EQ(AboutWindowsOpen(), 0);
    EXPECT_FALSE(first->IsOpen());
    EXPECT_FALSE(first->Widget()->isVisible());

    // Ctrl+K in the application's menu-bar window builds a new window from
    // the design values. (The pointer goes out of the way first: a link that
    // opens under it turns red at once.)
    MovePointerAway();
    QWidget* host = MenuBarHost();
    ASSERT_TRUE(host);
    host->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(host));
    QTest::keyClick(host, Qt::Key_K, Qt::ControlModifier);
    const Ref<Window2> second = ActiveAbout();
    ASSERT_TRUE(second);
    EXPECT_NE(second, first);
    EXPECT_EQ(AboutWindowsOpen(), 1);
    EXPECT_EQ(second->StaticText5()->Text(), "Ver. 1.2.0");
    EXPECT_EQ(ShownColor(second->StaticText1()), kBlue);
}

TEST_F(AboutWindowTest, VersionLabelIsVerAndBlankFollowedByTheLongVersionAsItIs) {
    Start(testing::TestApplicationInfo(1, 2, 0, ""));
    Ref<Window2> window = ChooseAbout();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->StaticText5()->Text(), "Ver. ");
    window->Close();

    Start(testing::TestApplicationInfo(1, 10, 3, "1.10.3 β"));
    window = ChooseAbout();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->StaticText5()->Text(), "Ver. 1.10.3 β");
}

TEST_F(AboutWindowTest, DesignValuesShowOnScreen) {
    const Ref<Window2> about = ChooseAbout();
    ASSERT_TRUE(about);
    QWidget* widget = about->Widget();
    QWidget* content = about->Content();

    // A fixed 300 x 180 content area under the title "Halvoric", no menu bar
    // of its own, placed in the middle of the screen.
    EXPECT_EQ(widget->windowTitle(), QStringLiteral("Halvoric"));
    EXPECT_FALSE(about->MenuBar());
    EXPECT_EQ(widget->findChild<QMenuBar*>(), nullptr);
    EXPECT_EQ(content->size(), QSize(300, 180));
    EXPECT_EQ(widget->minimumSize(), QSize(300, 180));
    EXPECT_EQ(widget->maximumSize(), QSize(300, 180));
    widget->resize(500, 400);
    QApplication::processEvents();
    EXPECT_EQ(content->size(), QSize(300, 180));
    EXPECT_TRUE(widget->windowFlags() & Qt::WindowCloseButtonHint);
    const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((widget->frameGeometry().center() - screenCentre).manhattanLength(), 10);

    // The six controls where the design puts them.
    EXPECT_EQ(about->PushButton1()->Widget()->geometry(), QRect(216, 150, 69, 20));
    EXPECT_EQ(about->StaticText1()->Widget()->geometry(), QRect(20, 117, 210, 20));
    EXPECT_EQ(about->Canvas1()->Widget()->geometry(), QRect(65, 9, 170, 65));
    EXPECT_EQ(about->StaticText2()->Widget()->geometry(), QRect(20, 147, 150, 20));
    EXPECT_EQ(about->StaticText3()->Widget()->geometry(), QRect(20, 80, 157, 25));
    EXPECT_EQ(about->StaticText5()->Widget()->geometry(), QRect(195, 83, 90, 22));
    for (QWidget* control : content->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        EXPECT_TRUE(control->isVisible()) << control->metaObject()->className();
    }

    // Texts: the button, the product name in bold, the two links underlined
    // and blue, the version in black.
    EXPECT_EQ(about->PushButton1()->ButtonWidget()->text(), QStringLiteral("Close"));
    EXPECT_EQ(about->StaticText3()->Text(), "Halvoric");
    EXPECT_TRUE(about->StaticText3()->LabelWidget()->font().bold());
    EXPECT_FALSE(about->StaticText5()->LabelWidget()->font().bold());
    EXPECT_EQ(ShownColor(about->StaticText3()), QColor(0, 0, 0));
    EXPECT_EQ(ShownColor(about->StaticText5()), QColor(0, 0, 0));
    EXPECT_EQ(about->StaticText1()->Text(), std::string(product::kWebPage));
    EXPECT_EQ(about->StaticText2()->Text(), "mailto:" + std::string(product::kContactMail));
    for (const auto& link : {about->StaticText1(), about->StaticText2()}) {
        EXPECT_TRUE(link->LabelWidget()->font().underline()) << link->Name();
        EXPECT_FALSE(link->LabelWidget()->font().bold()) << link->Name();
        EXPECT_EQ(ShownColor(link), kBlue) << link->Name();
        EXPECT_TRUE(DrawnIn(link, kBlue)) << link->Name();
    }

    // Nothing is cut off: every text fits its control.
    for (const auto& label : {about->StaticText1(), about->StaticText2(), about->StaticText3(), about->StaticText5()}) {
        const QLabel* shown = label->LabelWidget();
        EXPECT_LE(QFontMetrics(shown->font()).horizontalAdvance(shown->text()), shown->contentsRect().width())
            << label->Name();
        EXPECT_LE(QFontMetrics(shown->font()).height(), shown->contentsRect().height()) << label->Name();
    }
    const QPushButton* close = about->PushButton1()->ButtonWidget();
    EXPECT_LT(QFontMetrics(close->font()).horizontalAdvance(close->text()), close->width());

    // White behind everything; the logo of 170 x 65 drawn in its place.
    const QImage shot = content->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), QSize(300, 180));
    for (const QPoint at : {QPoint(2, 2), QPoint(297, 2), QPoint(2, 177), QPoint(150, 112), QPoint(260, 130)}) {
        EXPECT_EQ(shot.pixelColor(at), kWhite) << at.x() << "," << at.y();
    }
    const Ref<platform::Picture> logo = about->Canvas1()->Backdrop();
    ASSERT_TRUE(logo);
    EXPECT_EQ(logo->Width(), 170);
    EXPECT_EQ(logo->Height(), 65);
    QImage expected(170, 65, QImage::Format_RGB32);
    expected.fill(kWhite);
    QPainter(&expected).drawImage(0, 0, logo->Image());
    EXPECT_EQ(shot.copy(65, 9, 170, 65), expected);
    EXPECT_NE(expected.pixelColor(85, 32), kWhite) << "the logo is blank";
}

TEST_F(AboutWindowTest, PointerOverALinkTurnsItRedAndLeavingTurnsItBlue) {
    const Ref<Window2> about = ChooseAbout();
    ASSERT_TRUE(about);
    const auto web = about->StaticText1();
    const auto mail = about->StaticText2();

    QTest::mouseMove(web->Widget());
    EXPECT_EQ(ShownColor(web), kRed);
    EXPECT_TRUE(DrawnIn(web, kRed));
    EXPECT_EQ(ShownColor(mail), kBlue);

    // Straight from one link onto the other.
    QTest::mouseMove(mail->Widget());
    EXPECT_EQ(ShownColor(web), kBlue);
    EXPECT_EQ(ShownColor(mail), kRed);

    // Off both, onto the blank window.
    QTest::mouseMove(about->Content(), QPoint(280, 60));
    EXPECT_EQ(ShownColor(web), kBlue);
    EXPECT_EQ(ShownColor(mail), kBlue);
    EXPECT_TRUE(DrawnIn(mail, kBlue));
    EXPECT_FALSE(DrawnIn(mail, kRed));
    EXPECT_TRUE(desktop.urls.empty());
}

TEST_F(AboutWindowTest, LinksOpenOnReleaseWhereverTheButtonIsReleased) {
    const Ref<Window2> about = ChooseAbout();
    ASSERT_TRUE(about);
    QWidget* web = about->StaticText1()->Widget();
    QWidget* mail = about->StaticText2()->Widget();
    const std::string webLink = std::string(product::kWebPage) + "/";
    const std::string mailLink = "mailto:" + std::string(product::kContactMail);
    ASSERT_FALSE(product::kWebPage.ends_with("/"));

    // Pressed on the web link, released outside it, in blank window space.
    QTest::mousePress(web, Qt::LeftButton, {}, QPoint(30, 10));
    EXPECT_TRUE(desktop.urls.empty()) << "opened on the press";
    QTest::mouseRelease(web, Qt::LeftButton, {}, QPoint(-15, -40));
    ASSERT_EQ(desktop.urls, std::vector<std::string>{webLink});

    // A plain click on the mail link opens exactly its address.
    QTest::mouseClick(mail, Qt::LeftButton);
    ASSERT_EQ(desktop.urls, (std::vector<std::string>{webLink, mailLink}));

    // Pressed on the mail link, released over the other link: still the mail link.
    QTest::mousePress(mail, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(mail, Qt::LeftButton, {}, QPoint(5, -25));
    ASSERT_EQ(desktop.urls, (std::vector<std::string>{webLink, mailLink, mailLink}));

    // Pressed in blank space and released over a link opens nothing; neither
    // does the right button.
    QTest::mousePress(about->Content(), Qt::LeftButton, {}, QPoint(260, 125));
    QTest::mouseRelease(about->Content(), Qt::LeftButton, {}, web->geometry().center());
    QTest::mouseClick(web, Qt::RightButton);
    EXPECT_EQ(desktop.urls.size(), 3u);
    EXPECT_TRUE(about->IsOpen());
}

// A fake installation whose resources folder the test fills.
class AboutLogoTest : public AboutWindowTest {
protected:
    void SetUp() override {
        info.resourcesFolder = Resources();
        AboutWindowTest::SetUp();
    }

    fs::path Resources() const { return root_.Path() / "Resources"; }

    // The window's logo area as drawn shows `colour` throughout.
    static void ExpectLogoArea(const Ref<Window2>& about, const QColor& colour) {
        const QImage shot = about->Content()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QImage area = shot.copy(65, 9, 170, 65);
        for (const QPoint at : {QPoint(0, 0), QPoint(85, 32), QPoint(169, 64)}) {
            EXPECT_EQ(area.pixelColor(at), colour) << at.x() << "," << at.y();
        }
    }

    // The rest of the window is there whatever became of the logo.
    static void ExpectCompleteWithoutLogo(const Ref<Window2>& about) {
        EXPECT_FALSE(about->Canvas1()->Backdrop());
        EXPECT_EQ(about->Canvas1()->Widget()->geometry(), QRect(65, 9, 170, 65));
        EXPECT_EQ(about->StaticText5()->Text(), "Ver. 1.2.0");
        EXPECT_EQ(about->StaticText3()->Text(), "Halvoric");
        EXPECT_TRUE(about->PushButton1()->Widget()->isVisible());
        ExpectLogoArea(about, kWhite);
    }

    TemporaryFolder root_;
};

TEST_F(AboutLogoTest, WithoutTheLogoTheWindowOpensWithAnEmptyLogoAreaUntilTheFileIsThere) {
    // No resources folder at all.
    Ref<Window2> about = ChooseAbout();
    ASSERT_TRUE(about);
    ExpectCompleteWithoutLogo(about);
    QTest::mouseClick(about->PushButton1()->ButtonWidget(), Qt::LeftButton);

    // A resources folder without the logo, then one with a file that is no picture.
    fs::create_directories(Resources());
    about = ChooseAbout();
    ASSERT_TRUE(about);
    ExpectCompleteWithoutLogo(about);
    QTest::mouseClick(about->PushButton1()->ButtonWidget(), Qt::LeftButton);

    std::ofstream(Resources() / "morvel.tif") << "not a picture";
    about = ChooseAbout();
    ASSERT_TRUE(about);
    ExpectCompleteWithoutLogo(about);
    QTest::mouseClick(about->PushButton1()->ButtonWidget(), Qt::LeftButton);

    // Once the file is there, the next window shows it.
    QImage green(170, 65, QImage::Format_RGB32);
    green.fill(QColor(0, 160, 0));
    ASSERT_TRUE(green.save(QString::fromStdString((Resources() / "morvel.tif").string()), "TIFF"));
    about = ChooseAbout();
    ASSERT_TRUE(about);
    ASSERT_TRUE(about->Canvas1()->Backdrop());
    ExpectLogoArea(about, QColor(0, 160, 0));
    QTest::mouseClick(about->PushButton1()->ButtonWidget(), Qt::LeftButton);

    // And keeps it, also with the file gone again.
    fs::remove(Resources() / "morvel.tif");
    about = ChooseAbout();
    ASSERT_TRUE(about);
    ExpectLogoArea(about, QColor(0, 160, 0));
}

}  // namespace
}  // namespace halvoric
