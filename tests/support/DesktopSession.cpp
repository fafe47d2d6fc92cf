#include "tests/support/DesktopSession.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "tests/support/RecordingDesktop.h"

extern char** environ;

namespace halvoric::testing {

namespace fs = std::filesystem;

namespace {

// Deadlines for the session's own programs, generous for a loaded machine.
constexpr int kStartMs = 20000;
constexpr int kToolMs = 10000;

}  // namespace

bool PollUntil(const std::function<bool()>& condition, int timeoutMs) {
    return WaitFor(condition, timeoutMs, /*pauseMs=*/20);
}

// ChildProcess ----------------------------------------------------------------

Environment SystemEnvironment() {
    Environment environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text(*entry);
        const std::size_t equals = text.find('=');
        if (equals != std::string::npos) environment[text.substr(0, equals)] = text.substr(equals + 1);
    }
    return environment;
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const Environment& environment, const fs::path& workingDirectory, bool ownGroup) {
    char errorsTemplate[] = "/tmp/halvoric-test-stderr-XXXXXX";
    const int errorsFile = ::mkstemp(errorsTemplate);
    if (errorsFile < 0) return;
    errors_ = errorsTemplate;
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        ::close(errorsFile);
        return;
    }

    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> argvPointers;
    for (std::string& argument : argv) argvPointers.push_back(argument.data());
    argvPointers.push_back(nullptr);
    std::vector<std::string> envp;
    for (const auto& [name, value] : environment) envp.push_back(name + "=" + value);
    std::vector<char*> envpPointers;
    for (std::string& entry : envp) envpPointers.push_back(entry.data());
    envpPointers.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errorsFile, STDERR_FILENO);
    if (!workingDirectory.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (ownGroup) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    pid_t pid = -1;
    if (::posix_spawnp(&pid, program.c_str(), &actions, &attributes, argvPointers.data(), envpPointers.data()) == 0) {
        pid_ = pid;
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    ::close(errorsFile);
    output_ = pipeEnds[0];
    ::fcntl(output_, F_SETFL, ::fcntl(output_, F_GETFL) | O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
    if (Running()) {
        ::kill(pid_, SIGTERM);
        if (!WaitForExit(kToolMs)) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }
    if (output_ >= 0) ::close(output_);
    if (!errors_.empty()) {
        std::error_code ignored;
        fs::remove(errors_, ignored);
    }
}

bool ChildProcess::Running() {
    if (!Started() || waitStatus_) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
    waitStatus_ = status;
    return false;
}

void ChildProcess::Signal(int signal) const {
    if (Started() && !waitStatus_) ::kill(pid_, signal);
}

bool ChildProcess::WaitForExit(int timeoutMs) {
    return PollUntil([this] { return !Running(); }, timeoutMs);
}

std::optional<int> ChildProcess::ExitStatus() const {
    if (!waitStatus_ || !WIFEXITED(*waitStatus_)) return std::nullopt;
    return WEXITSTATUS(*waitStatus_);
}

std::optional<std::string> ChildProcess::FirstLine(int timeoutMs) {
    std::optional<std::string> line;
    PollUntil([&] {
        char buffer[256];
        ssize_t count;
        while ((count = ::read(output_, buffer, sizeof buffer)) > 0) outputRead_.append(buffer, count);
        if (const std::size_t end = outputRead_.find('\n'); end != std::string::npos) {
            line = outputRead_.substr(0, end);
            return true;
        }
        return count == 0;  // the process closed its output
    }, timeoutMs);
    return line;
}

std::string ChildProcess::ErrorOutput() const {
    std::ifstream file(errors_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// PrivateBus --------------------------------------------------------------------

PrivateBus::PrivateBus(const fs::path& folder) {
    const fs::path config = folder / "session-bus.conf";
    std::ofstream(config) << R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=)" << folder.string() << R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
    daemon_ = std::make_unique<ChildProcess>(
        "dbus-daemon", std::vector<std::string>{"--config-file=" + config.string(), "--nofork", "--print-address=1"},
        SystemEnvironment());
    if (auto line = daemon_->FirstLine(kStartMs); line && !line->empty()) address_ = *line;
    if (address_.empty()) return;
    static int buses = 0;
    connectionName_ = "PrivateBus." + std::to_string(++buses);
    QDBusConnection::connectToBus(QString::fromStdString(address_), QString::fromStdString(connectionName_));
}

PrivateBus::~PrivateBus() {
    if (!connectionName_.empty()) QDBusConnection::disconnectFromBus(QString::fromStdString(connectionName_));
}

namespace {

QDBusMessage AskTheBus(const QString& method, const std::string& argument) {
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                          QStringLiteral("/org/freedesktop/DBus"),
                                          QStringLiteral("org.freedesktop.DBus"), method)
           << QString::fromStdString(argument);
}

}  // namespace

QDBusConnection PrivateBus::Connection() const {
    return QDBusConnection(QString::fromStdString(connectionName_));
}

std::vector<std::string> PrivateBus::Queue(const std::string& name) const {
    const QDBusMessage reply =
        Connection().call(AskTheBus(QStringLiteral("ListQueuedOwners"), name), QDBus::Block, kToolMs);
    std::vector<std::string> queue;
    for (const QString& owner : reply.arguments().value(0).toStringList()) queue.push_back(owner.toStdString());
    return queue;
}

std::optional<pid_t> PrivateBus::OwnerPid(const std::string& name) const {
    const QDBusMessage reply =
        Connection().call(AskTheBus(QStringLiteral("GetConnectionUnixProcessID"), name), QDBus::Block, kToolMs);
    if (reply.type() != QDBusMessage::ReplyMessage) return std::nullopt;
    return static_cast<pid_t>(reply.arguments().value(0).toUInt());
}

// PrivateDisplay ----------------------------------------------------------------

PrivateDisplay::PrivateDisplay() {
    // -displayfd: the server takes the first free display number and says
    // which, once it accepts connections. -noreset: by default the server
    // resets whenever its last client leaves, and a reset drops every
    // connection that is accepted but not yet set up; the short-lived tools
    // that look at the windows are often that last client, and a launch
    // connecting at that moment would lose its display.
    server_ = std::make_unique<ChildProcess>(
        "Xvfb",
        std::vector<std::string>{"-displayfd", "1", "-noreset", "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
        SystemEnvironment());
    if (auto line = server_->FirstLine(kStartMs); line && !line->empty()) name_ = ":" + *line;
}

std::string PrivateDisplay::Run(const QString& program, const QStringList& arguments, int* exitCode) const {
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromStdString(name_));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));  // titles as UTF-8
    tool.setProcessEnvironment(environment);
    tool.start(program, arguments);
    if (!tool.waitForFinished(kToolMs)) {
        tool.kill();
        tool.waitForFinished(kToolMs);
        if (exitCode) *exitCode = -1;
        return {};
    }
    if (exitCode) *exitCode = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    return tool.readAllStandardOutput().toStdString();
}

