#pragma once

#include <QRect>
#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ApplicationBus.h"
#include "platform/Menu.h"
#include "platform/Ref.h"
#include "platform/SSLSocket.h"
#include "platform/Ticks.h"
#include "platform/Window.h"

namespace platform {

class FolderItem;

// The application's own version data, supplied with the application, its
// reverse-domain id and the web service it talks to.
struct ApplicationInfo {
    std::string name;
    std::int32_t majorVersion = 0;
    std::int32_t minorVersion = 0;
    std::int32_t bugVersion = 0;
    std::string longVersion;
    // The application's name on the desktop's session bus (one running
    // application per user session) and the name of its desktop entry. Empty:
    // every launch runs on its own.
    std::string applicationId;
    // How long a launch that finds the application running waits for
    // answers, in all, before it gives up on the running one or the bus
    // (ApplicationBus); waiting for the running one's user has no limit.
    std::chrono::milliseconds handOverTimeout = ApplicationBus::kHandOverTimeout;
    // The picture in the resources folder that stands for the application,
    // as its desktop entry's icon does: every window carries it, in the
    // picture's own size. Empty: the desktop's generic icon.
    std::string iconFileName;
    // The host (a host name, or host:port) of the application's web service.
    std::string serviceHost;
    // What the application's connections trust and resolve beyond the
    // system's own (the empty settings: the system's alone), and the clock
    // their time-outs run on.
    ConnectionSettings connectionSettings;
    std::shared_ptr<const Clock> clock = SystemClock();
    // Where the installation keeps the pictures the application loads by
    // name, found once at start. Empty: unknown, and loading a picture raises
    // NilObjectException.
    std::filesystem::path resourcesFolder;
};

// The application object. A program derives its own class, creates the one
// instance during start-up and registers it with RuntimeRegisterAppObject.
class Application {
public:
    Application();
    virtual ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Raised once per launch, after start-up, from inside the event loop.
    virtual void Event_Open() {}
    // Raised for every document the desktop hands in (nil: asked to open one).
    virtual void Event_OpenDocument(const Ref<FolderItem>& item) { (void)item; }
    // Raised at every menu update.
    virtual void Event_EnableMenuItems() {}

    // The menu bar shown while no window with a bar of its own is in front;
    // the runtime shows it.
    Ref<platform::MenuBar> MenuBar() const { return menuBar_; }
    void SetMenuBar(const Ref<platform::MenuBar>& bar);

    std::int32_t MajorVersion() const;
    std::int32_t MinorVersion() const;
    std::int32_t BugVersion() const;
    std::string LongVersion() const;
    // The application's info, as the runtime was given it.
    const ApplicationInfo& Info() const;

    // Binds a handler to the menu item of that Name.
    void AddMenuHandler(std::string name, MenuHandler handler) { menuHandlers_.Add(std::move(name), std::move(handler)); }
    // Runs the handler bound to `name`; false when none is bound or it did not
    // handle the choice.
    bool HandleMenuCommand(std::string_view name) const { return menuHandlers_.Run(name); }

private:
    Ref<platform::MenuBar> menuBar_;
    MenuHandlers menuHandlers_;
};

// The runtime -------------------------------------------------------------

// The top-level exception routine: calls `routine` and returns the run-time
// error that escaped it (nullptr when none did). Other exceptions pass on.
using ExceptionHelper = std::exception_ptr (*)(const std::function<void()>& routine);
std::exception_ptr CallFunctionWithExceptionHandling(const std::function<void()>& routine);

// The framework's runtime: the one owner of the process's framework state,
// that is the application's info and object, the open windows, the menu bar
// on screen, the documents waiting to be delivered, quitting, and the claim
// on the session bus. The program's entry makes one with the values built at
// start; a test makes its own with the values it needs. While it lives it is
// the current runtime, which the functions below act on; one lives at a time.
// The windows, controls and menu bars tell it what happens through the
// callbacks of its WindowHost, which it hands to each as it is made.
class Runtime final {
public:
    explicit Runtime(ApplicationInfo info);
    // Closes the windows that are still open and lets the application object
    // and its menu bar on screen go.
    ~Runtime();
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

    // The runtime that lives now; raises NilObjectException when none does.
    static Runtime& Current();

    const ApplicationInfo& Info() const;
    // Whether the event loop has delivered the Open event.
    bool OpenDelivered() const;
    // The status the application was asked to end with; 0 while it was not.
    int QuitStatus() const;

