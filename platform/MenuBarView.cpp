#include "platform/MenuBarView.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMenu>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/QtText.h"

namespace platform {

namespace {

// "Cmd+O" -> Ctrl+O, which Qt shows and handles as Command+O on macOS.
QKeySequence Shortcut(const std::string& text) {
    constexpr std::string_view prefix = "Cmd+";
    if (text.size() != prefix.size() + 1 || !text.starts_with(prefix)) return {};
    const char key = text.back();
    if (key < 'A' || key > 'Z') return {};
    return QKeySequence(QKeyCombination(Qt::ControlModifier, static_cast<Qt::Key>(Qt::Key_A + (key - 'A'))));
}

QAction::MenuRole Role(const Ref<MenuItem>& item) {
    if (dynamic_cast<AppleMenuItem*>(item.Get())) return QAction::AboutRole;
    if (dynamic_cast<QuitMenuItem*>(item.Get())) return QAction::QuitRole;
    return QAction::NoRole;
}

}  // namespace

MenuBarView::MenuBarView(const Ref<MenuBar>& bar, QWidget* parent, const EventHost& events)
    : events_(events), bar_(new QMenuBar(parent)) {
    for (std::int32_t index = 0; index < bar->Count(); ++index) {
        const Ref<MenuItem> menuItem = bar->Item(index);
        QMenu* menu = bar_->addMenu(PlainCaption(menuItem->Text()));
        QObject::connect(menu, &QMenu::aboutToShow, [this] { events_.updateMenus(); });
        entries_.push_back({menuItem, menu->menuAction(), menu});
        AddItems(menu, menuItem);
    }
    Sync();
}

MenuBarView::MenuBarView(const Ref<MenuBar>& bar, QWidget* window, const EventHost& events, ShortcutsOnly)
    : events_(events), shortcutsOnly_(true) {
    AddShortcuts(window, bar);
    Sync();
}

MenuBarView::~MenuBarView() {
    delete bar_.data();
    if (shortcutsOnly_) {
        for (const Entry& entry : entries_) delete entry.action.data();
    }
}

void MenuBarView::AddItems(QMenu* menu, const Ref<MenuItem>& parent) {
    for (std::int32_t index = 0; index < parent->Count(); ++index) {
        const Ref<MenuItem> item = parent->Item(index);
        if (item->IsSeparator()) {
            menu->addSeparator();
            continue;
        }
        if (item->Count() > 0) {
            QMenu* submenu = menu->addMenu(PlainCaption(item->Text()));
            entries_.push_back({item, submenu->menuAction(), submenu});
            AddItems(submenu, item);
            continue;
        }
        QAction* action = menu->addAction(PlainCaption(item->Text()));
        action->setMenuRole(Role(item));
        BindCommand(action, item);
    }
}

void MenuBarView::BindCommand(QAction* action, const Ref<MenuItem>& item) {
    action->setShortcut(Shortcut(item->KeyboardShortcut()));
    QObject::connect(action, &QAction::triggered, [this, item] { events_.chooseMenuItem(item); });
    entries_.push_back({item, action, nullptr});
}

void MenuBarView::AddShortcuts(QWidget* window, const Ref<MenuItem>& parent) {
    for (std::int32_t index = 0; index < parent->Count(); ++index) {
        const Ref<MenuItem> item = parent->Item(index);
        if (item->IsSeparator()) continue;
        if (item->Count() > 0) {
            AddShortcuts(window, item);
            continue;
        }
        if (Shortcut(item->KeyboardShortcut()).isEmpty()) continue;
        // The window's own action, as a menu bar's would be: Qt::WindowShortcut,
        // so that it answers only while this window is active.
        auto* action = new QAction(PlainCaption(item->Text()), window);
        action->setShortcutContext(Qt::WindowShortcut);
        window->addAction(action);
        BindCommand(action, item);
    }
}

void MenuBarView::Sync() {
    // Commands follow their items; a menu stays usable while it holds an
    // enabled command.
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        if (!it->action) continue;
        if (!it->menu) {
            it->action->setEnabled(it->item->Enabled());
            continue;
        }
        const auto actions = it->menu->actions();
        const bool any = std::any_of(actions.begin(), actions.end(),
                                     [](QAction* a) { return !a->isSeparator() && a->isEnabled(); });
        it->action->setEnabled(any);
    }
}

// MenuBarWindow --------------------------------------------------------------

namespace {

// Narrower than this, a window manager's title bar has no room left for the
// title beside its buttons.
constexpr int kMinimumMenuBarWindowWidth = 240;

}  // namespace

MenuBarWindow::MenuBarWindow(const Ref<MenuBar>& bar, const QString& title, const EventHost& events,
                             std::function<void()> closed)
    : view_(bar, this, events), events_(events), closed_(std::move(closed)) {
    setWindowTitle(title);
    // A close box (which quits) and a minimise button; no maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMinimizeButtonHint);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setMenuBar(view_.Bar());
    const QSize menus = view_.Bar()->sizeHint();
    setFixedSize(std::max(menus.width(), kMinimumMenuBarWindowWidth), menus.height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) move(screen->availableGeometry().topLeft());
}

QRect MenuBarWindow::KeptClear(const QRect& frame) const {
    if (!isVisible()) return frame;
    const QRect taken = frameGeometry();
    if (!frame.intersects(taken)) return frame;
    return frame.translated(0, taken.bottom() + 1 - frame.top());
}

void MenuBarWindow::BringToFront() {
    showNormal();
    raise();
    activateWindow();
}

void MenuBarWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) events_.updateMenus();
}

void MenuBarWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    closed_();
}

}  // namespace platform
