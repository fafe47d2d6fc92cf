// One running application per session: file URIs that carry every byte of
// a name, and the claim of the application's name on a session bus that the
// test starts, with the owner in this thread and later launches in threads
// of their own. (Launches at the same moment: tests/desktop, with the real
// executable.)

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QStringList>
#include <QVariantMap>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/ApplicationBus.h"
#include "tests/support/CraftedDocument.h"
#include "tests/support/DesktopSession.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using halvoric::testing::PollUntil;
using halvoric::testing::PrivateBus;
using halvoric::testing::TemporaryFolder;
using Role = ApplicationBus::Role;

// ---- file URIs -----------------------------------------------------------------

TEST(FileUriTest, EveryByteOfANameTravelsAndComesBackUnchanged) {
    EXPECT_EQ(FileUri("/tmp/two words.indd"), "file:///tmp/two%20words.indd");
    EXPECT_EQ(FileUri("/t/日本語.indd"), "file:///t/%E6%97%A5%E6%9C%AC%E8%AA%9E.indd");
    EXPECT_EQ(FileUri("/a-b_c.d~e/F9"), "file:///a-b_c.d~e/F9");

    // Every byte a file name can hold, the ones that are not UTF-8 included.
    std::string name;
    for (int byte = 1; byte < 256; ++byte) {
        if (byte != '/') name += static_cast<char>(byte);
    }
    for (const fs::path& path : {fs::path("/t/" + name), fs::path("/t/caf\xE9 #1?%25.indd"), fs::path("/")}) {
        const std::string uri = FileUri(path);
        EXPECT_EQ(uri.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~/:%"),
                  std::string::npos)
            << uri;
        const std::optional<fs::path> back = PathFromFileUri(uri);
        ASSERT_TRUE(back) << uri;
        EXPECT_EQ(back->native(), path.native());
    }
}

TEST(FileUriTest, OtherSendersFormsAreReadAndAnythingElseIsRefused) {
    const auto read = [](std::string_view uri) { return PathFromFileUri(uri).value_or("(refused)").native(); };
    EXPECT_EQ(read("file://localhost/a%20b"), "/a b");
    EXPECT_EQ(read("FILE://LocalHost/x"), "/x");
    EXPECT_EQ(read("file:///t/%e6%97%a5.indd"), "/t/日.indd");
    EXPECT_EQ(read("file:///t/日本語 a.indd"), "/t/日本語 a.indd");  // an IRI's raw UTF-8
    EXPECT_EQ(read("file:///t/caf%E9"), "/t/caf\xE9");

    for (const std::string_view uri : {"", "file:", "file:x", "file://", "file:relative/x", "http://host/x",
                                       "file://host/x", "file:///a%2", "file:///a%", "file:///a%zz", "file:///a%00b",
                                       "file:///a#b", "file:///a?b", "/plain/path"}) {
        EXPECT_EQ(read(uri), "(refused)") << uri;
    }
}

TEST(FileUriTest, TheObjectPathFollowsTheApplicationId) {
    EXPECT_EQ(ApplicationObjectPath("example.halvoric.Halvoric"), "/example/halvoric/Halvoric");
    EXPECT_EQ(ApplicationObjectPath("org.example.my-app"), "/org/example/my_app");
}

// ---- the claim on a private session bus --------------------------------------------

constexpr char kId[] = "example.halvoric.BusTest";
constexpr int kDeadlineMs = 20000;

// What reached the owner of the name, with the means to take each document.
struct Received {
    std::vector<fs::path> documents;
    std::vector<std::function<bool()>> taken;
    int activations = 0;

    ApplicationBus::Receiver Receiver() {
        return {.openDocument =
                    [this](const fs::path& document, std::function<bool()> take) {
                        documents.push_back(document);
                        taken.push_back(std::move(take));
                    },
                .activate = [this] { ++activations; }};
    }
};

class ApplicationBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        bus = std::make_unique<PrivateBus>(folder.Path());
        ASSERT_TRUE(bus->Started()) << "dbus-daemon did not start (scripts/packages.sh installs it)";
    }

    // Whatever happened, nothing stays blocked: the owner leaves, then the bus
    // goes (a sender still waiting gets an error), then the launches end.
    void TearDown() override {
        owner.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("observer"));
        bus.reset();
        for (auto& launch : launches) launch.join();
    }

    std::unique_ptr<ApplicationBus> Connect() const { return ApplicationBus::Connect(kId, bus->Address()); }

    // Claims the name in this thread, as the running application.
    void BecomeOwner(std::vector<fs::path> documents = {}) {
        owner = Connect();
        ASSERT_TRUE(owner);
        const ApplicationBus::Claim claim = owner->ClaimOrHandOver(std::move(documents), received.Receiver());
        ASSERT_EQ(claim.role, Role::Primary);
    }

    // A later launch with `documents`, in a thread of its own (a launch
    // blocks while it hands over), waiting `timeout` for each document.
    std::shared_future<ApplicationBus::Claim> Launch(
        std::vector<fs::path> documents, std::chrono::milliseconds timeout = ApplicationBus::kHandOverTimeout) {
        auto promise = std::make_shared<std::promise<ApplicationBus::Claim>>();
        std::shared_future<ApplicationBus::Claim> result = promise->get_future().share();
        launches.emplace_back([this, promise, timeout, documents = std::move(documents)]() mutable {
            std::unique_ptr<ApplicationBus> launch = Connect();
            if (!launch) {
                promise->set_value({Role::Alone, documents, {}});
                return;
            }
            launch->SetHandOverTimeoutForTesting(timeout);
            promise->set_value(launch->ClaimOrHandOver(std::move(documents), {}));
        });
        return result;
    }

    // A connection of the test's own, to ask the bus what it knows.
    QDBusConnection Observer() {
        QDBusConnection observer =
            QDBusConnection::connectToBus(QString::fromStdString(bus->Address()), QStringLiteral("observer"));
        EXPECT_TRUE(observer.isConnected());
        return observer;
    }

    // The connections queued for the application's name, the owner first.
    QStringList Queue() {
        const QDBusMessage reply =
            Observer().call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                           QStringLiteral("/org/freedesktop/DBus"),
                                                           QStringLiteral("org.freedesktop.DBus"),
                                                           QStringLiteral("ListQueuedOwners"))
                            << QString::fromLatin1(kId));
        return reply.arguments().value(0).toStringList();
    }

    // Serves the bus from this thread's event loop until `condition` holds.
    static bool Serve(const std::function<bool()>& condition) { return PollUntil(condition, kDeadlineMs); }
    // Serves it for a while, for what must not happen meanwhile.
    static void ServeFor(int milliseconds) { PollUntil([] { return false; }, milliseconds); }

    static bool Ended(const std::shared_future<ApplicationBus::Claim>& claim) {
        return claim.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }

    TemporaryFolder folder;
    std::unique_ptr<PrivateBus> bus;
    Received received;
    std::unique_ptr<ApplicationBus> owner;
    std::vector<std::thread> launches;
};

TEST_F(ApplicationBusTest, WithoutABusThereIsNothingToClaim) {
    EXPECT_EQ(ApplicationBus::Connect(kId, "unix:path=" + (folder.Path() / "no-bus").string()), nullptr);
}

TEST_F(ApplicationBusTest, TheFirstLaunchKeepsItsDocumentsAndOwnsTheName) {
    const std::vector<fs::path> documents{"/t/a.indd", "/t/b.indd"};
    owner = Connect();
    ASSERT_TRUE(owner);
    const ApplicationBus::Claim claim = owner->ClaimOrHandOver(documents, received.Receiver());
    EXPECT_EQ(claim.role, Role::Primary);
    EXPECT_EQ(claim.documents, documents);
    EXPECT_TRUE(received.documents.empty());
}

TEST_F(ApplicationBusTest, ALaterLaunchWaitsForABusyOwnerAndUntilItTakesEachDocument) {
    BecomeOwner();
    const fs::path first = "/t/two words.indd";
    const fs::path second = "/t/caf\xE9 日本語.indd";
    const auto claim = Launch({first, second});

    // The owner's event thread is busy (a launch report, an update check): the
    // call waits for it instead of failing, so it is neither lost nor repeated.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_FALSE(Ended(claim));
    EXPECT_TRUE(received.documents.empty());

    ASSERT_TRUE(Serve([&] { return received.documents.size() == 1; }));
    EXPECT_EQ(received.documents[0].native(), first.native());
    // Not taken yet: the launch still waits, and sends the next only then.
    ServeFor(1000);
    EXPECT_FALSE(Ended(claim));
    EXPECT_EQ(received.documents.size(), 1u);

    EXPECT_TRUE(received.taken[0]());
    ASSERT_TRUE(Serve([&] { return received.documents.size() == 2; }));
    EXPECT_EQ(received.documents[1].native(), second.native());
    EXPECT_TRUE(received.taken[1]());
    ASSERT_TRUE(Serve([&] { return Ended(claim); }));
    EXPECT_EQ(claim.get().role, Role::HandedOver);
    EXPECT_TRUE(claim.get().documents.empty());
    EXPECT_EQ(received.activations, 0);
}

