#pragma once

#include <QMenuBar>
#include <QPointer>
#include <QWidget>
#include <vector>

#include "platform/Menu.h"

class QAction;
class QMenu;

namespace platform {

// The on-screen form of a menu tree: a QMenuBar with one QMenu per menu and
// one QAction per command, built when the bar is installed. Choosing an
// action runs the item's command; every menu update brings the actions'
// enabled states in line with the items'.
class MenuBarView {
public:
    // `parent` nullptr makes the bar the application's global menu bar (macOS).
    MenuBarView(const Ref<MenuBar>& bar, QWidget* parent);
    // The bar's keyboard shortcuts alone, for a window that shows no menu bar
    // of its own: one invisible action per command that has a shortcut, on
    // `window`, so that the commands answer their keys there too.
    struct ShortcutsOnly {};
    MenuBarView(const Ref<MenuBar>& bar, QWidget* window, ShortcutsOnly);
    ~MenuBarView();
    MenuBarView(const MenuBarView&) = delete;
    MenuBarView& operator=(const MenuBarView&) = delete;

    // The QMenuBar; nullptr for the shortcuts alone.
    QMenuBar* Bar() const { return bar_; }
    void Sync();

    // Every view on screen, for menu updates.
    static const std::vector<MenuBarView*>& All();

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
    QPointer<QMenuBar> bar_;
    bool shortcutsOnly_ = false;  // the actions sit on a window, not in menus
    std::vector<Entry> entries_;
};

// Where there is no global menu bar, the application's menu bar lives in a
// small window of its own, so that a user can open documents, check for
// updates and quit with no other window open. It stands where a global menu
// bar would, at the top-left of the screen's available area, as wide as its
// menus need and fixed in size; the program's centred windows open clear of
// it. Closing it quits.
class MenuBarWindow final : public QWidget {
public:
    MenuBarWindow(const Ref<MenuBar>& bar, const QString& title);
    ~MenuBarWindow() override;

    // The window that shows the application's menu bar, or nullptr.
    static MenuBarWindow* Current();
    // `frame` (a window's frame on screen), moved down clear of the shown
    // menu-bar window when it would cover it, as it would stand clear of a
    // global menu bar.
    static QRect KeptClear(const QRect& frame);
    // Shows it in front of the application's other windows and activates it.
    void BringToFront();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    MenuBarView view_;
};

}  // namespace platform
