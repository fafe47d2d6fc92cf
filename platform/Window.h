#pragma once

#include <QPointer>
#include <QWidget>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Application.h"
#include "platform/Design.h"
#include "platform/Properties.h"
#include "platform/Ref.h"

namespace platform {

class Canvas;
class Control;
class Label;
class MenuBar;
class Picture;
class PushButton;
class MenuBarView;
class WindowWidget;

// A top-level window of the program. A window class derives from Window,
// names itself through ClassName, and builds itself in its construction
// hooks; New<W>() creates and constructs one. An open window is held by the
// framework's window list until it closes.
class Window : public std::enable_shared_from_this<Window> {
public:
    Window();
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // The class's registered name, by which GetImplicitWindow finds it.
    virtual std::string_view ClassName() const = 0;

    // Builds the window: Layout, CreateControls, AddMenuHandlers, then the
    // Open event; a window whose Visible property is true is then shown. An
    // error that escapes the Open event closes the window and passes on. A
    // window that installs no menu bar of its own answers the shortcuts of the
    // application's menu bar (where there is no global menu bar).
    void Constructor();

    // Construction hooks and events.
    virtual void Layout() {}
    virtual void CreateControls() {}
    virtual void AddMenuHandlers(const Ref<Window>& window) { (void)window; }
    virtual void Event_Open() {}
    // Raised at a menu update while this window is the frontmost one.
    virtual void Event_EnableMenuItems() {}

    // Applies a design property list, in order.
    void SetProperties(const PropertyList& properties);

    const std::string& Title() const { return title_; }
    void SetTitle(std::string title);

    Ref<platform::MenuBar> MenuBar() const { return menuBar_; }
    void SetMenuBar(const Ref<platform::MenuBar>& bar);

    // Shows the window and brings it to the front.
    void Show();
    // Closes the window; it leaves the window list and is released once the
    // current event has been handled.
    void Close();
    bool IsOpen() const { return open_; }

    // Creates a control of class C in the window under `name`.
    template <class C>
    Ref<C> AddControl(const std::string& name) {
        auto control = std::make_shared<C>(*this, name);
        AdoptControl(control);
        return Ref<C>(std::move(control));
    }
    // Creates a control from its design, under the design's name, the way a
    // window's design builds it: the text size (0 keeps the default size) and
    // the text unit, or a canvas's backdrop, first, then the design list.
    Ref<Label> AddControl(const LabelDesign& design, double textSize = 0);
    Ref<PushButton> AddControl(const PushButtonDesign& design, double textSize = 0);
    Ref<Canvas> AddControl(const CanvasDesign& design, const Ref<Picture>& backdrop = nullptr);
    // The control of that name, or nil.
    Ref<Control> ControlByName(std::string_view name) const;

    // Binds a handler to the menu item of that Name while this window is in front.
    void AddMenuHandler(std::string name, MenuHandler handler) { menuHandlers_.Add(std::move(name), std::move(handler)); }
    bool HandleMenuCommand(std::string_view name) const { return menuHandlers_.Run(name); }

    // The window's Qt widget, and the content area that holds the controls.
    QWidget* Widget() const;
    QWidget* Content() const;

private:
    friend class WindowWidget;
    void AdoptControl(std::shared_ptr<Control> control);
    void ApplyGeometryAndFlags();
    void ApplyTabOrder();
    void ClosedByUser();
    void Activated();

    QPointer<WindowWidget> widget_;
    std::string title_;
    Ref<platform::MenuBar> menuBar_;
    // The window's own menu bar, or, for a window without one, the shortcuts
    // of the application's menu bar.
    std::unique_ptr<MenuBarView> menuBarView_;
    std::vector<std::shared_ptr<Control>> controls_;
    MenuHandlers menuHandlers_;
    bool open_ = false;
    bool placed_ = false;

    // Design values that take effect together once a property list is applied.
    struct Design {
        std::int32_t width = 300, height = 300;
        std::int32_t minWidth = 64, minHeight = 64;
        std::int32_t maxWidth = 32000, maxHeight = 32000;
        std::int32_t placement = 0;
        std::int32_t frame = 0;
        bool visible = true;
        bool resizeable = true;
        bool closeButton = true;
        bool minimizeButton = true;
        bool maximizeButton = true;
    } design_;
};

// Creates a window of class W and constructs it.
template <class W>
Ref<W> New() {
    auto window = std::make_shared<W>();
    window->Constructor();
    return Ref<W>(std::move(window));
}

// The program's open windows, frontmost first: WindowAt(0) is the frontmost;
// nil past the last.
Ref<Window> WindowAt(std::int32_t index);
std::int32_t WindowCount();

// The open window whose class has that registered name, or nil.
Ref<Window> GetImplicitWindow(std::string_view className);

// The single instance of a window class W that registers itself as
// W::kClassName: the open one, or a new one when none is open.
template <class W>
Ref<W> ImplicitInstance() {
    if (Ref<Window> open = GetImplicitWindow(W::kClassName)) return Cast<W>(open);
    return New<W>();
}

// Closes every open window (at shut-down).
void CloseAllWindows();

}  // namespace platform
