// A launch hands its documents to the running application whatever that one
// is doing: stopped, in its error box on the way out, quitting or killed. The
// real executable on a desktop of the test's own; who owns the application's
// name is asked of the bus.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "platform/Application.h"
#include "tests/desktop/DesktopTest.h"

namespace halvoric {
namespace {

using testing::ChildProcess;
using testing::kApplicationId;
using testing::kExitMs;
using testing::kMenuBarTitle;
using testing::PollUntil;
using Window = testing::PrivateDisplay::Window;

// A short bound for a launch made in the test's own process, so that giving
// up takes a moment instead of the installed program's 25 seconds.
constexpr auto kShortBound = std::chrono::milliseconds(300);

class HandOverTest : public testing::DesktopTest {
protected:
    // Starts the running application and waits for its menu-bar window.
    ChildProcess& StartRunning() {
        ChildProcess& running = Launch({});
        EXPECT_TRUE(WaitForWindows(running.Pid(), {kMenuBarTitle})) << Report();
        EXPECT_EQ(bus->OwnerPid(kApplicationId), running.Pid());
        return running;
    }

    // Every window on the screen is the owner's: one application, with one
    // menu-bar window and each of `titles` at most once.
    void ExpectOneApplication(const ChildProcess& owner, const std::vector<std::string>& titles) {
        const std::vector<Window> all = display->Windows();
        EXPECT_EQ(WindowsOf(owner.Pid()).size(), all.size()) << Report();
        EXPECT_EQ(Titled(all, kMenuBarTitle), 1) << Report();
        for (const std::string& title : titles) EXPECT_LE(Titled(all, title), 1) << title;
    }

