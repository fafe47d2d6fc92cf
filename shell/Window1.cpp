#include "shell/Window1.h"

#include <functional>

#include "platform/Design.h"
#include "platform/Desktop.h"
#include "platform/Text.h"
#include "product/Product.h"
#include "shell/Menu.h"

namespace halvoric {

using namespace platform;

void Window1::Layout() {
    SetMenuBar(Menu::Instance());
    // A fixed 280 x 150 document window with a close box only; every other
    // design value is the framework's default.
    SetProperties(DesignList(WindowDesign{
        .width = 280,
        .height = 150,
        .minWidth = 280,
        .minHeight = 150,
        .maxWidth = 280,
        .maxHeight = 150,
        .resizeable = false,
        .liveResize = false,
        .maximizeButton = false,
        .minimizeButton = false,
    }));
}

void Window1::CreateControls() {
    CreateControls0();
}

void Window1::CreateControls0() {
    const TextStyle osaka{.font = "Osaka"};

    AddControl(PushButtonDesign{.control = {.name = "PushButton2", .left = 183, .top = 111, .width = 69, .height = 20,
                                            .tabIndex = 0},
                                .caption = "閉じる",
                                .style = osaka},
               12)
        ->Action = std::bind_front(&Window1::PushButton2_Action, this);

    AddControl({.control = {.name = "StaticText1", .left = 20, .top = 10, .width = 240, .height = 20, .tabIndex = 1},
                .text = "Halvoric", .style = osaka},
               12);
    AddControl({.control = {.name = "StaticText2", .left = 104, .top = 42, .width = 161, .height = 20, .tabIndex = 2},
                .text = "Adobe InDesign CS3", .style = osaka},
               12);
    AddControl({.control = {.name = "StaticText3", .left = 105, .top = 61, .width = 137, .height = 18, .tabIndex = 4},
                .text = "Macintosh Edition", .style = osaka},
               10);
    auto link = AddControl({.control = {.name = "StaticText4", .left = 20, .top = 114, .width = 151, .height = 20,
                                        .tabIndex = 5},
                            .text = std::string(product::kWebPage), .textColor = RGB(0, 0, 255), .style = osaka},
                           12);
    link->MouseDown = std::bind_front(&Window1::StaticText4_MouseDown, this);
    link->MouseExit = std::bind_front(&Window1::StaticText4_MouseExit, this);
    link->MouseEnter = std::bind_front(&Window1::StaticText4_MouseEnter, this);
    link->MouseUp = std::bind_front(&Window1::StaticText4_MouseUp, this);
    AddControl({.control = {.name = "StaticText5", .left = 105, .top = 82, .width = 160, .height = 25, .tabIndex = 6},
                .text = "サブバージョン不明", .textAlign = 1, .style = osaka},
               14);
    // The hidden holder of the file name keeps the default text size.
    AddControl(LabelDesign{.control = {.name = "Label1", .left = 183, .top = 12, .width = 91, .height = 20,
                                       .lockLeft = true, .lockTop = true, .tabIndex = 7, .enabled = false,
                                       .visible = false},
                           .text = "ファイル名"});

    AddControl(CanvasDesign{.control = {.name = "Canvas1", .left = 34, .top = 42, .width = 64, .height = 64,
                                        .tabIndex = 3}});
}

Ref<PushButton> Window1::PushButton2() const { return Cast<PushButton>(ControlByName("PushButton2")); }
Ref<Label> Window1::StaticText1() const { return Cast<Label>(ControlByName("StaticText1")); }
Ref<Label> Window1::StaticText2() const { return Cast<Label>(ControlByName("StaticText2")); }
Ref<Label> Window1::StaticText3() const { return Cast<Label>(ControlByName("StaticText3")); }
Ref<Label> Window1::StaticText4() const { return Cast<Label>(ControlByName("StaticText4")); }
Ref<Label> Window1::StaticText5() const { return Cast<Label>(ControlByName("StaticText5")); }
Ref<Label> Window1::Label1() const { return Cast<Label>(ControlByName("Label1")); }
Ref<Canvas> Window1::Canvas1() const { return Cast<Canvas>(ControlByName("Canvas1")); }

void Window1::PushButton2_Action(PushButton&) {
    // The window whose button was pressed, which is not always the frontmost
    // one: a click can reach a window behind before it comes to the front.
    Close();
}

bool Window1::StaticText4_MouseDown(Label&, std::int32_t, std::int32_t) {
    return true;
}

void Window1::StaticText4_MouseExit(Label& label) {
    label.SetTextColor(RGB(0, 0, 255));
}

void Window1::StaticText4_MouseEnter(Label& label) {
    label.SetTextColor(RGB(255, 0, 0));
}

void Window1::StaticText4_MouseUp(Label&, std::int32_t, std::int32_t) {
    ShowURL(product::kWebPage);
}

// Copy ---------------------------------------------------------------------

Ref<MenuItem> Window1::UntitledMenu0() const { return Cast<MenuItem>(MenuBar()->Lookup("UntitledMenu0")); }
Ref<AppleMenuItem> Window1::kono() const { return Cast<AppleMenuItem>(MenuBar()->Lookup("kono")); }
Ref<MenuItem> Window1::UntitledMenu1() const { return Cast<MenuItem>(MenuBar()->Lookup("UntitledMenu1")); }
Ref<MenuItem> Window1::upchk() const { return Cast<MenuItem>(MenuBar()->Lookup("upchk")); }
Ref<MenuItem> Window1::clcopy() const { return Cast<MenuItem>(MenuBar()->Lookup("clcopy")); }
Ref<MenuItem> Window1::UntitledMenu2() const { return Cast<MenuItem>(MenuBar()->Lookup("UntitledMenu2")); }
Ref<QuitMenuItem> Window1::FileQuit() const { return Cast<QuitMenuItem>(MenuBar()->Lookup("FileQuit")); }
Ref<MenuItem> Window1::hiraku() const { return Cast<MenuItem>(MenuBar()->Lookup("hiraku")); }
Ref<MenuItem> Window1::UntitledMenu3() const { return Cast<MenuItem>(MenuBar()->Lookup("UntitledMenu3")); }

void Window1::AddMenuHandlers(const Ref<Window>& window) {
    Window1* self = Cast<Window1>(window).Get();
    // The window holds its own handler, so the handler must not hold the window.
    window->AddMenuHandler("clcopy", [self] { return self->_clcopy_Action(); });
}

void Window1::Event_EnableMenuItems() {
    clcopy()->Enable();
}

bool Window1::_clcopy_Action() {
    const auto converter = GetTextConverter(GetTextEncoding(0x0100, 0, 2), GetTextEncoding(0x0100, 0, 2));
    auto clipboard = Make<Clipboard>();
    std::string text = Label1()->Text() + "\t";
    text += StaticText2()->Text() + "\t";
    text += StaticText3()->Text() + "\t";
    text += StaticText5()->Text();
    clipboard->SetText(converter->convert(text));
    clipboard->Close();
    return false;
}

}  // namespace halvoric
