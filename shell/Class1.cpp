#include "shell/Class1.h"

#include "platform/Desktop.h"
#include "platform/Text.h"
#include "shell/FileTypes.h"
#include "shell/Menu.h"
#include "shell/Window2.h"

namespace halvoric {

platform::Ref<Class1> App() {
    return platform::Cast<Class1>(platform::GetAppObject());
}

std::string CompactVersion() {
    const auto app = App();
    return platform::Str(app->MajorVersion()) + platform::Str(app->MinorVersion()) +
           platform::Str(app->BugVersion());
}

void Class1::Event_EnableMenuItems() {
    hiraku()->Enable();
    kono()->Enable();
    upchk()->Enable();
}

void Class1::Event_OpenDocument(const platform::Ref<platform::FolderItem>& item) {
    if (item) {
        VersionCheck(item);
        return;
    }
    ChooseAndInspect();
}

void Class1::Event_Open() {
    kcheck("3", CompactVersion(), "Halvorik");
}

bool Class1::_hiraku_Action() {
    ChooseAndInspect();
    return false;
}

void Class1::ChooseAndInspect() {
    // A cancelled dialog inspects nothing.
    if (auto chosen = platform::GetOpenFolderItem(FileTypes::Indd())) VersionCheck(chosen);
}

bool Class1::_kono_Action() {
    Window2::Instance()->Show();
    return false;
}

}  // namespace halvoric
