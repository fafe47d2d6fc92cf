#pragma once

#include <string_view>

#include "platform/Controls.h"
#include "platform/Picture.h"
#include "platform/Window.h"

namespace halvoric {

// Window2 is the About window: the maker's logo, product name and version, links to the
// maker's web page and contact address, and "Close". At most one is open.
class Window2 : public platform::Window {
public:
    static constexpr std::string_view kClassName = "Window2.Window2";
    std::string_view ClassName() const override { return kClassName; }

    // The open About window, or a new one when none is open.
    static platform::Ref<Window2> Instance();

    void Layout() override;
    void CreateControls() override;
    void CreateControls0();
    void Event_Open() override;

    platform::Ref<platform::PushButton> PushButton1() const;
    platform::Ref<platform::Label> StaticText1() const;
    platform::Ref<platform::Canvas> Canvas1() const;
    platform::Ref<platform::Label> StaticText2() const;
    platform::Ref<platform::Label> StaticText3() const;
    platform::Ref<platform::Label> StaticText5() const;

    void PushButton1_Action(platform::PushButton& button);
    void StaticText1_MouseExit(platform::Label& label);
    void StaticText1_MouseEnter(platform::Label& label);
    bool StaticText1_MouseDown(platform::Label& label, std::int32_t x, std::int32_t y);
    void StaticText1_MouseUp(platform::Label& label, std::int32_t x, std::int32_t y);
    void StaticText2_MouseUp(platform::Label& label, std::int32_t x, std::int32_t y);
    void StaticText2_MouseExit(platform::Label& label);
    void StaticText2_MouseEnter(platform::Label& label);
    bool StaticText2_MouseDown(platform::Label& label, std::int32_t x, std::int32_t y);
};

// The maker's logo, "morvel.tif" from the resources folder, loaded on first use.
platform::Ref<platform::Picture> morvel();

// Empties the logo's cache, so that a test starts from a fresh process's state
// whatever ran before it. It stays global because the logo's accessor is: a
// process-wide function whose picture, once loaded, lives as long as the process.
void ForgetLogoForTesting();

}  // namespace halvoric
