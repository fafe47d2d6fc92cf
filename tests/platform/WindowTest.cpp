// The framework's objects, windows and controls, on their own.

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "platform/Application.h"
#include "platform/Controls.h"
#include "platform/Design.h"
#include "platform/Desktop.h"
#include "platform/Menu.h"
#include "platform/Window.h"
#include "tests/support/RecordingDesktop.h"

namespace platform {
namespace {

// A window with one label and one button; the button closes the window.
class SampleWindow : public Window {
public:
    std::string_view ClassName() const override { return "SampleWindow.SampleWindow"; }
    void Layout() override { SetProperties(DesignList(WindowDesign{.width = 200, .height = 100, .title = "Sample"})); }
    void CreateControls() override {
        auto label = AddControl<Label>("Text");
        label->SetTextSize(12);
        label->SetProperties(DesignList(LabelDesign{.control = {.name = "Text", .width = 60}, .text = "Short"}));
        auto button = AddControl<PushButton>("Button");
        button->SetProperties(DesignList(PushButtonDesign{
            .control = {.name = "Button", .left = 100, .top = 60}, .caption = "OK", .isDefault = true}));
        button->Action = [this](PushButton&) { Close(); };
    }
    void Event_Open() override { opened = ControlByName("Text") != nullptr; }
    bool opened = false;
};

class WindowTest : public ::testing::Test {
protected:
    Runtime runtime{{}};
};

TEST(RefTest, ANilObjectRaisesAndACastChecksTheClass) {
    Ref<MenuItem> nothing;
    EXPECT_THROW(nothing->Name(), NilObjectException);
    EXPECT_THROW((void)*nothing, NilObjectException);
    EXPECT_EQ(Cast<QuitMenuItem>(nothing), nullptr);

    Ref<MenuItem> quit = Make<QuitMenuItem>();
    EXPECT_NE(Cast<QuitMenuItem>(quit), nullptr);
    EXPECT_THROW(Cast<AppleMenuItem>(quit), IllegalCastException);
    EXPECT_THROW(quit->Item(0), OutOfBoundsException);
    EXPECT_THROW(quit->Append(nullptr), NilObjectException);
}

TEST(DesignTest, TextValuesStayTextAndWrongOrUnknownValuesAreRejected) {
    const Property title{"Title", ""};
    EXPECT_TRUE(std::holds_alternative<std::string>(title.value));
    EXPECT_THROW(PropertyAs<bool>(title), InvalidArgumentException);
}

TEST_F(WindowTest, ConstructionBuildsShowsAndListsTheWindowFrontmostFirst) {
    auto first = New<SampleWindow>();
    EXPECT_TRUE(first->opened) << "controls exist before the Open event";
    EXPECT_TRUE(first->Widget()->isVisible());
    EXPECT_EQ(first->Widget()->windowTitle(), "Sample");
    auto second = New<SampleWindow>();
    EXPECT_EQ(WindowAt(0), second);
    EXPECT_EQ(WindowAt(1), first);
    EXPECT_EQ(WindowAt(2), nullptr);
    EXPECT_EQ(GetImplicitWindow("SampleWindow.SampleWindow"), second);
    EXPECT_EQ(GetImplicitWindow("Other.Other"), nullptr);

    first->Widget()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(first->Widget()));
    EXPECT_EQ(WindowAt(0), first);

    EXPECT_THROW(first->SetProperties({{"NoSuchProperty", 1}}), InvalidArgumentException);
    EXPECT_THROW(first->SetProperties({{"Width", true}}), InvalidArgumentException);
    EXPECT_THROW(first->ControlByName("Text")->SetProperties({{"LockRight", true}}), InvalidArgumentException);
    EXPECT_THROW(first->AddControl<Label>("Text"), InvalidArgumentException);
}

TEST_F(WindowTest, AWindowClosedFromItsOwnHandlerOutlivesTheHandler) {
    std::weak_ptr<Window> watch;
    {
        auto window = New<SampleWindow>();
        watch = window.Shared();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window->Widget()));
        QTest::keyClick(window->Widget(), Qt::Key_Return);  // the default button
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return WindowCount() == 0; }, 1000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return watch.expired(); }, 1000)) << "released once the event is over";
}

// A window whose Open event fails.
class FailingWindow : public SampleWindow {
public:
    void Event_Open() override { throw IOException("open failed"); }
};

TEST_F(WindowTest, AWindowWhoseOpenEventFailsIsNotLeftListed) {
    auto shown = New<SampleWindow>();
    try {
        New<FailingWindow>();
        ADD_FAILURE() << "the Open event's error passes on";
    } catch (const IOException&) {
    }
    EXPECT_EQ(WindowCount(), 1);
    EXPECT_EQ(WindowAt(0), shown);
}

TEST_F(WindowTest, ALabelFitsALongLineIntoItsWidthAndKeepsItsBytes) {
    auto window = New<SampleWindow>();
    auto label = Cast<Label>(window->ControlByName("Text"));
    QLabel* view = label->LabelWidget();
    EXPECT_EQ(view->font().pixelSize(), 12);
    label->SetText("a much longer line than fits");
    EXPECT_LT(view->font().pixelSize(), 12);
    EXPECT_GE(view->font().pixelSize(), 8);
    label->SetText("Short");
    EXPECT_EQ(view->font().pixelSize(), 12);
    EXPECT_EQ(label->Text(), "Short");
}

TEST_F(WindowTest, AnEscapingErrorIsReportedOnceAndEndsTheApplication) {
    halvoric::testing::DesktopRecord desktop;
    SetDesktopServices(std::make_unique<halvoric::testing::RecordingDesktop>(desktop));
    int runs = 0;
    Dispatch([&] {
        ++runs;
        throw NilObjectException();
    });
    EXPECT_TRUE(Quitting());
    EXPECT_EQ(runtime.QuitStatus(), 1);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_NE(desktop.messages[0].find("NilObjectException"), std::string::npos);
    SetDesktopServices(nullptr);
    Dispatch([&] { ++runs; });
    EXPECT_EQ(runs, 1) << "nothing is delivered once the application quits";

    // The top-level routine hands run-time errors back and lets others pass.
    EXPECT_TRUE(CallFunctionWithExceptionHandling([] { throw IOException(); }));
    EXPECT_FALSE(CallFunctionWithExceptionHandling([] {}));
    EXPECT_THROW(CallFunctionWithExceptionHandling([] { throw std::logic_error("x"); }), std::logic_error);
}

TEST(DesktopTest, TheRealMessageBoxShowsItsTextPlainAndReturnsWhenDismissed) {
    QString shown;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            EXPECT_EQ(box->textFormat(), Qt::PlainText);
            box->accept();
        }
    });
    answer.start(10);
    MsgBox("<b>最新版</b>");
    EXPECT_EQ(shown, QString::fromUtf8("<b>最新版</b>"));
}

}  // namespace
}  // namespace platform
