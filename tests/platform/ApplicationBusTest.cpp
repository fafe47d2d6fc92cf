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
#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/ApplicationBus.h"
#include "platform/FileUri.h"
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
                                       "file:///a%2Fb", "file:///a#b", "file:///a?b", "/plain/path"}) {
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
// A short bound on the launches' waits for answers, so that a test can hold
// its owner's documents for three bounds in about a second.
constexpr std::chrono::milliseconds kBound{400};

// What reached the owner of the name. Like the application, the owner opens a
// document handed in only when its launch still waits for it.
struct Received {
    std::vector<fs::path> documents;
    std::vector<std::shared_ptr<ApplicationBus::HandedIn>> handedIn;
    std::vector<fs::path> opened;
    int answers = 0;  // of the launches asked whether they still wait
    int activations = 0;

    ApplicationBus::Receiver Receiver() {
        return {.openDocument =
                    [this](const fs::path& document, std::shared_ptr<ApplicationBus::HandedIn> handed) {
                        documents.push_back(document);
                        handedIn.push_back(std::move(handed));
                    },
                .activate = [this] { ++activations; }};
    }

    // The application gets to document `index`: it asks the launch, and opens
    // the document when the launch still waits.
    void Open(std::size_t index) {
        handedIn[index]->Confirm([this, index](bool stillWaiting) {
            ++answers;
            if (!stillWaiting) return;
            handedIn[index]->Opening();
            opened.push_back(documents[index]);
        });
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
        release.set_value();
        for (auto& launch : launches) launch.join();
    }

    std::unique_ptr<ApplicationBus> Connect(std::chrono::milliseconds bound = kBound) const {
        return std::make_unique<ApplicationBus>(kId, bound, bus->Address());
    }

    // Claims the name in this thread, as the running application.
    void BecomeOwner(std::vector<fs::path> documents = {}) {
        owner = Connect();
        const ApplicationBus::Claim claim = owner->ClaimOrHandOver(std::move(documents), received.Receiver());
        ASSERT_EQ(claim.role, Role::Primary);
    }

    // A later launch with `documents`, in a thread of its own (a launch
    // blocks while it hands over), giving up after `bound` without answers.
    std::shared_future<ApplicationBus::Claim> Launch(std::vector<fs::path> documents,
                                                     std::chrono::milliseconds bound = kBound) {
        auto promise = std::make_shared<std::promise<ApplicationBus::Claim>>();
        std::shared_future<ApplicationBus::Claim> result = promise->get_future().share();
        launches.emplace_back([this, promise, bound, documents = std::move(documents)]() mutable {
            const std::unique_ptr<ApplicationBus> launch = Connect(bound);
            const ApplicationBus::Claim claim = launch->ClaimOrHandOver(std::move(documents), {});
            promise->set_value(claim);
            if (claim.role == Role::Primary) released.wait();  // it keeps the name while the test looks
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
    static void ServeFor(std::chrono::milliseconds duration) {
        PollUntil([] { return false; }, static_cast<int>(duration.count()));
    }

    static bool Ended(const std::shared_future<ApplicationBus::Claim>& claim) {
        return claim.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }

    TemporaryFolder folder;
    std::unique_ptr<PrivateBus> bus;
    Received received;
    std::unique_ptr<ApplicationBus> owner;
    std::vector<std::thread> launches;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
};

TEST_F(ApplicationBusTest, WithoutABusThereIsNothingToClaim) {
    const std::vector<fs::path> documents{"/t/alone.indd"};
    ApplicationBus alone(kId, kBound, "unix:path=" + (folder.Path() / "no-bus").string());
    const ApplicationBus::Claim claim = alone.ClaimOrHandOver(documents, {});
    EXPECT_EQ(claim.role, Role::Alone);
    EXPECT_EQ(claim.documents, documents);
}

TEST_F(ApplicationBusTest, TheFirstLaunchKeepsItsDocumentsAndOwnsTheName) {
    const std::vector<fs::path> documents{"/t/a.indd", "/t/b.indd"};
    owner = Connect();
    const ApplicationBus::Claim claim = owner->ClaimOrHandOver(documents, received.Receiver());
    EXPECT_EQ(claim.role, Role::Primary);
    EXPECT_EQ(claim.documents, documents);
    EXPECT_TRUE(received.documents.empty());
}

// Before each document the owner is busy for three bounds (its event loop
// stands still: a long read, the update check's wait), and its user keeps a
// message box up for three more: the launch waits, since the owner is alive
// throughout, and its documents show once each.
TEST_F(ApplicationBusTest, ALaunchWaitsForAnOwnerThatIsBusyOrWhoseUserTakesTheirTimeAndEachDocumentShowsOnce) {
    BecomeOwner();
    const fs::path first = "/t/two words.indd";
    const fs::path second = "/t/caf\xE9 日本語.indd";
    const auto busy = [] { std::this_thread::sleep_for(3 * kBound); };
    const auto claim = Launch({first, second});

    busy();
    ASSERT_TRUE(Serve([&] { return received.documents.size() == 1; }));
    EXPECT_EQ(received.documents[0].native(), first.native());
    ServeFor(3 * kBound);
    EXPECT_FALSE(Ended(claim));
    EXPECT_EQ(received.documents.size(), 1u) << "the next one follows only once the first has opened";

    received.Open(0);
    ASSERT_TRUE(Serve([&] { return received.opened.size() == 1; }));
    busy();
    ASSERT_TRUE(Serve([&] { return received.documents.size() == 2; }));
    EXPECT_EQ(received.documents[1].native(), second.native());
    received.Open(1);
    ASSERT_TRUE(Serve([&] { return Ended(claim); }));
    EXPECT_EQ(claim.get().role, Role::HandedOver);
    EXPECT_TRUE(claim.get().documents.empty());
    EXPECT_EQ(received.opened, (std::vector<fs::path>{first, second}));
    EXPECT_EQ(received.activations, 0);
}

// The owner shows its error box for three bounds, then quits: the launch,
// queued for the name, owns it and opens every document itself.
TEST_F(ApplicationBusTest, AnOwnerThatQuitsBeforeOpeningADocumentLeavesItAndTheRestToTheLaunch) {
    BecomeOwner();
    const auto claim = Launch({"/t/e.indd", "/t/f.indd"});
    ASSERT_TRUE(Serve([&] { return received.documents.size() == 1; }));
    ServeFor(3 * kBound);
    EXPECT_FALSE(Ended(claim));

    owner->Close();  // quits with "e" still in its queue
    received.Open(0);
    EXPECT_EQ(received.answers, 1) << "too late: the launch opens it";
    ASSERT_TRUE(Serve([&] { return Ended(claim); }));
    // The bus made the queued launch the owner, and it opens both itself.
    EXPECT_EQ(claim.get().role, Role::Primary);
    EXPECT_EQ(claim.get().documents, (std::vector<fs::path>{"/t/e.indd", "/t/f.indd"}));
    EXPECT_TRUE(received.opened.empty());
}

TEST_F(ApplicationBusTest, AnOwnerThatQuitsAfterOpeningADocumentLeavesOnlyTheRest) {
    BecomeOwner();
    const auto claim = Launch({"/t/g.indd", "/t/h.indd"});
    ASSERT_TRUE(Serve([&] { return received.documents.size() == 1; }));

    received.Open(0);
    ASSERT_TRUE(Serve([&] { return received.opened.size() == 1; }));  // "g" is the owner's now
    owner->Close();  // and it quits before it serves the call for "h"
    ASSERT_TRUE(Serve([&] { return Ended(claim); }));
    EXPECT_EQ(claim.get().role, Role::Primary);
    EXPECT_EQ(claim.get().documents, std::vector<fs::path>{"/t/h.indd"});
    EXPECT_EQ(received.opened, std::vector<fs::path>{"/t/g.indd"});
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
    // A sender that does not wait for its documents: answered at once, and
    // they open in turn with nobody to ask.
    const QDBusMessage both =
        call(QStringLiteral("Open"), {QStringList{QStringLiteral("file:///t/1"), QStringLiteral("file:///t/2")},
                                      QVariantMap()});
    EXPECT_EQ(both.type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(received.documents, (std::vector<fs::path>{"/t/1", "/t/2"}));
    EXPECT_EQ(received.handedIn, (std::vector<std::shared_ptr<ApplicationBus::HandedIn>>{nullptr, nullptr}));
    QDBusConnection::disconnectFromBus(QStringLiteral("ApplicationBusTest.caller"));
}

// Once the owner has the document, the launch still gives up on silence:
// here the bus stops. Before that, another connection speaks for the owner:
// it is refused, and can neither keep the launch waiting nor commit it. When
// the owner goes on to the document, it never opens.
TEST_F(ApplicationBusTest, ALaunchBelievesOnlyItsOwnerAndGivesUpOnABusThatStopsOnceTheOwnerHasTheDocument) {
    BecomeOwner();
    const auto claim = Launch({"/t/i.indd", "/t/j.indd"});
    ASSERT_TRUE(Serve([&] { return received.documents.size() == 1; }));
    const QStringList queue = Queue();
    ASSERT_EQ(queue.size(), 2);
    for (const QString& method : {QStringLiteral("Received"), QStringLiteral("StillWaiting")}) {
        // The launch's first document is number 1.
        QDBusPendingCall pending = Observer().asyncCall(
            QDBusMessage::createMethodCall(queue[1], QStringLiteral("/platform/ApplicationBus/Launch"),
                                           QStringLiteral("platform.ApplicationBus.Launch"), method)
            << uint{1});
        ASSERT_TRUE(Serve([&] { return pending.isFinished(); }));
        EXPECT_EQ(pending.reply().errorName(), QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"))
            << method.toStdString();
    }

    bus->Signal(SIGSTOP);
    const bool ended = claim.wait_for(std::chrono::milliseconds(kDeadlineMs)) == std::future_status::ready;
    bus->Signal(SIGCONT);
    ASSERT_TRUE(ended);
    EXPECT_EQ(claim.get().role, Role::Failed);
    EXPECT_EQ(claim.get().documents, (std::vector<fs::path>{"/t/i.indd", "/t/j.indd"}));
    EXPECT_EQ(claim.get().failure, "the session bus did not answer within 400 ms");
    EXPECT_FALSE(claim.get().connectionHung);
    received.Open(0);
    ASSERT_TRUE(Serve([&] { return received.answers == 1; }));
    EXPECT_TRUE(received.opened.empty());
    EXPECT_EQ(Queue().size(), 1) << "the launch left the queue";
}

// Whenever the owner's question reaches a launch, before or after the launch
// gives up on the silence, the two agree: the document opens exactly when
// its launch says it was handed over. The bus stops once the owner has the
// document, the owner asks, and the bus goes on some 30 to 42 ms later, in
// steps of 200 µs, across the deadline of a launch that gives up after 40 ms.
// (On a loaded machine a launch may give up before its call reaches the
// owner, even before it is made: the owner asks for whatever comes.)
TEST_F(ApplicationBusTest, AcrossTheLaunchsDeadlineTheOwnerOpensExactlyWhatTheLaunchSaysItHandedOver) {
    BecomeOwner();
    constexpr auto kShortBound = std::chrono::milliseconds(40);
    constexpr int kRuns = 60;
    std::vector<std::shared_future<ApplicationBus::Claim>> claims;
    std::size_t asked = 0;
    const auto askAll = [&] {
        while (asked < received.documents.size()) received.Open(asked++);
        return received.answers == static_cast<int>(asked);
    };
    for (int run = 0; run < kRuns; ++run) {
        claims.push_back(Launch({"/t/sweep " + std::to_string(run)}, kShortBound));
        ASSERT_TRUE(Serve([&] { return received.documents.size() > asked || Ended(claims.back()); }));
        bus->Signal(SIGSTOP);
        const auto stopped = std::chrono::steady_clock::now();
        askAll();
        std::this_thread::sleep_until(stopped + std::chrono::microseconds(30000 + 200 * run));
        bus->Signal(SIGCONT);
        ASSERT_TRUE(Serve([&] { return askAll() && Ended(claims.back()); }));
    }
    ServeFor(kBound);  // a call that came late finds its launch gone
    ASSERT_TRUE(Serve(askAll));
    int handedOver = 0;
    for (int run = 0; run < kRuns; ++run) {
        const ApplicationBus::Claim& claim = claims[run].get();
        const fs::path document = "/t/sweep " + std::to_string(run);
        const bool opened = std::count(received.opened.begin(), received.opened.end(), document) == 1;
        EXPECT_EQ(opened, claim.role == Role::HandedOver) << document << ": " << claim.failure;
        EXPECT_TRUE(claim.role == Role::HandedOver || claim.role == Role::Failed) << document;
        handedOver += claim.role == Role::HandedOver;
    }
    EXPECT_EQ(received.opened.size(), static_cast<std::size_t>(handedOver));
    RecordProperty("handed_over", handedOver);
}

// A stopped bus answers nothing, not even a connection: the launch ends once
// the bound has passed, saying so.
TEST_F(ApplicationBusTest, ALaunchGivesUpOnABusThatDoesNotAnswer) {
    bus->Signal(SIGSTOP);
    const auto start = std::chrono::steady_clock::now();
    const auto claim = Launch({"/t/k.indd"});
    const bool ended = claim.wait_for(std::chrono::milliseconds(kDeadlineMs)) == std::future_status::ready;
    const auto waited = std::chrono::steady_clock::now() - start;
    bus->Signal(SIGCONT);  // Qt's bus thread goes on with the connection the launch left
    ASSERT_TRUE(ended);
    EXPECT_GE(waited, kBound);
    EXPECT_EQ(claim.get().role, Role::Failed);
    EXPECT_EQ(claim.get().documents, std::vector<fs::path>{"/t/k.indd"});
    EXPECT_EQ(claim.get().failure, "the session bus did not answer within 400 ms");
    EXPECT_TRUE(claim.get().connectionHung);
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
    const auto ownerNow = [&] { return Observer().interface()->serviceOwner(QString::fromLatin1(kId)).value(); };
    ASSERT_TRUE(Serve([&] { return ownerNow() != queue[0]; }));
    EXPECT_EQ(ownerNow(), queue[1]) << "no moment without an owner";
    EXPECT_EQ(tryToOwn(), QDBusConnectionInterface::ServiceNotRegistered);
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
