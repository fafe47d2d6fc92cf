#pragma once

#include <string_view>

#include "platform/Controls.h"
#include "platform/Menu.h"
#include "platform/Window.h"

namespace halvoric {

// Window1 is the result window: what the inspection found in one document. A
// new one is made for every document; its labels are the only place the
// result lives, and Copy ("clcopy", clipboard copy) reads them back.
class Window1 : public platform::Window {
public:
    static constexpr std::string_view kClassName = "Window1.Window1";
    std::string_view ClassName() const override { return kClassName; }

    void Layout() override;
    void CreateControls() override;
    void CreateControls0();

    platform::Ref<platform::PushButton> PushButton2() const;  // "閉じる": closes this window
    platform::Ref<platform::Label> StaticText1() const;       // the heading "Halvoric"
    platform::Ref<platform::Label> StaticText2() const;       // the release name
    platform::Ref<platform::Label> StaticText3() const;       // the edition
    platform::Ref<platform::Label> StaticText4() const;       // link to the maker's web page
    platform::Ref<platform::Label> StaticText5() const;       // the version-number text
    platform::Ref<platform::Label> Label1() const;            // hidden: the file name, for Copy
    platform::Ref<platform::Canvas> Canvas1() const;          // the release icon

    void PushButton2_Action(platform::PushButton& button);
    bool StaticText4_MouseDown(platform::Label& label, std::int32_t x, std::int32_t y);
    void StaticText4_MouseExit(platform::Label& label);
    void StaticText4_MouseEnter(platform::Label& label);
    void StaticText4_MouseUp(platform::Label& label, std::int32_t x, std::int32_t y);

    // The menu bar's items, looked up in this window's menu bar.
    platform::Ref<platform::MenuItem> UntitledMenu0() const;
    platform::Ref<platform::AppleMenuItem> kono() const;
    platform::Ref<platform::MenuItem> UntitledMenu1() const;
    platform::Ref<platform::MenuItem> upchk() const;
    platform::Ref<platform::MenuItem> clcopy() const;
    platform::Ref<platform::MenuItem> UntitledMenu2() const;
    platform::Ref<platform::QuitMenuItem> FileQuit() const;
    platform::Ref<platform::MenuItem> hiraku() const;
    platform::Ref<platform::MenuItem> UntitledMenu3() const;

    void AddMenuHandlers(const platform::Ref<platform::Window>& window) override;
    void Event_EnableMenuItems() override;
    bool _clcopy_Action();
};

}  // namespace halvoric
