#pragma once

#include <string_view>

#include "platform/Controls.h"
#include "platform/Window.h"

namespace halvoric {

// UpdateWin is the update notice: a new version has been published; one
// button opens the maker's web page, the other only closes the notice. At
// most one is open.
class UpdateWin : public platform::Window {
public:
    static constexpr std::string_view kClassName = "UpdateWin.UpdateWin";
    std::string_view ClassName() const override { return kClassName; }

    // The open update notice, or a new one when none is open.
    static platform::Ref<UpdateWin> Instance();

    void Layout() override;
    void CreateControls() override;
    void CreateControls0();

    platform::Ref<platform::Label> Label1() const;
    platform::Ref<platform::PushButton> PushButton1() const;
    platform::Ref<platform::PushButton> PushButton2() const;

    void PushButton1_Action(platform::PushButton& button);
    void PushButton2_Action(platform::PushButton& button);
};

}  // namespace halvoric
