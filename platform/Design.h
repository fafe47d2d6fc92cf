#pragma once

#include <cstdint>
#include <string>

#include "platform/Properties.h"

// The design values of windows and controls as records with the framework's
// defaults, and their design property lists in each class's own order. A
// window class states only what differs from the defaults:
//
//     StaticText2()->SetProperties(DesignList(LabelDesign{
//         .name = "StaticText2", .left = 104, .top = 42, .width = 161, .height = 20, ...}));
namespace platform {

struct WindowDesign {
    std::int32_t placement = 0;
    std::int32_t width = 300;
    std::int32_t height = 300;
    std::int32_t minWidth = 64;
    std::int32_t minHeight = 64;
    std::int32_t maxWidth = 32000;
    std::int32_t maxHeight = 32000;
    std::int32_t frame = 0;
    bool composite = false;
    bool hasBackColor = false;
    Color backColor = RGB(255, 255, 255);
    std::string title;
    bool visible = true;
    bool fullScreen = false;
    bool menuBarVisible = true;
    bool closeButton = true;
    bool resizeable = true;
    bool liveResize = true;
    bool maximizeButton = true;
    bool minimizeButton = true;
    std::int32_t macProcID = 0;
};

// Placement, sizes and tab position, common to every control.
struct ControlDesign {
    std::string name;
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 80;
    std::int32_t height = 20;
    bool lockLeft = false;
    bool lockTop = false;
    std::int32_t tabIndex = 0;
    bool enabled = true;
    bool visible = true;
    std::string helpTag;
};

struct TextStyle {
    std::string font = "System";
    bool bold = false;
    bool italic = false;
    bool underline = false;
};

struct LabelDesign {
    ControlDesign control;
    std::string text;
    std::int32_t textAlign = 0;
    Color textColor = RGB(0, 0, 0);
    bool multiline = false;
    bool selectable = false;
    bool transparent = false;
    TextStyle style;
};

struct PushButtonDesign {
    ControlDesign control;
    bool tabStop = true;
    std::string caption;
    bool isDefault = false;
    bool isCancel = false;
    std::int32_t buttonStyle = 0;
    TextStyle style;
};

struct CanvasDesign {
    ControlDesign control;
    bool tabStop = true;
    bool useFocusRing = true;
    bool acceptFocus = false;
    bool acceptTabs = false;
    bool doubleBuffer = false;
    bool eraseBackground = true;
};

PropertyList DesignList(const WindowDesign& design);
PropertyList DesignList(const LabelDesign& design);
PropertyList DesignList(const PushButtonDesign& design);
PropertyList DesignList(const CanvasDesign& design);

}  // namespace platform
