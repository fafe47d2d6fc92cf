#include "platform/Window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/Controls.h"
#include "platform/Menu.h"
#include "platform/MenuBarView.h"
#include "platform/QtText.h"

namespace platform {

namespace {

// The content area: holds the controls and has the window's design size.
class ContentWidget final : public QWidget {
public:
    using QWidget::QWidget;
    QSize designSize{300, 300};
    QSize sizeHint() const override { return designSize; }
};

}  // namespace

// The Qt form of a window: an optional menu bar above the content area.
class WindowWidget final : public QWidget {
public:
    explicit WindowWidget(Window& window) : window_(window) {
        setAttribute(Qt::WA_DeleteOnClose, false);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->setSizeConstraint(QLayout::SetMinAndMaxSize);
        content_ = new ContentWidget(this);
        layout->addWidget(content_);
    }

    ContentWidget* Content() const { return content_; }

protected:
    void changeEvent(QEvent* event) override {
        QWidget::changeEvent(event);
        if (event->type() == QEvent::ActivationChange) {
            if (isActiveWindow()) window_.Activated();
            window_.Host().events.updateMenus();
        }
    }

    void closeEvent(QCloseEvent* event) override {
        event->accept();
        window_.ClosedByUser();
    }

    // Return presses the default button and Escape the cancel button, as in
    // any dialog of the desktop.
    void keyPressEvent(QKeyEvent* event) override {
        const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        const bool isEscape = event->key() == Qt::Key_Escape;
        if ((isReturn || isEscape) && event->modifiers() == Qt::NoModifier) {
            for (QObject* child : content_->children()) {
                auto* button = qobject_cast<QPushButton*>(child);
                if (!button || !button->isVisible() || !button->isEnabled()) continue;
                const bool cancel = button->property("cancelButton").toBool();
                if ((isReturn && button->isDefault()) || (isEscape && cancel)) {
                    button->animateClick();
                    return;
                }
            }
        }
        QWidget::keyPressEvent(event);
    }

private:
    Window& window_;
    ContentWidget* content_;
};

Window::Window() = default;

Window::~Window() {
    menuBarView_.reset();
    controls_.clear();
    delete widget_.data();
}

QWidget* Window::Widget() const {
    if (!widget_) throw NilObjectException("The window has no on-screen form.");
    return widget_;
}

QWidget* Window::Content() const {
    if (!widget_) throw NilObjectException("The window has no on-screen form.");
    return widget_->Content();
}

const WindowHost& Window::Host() const {
    if (!host_) throw NilObjectException("The window has not been constructed.");
    return *host_;
}

void Window::Constructor(const WindowHost& host) {
    host_ = &host;
    widget_ = new WindowWidget(*this);
    Layout();
#ifndef Q_OS_MACOS
    // The global menu bar answers its shortcuts everywhere; a window's own bar
    // answers them while the window is active, and so must a window without one.
    if (!menuBar_) {
        if (const Ref<platform::MenuBar> bar = host.applicationMenuBar()) {
            menuBarView_ = std::make_unique<MenuBarView>(bar, widget_, host.events, MenuBarView::ShortcutsOnly{});
        }
    }
#endif
    CreateControls();
    ApplyTabOrder();
    AddMenuHandlers(Ref<Window>(shared_from_this()));
    open_ = true;
    host.opened(shared_from_this());
    try {
        Event_Open();
    } catch (...) {
        // Not left behind in the window list, open but never shown.
        Close();
        throw;
    }
    if (design_.visible) Show();
}

void Window::SetProperties(const PropertyList& properties) {
    for (const Property& p : properties) {
        const std::string_view name = p.name;
        if (name == "Width") {
            design_.width = PropertyAs<std::int32_t>(p);
        } else if (name == "Height") {
            design_.height = PropertyAs<std::int32_t>(p);
        } else if (name == "MinWidth") {
            design_.minWidth = PropertyAs<std::int32_t>(p);
        } else if (name == "MinHeight") {
            design_.minHeight = PropertyAs<std::int32_t>(p);
        } else if (name == "MaxWidth") {
            design_.maxWidth = PropertyAs<std::int32_t>(p);
        } else if (name == "MaxHeight") {
            design_.maxHeight = PropertyAs<std::int32_t>(p);
        } else if (name == "Placement") {
            design_.placement = PropertyAs<std::int32_t>(p);
            if (design_.placement != 0 && design_.placement != 2) {
                throw InvalidArgumentException("Window placement " + std::to_string(design_.placement) +
                                               " is not supported here.");
            }
        } else if (name == "Frame") {
            design_.frame = PropertyAs<std::int32_t>(p);
            if (design_.frame != 0 && design_.frame != 2 && design_.frame != 7) {
                throw InvalidArgumentException("Window frame " + std::to_string(design_.frame) +
                                               " is not supported here.");
            }
        } else if (name == "HasBackColor") {
            widget_->Content()->setAutoFillBackground(PropertyAs<bool>(p));
        } else if (name == "BackColor") {
            const Color color = PropertyAs<Color>(p);
            QPalette palette = widget_->Content()->palette();
            palette.setColor(QPalette::Window, QColor(color.red, color.green, color.blue));
            widget_->Content()->setPalette(palette);
        } else if (name == "Title") {
            SetTitle(PropertyAs<std::string>(p));
        } else if (name == "Visible") {
            design_.visible = PropertyAs<bool>(p);
        } else if (name == "Resizeable") {
            design_.resizeable = PropertyAs<bool>(p);
        } else if (name == "CloseButton") {
            design_.closeButton = PropertyAs<bool>(p);
        } else if (name == "MinimizeButton") {
            design_.minimizeButton = PropertyAs<bool>(p);
        } else if (name == "MaximizeButton") {
            design_.maximizeButton = PropertyAs<bool>(p);
        } else if (name == "FullScreen") {
            if (PropertyAs<bool>(p)) throw InvalidArgumentException("Full-screen windows are not supported here.");
        } else if (name == "Composite" || name == "LiveResize" || name == "MenuBarVisible") {
            PropertyAs<bool>(p);  // Qt composites, resizes live and keeps the menu bar shown
        } else if (name == "MacProcID") {
            PropertyAs<std::int32_t>(p);  // a classic Mac OS window definition; none applies here
        } else {
            throw InvalidArgumentException("Windows have no design property " + p.name + ".");
        }
    }
    ApplyGeometryAndFlags();
}

void Window::ApplyGeometryAndFlags() {
    auto* content = widget_->Content();
    const QSize size(design_.width, design_.height);
    content->designSize = size;
    if (design_.resizeable) {
        content->setMinimumSize(design_.minWidth, design_.minHeight);
        content->setMaximumSize(design_.maxWidth, design_.maxHeight);
    } else {
        content->setFixedSize(size);
    }
    const bool fixed = content->minimumSize() == content->maximumSize();

    Qt::WindowFlags flags = design_.frame == 2 ? Qt::Dialog : Qt::Window;
    if (design_.frame == 7) flags |= Qt::WindowStaysOnTopHint;
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (design_.closeButton) flags |= Qt::WindowCloseButtonHint;
    if (design_.minimizeButton) flags |= Qt::WindowMinimizeButtonHint;
    if (design_.maximizeButton && !fixed) flags |= Qt::WindowMaximizeButtonHint;
    widget_->setWindowFlags(flags);
    widget_->resize(widget_->layout()->sizeHint());
}

void Window::ApplyTabOrder() {
    std::vector<QWidget*> order;
    std::vector<std::shared_ptr<Control>> sorted = controls_;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return a->TabIndex() < b->TabIndex(); });
    for (const auto& control : sorted) order.push_back(control->Widget());
    for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

