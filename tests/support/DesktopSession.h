#pragma once

// A private desktop session for tests that run real programs: an X server of
// its own (Xvfb, on a display number it picks itself) and a session bus of its
// own (dbus-daemon). Every process a test starts through these classes is
// killed when its object goes, also when the test fails; every wait polls
// against a deadline, so nothing hangs.

#include <QDBusConnection>
#include <QRect>
#include <QString>
#include <QStringList>
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace halvoric::testing {

// The test process's environment, to change for a child.
using Environment = std::map<std::string, std::string>;
Environment SystemEnvironment();

// A process started by a test. Its arguments are bytes, passed as they are
// (a file name that is not UTF-8 included), the way a shell passes them.
class ChildProcess {
public:
    // With `ownGroup`, in a process group of its own: one that a test stops
    // (SIGSTOP) then never gets the hang-up that the kernel sends a stopped
    // process whose group is left without a parent in the session, however
    // the test run was started.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const Environment& environment, const std::filesystem::path& workingDirectory = {},
                 bool ownGroup = false);
    // Ends the process when it still runs: asked first, then told.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    bool Running();
    // Sends `signal` (SIGSTOP, SIGCONT, SIGKILL, ...) to the process.
    void Signal(int signal) const;
    // Waits up to `timeoutMs` for the process to end; true when it has.
    bool WaitForExit(int timeoutMs);
    // The exit status of a process that ended by itself; nullopt while it runs
    // or when a signal ended it.
    std::optional<int> ExitStatus() const;
    // The first line of standard output, waiting up to `timeoutMs` for it.
    std::optional<std::string> FirstLine(int timeoutMs);
    // What the process has written to standard error so far.
    std::string ErrorOutput() const;

private:
    pid_t pid_ = -1;
    std::optional<int> waitStatus_;  // once the process has been reaped
    int output_ = -1;                // read end of its standard output
    std::string outputRead_;
    std::filesystem::path errors_;   // its standard error goes to this file
};

// A session bus of its own, with the session bus's policy and no services
// to start.
class PrivateBus {
public:
    // The configuration goes into `folder`, which must outlive the bus.
    explicit PrivateBus(const std::filesystem::path& folder);
    ~PrivateBus();
    bool Started() const { return !address_.empty(); }
    const std::string& Address() const { return address_; }
    // Sends `signal` to the bus's daemon (SIGSTOP: a bus that answers nothing).
    void Signal(int signal) const { daemon_->Signal(signal); }

    // What the bus says, asked over a connection of the test's own:
    // the connections that own or wait for `name`, the owner first;
    std::vector<std::string> Queue(const std::string& name) const;
    // and the process that owns `name` (a well-known or a unique name), when any.
    std::optional<pid_t> OwnerPid(const std::string& name) const;

private:
    QDBusConnection Connection() const;

    std::unique_ptr<ChildProcess> daemon_;
    std::string address_;
    std::string connectionName_;  // the test's own connection, once made
};

// An X server of its own (1024 x 768), with no window manager: windows stand
// where their programs put them.
class PrivateDisplay {
public:
    PrivateDisplay();
    bool Started() const { return !name_.empty(); }
    // ":N"
    const std::string& Name() const { return name_; }

    // A mapped top-level window.
    struct Window {
        std::string id;
        std::string title;  // _NET_WM_NAME, as UTF-8 (WM_NAME when there is none)
        QRect geometry;
        pid_t pid = 0;  // _NET_WM_PID; 0 when not set
    };
    // The mapped top-level windows, topmost first.
    std::vector<Window> Windows() const;
    // xprop's report of one property of a window.
    std::string Property(const std::string& windowId, const std::string& property) const;
    // Types `keys` (xdotool's names: "Return", "ctrl+q") into a window, as a
    // user does: the window gets the keyboard focus, then the keys go to it.
    // Whether the tool succeeded.
    bool Type(const std::string& windowId, const std::string& keys) const;

private:
    std::string Run(const QString& program, const QStringList& arguments, int* exitCode = nullptr) const;

    std::unique_ptr<ChildProcess> server_;
    std::string name_;
};

// Polls `condition` (processing events) until it holds or `timeoutMs` passes,
// resting a little between polls; returns whether it holds.
bool PollUntil(const std::function<bool()>& condition, int timeoutMs);

}  // namespace halvoric::testing
