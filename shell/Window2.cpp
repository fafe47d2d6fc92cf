#include "shell/Window2.h"

#include <functional>

#include "platform/Application.h"
#include "platform/Design.h"
#include "platform/Desktop.h"
#include "platform/Files.h"
#include "product/Product.h"
#include "shell/Class1.h"

namespace halvoric {

using namespace platform;

namespace {

std::string MailLink() {
    return "mailto:" + std::string(product::kContactMail);
}

Ref<Picture>& morvelCache() { static Ref<Picture> pic; return pic; }

}  // namespace

Ref<Picture> morvel() {
    return LoadResourcePicture(Runtime::Current().Info().resourcesFolder, morvelCache(), "morvel.tif");
}

void ForgetLogoForTesting() {
    morvelCache() = nullptr;
}

Ref<Window2> Window2::Instance() {
    return ImplicitInstance<Window2>();
}

void Window2::Layout() {
    // A white 300 x 180 dialog in the middle of the screen; every other design
    // value is the framework's default.
    SetProperties(DesignList(WindowDesign{
        .placement = 2,
        .width = 300,
        .height = 180,
        .minWidth = 300,
        .minHeight = 180,
        .maxWidth = 300,
        .maxHeight = 180,
        .frame = 2,
        .hasBackColor = true,
        .backColor = RGB(255, 255, 255),
        .title = "Halvoric",
        .liveResize = false,
    }));
}

void Window2::CreateControls() {
    CreateControls0();
}

void Window2::CreateControls0() {
    AddControl(PushButtonDesign{.control = {.name = "PushButton1", .left = 216, .top = 150, .width = 69, .height = 20,
                                            .tabIndex = 0},
                                .caption = "Close",
                                .style = {.font = "Osaka"}},
               12)
        ->Action = std::bind_front(&Window2::PushButton1_Action, this);

    const TextStyle link{.font = "Osaka", .underline = true};
    auto web = AddControl({.control = {.name = "StaticText1", .left = 20, .top = 117, .width = 210, .height = 20,
                                       .tabIndex = 1},
                           .text = std::string(product::kWebPage), .textColor = RGB(0, 0, 255), .style = link},
                          11);
    web->MouseExit = std::bind_front(&Window2::StaticText1_MouseExit, this);
    web->MouseEnter = std::bind_front(&Window2::StaticText1_MouseEnter, this);
    web->MouseDown = std::bind_front(&Window2::StaticText1_MouseDown, this);
    web->MouseUp = std::bind_front(&Window2::StaticText1_MouseUp, this);

    AddControl(CanvasDesign{.control = {.name = "Canvas1", .left = 65, .top = 9, .width = 170, .height = 65,
                                        .tabIndex = 2}},
               morvel());

    auto mail = AddControl({.control = {.name = "StaticText2", .left = 20, .top = 147, .width = 150, .height = 20,
                                        .tabIndex = 3},
                            .text = MailLink(), .textColor = RGB(0, 0, 255), .style = link},
                           11);
    mail->MouseUp = std::bind_front(&Window2::StaticText2_MouseUp, this);
    mail->MouseExit = std::bind_front(&Window2::StaticText2_MouseExit, this);
    mail->MouseEnter = std::bind_front(&Window2::StaticText2_MouseEnter, this);
    mail->MouseDown = std::bind_front(&Window2::StaticText2_MouseDown, this);

    AddControl({.control = {.name = "StaticText3", .left = 20, .top = 80, .width = 157, .height = 25, .tabIndex = 4},
                .text = "Halvoric", .textColor = RGB(0, 0, 0), .style = {.font = "Osaka", .bold = true}},
               12);
    AddControl({.control = {.name = "StaticText5", .left = 195, .top = 83, .width = 90, .height = 22, .tabIndex = 5},
                .text = "Ver.1.20", .textColor = RGB(0, 0, 0), .style = {.font = "Osaka"}},
               12);
}

void Window2::Event_Open() {
    StaticText5()->SetText("Ver. " + App()->LongVersion());
}

Ref<PushButton> Window2::PushButton1() const { return Cast<PushButton>(ControlByName("PushButton1")); }
Ref<Label> Window2::StaticText1() const { return Cast<Label>(ControlByName("StaticText1")); }
Ref<Canvas> Window2::Canvas1() const { return Cast<Canvas>(ControlByName("Canvas1")); }
Ref<Label> Window2::StaticText2() const { return Cast<Label>(ControlByName("StaticText2")); }
Ref<Label> Window2::StaticText3() const { return Cast<Label>(ControlByName("StaticText3")); }
Ref<Label> Window2::StaticText5() const { return Cast<Label>(ControlByName("StaticText5")); }

void Window2::PushButton1_Action(PushButton&) {
    Instance()->Close();
}

void Window2::StaticText1_MouseExit(Label& label) { label.SetTextColor(RGB(0, 0, 255)); }
void Window2::StaticText1_MouseEnter(Label& label) { label.SetTextColor(RGB(255, 0, 0)); }
bool Window2::StaticText1_MouseDown(Label&, std::int32_t, std::int32_t) { return true; }

void Window2::StaticText1_MouseUp(Label&, std::int32_t, std::int32_t) {
    ShowURL(std::string(product::kWebPage) + "/");
}

void Window2::StaticText2_MouseUp(Label&, std::int32_t, std::int32_t) {
    ShowURL(MailLink());
}

void Window2::StaticText2_MouseExit(Label& label) { label.SetTextColor(RGB(0, 0, 255)); }
void Window2::StaticText2_MouseEnter(Label& label) { label.SetTextColor(RGB(255, 0, 0)); }
bool Window2::StaticText2_MouseDown(Label&, std::int32_t, std::int32_t) { return true; }

}  // namespace halvoric
