#include "platform/Application.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileOpenEvent>
#include <QIcon>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <optional>
#include <typeinfo>

#include <openssl/ssl.h>

#include "platform/ApplicationBus.h"
#include "platform/Desktop.h"
#include "platform/Files.h"
#include "platform/Menu.h"
#include "platform/MenuBarView.h"
#include "platform/Picture.h"
#include "platform/Text.h"
#include "platform/Window.h"

namespace platform {

namespace {

// A document waiting to be delivered. One that a waiting launch handed in is
// confirmed with that launch before it opens, and the launch is told when it
// does.
struct PendingDocument {
    Ref<FolderItem> item;
    std::shared_ptr<ApplicationBus::HandedIn> handedIn;
    bool confirmed = false;
};

// The runtime's per-process state.
struct Runtime {
    ApplicationInfo info;
    ExceptionHelper exceptionHelper = &CallFunctionWithExceptionHandling;
    std::unique_ptr<QApplication> ownApplication;
    Ref<Application> app;
    bool quitting = false;
    int exitStatus = 0;
    bool opened = false;          // Open has been delivered
    bool deliveringDocument = false;
    int handling = 0;             // program code running on behalf of an event (Dispatch)
    std::deque<PendingDocument> pendingDocuments;
    bool updatingMenus = false;
    // Owned by the QApplication it filters, so released with it.
    QPointer<QObject> fileOpenFilter;
    std::unique_ptr<ApplicationBus> bus;  // while this instance owns the application's name
};

Runtime& State() {
    static Runtime runtime;
    return runtime;
}

// Delivers the documents handed in, one at a time, each from the event loop
// itself and never while program code handles an event (in a message box's
// loop, say): that code may end the application, and a document taken then
// would be lost. They follow once it returns.
void DeliverNextDocument() {
    Runtime& rt = State();
    if (!rt.opened || rt.deliveringDocument || rt.handling > 0 || rt.pendingDocuments.empty() || rt.quitting) {
        return;
    }
    rt.deliveringDocument = true;
    QTimer::singleShot(0, [] {
        Runtime& rt = State();
        // An event handled before this one may still be running (its message
        // box's loop delivered this): it delivers the next when it returns.
        if (!rt.quitting && rt.handling == 0 && !rt.pendingDocuments.empty()) {
            PendingDocument document = std::move(rt.pendingDocuments.front());
            rt.pendingDocuments.pop_front();
            if (document.handedIn && !document.confirmed) {
                // Its launch decides: the document opens only if the launch
                // still waits for it, and then comes first.
                const std::shared_ptr<ApplicationBus::HandedIn> handedIn = document.handedIn;
                handedIn->Confirm([document = std::move(document)](bool stillWaiting) mutable {
                    if (!stillWaiting) return;
                    document.confirmed = true;
                    State().pendingDocuments.push_front(std::move(document));
                    DeliverNextDocument();
                });
            } else {
                if (document.handedIn) document.handedIn->Opening();
                Dispatch([&] { GetAppObject()->Event_OpenDocument(document.item); });
                UpdateMenus();
            }
        }
        State().deliveringDocument = false;
        DeliverNextDocument();
    });
}

void HandInDocument(const std::filesystem::path& path, std::shared_ptr<ApplicationBus::HandedIn> handedIn = {}) {
    State().pendingDocuments.push_back(
        {Make<FolderItem>(std::filesystem::absolute(path)), std::move(handedIn), false});
    DeliverNextDocument();
}

// A path for a line of text: in double quotes, with quotes, backslashes and
// control bytes escaped, so that any file name stays on the line.
std::string QuotedPath(const std::filesystem::path& path) {
    std::string text = "\"";
    for (const unsigned char c : path.native()) {
        if (c == '"' || c == '\\') {
            text += '\\';
            text += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            text += "\\x" + HexByte(c);
        } else {
            text += static_cast<char>(c);
        }
    }
    return text + "\"";
}

// Takes the application's name on the session bus, or hands `documents` to
// the instance that has it. Returns the exit status when this launch ends here
// (0: everything handed over; 1: the running instance or the bus did not
// answer, or it refused, which one line on standard error says); `documents`
// then keeps what this launch opens.
std::optional<int> ClaimApplicationName(const ApplicationInfo& info, std::vector<std::filesystem::path>& documents) {
    auto bus = std::make_unique<ApplicationBus>(info.applicationId, info.handOverTimeout);
    ApplicationBus::Receiver receiver;
    // Handed-in documents join the queue of those named at start.
    receiver.openDocument = [](const std::filesystem::path& document,
                               std::shared_ptr<ApplicationBus::HandedIn> handedIn) {
        HandInDocument(document, std::move(handedIn));
    };
    receiver.activate = [] {
        if (MenuBarWindow* window = MenuBarWindow::Current()) window->BringToFront();
    };
    ApplicationBus::Claim claim = bus->ClaimOrHandOver(std::move(documents), std::move(receiver));
    documents = std::move(claim.documents);
    switch (claim.role) {
        case ApplicationBus::Role::Primary: State().bus = std::move(bus); return std::nullopt;
        case ApplicationBus::Role::Alone: return std::nullopt;
        case ApplicationBus::Role::HandedOver: return 0;
        case ApplicationBus::Role::Failed: break;
    }
    const std::string& name = info.name;
    std::string line = name + ": ";
    if (documents.empty()) {
        line += "the running " + name + " did not come to the front: " + claim.failure;
    } else {
        line += "could not hand";
        for (const auto& document : documents) line += " " + QuotedPath(document);
        line += " over to the running " + name + ": " + claim.failure;
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    // Qt would wait at the end for its bus thread, which the bus that never
    // answered holds for good; nothing of the program has started yet.
    if (claim.connectionHung) std::_Exit(1);
    return 1;
}

// Gives every window the application's icon: the picture `iconFileName` from
// the resources folder, in its own size. Without the picture the windows keep
// the desktop's generic icon.
void SetApplicationIcon(const ApplicationInfo& info) {
    if (info.iconFileName.empty()) return;
    Ref<Picture> picture;
    try {
        LoadResourcePicture(info.resourcesFolder, picture, info.iconFileName);
    } catch (const RuntimeException&) {
        return;  // no resources folder to look in
    }
    if (picture) QApplication::setWindowIcon(QIcon(QPixmap::fromImage(picture->Image())));
}

// Documents that the desktop hands in while the application runs (macOS).
class FileOpenFilter final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FileOpen) {
            HandInDocument(static_cast<QFileOpenEvent*>(event)->file().toStdString());
            return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

std::string Describe(const std::exception_ptr& escaped) {
    try {
        std::rethrow_exception(escaped);
    } catch (const RuntimeException& error) {
        return std::string(error.Type());
    } catch (const std::exception& error) {
        return typeid(error).name();
    } catch (...) {
        return "unknown exception";
    }
}

void ReportUnhandled(const std::exception_ptr& escaped) {
    if (State().quitting) return;
    MsgBox("処理できないエラー（" + Describe(escaped) + "）が起こりましたので" + std::string(EndOfLine) + "終了します");
    Quit(1);
}

}  // namespace

// Application --------------------------------------------------------------

// The application's menu bar on screen: the global menu bar where the desktop
// has one, a small window of its own elsewhere.
struct Application::ShownMenuBar {
#ifdef Q_OS_MACOS
    explicit ShownMenuBar(const Ref<platform::MenuBar>& bar) : view(bar, nullptr) {}
    MenuBarView view;
#else
    explicit ShownMenuBar(const Ref<platform::MenuBar>& bar) : window(bar, QString::fromStdString(State().info.name)) {
        window.show();
    }
    MenuBarWindow window;
#endif
};

namespace {

// The window that a dialog opens over: the active window of the program;
// from the menu-bar window (or with none active) the program's front window,
// where the user's work is; nullptr, the middle of the screen, when there is
// none. Never the menu-bar window, a strip at the screen's edge, which the
// dialog then keeps clear of.
QWidget* DialogParent() {
    QWidget* active = QApplication::activeWindow();
    if (active && active != MenuBarWindow::Current()) return active;
    for (std::int32_t index = 0; index < WindowCount(); ++index) {
        if (QWidget* window = WindowAt(index)->Widget(); window->isVisible()) return window;
    }
    return nullptr;
}

}  // namespace

Application::Application() {
    SetDialogPlacement({&DialogParent, &MenuBarWindow::KeptClear});
}
Application::~Application() = default;

void Application::SetMenuBar(const Ref<platform::MenuBar>& bar) {
    menuBar_ = bar;
    shownMenuBar_.reset();
    if (bar && QApplication::instance()) shownMenuBar_ = std::make_unique<ShownMenuBar>(bar);
}

std::int32_t Application::MajorVersion() const { return State().info.majorVersion; }
std::int32_t Application::MinorVersion() const { return State().info.minorVersion; }
std::int32_t Application::BugVersion() const { return State().info.bugVersion; }
std::string Application::LongVersion() const { return State().info.longVersion; }
const ApplicationInfo& Application::Info() const { return State().info; }

// Runtime ------------------------------------------------------------------

std::exception_ptr CallFunctionWithExceptionHandling(const std::function<void()>& routine) {
    try {
        routine();
    } catch (const RuntimeException&) {
        return std::current_exception();
    }
    return nullptr;
}

void RuntimeSetExceptionHelper(ExceptionHelper helper) {
    State().exceptionHelper = helper ? helper : &CallFunctionWithExceptionHandling;
}

void RunFrameworkInitialization(int& argc, char** argv, const ApplicationInfo& info,
                                const std::function<void()>& startup) {
    Runtime& rt = State();
    rt.info = info;
    OPENSSL_init_ssl(0, nullptr);
    if (!QApplication::instance()) rt.ownApplication = std::make_unique<QApplication>(argc, argv);
    // The name alone, with no display name: Qt would add the display name to
    // every window title on X11 and Wayland, and a title is exactly what the
    // program sets. Dialogs still take their title from the name.
    QApplication::setApplicationName(QString::fromStdString(info.name));
    QApplication::setApplicationVersion(QString::fromStdString(info.longVersion));
    if (!info.applicationId.empty()) QGuiApplication::setDesktopFileName(QString::fromStdString(info.applicationId));
    QApplication::setQuitOnLastWindowClosed(false);
    // What Qt leaves of the command line are documents, as a desktop hands them
    // in; relative ones are taken from the folder the launch was made in.
    std::vector<std::filesystem::path> documents;
    for (int index = 1; index < argc; ++index) documents.push_back(std::filesystem::absolute(argv[index]));
    // One running application per session: a launch whose application already
    // runs hands its documents over and ends here, before its own start-up.
    if (!info.applicationId.empty()) {
        if (const std::optional<int> status = ClaimApplicationName(info, documents)) {
            Quit(*status);
            return;
        }
    }
    SetApplicationIcon(rt.info);
    // Once per QApplication, however often initialisation runs with it.
    if (!rt.fileOpenFilter) {
        rt.fileOpenFilter = new FileOpenFilter(qApp);
        qApp->installEventFilter(rt.fileOpenFilter);
    }
    // Those named at start come first, before any that a later launch handed
    // in while this one waited for the name.
    for (auto document = documents.rbegin(); document != documents.rend(); ++document) {
        rt.pendingDocuments.push_front({Make<FolderItem>(*document), nullptr, false});
    }
    Dispatch(startup);
}

const ApplicationInfo& RunningApplicationInfo() {
    return State().info;
}

int RuntimeRun() {
    Runtime& rt = State();
    if (rt.quitting) return rt.exitStatus;
    QTimer::singleShot(0, [] {
        Dispatch([] { GetAppObject()->Event_Open(); });
        State().opened = true;
        UpdateMenus();
        DeliverNextDocument();
    });
    QApplication::exec();
    return rt.exitStatus;
}

namespace {

// Closes every window, lets the released ones go, and releases the
// application object with its menu bar on screen.
void ReleaseWindowsAndApplication() {
    Runtime& rt = State();
    CloseAllWindows();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
    if (rt.app) rt.app->SetMenuBar(nullptr);
    rt.app = nullptr;
}

}  // namespace

int RuntimeShutdown(int status) {
    State().bus.reset();
    ReleaseWindowsAndApplication();
    State().ownApplication.reset();
    return status;
}

void RuntimeRegisterAppObject(const Ref<Application>& app) {
    State().app = app;
}

Ref<Application> GetAppObject() {
    return State().app;
}

void Quit(int status) {
    Runtime& rt = State();
    if (rt.quitting) return;
    rt.quitting = true;
    rt.exitStatus = status;
    // The next launch takes the name at once; documents handed over but not
    // yet taken go back to their senders, which open them.
    if (rt.bus) rt.bus->Close();
    QCoreApplication::exit(status);
}

bool Quitting() {
    return State().quitting;
}

void Dispatch(const std::function<void()>& handler) {
    Runtime& rt = State();
    if (rt.quitting) return;
    // Counts the handler as running until it returns, by whatever road; then
    // documents handed in meanwhile, which waited for it, follow.
    struct Handling {
        explicit Handling(Runtime& runtime) : rt(runtime) { ++rt.handling; }
        ~Handling() {
            --rt.handling;
            DeliverNextDocument();
        }
        Runtime& rt;
    } handling(rt);
    std::exception_ptr escaped;
    try {
        escaped = rt.exceptionHelper(handler);
    } catch (...) {
        escaped = std::current_exception();
    }
    if (escaped) ReportUnhandled(escaped);
}

namespace {

void ResetEnabled(const Ref<MenuItem>& item) {
    item->SetEnabled(item->AutoEnable());
    for (std::int32_t index = 0; index < item->Count(); ++index) ResetEnabled(item->Item(index));
}

}  // namespace

void UpdateMenus() {
    Runtime& rt = State();
    if (rt.updatingMenus || rt.quitting) return;
    rt.updatingMenus = true;
    std::vector<Ref<MenuBar>> bars;
    const auto note = [&bars](const Ref<MenuBar>& bar) {
        if (bar && std::find(bars.begin(), bars.end(), bar) == bars.end()) bars.push_back(bar);
    };
    if (rt.app) note(rt.app->MenuBar());
    for (std::int32_t index = 0; index < WindowCount(); ++index) note(WindowAt(index)->MenuBar());
    for (const auto& bar : bars) ResetEnabled(bar);
    Dispatch([&rt] {
        if (rt.app) rt.app->Event_EnableMenuItems();
        if (Ref<Window> front = WindowAt(0)) front->Event_EnableMenuItems();
    });
    for (MenuBarView* view : MenuBarView::All()) view->Sync();
    rt.updatingMenus = false;
}

void HandleMenuCommand(const Ref<MenuItem>& item) {
    Dispatch([&item] {
        UpdateMenus();
        if (!item->Enabled()) return;
        if (Ref<Window> front = WindowAt(0); front && front->HandleMenuCommand(item->Name())) return;
        if (Ref<Application> app = GetAppObject(); app && app->HandleMenuCommand(item->Name())) return;
        if (dynamic_cast<QuitMenuItem*>(item.Get())) Quit(0);
    });
    UpdateMenus();
}

// Test support ---------------------------------------------------------------

void SetApplicationInfoForTesting(const ApplicationInfo& info) {
    State().info = info;
}

void ResetRuntimeForTesting() {
    Runtime& rt = State();
    // Qt keeps a quit asked for while no event loop ran, and it would end the
    // next loop (a message box's, say) at once: let one event loop take it.
    if (rt.quitting && QCoreApplication::instance() && !QCoreApplication::closingDown()) {
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
    rt.quitting = false;
    rt.bus.reset();
    // Nothing left to deliver while the windows close (their menu updates
    // would deliver it).
    rt.opened = false;
    rt.deliveringDocument = false;
    rt.handling = 0;
    rt.pendingDocuments.clear();
    ReleaseWindowsAndApplication();
    rt.exitStatus = 0;
    rt.updatingMenus = false;
    rt.exceptionHelper = &CallFunctionWithExceptionHandling;
}

bool OpenDeliveredForTesting() {
    return State().opened;
}

int QuitStatusForTesting() {
    return State().quitting ? State().exitStatus : 0;
}

}  // namespace platform
