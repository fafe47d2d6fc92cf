#include "update/UpdateWin.h"

#include <functional>

#include "platform/Application.h"
#include "platform/Design.h"
#include "platform/Desktop.h"
#include "product/Product.h"

namespace halvoric {

using namespace platform;

Ref<UpdateWin> UpdateWin::Instance() {
    return ImplicitInstance<UpdateWin>();
}

void UpdateWin::Layout() {
    // A floating 250 x 100 window in the middle of the screen, resizable
    // between 64 x 64 and 32000 x 32000, without a zoom button; every other
    // design value is the framework's default.
    SetProperties(DesignList(WindowDesign{
        .placement = 2,
        .width = 250,
        .height = 100,
        .frame = 7,
        .title = "ヴァージョンアップ情報",
        .maximizeButton = false,
    }));
}

void UpdateWin::CreateControls() {
    CreateControls0();
}

void UpdateWin::CreateControls0() {
    // Every control keeps the default text size.
    AddControl(LabelDesign{.control = {.name = "Label1", .left = 10, .top = 15, .width = 230, .height = 20,
                                       .lockLeft = true, .lockTop = true, .tabIndex = 0},
                           .text = "新しいバージョンが公開されています。",
                           .textColor = RGB(0, 0, 0)});
    AddControl(PushButtonDesign{.control = {.name = "PushButton1", .left = 160, .top = 55, .width = 80, .height = 20,
                                            .lockLeft = true, .lockTop = true, .tabIndex = 1},
                                .caption = "また後で"})
        ->Action = std::bind_front(&UpdateWin::PushButton1_Action, this);
    AddControl(PushButtonDesign{.control = {.name = "PushButton2", .left = 10, .top = 55, .width = 140, .height = 20,
                                            .lockLeft = true, .lockTop = true, .tabIndex = 2},
                                .caption = "サイトを見に行く",
                                .isDefault = true})
        ->Action = std::bind_front(&UpdateWin::PushButton2_Action, this);
}

Ref<Label> UpdateWin::Label1() const { return Cast<Label>(ControlByName("Label1")); }
Ref<PushButton> UpdateWin::PushButton1() const { return Cast<PushButton>(ControlByName("PushButton1")); }
Ref<PushButton> UpdateWin::PushButton2() const { return Cast<PushButton>(ControlByName("PushButton2")); }

void UpdateWin::PushButton1_Action(PushButton&) {
    Instance()->Close();
}

void UpdateWin::PushButton2_Action(PushButton&) {
    ShowURL(product::kWebPage);
    Instance()->Close();
}

}  // namespace halvoric
