#pragma once

#include <QPointer>
#include <QRect>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Controls.h"
#include "platform/Design.h"
#include "platform/EventHost.h"
#include "platform/Menu.h"
#include "platform/Properties.h"
#include "platform/Ref.h"

namespace platform {

class Picture;
class MenuBarView;
class Window;
class WindowWidget;

// What a window tells the runtime that holds the open windows, beyond the
// user's doings in it, and what it asks of that runtime: callbacks that the
// runtime connects.
struct WindowHost {
    EventHost events;
    // The window opened: it joins the open windows, behind the others.
    std::function<void(const std::shared_ptr<Window>& window)> opened;
    // It came to the front (shown, or activated by the user).
    std::function<void(const std::shared_ptr<Window>& window)> inFront;
    // It closed: it leaves the open windows.
    std::function<void(const std::shared_ptr<Window>& window)> closed;
    // The application's menu bar, whose shortcuts a window without a menu bar
    // of its own answers; nil when there is none.
    std::function<Ref<MenuBar>()> applicationMenuBar;
    // `frame` (a window's frame on screen), moved clear of what the
    // application shows at the screen's edge, as a global menu bar is.
    std::function<QRect(const QRect& frame)> keptClear;
};

// A top-level window of the program. A window class derives from Window,
// names itself through ClassName, and builds itself in its construction
// hooks; New<W>() (Application.h) creates one and constructs it for the
// runtime, which holds it while it is open.
class Window : public std::enable_shared_from_this<Window> {
public:
    Window();
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // The class's registered name, by which GetImplicitWindow finds it.
    virtual std::string_view ClassName() const = 0;

    // Builds the window for `host`: Layout, CreateControls, AddMenuHandlers,
    // then the Open event; a window whose Visible property is true is then
    // shown. An error that escapes the Open event closes the window and passes
    // on. A window that installs no menu bar of its own answers the shortcuts
    // of the application's menu bar (where there is no global menu bar).
    void Constructor(const WindowHost& host);

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
        auto control = std::make_shared<C>(ControlSite{Content(), Host().events}, name);
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

    // Brings its menu bar on screen (or the shortcuts it answers) in line
    // with the items' enabled states.
    void SyncMenuBar();

private:
    friend class WindowWidget;
    void AdoptControl(std::shared_ptr<Control> control);
    void ApplyGeometryAndFlags();
    void ApplyTabOrder();
    void ClosedByUser();
    void Activated();
    const WindowHost& Host() const;

    const WindowHost* host_ = nullptr;  // from Constructor on
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

}  // namespace platform
