#include "shell/Class1.h"

#include "inspection/Inspection.h"
#include "inspection/ReleaseIcons.h"
#include "platform/Desktop.h"
#include "platform/Text.h"
#include "shell/FileTypes.h"
#include "shell/Menu.h"
#include "shell/Window1.h"
#include "shell/Window2.h"
#include "update/ServiceRequest.h"
#include "update/UpdateWin.h"

namespace halvoric {

platform::Ref<Class1> App() {
    return platform::Cast<Class1>(platform::GetAppObject());
}

std::string CompactVersion() {
    const auto app = App();
    return platform::Str(app->MajorVersion()) + platform::Str(app->MinorVersion()) +
           platform::Str(app->BugVersion());
}

// Events and menu actions ---------------------------------------------------

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

bool Class1::_upchk_Action() {
    switch (JudgeVersionCheckReply(UpdateCheck("3", CompactVersion(), "Halvoric"))) {
        case UpdateOutcome::UpdateAvailable: UpdateWin::Instance()->Show(); break;
        case UpdateOutcome::UpToDate: platform::MsgBox("最新版を使用しています。"); break;
        case UpdateOutcome::CheckFailed: platform::MsgBox("通信に障害があり、確認できませんでした。"); break;
    }
    return false;
}

// The inspection -------------------------------------------------------------

namespace {

void ShowRelease(Window1& window, const Release& release) {
    window.Canvas1()->SetBackdrop(ReleaseIcon(release.icon));
    window.StaticText2()->SetText(std::string(release.name));
    // A screen reader names the icon as the window names the release.
    window.Canvas1()->SetAccessibleName(window.StaticText2()->Text());
}

}  // namespace

void Class1::VersionCheck(const platform::Ref<platform::FolderItem>& file) {
    // The window shows at once and is filled as the answers come, so an error
    // leaves it showing what was found up to then.
    try {
        auto window = platform::New<Window1>();
        window->SetTitle(file->Name());
        window->Label1()->SetText(file->Name());

        const DocumentHeader header = ReadHeader(file);
        ShowRelease(*window, header.release);
        if (!header.release.Known()) {
            window->StaticText3()->SetText("");
            return;
        }

        const std::optional<VersionRecord> record = FindVersionRecord(file, header);
        if (!record) {
            window->StaticText5()->SetText("不明");
            window->StaticText3()->SetText("不明");
            return;
        }
        window->StaticText5()->SetText(record->buildString);
        // The label hands back the bytes written to it; their third byte tells CS5.5.
        if (MarksCs55(window->StaticText5()->Text())) ShowRelease(*window, AsCs55(header.release));
        window->StaticText3()->SetText(std::string(record->edition));
    } catch (const platform::RuntimeException&) {
        platform::MsgBox("エラーが起こりましたので" + std::string(platform::EndOfLine) + "終了します");
        platform::Quit(0);
    }
}

// The maker's service ---------------------------------------------------------

namespace {

// The service as the running application's info names it.
ServiceEndpoint ServiceOf(const platform::ApplicationInfo& info) {
    return {info.serviceHost, info.connectionSettings, info.clock};
}

}  // namespace

std::string Class1::UpdateCheck(const std::string& appId, const std::string& version,
                                const std::string& productName) {
    return PostServiceForm(ServiceOf(Info()), kVersionCheckPath, {appId, version, productName},
                           kVersionCheckTimeoutSeconds)
        .body;
}

void Class1::kcheck(const std::string& appId, const std::string& version, const std::string& productName) {
    PostServiceForm(ServiceOf(Info()), kLaunchReportPath, {appId, version, productName}, kLaunchReportTimeoutSeconds);
}

}  // namespace halvoric