    // A launch with `names` from the documents folder made in this process,
    // as the program makes it but giving up after kShortBound: its exit
    // status, and the one line it said on standard error.
    std::pair<int, std::string> LaunchHere(const std::vector<std::string>& names) {
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus->Address().c_str(), 1);
        std::vector<std::string> arguments{"halvoric"};
        for (const std::string& name : names) arguments.push_back((documents() / name).string());
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        int argc = static_cast<int>(arguments.size());
        const platform::Runtime runtime(
            {.name = "Halvoric", .applicationId = kApplicationId, .handOverTimeout = kShortBound});
        const std::filesystem::path said = folder.File("said");
        std::fflush(stderr);
        const int terminal = ::dup(STDERR_FILENO);
        const int file = ::open(said.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(file, STDERR_FILENO);
        ::close(file);
        platform::RunFrameworkInitialization(argc, argv.data(), [] { ADD_FAILURE() << "the launch started"; });
        const int status = platform::RuntimeRun();
        std::fflush(stderr);
        ::dup2(terminal, STDERR_FILENO);
        ::close(terminal);
        std::ifstream in(said);
        return {status, std::string(std::istreambuf_iterator<char>(in), {})};
    }
};

TEST_F(HandOverTest, ALaunchWaitsForAStoppedInstanceAndGivesUpAfterTheBoundSayingSo) {
    for (const char* name : {"resumed.indd", "given up.indd", "after.indd"}) Document(name);
    ChildProcess& running = StartRunning();

    // Stopped, then let go on within the bound: the launch waits, then hands over.
    running.Signal(SIGSTOP);
    ChildProcess& patient = Launch({"resumed.indd"});
    ASSERT_EQ(WaitForQueue(2).size(), 2u) << "the launch waits in the name's queue: " << Report();
    EXPECT_TRUE(patient.Running());
    running.Signal(SIGCONT);
    ASSERT_TRUE(patient.WaitForExit(kExitMs)) << Report();
    EXPECT_EQ(patient.ExitStatus(), 0) << patient.ErrorOutput();
    ASSERT_TRUE(WaitForWindows(running.Pid(), {"resumed.indd"})) << Report();

    // Stopped for longer than the bound: the launch ends with status 1 and one
    // line naming the document and why, no sooner than the bound.
    running.Signal(SIGSTOP);
    const auto start = std::chrono::steady_clock::now();
    const auto [status, said] = LaunchHere({"given up.indd"});
    EXPECT_GE(std::chrono::steady_clock::now() - start, kShortBound);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(said, "Halvoric: could not hand \"" + (documents() / "given up.indd").string() +
                        "\" over to the running Halvoric: it did not answer within 300 ms\n");

    // The instance goes on and finds that launch's call, which waited for it
    // ahead of the next launch's: the document it carried never opens, the
    // next one does.
    running.Signal(SIGCONT);
    ChildProcess& next = Launch({"after.indd"});
    ASSERT_TRUE(next.WaitForExit(kExitMs)) << Report();
    EXPECT_EQ(next.ExitStatus(), 0) << next.ErrorOutput();
    ASSERT_TRUE(WaitForWindows(running.Pid(), {"after.indd"})) << Report();
    EXPECT_EQ(Titled(display->Windows(), "given up.indd"), 0) << Report();
    EXPECT_EQ(bus->OwnerPid(kApplicationId), running.Pid());
}

TEST_F(HandOverTest, ALaunchWaitingOnAnInstanceInItsErrorBoxOwnsTheNameOnceTheBoxIsDismissed) {
    for (const char* name : {"other.indd", "behind.indd", "third.indd"}) Document(name);
    ChildProcess& running = StartRunning();

    // A document that cannot be read: its message, then the application ends
    // once the user has read it.
    ChildProcess& unreadable = Launch({"missing.indd"});
    ASSERT_TRUE(unreadable.WaitForExit(kExitMs)) << Report();
    EXPECT_EQ(unreadable.ExitStatus(), 0) << unreadable.ErrorOutput();
    const std::optional<Window> box = WaitForMessageBox(running.Pid());
    ASSERT_TRUE(box) << Report();

    // A launch meanwhile waits in the name's queue, however long the user
    // takes to read the message, and the instance takes nothing from it.
    // A second one waits behind it.
    ChildProcess& waiting = Launch({"other.indd"});
    ASSERT_EQ(WaitForQueue(2).size(), 2u) << Report();
    ChildProcess& behind = Launch({"behind.indd"});
    ASSERT_EQ(WaitForQueue(3).size(), 3u) << Report();
    ASSERT_TRUE(waiting.Running()) << Report();
    ASSERT_TRUE(behind.Running()) << Report();
    EXPECT_EQ(Titled(display->Windows(), "other.indd"), 0);

    // The user presses Return: the instance ends, with status 0, and the
    // first waiting launch is the application now; the one behind it hands
    // over to it.
    ASSERT_TRUE(display->Type(box->id, "Return"));
    ASSERT_TRUE(running.WaitForExit(kExitMs)) << Report();
    EXPECT_EQ(running.ExitStatus(), 0);
    ASSERT_TRUE(behind.WaitForExit(kExitMs)) << Report();
    EXPECT_EQ(behind.ExitStatus(), 0) << behind.ErrorOutput();
    ASSERT_TRUE(WaitForWindows(waiting.Pid(), {kMenuBarTitle, "other.indd", "behind.indd"})) << Report();
    EXPECT_EQ(bus->OwnerPid(kApplicationId), waiting.Pid());

    // And a further launch hands over to it.
    ChildProcess& further = Launch({"third.indd"});
    ASSERT_TRUE(further.WaitForExit(kExitMs)) << Report();
    EXPECT_EQ(further.ExitStatus(), 0) << further.ErrorOutput();
    ASSERT_TRUE(WaitForWindows(waiting.Pid(), {"third.indd"})) << Report();
    ExpectOneApplication(waiting, {"other.indd", "behind.indd", "third.indd"});
}

TEST_F(HandOverTest, LaunchesQueuedBehindAnInstanceThatIsKilledEndWithOneOwnerShowingAllTheirDocuments) {
    const std::vector<std::vector<std::string>> sets{{"a.indd"}, {"b.indd", "c.indd"}, {}, {"d.indd"}};
    std::vector<std::string> titles;
    for (const auto& set : sets) {
        for (const auto& name : set) {
            Document(name);
            titles.push_back(name);
        }
    }
    ChildProcess& running = StartRunning();
    running.Signal(SIGSTOP);
    std::vector<ChildProcess*> started;
    for (const auto& set : sets) started.push_back(&Launch(set));
    ASSERT_EQ(WaitForQueue(sets.size() + 1).size(), sets.size() + 1) << Report();
    running.Signal(SIGKILL);

    // The bus hands the name to the first in the queue; the others hand
    // everything over to it and end with status 0.
    ChildProcess* owner = TheOneLeft(started);
    ASSERT_NE(owner, nullptr);
    std::vector<std::string> expected = titles;
    expected.push_back(kMenuBarTitle);
    ASSERT_TRUE(WaitForWindows(owner->Pid(), expected)) << Report();
    ExpectOneApplication(*owner, titles);
}

TEST_F(HandOverTest, LaunchesAtTheMomentTheInstanceQuitsEndWithOneOwner) {
    const std::vector<std::vector<std::string>> sets{{"a.indd"}, {"b.indd", "c.indd"}, {}, {"d.indd"}};
    std::vector<std::string> titles{"later.indd"};
    for (const auto& set : sets) {
        for (const auto& name : set) {
            Document(name);
            titles.push_back(name);
        }
    }
    Document("later.indd");
    ChildProcess& running = StartRunning();
    const std::vector<Window> menuBar = WindowsOf(running.Pid());
    ASSERT_EQ(menuBar.size(), 1u) << Report();

    std::vector<ChildProcess*> started;
    for (const auto& set : sets) started.push_back(&Launch(set));
    ASSERT_TRUE(display->Type(menuBar[0].id, "ctrl+q"));  // File > Quit
    ASSERT_TRUE(running.WaitForExit(kExitMs)) << Report();

    // What each launch handed over before the instance quit, that one showed;
    // a launch that it left waiting owns the name now, or hands over to the
    // one that does. So at most one goes on, owning the name and showing the
    // documents of its own launch that it had not handed over yet (its last
    // one at least: they go one at a time); every other ends with status 0.
    ASSERT_TRUE(PollUntil([&] {
        return std::count_if(started.begin(), started.end(), [](ChildProcess* p) { return p->Running(); }) <= 1 &&
               std::all_of(started.begin(), started.end(), [&](ChildProcess* p) {
                   return !p->Running() || bus->OwnerPid(kApplicationId) == p->Pid();
               });
    }, kExitMs)) << Report();
    ChildProcess* owner = nullptr;
    for (std::size_t index = 0; index < started.size(); ++index) {
        if (started[index]->Running()) {
            owner = started[index];
            std::vector<std::string> own{kMenuBarTitle};
            if (!sets[index].empty()) own.push_back(sets[index].back());
            EXPECT_TRUE(WaitForWindows(owner->Pid(), own)) << Report();
        } else {
            EXPECT_EQ(started[index]->ExitStatus(), 0) << started[index]->ErrorOutput();
        }
    }

    // A later launch hands over to that one, or, when every launch handed
    // over before the instance quit, owns the name itself.
    ChildProcess& later = Launch({"later.indd"});
    if (owner) {
        ASSERT_TRUE(later.WaitForExit(kExitMs)) << Report();
        EXPECT_EQ(later.ExitStatus(), 0) << later.ErrorOutput();
    } else {
        owner = &later;
    }
    ASSERT_TRUE(WaitForWindows(owner->Pid(), {kMenuBarTitle, "later.indd"})) << Report();
    EXPECT_EQ(bus->OwnerPid(kApplicationId), owner->Pid()) << Report();
    ExpectOneApplication(*owner, titles);
}

}  // namespace
}  // namespace halvoric
