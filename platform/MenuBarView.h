#pragma once

#include <QMenuBar>
#include <QPointer>
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
    ~MenuBarView();
    MenuBarView(const MenuBarView&) = delete;
    MenuBarView& operator=(const MenuBarView&) = delete;

    QMenuBar* Bar() const { return bar_; }
    void Sync();

    // Every view on screen, for menu updates.
    static const std::vector<MenuBarView*>& All();

private:
    void AddItems(QMenu* menu, const Ref<MenuItem>& parent);

    struct Entry {
        Ref<MenuItem> item;
        QPointer<QAction> action;
        QPointer<QMenu> menu;  // set for items that hold a menu
    };
    QPointer<QMenuBar> bar_;
    std::vector<Entry> entries_;
};

}  // namespace platform
