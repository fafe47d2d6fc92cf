#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ApplicationBus.h"
#include "platform/Ref.h"
#include "platform/SSLSocket.h"
#include "platform/Ticks.h"

namespace platform {

class FolderItem;
class MenuBar;
class MenuItem;

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

// A handler bound to a menu item's Name; its result says whether it handled
// the choice.
using MenuHandler = std::function<bool()>;

// The handlers that an application or a window binds to menu item names.
class MenuHandlers {
public:
    void Add(std::string name, MenuHandler handler) { handlers_[std::move(name)] = std::move(handler); }
    // Runs the handler bound to `name`; false when none is bound or it did not
    // handle the choice.
    bool Run(std::string_view name) const {
        const auto found = handlers_.find(name);
        return found != handlers_.end() && found->second && found->second();
    }

private:
    std::map<std::string, MenuHandler, std::less<>> handlers_;
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

    // The menu bar shown while no window with a bar of its own is in front.
    Ref<platform::MenuBar> MenuBar() const { return menuBar_; }
    void SetMenuBar(const Ref<platform::MenuBar>& bar);

    std::int32_t MajorVersion() const;
    std::int32_t MinorVersion() const;
    std::int32_t BugVersion() const;
    std::string LongVersion() const;
    // The application's info, as supplied at start.
    const ApplicationInfo& Info() const;

    // Binds a handler to the menu item of that Name.
    void AddMenuHandler(std::string name, MenuHandler handler) { menuHandlers_.Add(std::move(name), std::move(handler)); }
    // Runs the handler bound to `name`; false when none is bound or it did not
    // handle the choice.
    bool HandleMenuCommand(std::string_view name) const { return menuHandlers_.Run(name); }

private:
    Ref<platform::MenuBar> menuBar_;
    MenuHandlers menuHandlers_;
    struct ShownMenuBar;
    std::unique_ptr<ShownMenuBar> shownMenuBar_;  // the bar on screen
};

// Start-up and the event loop ----------------------------------------------

// The top-level exception routine: calls `routine` and returns the run-time
// error that escaped it (nullptr when none did). Other exceptions pass on.
using ExceptionHelper = std::exception_ptr (*)(const std::function<void()>& routine);
std::exception_ptr CallFunctionWithExceptionHandling(const std::function<void()>& routine);
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
void RunFrameworkInitialization(int& argc, char** argv, const ApplicationInfo& info,
                                const std::function<void()>& startup);

// The info the framework was initialised with (or that a test set).
const ApplicationInfo& RunningApplicationInfo();

// Runs the event loop until the application quits and returns the exit
// status. Open is raised first, then OpenDocument for each document named on
// the command line (and for each the desktop or a later launch hands in), one
// at a time.
int RuntimeRun();

// Ends the framework: closes every window, releases the application object
// and the Qt application. Returns `status`.
int RuntimeShutdown(int status);

void RuntimeRegisterAppObject(const Ref<Application>& app);
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

// Test support: sets the version data without starting the framework, and
// resets the runtime's per-process state (windows, application object,
// quitting flag) between tests.
void SetApplicationInfoForTesting(const ApplicationInfo& info);
void ResetRuntimeForTesting();
// The status of the last Quit (0 when none was requested).
int QuitStatusForTesting();
// Whether RuntimeRun has delivered the Open event.
bool OpenDeliveredForTesting();

}  // namespace platform