void Window::SetTitle(std::string title) {
    title_ = std::move(title);
    widget_->setWindowTitle(FromUtf8(title_));
}

void Window::SetMenuBar(const Ref<platform::MenuBar>& bar) {
    menuBar_ = bar;
    menuBarView_.reset();
    if (bar) {
        menuBarView_ = std::make_unique<MenuBarView>(bar, widget_, Host().events);
        widget_->layout()->setMenuBar(menuBarView_->Bar());
    }
    widget_->resize(widget_->layout()->sizeHint());
}

void Window::Show() {
    if (!open_) return;
    if (!placed_ && design_.placement == 2) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame(QPoint(), widget_->size());
            frame.moveCenter(screen->availableGeometry().center());
            widget_->move(Host().keptClear(frame).topLeft());
        }
    }
    placed_ = true;
    widget_->showNormal();
    widget_->raise();
    widget_->activateWindow();
    Host().inFront(shared_from_this());
    Host().events.updateMenus();
}

void Window::Close() {
    if (!open_) return;
    open_ = false;
    auto self = shared_from_this();
    Host().closed(self);
    widget_->hide();
    // Released once the current event is over: the close may come from one of
    // the window's own handlers, which must not be destroyed under it.
    QTimer::singleShot(0, [self] {});
    Host().events.updateMenus();
}

void Window::ClosedByUser() {
    Host().events.dispatch([this] { Close(); });
}

void Window::Activated() {
    if (open_) Host().inFront(shared_from_this());
}

void Window::SyncMenuBar() {
    if (menuBarView_) menuBarView_->Sync();
}

void Window::AdoptControl(std::shared_ptr<Control> control) {
    if (ControlByName(control->Name())) {
        throw InvalidArgumentException("The window already has a control named " + control->Name() + ".");
    }
    controls_.push_back(std::move(control));
}

namespace {

template <class C, class Design>
Ref<C> AddTextControl(Window& window, const Design& design, double textSize) {
    auto control = window.AddControl<C>(design.control.name);
    if (textSize > 0) control->SetTextSize(textSize);
    control->SetTextUnit(0);
    control->SetProperties(DesignList(design));
    return control;
}

}  // namespace

Ref<Label> Window::AddControl(const LabelDesign& design, double textSize) {
    return AddTextControl<Label>(*this, design, textSize);
}

Ref<PushButton> Window::AddControl(const PushButtonDesign& design, double textSize) {
    return AddTextControl<PushButton>(*this, design, textSize);
}

Ref<Canvas> Window::AddControl(const CanvasDesign& design, const Ref<Picture>& backdrop) {
    auto canvas = AddControl<Canvas>(design.control.name);
    if (backdrop) canvas->SetBackdrop(backdrop);
    canvas->SetProperties(DesignList(design));
    return canvas;
}

Ref<Control> Window::ControlByName(std::string_view name) const {
    for (const auto& control : controls_) {
        if (control->Name() == name) return Ref<Control>(control);
    }
    return nullptr;
}

}  // namespace platform