std::vector<PrivateDisplay::Window> PrivateDisplay::Windows() const {
    static const QRegularExpression child(
        QString::fromLatin1(R"re(^\s*(0x[0-9a-fA-F]+) "(.*)": \(.*\)\s+(\d+)x(\d+)\+(-?\d+)\+(-?\d+))re"));
    static const QRegularExpression pid(QString::fromLatin1(R"re(=\s*(\d+))re"));
    std::vector<Window> windows;
    const QString tree = QString::fromStdString(Run(QStringLiteral("xwininfo"), {"-root", "-children"}));
    for (const QString& line : tree.split('\n')) {
        const QRegularExpressionMatch match = child.match(line);
        if (!match.hasMatch()) continue;
        const std::string id = match.captured(1).toStdString();
        const std::string state = Run(QStringLiteral("xwininfo"), {"-id", QString::fromStdString(id)});
        if (state.find("Map State: IsViewable") == std::string::npos) continue;
        Window window{id, match.captured(2).toStdString(),
                      QRect(match.captured(5).toInt(), match.captured(6).toInt(), match.captured(3).toInt(),
                            match.captured(4).toInt())};
        const QRegularExpressionMatch pidMatch =
            pid.match(QString::fromStdString(Property(id, "_NET_WM_PID")));
        if (pidMatch.hasMatch()) window.pid = static_cast<pid_t>(pidMatch.captured(1).toLongLong());
        windows.push_back(std::move(window));
    }
    return windows;
}

bool PrivateDisplay::Type(const std::string& windowId, const std::string& keys) const {
    int exitCode = -1;
    Run(QStringLiteral("xdotool"),
        {"windowfocus", "--sync", QString::fromStdString(windowId), "key", QString::fromStdString(keys)}, &exitCode);
    return exitCode == 0;
}

std::string PrivateDisplay::Property(const std::string& windowId, const std::string& property) const {
    return Run(QStringLiteral("xprop"),
               {"-id", QString::fromStdString(windowId), QString::fromStdString(property)});
}

}  // namespace halvoric::testing