    // What the functions below do.
    void SetExceptionHelper(ExceptionHelper helper);
    void Initialize(int& argc, char** argv, const std::function<void()>& startup);
    int Run();
    int Shutdown(int status);
    void RegisterAppObject(const Ref<Application>& app);
    Ref<Application> AppObject() const;
    // Shows `bar` on screen as the application's menu bar (nil: none);
    // Application::SetMenuBar asks for it.
    void ShowMenuBar(const Ref<MenuBar>& bar);
    void Quit(int status);
    bool Quitting() const;
    Ref<Window> WindowAt(std::int32_t index) const;
    std::int32_t WindowCount() const;
    Ref<Window> ImplicitWindow(std::string_view className) const;
    void CloseAllWindows();
    void Dispatch(const std::function<void()>& handler);
    void UpdateMenus();
    void ChooseMenuItem(const Ref<MenuItem>& item);

    // What a window is made for.
    const WindowHost& Host() const;

private:
    struct State;
    void DeliverNextDocument();
    void HandInDocument(const std::filesystem::path& path, std::shared_ptr<ApplicationBus::HandedIn> handedIn);
    std::optional<int> ClaimApplicationName(std::vector<std::filesystem::path>& documents);
    void ReportUnhandled(const std::exception_ptr& escaped);
    void ReleaseWindowsAndApplication();
    void BringToFront(const std::shared_ptr<Window>& window);
    QRect KeptClear(const QRect& frame) const;
    QWidget* DialogParent() const;

    std::unique_ptr<State> state_;
};

// The framework's operations, on the current runtime -------------------------

// Installs the top-level exception routine through which Dispatch runs
// program code.
void RuntimeSetExceptionHelper(ExceptionHelper helper);

// Initialises the framework (the Qt application, the TLS library) for the
// process and then calls `startup`. Every application event comes after
// `startup` has returned.
//
// With an application id, the launch first looks for the running application
// on the session bus (ApplicationBus). When it runs, the launch hands it the
// documents named on the command line (none: asks it to come to the front) and
// ends there: `startup` is not called and RuntimeRun returns 0 at once, or 1
// when the running one or the bus did not answer (one line on standard error
// says which documents were not handed over, and why). The launch that owns
// the name serves the documents later launches hand over, delivering them
// like those named at start. Without a bus the launch runs on its own.
void RunFrameworkInitialization(int& argc, char** argv, const std::function<void()>& startup);

// Runs the event loop until the application quits and returns the exit
// status. Open is raised first, then OpenDocument for each document named on
// the command line (and for each the desktop or a later launch hands in), one
// at a time.
int RuntimeRun();

// Ends the framework: closes every window, releases the application object
// and the Qt application. Returns `status`.
int RuntimeShutdown(int status);

void RuntimeRegisterAppObject(const Ref<Application>& app);
// The registered application object; nil before, or while no runtime lives.
Ref<Application> GetAppObject();

// Ends the application with `status`: the event loop returns as soon as the
// current event has been handled, and no further event is delivered. The
// application's name on the session bus is given up at once.
void Quit(int status = 0);
bool Quitting();

// Runs program code on behalf of an event through the installed exception
// routine. A run-time error that escapes it (or any other exception) is shown
// to the user, naming its class, and ends the application: nothing escapes
// into Qt, but what showing that message itself throws.
void Dispatch(const std::function<void()>& handler);

// Refreshes the enabled state of every menu item: each item starts from its
// AutoEnable value, then the application's and the frontmost window's
// EnableMenuItems handlers run, and every menu bar on screen is updated.
void UpdateMenus();

// Runs the command of a chosen menu item: the frontmost window's handler for
// its Name, then the application's; a QuitMenuItem nobody handled quits.
void HandleMenuCommand(const Ref<MenuItem>& item);

// The program's open windows, frontmost first: WindowAt(0) is the frontmost;
// nil past the last (and none while no runtime lives).
Ref<Window> WindowAt(std::int32_t index);
std::int32_t WindowCount();

// The open window whose class has that registered name, or nil.
Ref<Window> GetImplicitWindow(std::string_view className);

// Creates a window of class W and constructs it for the current runtime.
template <class W>
Ref<W> New() {
    auto window = std::make_shared<W>();
    window->Constructor(Runtime::Current().Host());
    return Ref<W>(std::move(window));
}

// The single instance of a window class W that registers itself as
// W::kClassName: the open one, or a new one when none is open.
template <class W>
Ref<W> ImplicitInstance() {
    if (Ref<Window> open = GetImplicitWindow(W::kClassName)) return Cast<W>(open);
    return New<W>();
}

// Closes every open window (at shut-down).
void CloseAllWindows();

}  // namespace platform
