// The framework's runtime: the application's start, its event loop and the
// delivery of events and documents to the program, the open windows and the
// menu bar on screen, and the claim on the session bus.

#include "platform/Application.h"

#include <QApplication>
#include <QFileOpenEvent>
#include <QIcon>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <typeinfo>

#include <openssl/ssl.h>

#include "platform/Desktop.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/MenuBarView.h"
#include "platform/Picture.h"
#include "platform/Text.h"

namespace platform {

namespace {

// The runtime that lives now.
Runtime* current = nullptr;

// A document waiting to be delivered. One that a waiting launch handed in is
// confirmed with that launch before it opens, and the launch is told when it
// does.
struct PendingDocument {
    Ref<FolderItem> item;
    std::shared_ptr<ApplicationBus::HandedIn> handedIn;
    bool confirmed = false;
};

// Documents that the desktop hands in while the application runs (macOS).
class FileOpenFilter final : public QObject {
public:
    FileOpenFilter(QObject* parent, std::function<void(const std::filesystem::path&)> handIn)
        : QObject(parent), handIn_(std::move(handIn)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FileOpen) {
            handIn_(static_cast<QFileOpenEvent*>(event)->file().toStdString());
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void(const std::filesystem::path&)> handIn_;
};

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

void ResetEnabled(const Ref<MenuItem>& item) {
    item->SetEnabled(item->AutoEnable());
    for (std::int32_t index = 0; index < item->Count(); ++index) ResetEnabled(item->Item(index));
}

// The application's menu bar on screen: the global menu bar where the desktop
// has one, a small window of its own elsewhere, which calls `closed` when the
// user closes it.
struct ShownMenuBar {
#ifdef Q_OS_MACOS
    ShownMenuBar(const Ref<MenuBar>& bar, const QString&, const EventHost& events, std::function<void()>)
        : view(bar, nullptr, events) {}
    void Sync() { view.Sync(); }
    MenuBarView view;
#else
    ShownMenuBar(const Ref<MenuBar>& bar, const QString& title, const EventHost& events,
                 std::function<void()> closed)
        : window(bar, title, events, std::move(closed)) {
        window.show();
    }
    void Sync() { window.Sync(); }
    MenuBarWindow window;
#endif
};

}  // namespace

struct Runtime::State {
    ApplicationInfo info;
    ExceptionHelper exceptionHelper = &CallFunctionWithExceptionHandling;
    std::unique_ptr<QApplication> ownApplication;
    Ref<Application> app;
    std::unique_ptr<ShownMenuBar> shownMenuBar;
    // The open windows, frontmost first.
    std::vector<std::shared_ptr<Window>> windows;
    bool quitting = false;
    int exitStatus = 0;
    bool opened = false;  // Open has been delivered
    bool deliveringDocument = false;
    int handling = 0;  // program code running on behalf of an event (Dispatch)
    std::deque<PendingDocument> pendingDocuments;
    bool updatingMenus = false;
    // Owned by the QApplication it filters; deleted with the runtime.
    QPointer<QObject> fileOpenFilter;
    std::unique_ptr<ApplicationBus> bus;  // while this instance owns the application's name
    // What the runtime's own timers run in: they end with it.
    QObject timers;
    // What the windows, controls and menu bars it makes tell it.
    WindowHost host;
};

// Application --------------------------------------------------------------

Application::Application() = default;
Application::~Application() = default;

void Application::SetMenuBar(const Ref<platform::MenuBar>& bar) {
    menuBar_ = bar;
    Runtime::Current().ShowMenuBar(bar);
}

std::int32_t Application::MajorVersion() const { return Info().majorVersion; }
std::int32_t Application::MinorVersion() const { return Info().minorVersion; }
std::int32_t Application::BugVersion() const { return Info().bugVersion; }
std::string Application::LongVersion() const { return Info().longVersion; }
const ApplicationInfo& Application::Info() const { return Runtime::Current().Info(); }

// Runtime ------------------------------------------------------------------

std::exception_ptr CallFunctionWithExceptionHandling(const std::function<void()>& routine) {
    try {
        routine();
    } catch (const RuntimeException&) {
        return std::current_exception();
    }
    return nullptr;
}

Runtime::Runtime(ApplicationInfo info) : state_(std::make_unique<State>()) {
    if (current) throw InvalidArgumentException("Only one framework runtime lives at a time.");
    state_->info = std::move(info);
    current = this;
    WindowHost& host = state_->host;
    host.events.dispatch = [this](const std::function<void()>& handler) { Dispatch(handler); };
    host.events.updateMenus = [this] { UpdateMenus(); };
    host.events.chooseMenuItem = [this](const Ref<MenuItem>& item) { ChooseMenuItem(item); };
    host.opened = [this](const std::shared_ptr<Window>& window) { state_->windows.push_back(window); };
    host.inFront = [this](const std::shared_ptr<Window>& window) { BringToFront(window); };
    host.closed = [this](const std::shared_ptr<Window>& window) { std::erase(state_->windows, window); };
    host.applicationMenuBar = [this] { return state_->app ? state_->app->MenuBar() : nullptr; };
    host.keptClear = [this](const QRect& frame) { return KeptClear(frame); };
    SetDialogPlacement({[this] { return DialogParent(); }, [this](const QRect& frame) { return KeptClear(frame); }});
}

Runtime::~Runtime() {
    State& rt = *state_;
    // Qt keeps a quit asked for while no event loop ran, and it would end the
    // next loop (a message box's, say) at once: let one event loop take it.
    if (rt.quitting && QCoreApplication::instance() && !QCoreApplication::closingDown()) {
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
    rt.bus.reset();
    // Nothing left to deliver while the windows close (their menu updates
    // would deliver it).
    rt.opened = false;
    rt.pendingDocuments.clear();
    if (QApplication::instance()) ReleaseWindowsAndApplication();
    delete rt.fileOpenFilter.data();
    SetDialogPlacement({});
    current = nullptr;
}

Runtime& Runtime::Current() {
    if (!current) throw NilObjectException("No framework runtime lives.");
    return *current;
}

const ApplicationInfo& Runtime::Info() const { return state_->info; }
const WindowHost& Runtime::Host() const { return state_->host; }
bool Runtime::OpenDelivered() const { return state_->opened; }
int Runtime::QuitStatus() const { return state_->quitting ? state_->exitStatus : 0; }

void Runtime::SetExceptionHelper(ExceptionHelper helper) {
    state_->exceptionHelper = helper ? helper : &CallFunctionWithExceptionHandling;
}

void Runtime::Initialize(int& argc, char** argv, const std::function<void()>& startup) {
    State& rt = *state_;
    const ApplicationInfo& info = rt.info;
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
        if (const std::optional<int> status = ClaimApplicationName(documents)) {
            Quit(*status);
            return;
        }
    }
    SetApplicationIcon(info);
    // Once, however often initialisation runs.
    if (!rt.fileOpenFilter) {
        rt.fileOpenFilter = new FileOpenFilter(qApp, [this](const auto& path) { HandInDocument(path, nullptr); });
        qApp->installEventFilter(rt.fileOpenFilter);
    }
    // Those named at start come first, before any that a later launch handed
    // in while this one waited for the name.
    for (auto document = documents.rbegin(); document != documents.rend(); ++document) {
        rt.pendingDocuments.push_front({Make<FolderItem>(*document), nullptr, false});
    }
    Dispatch(startup);
}

// Takes the application's name on the session bus, or hands `documents` to
// the instance that has it. Returns the exit status when this launch ends here
// (0: everything handed over; 1: the running instance or the bus did not
// answer, or it refused, which one line on standard error says); `documents`
// then keeps what this launch opens.
std::optional<int> Runtime::ClaimApplicationName(std::vector<std::filesystem::path>& documents) {
    const ApplicationInfo& info = state_->info;
    auto bus = std::make_unique<ApplicationBus>(info.applicationId, info.handOverTimeout);
    ApplicationBus::Receiver receiver;
    // Handed-in documents join the queue of those named at start.
    receiver.openDocument = [this](const std::filesystem::path& document,
                                   std::shared_ptr<ApplicationBus::HandedIn> handedIn) {
        HandInDocument(document, std::move(handedIn));
    };
    receiver.activate = [this] {
#ifndef Q_OS_MACOS
        if (state_->shownMenuBar) state_->shownMenuBar->window.BringToFront();
#endif
    };
    ApplicationBus::Claim claim = bus->ClaimOrHandOver(std::move(documents), std::move(receiver));
    documents = std::move(claim.documents);
    switch (claim.role) {
        case ApplicationBus::Role::Primary: state_->bus = std::move(bus); return std::nullopt;
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

int Runtime::Run() {
    State& rt = *state_;
    if (rt.quitting) return rt.exitStatus;
    QTimer::singleShot(0, &rt.timers, [this] {
        Dispatch([this] { AppObject()->Event_Open(); });
        state_->opened = true;
        UpdateMenus();
        DeliverNextDocument();
    });
    QApplication::exec();
    return rt.exitStatus;
}

int Runtime::Shutdown(int status) {
    state_->bus.reset();
    ReleaseWindowsAndApplication();
    state_->ownApplication.reset();
    return status;
}

// Closes every window, lets the released ones go, and releases the
// application object with its menu bar on screen.
void Runtime::ReleaseWindowsAndApplication() {
    CloseAllWindows();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
    state_->shownMenuBar.reset();
    state_->app = nullptr;
}

void Runtime::RegisterAppObject(const Ref<Application>& app) {
    state_->app = app;
}

Ref<Application> Runtime::AppObject() const {
    return state_->app;
}

void Runtime::ShowMenuBar(const Ref<MenuBar>& bar) {
    state_->shownMenuBar.reset();
    if (bar && QApplication::instance()) {
        // Closing the menu-bar window quits.
        state_->shownMenuBar = std::make_unique<ShownMenuBar>(bar, QString::fromStdString(state_->info.name),
                                                              state_->host.events, [this] { Quit(0); });
    }
}

QRect Runtime::KeptClear(const QRect& frame) const {
#ifdef Q_OS_MACOS
    return frame;  // the global menu bar: the desktop keeps windows clear of it
#else
    return state_->shownMenuBar ? state_->shownMenuBar->window.KeptClear(frame) : frame;
#endif
}

// The window that a dialog opens over: the active window of the program;
// from the menu-bar window (or with none active) the program's front window,
// where the user's work is; nullptr, the middle of the screen, when there is
// none. Never the menu-bar window, a strip at the screen's edge, which the
// dialog then keeps clear of.
QWidget* Runtime::DialogParent() const {
    QWidget* active = QApplication::activeWindow();
#ifdef Q_OS_MACOS
    const QWidget* menuBarWindow = nullptr;
#else
    const QWidget* menuBarWindow = state_->shownMenuBar ? &state_->shownMenuBar->window : nullptr;
#endif
    if (active && active != menuBarWindow) return active;
    for (const auto& window : state_->windows) {
        if (QWidget* widget = window->Widget(); widget->isVisible()) return widget;
    }
    return nullptr;
}

void Runtime::Quit(int status) {
    State& rt = *state_;
    if (rt.quitting) return;
    rt.quitting = true;
    rt.exitStatus = status;
    // The next launch takes the name at once; documents handed over but not
    // yet opened go back to their senders, which open them.
    if (rt.bus) rt.bus->Close();
    QCoreApplication::exit(status);
}

bool Runtime::Quitting() const {
    return state_->quitting;
}

// Documents ----------------------------------------------------------------

// Delivers the documents handed in, one at a time, each from the event loop
// itself and never while program code handles an event (in a message box's
// loop, say): that code may end the application, and a document taken then
// would be lost. They follow once it returns.
void Runtime::DeliverNextDocument() {
    State& rt = *state_;
    if (!rt.opened || rt.deliveringDocument || rt.handling > 0 || rt.pendingDocuments.empty() || rt.quitting) {
        return;
    }
    rt.deliveringDocument = true;
    QTimer::singleShot(0, &rt.timers, [this] {
        State& rt = *state_;
        // An event handled before this one may still be running (its message
        // box's loop delivered this): it delivers the next when it returns.
        if (!rt.quitting && rt.handling == 0 && !rt.pendingDocuments.empty()) {
            PendingDocument document = std::move(rt.pendingDocuments.front());
            rt.pendingDocuments.pop_front();
            if (document.handedIn && !document.confirmed) {
                // Its launch decides: the document opens only if the launch
                // still waits for it, and then comes first.
                const std::shared_ptr<ApplicationBus::HandedIn> handedIn = document.handedIn;
                handedIn->Confirm([this, document = std::move(document)](bool stillWaiting) mutable {
                    if (!stillWaiting) return;
                    document.confirmed = true;
                    state_->pendingDocuments.push_front(std::move(document));
                    DeliverNextDocument();
                });
            } else {
                if (document.handedIn) document.handedIn->Opening();
                Dispatch([&] { AppObject()->Event_OpenDocument(document.item); });
                UpdateMenus();
            }
        }
        rt.deliveringDocument = false;
        DeliverNextDocument();
    });
}

void Runtime::HandInDocument(const std::filesystem::path& path, std::shared_ptr<ApplicationBus::HandedIn> handedIn) {
    state_->pendingDocuments.push_back(
        {Make<FolderItem>(std::filesystem::absolute(path)), std::move(handedIn), false});
    DeliverNextDocument();
}

// Events -------------------------------------------------------------------

void Runtime::Dispatch(const std::function<void()>& handler) {
    State& rt = *state_;
    if (rt.quitting) return;
    // Counts the handler as running until it returns, by whatever road; then
    // documents handed in meanwhile, which waited for it, follow.
    struct Handling {
        explicit Handling(Runtime& runtime) : runtime(runtime) { ++runtime.state_->handling; }
        ~Handling() {
            --runtime.state_->handling;
            runtime.DeliverNextDocument();
        }
        Runtime& runtime;
    } handling(*this);
    std::exception_ptr escaped;
    try {
        escaped = rt.exceptionHelper(handler);
    } catch (...) {
        escaped = std::current_exception();
    }
    if (escaped) ReportUnhandled(escaped);
}

void Runtime::ReportUnhandled(const std::exception_ptr& escaped) {
    if (state_->quitting) return;
    MsgBox("処理できないエラー（" + Describe(escaped) + "）が起こりましたので" + std::string(EndOfLine) + "終了します");
    Quit(1);
}

void Runtime::UpdateMenus() {
    State& rt = *state_;
    if (rt.updatingMenus || rt.quitting) return;
    rt.updatingMenus = true;
    std::vector<Ref<MenuBar>> bars;
    const auto note = [&bars](const Ref<MenuBar>& bar) {
        if (bar && std::find(bars.begin(), bars.end(), bar) == bars.end()) bars.push_back(bar);
    };
    if (rt.app) note(rt.app->MenuBar());
    for (const auto& window : rt.windows) note(window->MenuBar());
    for (const auto& bar : bars) ResetEnabled(bar);
    Dispatch([this] {
        if (state_->app) state_->app->Event_EnableMenuItems();
        if (Ref<Window> front = WindowAt(0)) front->Event_EnableMenuItems();
    });
    if (rt.shownMenuBar) rt.shownMenuBar->Sync();
    for (const auto& window : rt.windows) window->SyncMenuBar();
    rt.updatingMenus = false;
}

void Runtime::ChooseMenuItem(const Ref<MenuItem>& item) {
    Dispatch([this, &item] {
        UpdateMenus();
        if (!item->Enabled()) return;
        if (Ref<Window> front = WindowAt(0); front && front->HandleMenuCommand(item->Name())) return;
        if (state_->app && state_->app->HandleMenuCommand(item->Name())) return;
        if (dynamic_cast<QuitMenuItem*>(item.Get())) Quit(0);
    });
    UpdateMenus();
}

// Windows ------------------------------------------------------------------

void Runtime::BringToFront(const std::shared_ptr<Window>& window) {
    auto& windows = state_->windows;
    std::erase(windows, window);
    windows.insert(windows.begin(), window);
}

Ref<Window> Runtime::WindowAt(std::int32_t index) const {
    const auto& windows = state_->windows;
    if (index < 0 || static_cast<std::size_t>(index) >= windows.size()) return nullptr;
    return Ref<Window>(windows[static_cast<std::size_t>(index)]);
}

std::int32_t Runtime::WindowCount() const {
    return static_cast<std::int32_t>(state_->windows.size());
}

Ref<Window> Runtime::ImplicitWindow(std::string_view className) const {
    for (const auto& window : state_->windows) {
        if (window->ClassName() == className) return Ref<Window>(window);
    }
    return nullptr;
}

void Runtime::CloseAllWindows() {
    while (!state_->windows.empty()) {
        const std::shared_ptr<Window> window = state_->windows.front();
        window->Close();
    }
}

// The framework's operations -------------------------------------------------

void RuntimeSetExceptionHelper(ExceptionHelper helper) { Runtime::Current().SetExceptionHelper(helper); }
void RunFrameworkInitialization(int& argc, char** argv, const std::function<void()>& startup) {
    Runtime::Current().Initialize(argc, argv, startup);
}
int RuntimeRun() { return Runtime::Current().Run(); }
int RuntimeShutdown(int status) { return Runtime::Current().Shutdown(status); }
void RuntimeRegisterAppObject(const Ref<Application>& app) { Runtime::Current().RegisterAppObject(app); }
Ref<Application> GetAppObject() { return current ? current->AppObject() : nullptr; }
void Quit(int status) { Runtime::Current().Quit(status); }
bool Quitting() { return Runtime::Current().Quitting(); }
void Dispatch(const std::function<void()>& handler) { Runtime::Current().Dispatch(handler); }
void UpdateMenus() { Runtime::Current().UpdateMenus(); }
void HandleMenuCommand(const Ref<MenuItem>& item) { Runtime::Current().ChooseMenuItem(item); }
// With no runtime there are no windows.
Ref<Window> WindowAt(std::int32_t index) { return current ? current->WindowAt(index) : nullptr; }
std::int32_t WindowCount() { return current ? current->WindowCount() : 0; }
Ref<Window> GetImplicitWindow(std::string_view className) {
    return current ? current->ImplicitWindow(className) : nullptr;
}
void CloseAllWindows() { Runtime::Current().CloseAllWindows(); }

}  // namespace platform
