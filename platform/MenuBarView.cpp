#include "platform/MenuBarView.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <algorithm>

#include "platform/Application.h"
#include "platform/QtText.h"

namespace platform {

namespace {

std::vector<MenuBarView*>& Views() {
    static std::vector<MenuBarView*> views;
    return views;
}

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

MenuBarView::MenuBarView(const Ref<MenuBar>& bar, QWidget* parent) : bar_(new QMenuBar(parent)) {
    for (std::int32_t index = 0; index < bar->Count(); ++index) {
        const Ref<MenuItem> menuItem = bar->Item(index);
        QMenu* menu = bar_->addMenu(PlainCaption(menuItem->Text()));
        QObject::connect(menu, &QMenu::aboutToShow, [] { UpdateMenus(); });
        entries_.push_back({menuItem, menu->menuAction(), menu});
        AddItems(menu, menuItem);
    }
    Views().push_back(this);
    Sync();
}

MenuBarView::~MenuBarView() {
    std::erase(Views(), this);
    delete bar_.data();
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
        action->setShortcut(Shortcut(item->KeyboardShortcut()));
        action->setMenuRole(Role(item));
        QObject::connect(action, &QAction::triggered, [item] { HandleMenuCommand(item); });
        entries_.push_back({item, action, nullptr});
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

const std::vector<MenuBarView*>& MenuBarView::All() {
    return Views();
}

}  // namespace platform