TEST_F(ApplicationBusTest, AnOwnerThatQuitsBeforeTakingADocumentLeavesItAndTheRestToTheLaunch) {
    BecomeOwner();
    const auto claim = Launch({"/t/e.indd", "/t/f.indd"});
    ASSERT_TRUE(Serve([&] { return received.documents.size() == 1; }));

    owner->Close();  // quits with "e" still in its queue
    EXPECT_FALSE(received.taken[0]()) << "too late: the launch opens it";
    ASSERT_TRUE(Serve([&] { return Ended(claim); }));
    // The bus made the queued launch the owner, and it opens both itself.
    EXPECT_EQ(claim.get().role, Role::Primary);
    EXPECT_EQ(claim.get().documents, (std::vector<fs::path>{"/t/e.indd", "/t/f.indd"}));
    EXPECT_EQ(received.documents.size(), 1u);
}

TEST_F(ApplicationBusTest, AnOwnerThatQuitsAfterTakingADocumentLeavesOnlyTheRest) {
    BecomeOwner();
    const auto claim = Launch({"/t/g.indd", "/t/h.indd"});
    ASSERT_TRUE(Serve([&] { return received.documents.size() == 1; }));

    EXPECT_TRUE(received.taken[0]());  // "g" is the owner's now
    owner->Close();       // and it quits before it serves the call for "h"
    ASSERT_TRUE(Serve([&] { return Ended(claim); }));
    EXPECT_EQ(claim.get().role, Role::Primary);
    EXPECT_EQ(claim.get().documents, std::vector<fs::path>{"/t/h.indd"});
    EXPECT_EQ(received.documents, std::vector<fs::path>{"/t/g.indd"});
}

TEST_F(ApplicationBusTest, ALaunchWithoutDocumentsActivatesTheOwnerAndActionsAreNotSupported) {
    BecomeOwner();
    const auto claim = Launch({});
    ASSERT_TRUE(Serve([&] { return Ended(claim); }));
    EXPECT_EQ(claim.get().role, Role::HandedOver);
    EXPECT_EQ(received.activations, 1);

    // What other senders may send, straight on the bus.
    QDBusConnection caller = QDBusConnection::connectToBus(QString::fromStdString(bus->Address()),
                                                           QStringLiteral("ApplicationBusTest.caller"));
    ASSERT_TRUE(caller.isConnected());
    const auto call = [&](const QString& method, const QVariantList& arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(QString::fromLatin1(kId),
                                                              QStringLiteral("/example/halvoric/BusTest"),
                                                              QStringLiteral("org.freedesktop.Application"), method);
        message.setArguments(arguments);
        QDBusPendingCall pending = caller.asyncCall(message);
        EXPECT_TRUE(Serve([&] { return pending.isFinished(); }));
        return pending.reply();
    };
    const QDBusMessage action = call(QStringLiteral("ActivateAction"),
                                     {QStringLiteral("quit"), QVariantList(), QVariantMap()});
    EXPECT_EQ(action.errorName(), QStringLiteral("org.freedesktop.DBus.Error.NotSupported"));
    const QDBusMessage web = call(QStringLiteral("Open"),
                                  {QStringList{QStringLiteral("file:///t/ok.indd"), QStringLiteral("https://x/y")},
                                   QVariantMap()});
    EXPECT_EQ(web.errorName(), QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));
    EXPECT_TRUE(received.documents.empty()) << "a call with a bad URI opens none of its documents";
    const QDBusMessage none = call(QStringLiteral("Open"), {QStringList(), QVariantMap()});
    EXPECT_EQ(none.type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(received.activations, 2);
    // Several documents in one call: answered once all are taken.
    QDBusPendingCall both = caller.asyncCall(QDBusMessage::createMethodCall(
                                                 QString::fromLatin1(kId), QStringLiteral("/example/halvoric/BusTest"),
                                                 QStringLiteral("org.freedesktop.Application"), QStringLiteral("Open"))
                                             << QStringList{QStringLiteral("file:///t/1"), QStringLiteral("file:///t/2")}
                                             << QVariantMap());
    ASSERT_TRUE(Serve([&] { return received.documents.size() == 2; }));
    EXPECT_TRUE(received.taken[0]());
    ServeFor(500);
    EXPECT_FALSE(both.isFinished());
    EXPECT_TRUE(received.taken[1]());
    ASSERT_TRUE(Serve([&] { return both.isFinished(); }));
    EXPECT_FALSE(both.isError());
    QDBusConnection::disconnectFromBus(QStringLiteral("ApplicationBusTest.caller"));
}

