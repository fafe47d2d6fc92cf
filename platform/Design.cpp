#include "platform/Design.h"

namespace platform {

namespace {

// Name, Left, Top, Width, Height, the four locks, TabPanelIndex, TabIndex:
// the head of every control's list.
PropertyList Placement(const ControlDesign& c) {
    return {
        {"Name", c.name},          {"Left", c.left},        {"Top", c.top},
        {"Width", c.width},        {"Height", c.height},    {"LockLeft", c.lockLeft},
        {"LockTop", c.lockTop},    {"LockRight", false},    {"LockBottom", false},
        {"TabPanelIndex", 0},      {"TabIndex", c.tabIndex},
    };
}

void Append(PropertyList& list, PropertyList more) {
    list.insert(list.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
}

}  // namespace

PropertyList DesignList(const WindowDesign& w) {
    return {
        {"Placement", w.placement},
        {"Width", w.width},
        {"Height", w.height},
        {"MinWidth", w.minWidth},
        {"MinHeight", w.minHeight},
        {"MaxWidth", w.maxWidth},
        {"MaxHeight", w.maxHeight},
        {"Frame", w.frame},
        {"Composite", w.composite},
        {"HasBackColor", w.hasBackColor},
        {"BackColor", w.backColor},
        {"Title", w.title},
        {"Visible", w.visible},
        {"FullScreen", w.fullScreen},
        {"MenuBarVisible", w.menuBarVisible},
        {"CloseButton", w.closeButton},
        {"Resizeable", w.resizeable},
        {"LiveResize", w.liveResize},
        {"MaximizeButton", w.maximizeButton},
        {"MinimizeButton", w.minimizeButton},
        {"MacProcID", w.macProcID},
    };
}

PropertyList DesignList(const LabelDesign& l) {
    PropertyList list = Placement(l.control);
    Append(list, {
                     {"Text", l.text},
                     {"TextAlign", l.textAlign},
                     {"TextColor", l.textColor},
                     {"Multiline", l.multiline},
                     {"Enabled", l.control.enabled},
                     {"Visible", l.control.visible},
                     {"Selectable", l.selectable},
                     {"Transparent", l.transparent},
                     {"HelpTag", l.control.helpTag},
                     {"AutoDeactivate", true},
                     {"TextFont", l.style.font},
                     {"Bold", l.style.bold},
                     {"Italic", l.style.italic},
                     {"Underline", l.style.underline},
                     {"DataSource", std::string()},
                     {"DataField", std::string()},
                     {"InitialParent", std::string()},
                 });
    return list;
}

PropertyList DesignList(const PushButtonDesign& b) {
    PropertyList list = Placement(b.control);
    Append(list, {
                     {"TabStop", b.tabStop},
                     {"Caption", b.caption},
                     {"Default", b.isDefault},
                     {"Cancel", b.isCancel},
                     {"Enabled", b.control.enabled},
                     {"Visible", b.control.visible},
                     {"HelpTag", b.control.helpTag},
                     {"AutoDeactivate", true},
                     {"ButtonStyle", b.buttonStyle},
                     {"TextFont", b.style.font},
                     {"Bold", b.style.bold},
                     {"Italic", b.style.italic},
                     {"Underline", b.style.underline},
                     {"InitialParent", std::string()},
                 });
    return list;
}

PropertyList DesignList(const CanvasDesign& c) {
    PropertyList list = Placement(c.control);
    Append(list, {
                     {"TabStop", c.tabStop},
                     {"Visible", c.control.visible},
                     {"HelpTag", c.control.helpTag},
                     {"AutoDeactivate", true},
                     {"Enabled", c.control.enabled},
                     {"UseFocusRing", c.useFocusRing},
                     {"AcceptFocus", c.acceptFocus},
                     {"AcceptTabs", c.acceptTabs},
                     {"DoubleBuffer", c.doubleBuffer},
                     {"EraseBackground", c.eraseBackground},
                     {"InitialParent", std::string()},
                 });
    return list;
}

}  // namespace platform
