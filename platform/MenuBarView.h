#pragma once

#include <QMenuBar>
#include <QPointer>
#include <QWidget>
#include <vector>

#include <functional>

#include "platform/EventHost.h"
#include "platform/Menu.h"

class QAction;
class QMenu;

namespace platform {

// The on-screen form of a menu tree: a QMenuBar with one QMenu per menu and
// one QAction per command, built when the bar is installed. Choosing an
// action tells `events`, which runs the item's command; a menu about to open
// asks it to update the menus first. Sync brings the actions' enabled states
// in line with the items'.
class MenuBarView {
public:
    // `parent` nullptr makes the bar the application's global menu bar (macOS).
    MenuBarView(const Ref<MenuBar>& bar, QWidget* parent, const EventHost& events);
    // The bar's keyboard shortcuts alone, for a window that shows no menu bar
    // of its own: one invisible action per command that has a shortcut, on
    // `window`, so that the commands answer their keys there too.
    struct ShortcutsOnly {};
    MenuBarView(const Ref<MenuBar>& bar, QWidget* window, const EventHost& events, ShortcutsOnly);
    ~MenuBarView();
    MenuBarView(const MenuBarView&) = delete;
    MenuBarView& operator=(const MenuBarView&) = delete;

    // The QMenuBar; nullptr for the shortcuts alone.
    QMenuBar* Bar() const { return bar_; }
    void Sync();

private:
    void AddItems(QMenu* menu, const Ref<MenuItem>& parent);
    void AddShortcuts(QWidget* window, const Ref<MenuItem>& parent);
    // Makes `action` run `item`'s command on its shortcut and follow the item.
    void BindCommand(QAction* action, const Ref<MenuItem>& item);

    struct Entry {
        Ref<MenuItem> item;
        QPointer<QAction> action;
        QPointer<QMenu> menu;  // set for items that hold a menu
    };
    const EventHost& events_;
    QPointer<QMenuBar> bar_;
    bool shortcutsOnly_ = false;  // the actions sit on a window, not in menus
    std::vector<Entry> entries_;
};

// Where there is no global menu bar, the application's menu bar lives in a
// small window of its own, so that a user can open documents, check for
// updates and quit with no other window open. It stands where a global menu
// bar would, at the top-left of the screen's available area, as wide as its
// menus need and fixed in size; the program's centred windows open clear of
// it. Closing it calls `closed` (which quits).
class MenuBarWindow final : public QWidget {
public:
    MenuBarWindow(const Ref<MenuBar>& bar, const QString& title, const EventHost& events,
                  std::function<void()> closed);

    // `frame` (a window's frame on screen), moved down clear of this window
    // while it shows when it would cover it, as it would stand clear of a
    // global menu bar.
    QRect KeptClear(const QRect& frame) const;
    // Shows it in front of the application's other windows and activates it.
    void BringToFront();
    void Sync() { view_.Sync(); }

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    MenuBarView view_;
    const EventHost& events_;
    std::function<void()> closed_;
};

}  // namespace platform
