// The result window as the user meets it: its layout, the link to the maker's
// page and the Close button, through real Qt events.

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "shell/Window1.h"
#include "platform/Window.h"
#include "product/Product.h"
#include "shell/Class1.h"
#include "tests/support/AppFixture.h"
#include "tests/support/CraftedDocument.h"

namespace halvoric {
namespace {

using platform::Ref;
using testing::CraftedDocument;

class ResultWindowTest : public testing::AppFixture {
protected:
    Ref<Window1> Open(std::string_view name = "flyer.indd") {
        const auto path = CraftedDocument(HeaderLayout::BigEndian, 0x05, 100).WriteTo(folder.File(name));
        App()->VersionCheck(platform::Make<platform::FolderItem>(path));
        auto window = platform::Cast<Window1>(platform::WindowAt(0));
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window->Widget()));
        return window;
    }

    static QColor TextColor(const Ref<platform::Label>& label) {
        return label->LabelWidget()->palette().color(QPalette::WindowText);
    }

    testing::TemporaryFolder folder;
};

TEST_F(ResultWindowTest, TheWindowIsAFixedDocumentWindowWithItsControlsInPlace) {
    const auto window = Open();
    QWidget* content = window->Content();
    EXPECT_EQ(content->size(), QSize(280, 150));
    EXPECT_EQ(content->minimumSize(), QSize(280, 150));
    EXPECT_EQ(content->maximumSize(), QSize(280, 150));
    const Qt::WindowFlags flags = window->Widget()->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);

    const struct {
        const char* name;
        QRect geometry;
        const char* text;
    } controls[] = {
        {"PushButton2", {183, 111, 69, 20}, "閉じる"},
        {"StaticText1", {20, 10, 240, 20}, "Halvoric"},
        {"StaticText2", {104, 42, 161, 20}, "Adobe InDesign CS3"},
        {"StaticText3", {105, 61, 137, 18}, "不明"},
        {"StaticText4", {20, 114, 151, 20}, product::kWebPage.data()},
        {"StaticText5", {105, 82, 160, 25}, "不明"},
        {"Label1", {183, 12, 91, 20}, "flyer.indd"},
        {"Canvas1", {34, 42, 64, 64}, nullptr},
    };
    for (const auto& control : controls) {
        SCOPED_TRACE(control.name);
        QWidget* widget = window->ControlByName(control.name)->Widget();
        EXPECT_EQ(widget->geometry(), control.geometry);
        if (!control.text) continue;
        const QString shown = qobject_cast<QLabel*>(widget) ? qobject_cast<QLabel*>(widget)->text()
                                                             : qobject_cast<QPushButton*>(widget)->text();
        EXPECT_EQ(shown, QString::fromUtf8(control.text));
    }
    EXPECT_FALSE(window->Label1()->Widget()->isVisible());
    EXPECT_TRUE(window->StaticText5()->Widget()->isVisible());
    EXPECT_EQ(window->StaticText5()->LabelWidget()->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    EXPECT_FALSE(window->PushButton2()->ButtonWidget()->isDefault());
    // Japanese captions are drawn with a face that has the glyphs.
    EXPECT_TRUE(QFontMetrics(window->PushButton2()->ButtonWidget()->font()).inFont(QChar(0x9589)));  // 閉
    EXPECT_EQ(window->StaticText5()->LabelWidget()->font().pixelSize(), 14);
}

TEST_F(ResultWindowTest, LabelsShowTheirBytesAsPlainTextAndGiveThemBackUnchanged) {
    const auto window = Open("<b>x<i>.indd");
    EXPECT_EQ(window->Label1()->LabelWidget()->textFormat(), Qt::PlainText);
    const std::string bytes("3.\xFF\x00" "5", 5);
    window->StaticText5()->SetText(bytes);
    EXPECT_EQ(window->StaticText5()->Text(), bytes);
    EXPECT_EQ(window->StaticText5()->LabelWidget()->text(), QString::fromUtf8(bytes.data(), 5));
    EXPECT_TRUE(window->StaticText5()->LabelWidget()->text().contains(QChar(0xFFFD)));
}

TEST_F(ResultWindowTest, TheLinkTurnsRedUnderThePointerAndOpensThePageWhereverReleased) {
    const auto window = Open();
    const auto link = window->StaticText4();
    QWidget* widget = link->Widget();
    EXPECT_EQ(TextColor(link), QColor(0, 0, 255));

    QTest::mouseMove(widget, QPoint(10, 10));
    EXPECT_TRUE(QTest::qWaitFor([&] { return TextColor(link) == QColor(255, 0, 0); }, 1000));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(widget, &leave);
    EXPECT_EQ(TextColor(link), QColor(0, 0, 255));

    // Pressed on the link, released outside it: the page still opens.
    QTest::mousePress(widget, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(widget, Qt::LeftButton, {}, QPoint(200, -60));
    ASSERT_EQ(desktop.urls.size(), 1u);
    EXPECT_EQ(desktop.urls[0], product::kWebPage);

    // Other labels open nothing.
    QTest::mouseClick(window->StaticText2()->Widget(), Qt::LeftButton);
    EXPECT_EQ(desktop.urls.size(), 1u);
}

TEST_F(ResultWindowTest, CloseShutsTheFrontWindowAndLeavesTheOthers) {
    const auto first = Open("first.indd");
    const auto second = Open("second.indd");
    ASSERT_EQ(platform::WindowCount(), 2);
    QTest::mouseClick(second->PushButton2()->Widget(), Qt::LeftButton);
    ASSERT_EQ(platform::WindowCount(), 1);
    EXPECT_EQ(platform::WindowAt(0), first);
    EXPECT_FALSE(second->Widget()->isVisible());
    EXPECT_TRUE(first->Widget()->isVisible());

    // A click that reaches a window behind closes that window, not the front one.
    const auto third = Open("third.indd");
    ASSERT_EQ(platform::WindowAt(0), third);
    QTest::mouseClick(first->PushButton2()->Widget(), Qt::LeftButton);
    ASSERT_EQ(platform::WindowCount(), 1);
    EXPECT_EQ(platform::WindowAt(0), third);

    // The close box closes it too.
    third->Widget()->close();
    EXPECT_EQ(platform::WindowCount(), 0);
}

}  // namespace
}  // namespace halvoric
