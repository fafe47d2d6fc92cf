#include "shell/Menu.h"

#include <string>

#include "shell/Class1.h"

namespace halvoric {

using platform::Make;
using platform::MenuItem;
using platform::Ref;

platform::Ref<Menu> Menu::_implicitInstance;

namespace {

template <class Item>
Ref<MenuItem> BuildItem(const char* name, bool autoEnable, const char* text, const char* shortcut) {
    Ref<MenuItem> item = Make<Item>();
    item->SetName(name);
    item->SetAutoEnable(autoEnable);
    item->SetText(text);
    if (shortcut) item->SetKeyboardShortcut(shortcut);  // the separator gets none
    return item;
}

}  // namespace

Menu::Menu() {
    Untitled1();
    Untitled2();
}

void Menu::Untitled1() {
    Append(BuildItem<MenuItem>("UntitledMenu2", false, "File", ""));
    Child("UntitledMenu2")->Append(BuildItem<MenuItem>("hiraku", false, "開く", "Cmd+O"));
    Child("UntitledMenu2")->Append(BuildItem<platform::QuitMenuItem>("FileQuit", true, "Quit", "Cmd+Q"));
}

void Menu::Untitled2() {
    Append(BuildItem<MenuItem>("UntitledMenu0", false, "Edit", ""));
    Child("UntitledMenu0")->Append(BuildItem<MenuItem>("clcopy", false, "Copy", "Cmd+C"));
    Child("UntitledMenu0")->Append(BuildItem<MenuItem>("upchk", false, "Update Check", "Cmd+R"));
    Child("UntitledMenu0")->Append(BuildItem<MenuItem>("UntitledMenu1", false, "-", nullptr));
    Child("UntitledMenu0")->Append(BuildItem<platform::AppleMenuItem>("kono", true, "Halvoric", "Cmd+K"));
}

Ref<Menu> Menu::Instance() {
    if (!_implicitInstance) _implicitInstance = Make<Menu>();
    return _implicitInstance;
}

void Menu::ReleaseInstance() {
    _implicitInstance = nullptr;
}

Ref<MenuItem> hiraku() {
    return platform::Cast<MenuItem>(App()->MenuBar()->Lookup("hiraku"));
}

Ref<MenuItem> upchk() {
    return platform::Cast<MenuItem>(App()->MenuBar()->Lookup("upchk"));
}

Ref<platform::AppleMenuItem> kono() {
    return platform::Cast<platform::AppleMenuItem>(App()->MenuBar()->Lookup("kono"));
}

void ApplicationAddMenuHandlers() {
    const auto app = App();
    app->AddMenuHandler("hiraku", [] { return App()->_hiraku_Action(); });
    app->AddMenuHandler("kono", [] { return App()->_kono_Action(); });
    app->AddMenuHandler("upchk", [] { return App()->_upchk_Action(); });
}

}  // namespace halvoric
