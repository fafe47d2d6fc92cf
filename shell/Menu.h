#pragma once

#include "platform/Menu.h"
#include "platform/Ref.h"

namespace halvoric {

// The program's one menu bar: "File" with "開く" and "Quit", "Edit" with
// "Copy", "Update Check", a separator and the About item. Built once and
// shared by the application and every result window.
class Menu : public platform::MenuBar {
public:
    Menu();

    // The single instance, built on the first call.
    static platform::Ref<Menu> Instance();
    // Lets go of the single instance (at shut-down).
    static void ReleaseInstance();

private:
    void Untitled1();  // the File menu
    void Untitled2();  // the Edit menu

    static platform::Ref<Menu> _implicitInstance;
};

// The application's menu items, looked up by name in its current menu bar:
// "hiraku" (開く, "open") opens a document, "upchk" runs the update check, and
// "kono" (from この, "this": about this application) shows the About window.
// The fourth command, "clcopy" (clipboard copy), belongs to each result window.
platform::Ref<platform::MenuItem> hiraku();
platform::Ref<platform::MenuItem> upchk();
platform::Ref<platform::AppleMenuItem> kono();

// Binds "hiraku", "kono" and "upchk" to the application object's actions.
void ApplicationAddMenuHandlers();

}  // namespace halvoric