TEST_F(ApplicationBusTest, ALaunchThatTheOwnerDoesNotTakeFromGivesUpAndItsDocumentNeverOpensThere) {
    BecomeOwner();
    // The owner receives the hand-over but never takes the document while the
    // launch waits, as an application in a modal loop or a stopped one.
    const auto claim = Launch({"/t/i.indd", "/t/j.indd"}, std::chrono::milliseconds(1000));
    ASSERT_TRUE(Serve([&] { return received.documents.size() == 1; }));
    const QStringList queue = Queue();
    ASSERT_EQ(queue.size(), 2);
    ASSERT_EQ(claim.wait_for(std::chrono::milliseconds(kDeadlineMs)), std::future_status::ready);
    EXPECT_EQ(claim.get().role, Role::Failed);
    EXPECT_EQ(claim.get().documents, (std::vector<fs::path>{"/t/i.indd", "/t/j.indd"}));
    EXPECT_EQ(claim.get().failure, "it did not answer within 1 second");

    // Once the bus has seen the launch go, taking "i" fails, so it never
    // opens here; "j" was never sent.
    EXPECT_EQ(Queue().size(), 1);
    ASSERT_TRUE(Serve([&] { return !Observer().interface()->isServiceRegistered(queue[1]).value(); }));
    EXPECT_FALSE(received.taken[0]());
    ServeFor(200);
    EXPECT_EQ(received.documents, std::vector<fs::path>{"/t/i.indd"});
}

TEST_F(ApplicationBusTest, ALaunchWaitsInTheQueueAndOwnsTheNameTheMomentTheOwnerLeaves) {
    BecomeOwner();
    const auto claim = Launch({"/t/k.indd"});
    ASSERT_TRUE(Serve([&] { return received.documents.size() == 1; }));
    const QStringList queue = Queue();
    ASSERT_EQ(queue.size(), 2) << "the owner, then the waiting launch";

    // A launch that would rather not wait is refused: the name is taken, and
    // the next owner is already chosen.
    QDBusConnection other = QDBusConnection::connectToBus(QString::fromStdString(bus->Address()),
                                                          QStringLiteral("ApplicationBusTest.other"));
    const auto tryToOwn = [&] {
        return other.interface()
            ->registerService(QString::fromLatin1(kId), QDBusConnectionInterface::DontQueueService)
            .value();
    };
    EXPECT_EQ(tryToOwn(), QDBusConnectionInterface::ServiceNotRegistered);
    owner->Close();
    EXPECT_EQ(tryToOwn(), QDBusConnectionInterface::ServiceNotRegistered) << "no moment without an owner";
    EXPECT_EQ(Observer().interface()->serviceOwner(QString::fromLatin1(kId)).value(), queue[1]);
    ASSERT_TRUE(Serve([&] { return Ended(claim); }));
    EXPECT_EQ(claim.get().role, Role::Primary);
    QDBusConnection::disconnectFromBus(QStringLiteral("ApplicationBusTest.other"));
}

TEST_F(ApplicationBusTest, AnOwnerThatRefusesEndsTheLaunchWithItsReason) {
    // Something owns the name that serves no application there.
    QDBusConnection squatter = QDBusConnection::connectToBus(QString::fromStdString(bus->Address()),
                                                             QStringLiteral("ApplicationBusTest.squatter"));
    ASSERT_TRUE(squatter.registerService(QString::fromLatin1(kId)));
    const auto claim = Launch({"/t/l.indd"});
    ASSERT_TRUE(Serve([&] { return Ended(claim); }));
    EXPECT_EQ(claim.get().role, Role::Failed);
    EXPECT_EQ(claim.get().documents, std::vector<fs::path>{"/t/l.indd"});
    EXPECT_TRUE(claim.get().failure.starts_with("it refused them (")) << claim.get().failure;
    EXPECT_EQ(Queue().size(), 1) << "the launch left the queue";
    QDBusConnection::disconnectFromBus(QStringLiteral("ApplicationBusTest.squatter"));
}

}  // namespace
}  // namespace platform
