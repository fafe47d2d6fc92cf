#include "platform/SSLSocket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Exceptions.h"
#include "tests/support/TestClock.h"
#include "tests/support/TlsTestServer.h"

namespace {

using platform::SSLSocket;
using testsupport::TestClock;
using testsupport::TlsTestServer;
using testsupport::WaitUntil;
using Clock = std::chrono::steady_clock;

// Records the events it receives, each with the number of the Poll call that
// raised it. It trusts the test CA, resolves the test server's name to
// `serviceAddresses` when given, and times by `clock`.
class RecordingSocket : public SSLSocket {
public:
    struct Event {
        std::string name;
        int poll;
    };

    explicit RecordingSocket(const std::vector<std::string>& serviceAddresses = {},
                             std::shared_ptr<const platform::Clock> clock = platform::SystemClock()) {
        SetConnectionSettings(TlsTestServer::TrustingSettings(serviceAddresses));
        SetClock(std::move(clock));
    }

    void Poll() override {
        ++polls;
        insidePoll = true;
        SSLSocket::Poll();
        insidePoll = false;
    }

    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const Event& event : events) names.push_back(event.name);
        return names;
    }
    bool Saw(const std::string& name) const {
        for (const Event& event : events)
            if (event.name == name) return true;
        return false;
    }

    std::vector<Event> events;
    std::string received;
    std::string sendOnConnect;
    bool consume = true;
    bool eventOutsidePoll = false;
    int polls = 0;

protected:
    void Event_Connected() override {
        Record("Connected");
        if (!sendOnConnect.empty()) Write(sendOnConnect);
    }
    void Event_DataAvailable() override {
        Record("DataAvailable");
        if (consume) received += ReadAll();
    }
    void Event_Error() override { Record("Error"); }

private:
    void Record(const std::string& name) {
        if (!insidePoll) eventOutsidePoll = true;
        events.push_back({name, polls});
    }
    bool insidePoll = false;
};

// Polls until `done` holds or `limit` passes; returns whether it holds.
bool PollUntil(RecordingSocket& socket, const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::milliseconds(20000)) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) return false;
        socket.Poll();
    }
    return true;
}

bool PollUntilError(RecordingSocket& socket) {
    return PollUntil(socket, [&] { return socket.Saw("Error"); });
}

const std::string kRequest = "GET / HTTP/1.0\r\n\r\n";

class SSLSocketTest : public ::testing::Test {
protected:
    static void Aim(RecordingSocket& socket, const std::string& host, int port) {
        socket.SetAddress(host);
        socket.SetPort(port);
        socket.sendOnConnect = kRequest;
    }

    // Aims `socket` at `host` and `port`, connects and polls until the
    // connection (or the attempt) has ended.
    static bool ConnectUntilTheEnd(RecordingSocket& socket, const std::string& host, int port) {
        Aim(socket, host, port);
        socket.Connect();
        return PollUntilError(socket);
    }
};

TEST_F(SSLSocketTest, ConnectsByNameSendsAndReceivesUntilThePeerCloses) {
    TlsTestServer server(TlsTestServer::Reply("hello, client"));
    RecordingSocket socket;
    Aim(socket, "localhost", server.Port());
    EXPECT_TRUE(socket.Secure());

    socket.Connect();
    EXPECT_TRUE(socket.events.empty());  // nothing is raised outside Poll
    ASSERT_TRUE(PollUntilError(socket));

    EXPECT_EQ(socket.events.front().name, "Connected");
    EXPECT_EQ(socket.events.back().name, "Error");
    EXPECT_TRUE(socket.Saw("DataAvailable"));
    EXPECT_FALSE(socket.eventOutsidePoll);
    EXPECT_EQ(socket.received, "hello, client");
    EXPECT_EQ(socket.LastErrorCode(), SSLSocket::kConnectionClosed);
    EXPECT_FALSE(socket.IsConnected());
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0], kRequest);
    ASSERT_EQ(server.ServerNames().size(), 1u);
    EXPECT_EQ(server.ServerNames()[0], "localhost");
}

TEST_F(SSLSocketTest, AnAddressIsVerifiedAgainstTheCertificateAndNotSentAsServerName) {
    TlsTestServer server(TlsTestServer::Reply("ok"));
    RecordingSocket socket;
    Aim(socket, "127.0.0.1", server.Port());
    socket.Connect();
    ASSERT_TRUE(PollUntilError(socket));
    EXPECT_TRUE(socket.Saw("Connected"));
    EXPECT_EQ(socket.received, "ok");
    ASSERT_EQ(server.ServerNames().size(), 1u);
    EXPECT_EQ(server.ServerNames()[0], "");
}

TEST_F(SSLSocketTest, BytesArrivingWithTheCloseAreAnnouncedBeforeTheClose) {
    for (const auto ending : {TlsTestServer::Ending::Close, TlsTestServer::Ending::Abort}) {
        TlsTestServer server(TlsTestServer::Reply("last words", ending));
        RecordingSocket socket;
        Aim(socket, "127.0.0.1", server.Port());
        socket.Connect();
        // The Poll that raises Connected sends the request; the next one comes
        // only once the server has sent the reply and closed.
        ASSERT_TRUE(PollUntil(socket, [&] { return socket.Saw("Connected"); }));
        ASSERT_TRUE(WaitUntil([&] { return server.ScriptsEnded() == 1; }));
        ASSERT_TRUE(PollUntilError(socket));

        ASSERT_GE(socket.events.size(), 3u);
        const auto& data = socket.events[socket.events.size() - 2];
        const auto& error = socket.events.back();
        EXPECT_EQ(data.name, "DataAvailable");
        EXPECT_EQ(error.name, "Error");
        EXPECT_EQ(data.poll, error.poll);  // one Poll raised both, data first
        EXPECT_EQ(socket.received, "last words");
        EXPECT_EQ(socket.LastErrorCode(), SSLSocket::kConnectionClosed);
    }
}

TEST_F(SSLSocketTest, LookaheadReadReadAllAndPurge) {
    TlsTestServer server(TlsTestServer::Reply("0123456789"));
    RecordingSocket socket;
    socket.consume = false;
    Aim(socket, "127.0.0.1", server.Port());
    socket.Connect();
    ASSERT_TRUE(PollUntilError(socket));

    EXPECT_EQ(socket.Lookahead(), "0123456789");
    EXPECT_EQ(socket.Lookahead(), "0123456789");  // looking takes nothing
    EXPECT_EQ(socket.Read(3), "012");
    EXPECT_EQ(socket.Read(0), "");
    EXPECT_EQ(socket.Lookahead(), "3456789");
    EXPECT_EQ(socket.ReadAll(), "3456789");
    EXPECT_EQ(socket.ReadAll(), "");

    // Bytes of a closed connection stay readable until purged.
    TlsTestServer second(TlsTestServer::Reply("abc"));
    RecordingSocket other;
    other.consume = false;
    Aim(other, "127.0.0.1", second.Port());
    other.Connect();
    ASSERT_TRUE(PollUntilError(other));
    other.Close();
    EXPECT_EQ(other.Read(10), "abc");
    other.Write("queued");
    TlsTestServer third(TlsTestServer::Reply("xyz"));
    other.SetPort(third.Port());
    other.events.clear();
    other.Connect();
    ASSERT_TRUE(PollUntilError(other));
    EXPECT_EQ(other.Lookahead(), "xyz");
    other.Purge();
    EXPECT_EQ(other.Lookahead(), "");
    // What was written before the connection came up went out first.
    ASSERT_EQ(third.Requests().size(), 1u);
    EXPECT_EQ(third.Requests()[0].substr(0, 6), "queued");
}

TEST_F(SSLSocketTest, AReplyLargerThanOnePollTakesArrivesWholeAndInOrder) {
    std::string big;
    for (int i = 0; big.size() < 3 * 1024 * 1024; ++i) big += std::to_string(i) + ",";
    TlsTestServer server(TlsTestServer::Reply(big));
    RecordingSocket socket;
    Aim(socket, "127.0.0.1", server.Port());
    socket.Connect();
    ASSERT_TRUE(PollUntilError(socket));
    EXPECT_EQ(socket.received.size(), big.size());
    EXPECT_TRUE(socket.received == big);
}

TEST_F(SSLSocketTest, ARefusedConnectionFailsBeforeConnected) {
    RecordingSocket socket;
    Aim(socket, "127.0.0.1", TlsTestServer::UnusedPort());
    socket.Connect();
    ASSERT_TRUE(PollUntilError(socket));
    EXPECT_EQ(socket.Names(), std::vector<std::string>{"Error"});
    EXPECT_EQ(socket.LastErrorCode(), SSLSocket::kConnectionFailed);
}

TEST_F(SSLSocketTest, ANameThatDoesNotResolveFailsWithoutHoldingTheCaller) {
    RecordingSocket socket;
    Aim(socket, TlsTestServer::UnresolvableName(), 443);
    const auto start = Clock::now();
    socket.Connect();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    EXPECT_TRUE(socket.events.empty());
    ASSERT_TRUE(PollUntilError(socket));
    EXPECT_EQ(socket.Names(), std::vector<std::string>{"Error"});
    EXPECT_EQ(socket.LastErrorCode(), SSLSocket::kNameNotResolved);
}

TEST_F(SSLSocketTest, ACertificateForAnotherNameIsRejectedBeforeConnected) {
    TlsTestServer::Script script = TlsTestServer::Reply("secret");
    script.certificate = TlsTestServer::Certificate::OtherName;
    TlsTestServer server(script);
    for (const char* host : {"localhost", "127.0.0.1"}) {
        RecordingSocket socket;
        Aim(socket, host, server.Port());
        socket.Connect();
        ASSERT_TRUE(PollUntilError(socket));
        EXPECT_EQ(socket.Names(), std::vector<std::string>{"Error"}) << host;
        EXPECT_EQ(socket.LastErrorCode(), SSLSocket::kCertificateRejected) << host;
        EXPECT_EQ(socket.received, "");
    }
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(SSLSocketTest, AnUntrustedCertificateIsRejectedBeforeConnected) {
    TlsTestServer::Script script = TlsTestServer::Reply("secret");
    script.certificate = TlsTestServer::Certificate::SelfSigned;
    TlsTestServer server(script);
    RecordingSocket socket;
    Aim(socket, "localhost", server.Port());
    socket.Connect();
    ASSERT_TRUE(PollUntilError(socket));
    EXPECT_EQ(socket.Names(), std::vector<std::string>{"Error"});
    EXPECT_EQ(socket.LastErrorCode(), SSLSocket::kCertificateRejected);
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(SSLSocketTest, TheTestAnchorIsTrustedOnlyWhileAdded) {
    platform::ConnectionSettings settings;
    TlsTestServer server(TlsTestServer::Reply("hi"));
    RecordingSocket socket;
    socket.SetConnectionSettings(settings);
    Aim(socket, "localhost", server.Port());
    socket.Connect();
    ASSERT_TRUE(PollUntilError(socket));
    EXPECT_EQ(socket.LastErrorCode(), SSLSocket::kCertificateRejected);

    settings.AddTrustAnchor(TlsTestServer::CaCertificatePem());
    RecordingSocket trusted;
    trusted.SetConnectionSettings(settings);
    Aim(trusted, "localhost", server.Port());
    trusted.Connect();
    ASSERT_TRUE(PollUntilError(trusted));
    EXPECT_TRUE(trusted.Saw("Connected"));
    EXPECT_EQ(trusted.received, "hi");
}

TEST_F(SSLSocketTest, AnAnchorThatIsNoCertificateIsRefused) {
    EXPECT_THROW(platform::ConnectionSettings().AddTrustAnchor("not a certificate"), platform::InvalidArgumentException);
}

TEST_F(SSLSocketTest, AnInvalidAddressOrPortIsReportedFromPoll) {
    for (const auto& [host, port] : std::vector<std::pair<std::string, int>>{
             {"", 443}, {"localhost", 0}, {"localhost", 70000}, {"localhost", -1}}) {
        RecordingSocket socket;
        socket.SetAddress(host);
        socket.SetPort(port);
        socket.Connect();
        EXPECT_TRUE(socket.events.empty());
        socket.Poll();
        EXPECT_EQ(socket.Names(), std::vector<std::string>{"Error"}) << host << ":" << port;
        EXPECT_EQ(socket.LastErrorCode(), SSLSocket::kInvalidAddress);
    }
}

TEST_F(SSLSocketTest, AHandshakeThatNeverCompletesRaisesNothingAndPollDoesNotSpin) {
    TlsTestServer server(TlsTestServer::NeverHandshake());
    RecordingSocket socket;
    Aim(socket, "127.0.0.1", server.Port());
    socket.Connect();
    // The processor time of this thread alone: the server's thread and the
    // rest of a loaded machine do not count.
    const auto threadCpu = [] {
        timespec now{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
    };
    // Once the handshake waits for the server (connecting and setting up TLS,
    // trust store included, cost what they cost), polling must sleep.
    EXPECT_FALSE(PollUntil(socket, [&] { return !socket.events.empty(); }, std::chrono::milliseconds(200)));
    const double cpuStart = threadCpu();
    const auto start = Clock::now();
    EXPECT_FALSE(PollUntil(socket, [&] { return !socket.events.empty(); }, std::chrono::milliseconds(400)));
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = threadCpu() - cpuStart;
    EXPECT_LT(cpu, wall / 2) << "Poll kept the processor busy";
    EXPECT_LT(socket.polls, 400);
    EXPECT_EQ(server.Connections(), 1);

    socket.Close();  // raises nothing
    socket.Poll();
    EXPECT_TRUE(socket.events.empty());
    EXPECT_EQ(socket.LastErrorCode(), SSLSocket::kNoError);
}

TEST_F(SSLSocketTest, PlainTcpWhenNotSecure) {
    TlsTestServer::Script script = TlsTestServer::Reply("plain reply");
    script.tls = false;
    TlsTestServer server(script);
    RecordingSocket socket;
    socket.SetSecure(false);
    Aim(socket, "127.0.0.1", server.Port());
    socket.Connect();
    ASSERT_TRUE(PollUntilError(socket));
    EXPECT_TRUE(socket.Saw("Connected"));
    EXPECT_EQ(socket.received, "plain reply");
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0], kRequest);
}

TEST_F(SSLSocketTest, CloseFromAnEventHandlerStopsFurtherEvents) {
    class Closer : public RecordingSocket {
    protected:
        void Event_DataAvailable() override {
            RecordingSocket::Event_DataAvailable();
            Close();
        }
    };
    TlsTestServer server(TlsTestServer::Reply("data then close"));
    Closer socket;
    Aim(socket, "127.0.0.1", server.Port());
    socket.Connect();
    ASSERT_TRUE(PollUntil(socket, [&] { return socket.Saw("DataAvailable"); }));
    for (int i = 0; i < 20; ++i) socket.Poll();
    EXPECT_FALSE(socket.Saw("Error"));
    EXPECT_FALSE(socket.IsConnected());
}

// ---- several addresses for one name ----------------------------------------------------------

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Beyond the wait itself, the time that an upper bound leaves a slow, loaded
// machine.
constexpr double kMarginSeconds = 2.0;

// Polls until the connection is up or has failed.
bool PollUntilOutcome(RecordingSocket& socket) {
    return PollUntil(socket, [&] { return socket.Saw("Connected") || socket.Saw("Error"); });
}

TlsTestServer::Script PlainTcpReply(std::string bytes) {
    TlsTestServer::Script script = TlsTestServer::Reply(std::move(bytes));
    script.tls = false;
    return script;
}

TEST_F(SSLSocketTest, AFirstAddressThatNeverAnswersGivesWayToTheNextAfterAQuarterSecond) {
    TlsTestServer server(TlsTestServer::Reply("answered"));
    // The first address takes no connection and refuses none.
    const auto unanswered = testsupport::UnansweredListener::OnLoopback(server.Port());
    if (!unanswered) GTEST_SKIP() << "no address on which a listener can be left unanswered";

    TestClock clock;
    RecordingSocket socket({unanswered->Address(), "127.0.0.1"}, clock);
    Aim(socket, TlsTestServer::kServiceName, server.Port());
    socket.Connect();
    socket.Poll();  // the first attempt starts
    // Until a quarter second has passed on the clock, however long the
    // polling goes on, the second address is left alone.
    clock.Advance(std::chrono::milliseconds(249));
    EXPECT_FALSE(PollUntil(socket, [&] { return server.Connections() > 0; }, std::chrono::milliseconds(300)));
    EXPECT_TRUE(socket.events.empty());
    // Then it is tried, and wins, while the clock stands.
    clock.Advance(std::chrono::milliseconds(1));
    ASSERT_TRUE(PollUntilOutcome(socket));
    EXPECT_EQ(socket.Names().front(), "Connected");
    ASSERT_TRUE(PollUntilError(socket));
    EXPECT_EQ(socket.received, "answered");
    EXPECT_EQ(socket.LastErrorCode(), SSLSocket::kConnectionClosed);
    EXPECT_EQ(server.Connections(), 1);
    // The certificate was checked against the name, which went out as SNI.
    EXPECT_EQ(server.ServerNames(), std::vector<std::string>{TlsTestServer::kServiceName});
}

TEST_F(SSLSocketTest, TheQuarterSecondBeforeTheNextAddressIsOneOfRealTime) {
    // The same on the real clock, over plain TCP, so that only the wait
    // lies between the start and the connection.
    TlsTestServer server(PlainTcpReply("answered"));
    const auto unanswered = testsupport::UnansweredListener::OnLoopback(server.Port());
    if (!unanswered) GTEST_SKIP() << "no address on which a listener can be left unanswered";
    RecordingSocket socket({unanswered->Address(), "127.0.0.1"});
    socket.SetSecure(false);
    Aim(socket, TlsTestServer::kServiceName, server.Port());
    const auto start = Clock::now();
    socket.Connect();
    ASSERT_TRUE(PollUntilOutcome(socket));
    const double connected = SecondsSince(start);
    EXPECT_EQ(socket.Names().front(), "Connected");
    EXPECT_GE(connected, 0.25);
    EXPECT_LT(connected, 0.25 + kMarginSeconds);
}

TEST_F(SSLSocketTest, AddressFamiliesTakeTurns) {
    // Two IPv6 addresses that never answer, then IPv4: the IPv4 address is
    // tried second, a quarter second in, not third after half a second, which
    // this clock never reaches.
    TlsTestServer server(PlainTcpReply("plain reply"));
    testsupport::UnansweredListener unanswered("::1", server.Port());
    if (!unanswered.Listening()) GTEST_SKIP() << "no IPv6 loopback on which a listener can be left unanswered";
    TestClock clock;
    RecordingSocket socket({"::1", "::1", "127.0.0.1"}, clock);
    socket.SetSecure(false);
    Aim(socket, TlsTestServer::kServiceName, server.Port());
    socket.Connect();
    socket.Poll();
    clock.Advance(std::chrono::milliseconds(250));
    ASSERT_TRUE(PollUntilOutcome(socket));
    EXPECT_EQ(socket.Names().front(), "Connected");
}

TEST_F(SSLSocketTest, RefusedAddressesAreLeftAtOnce) {
    // Nothing listens on 127.0.0.2 to 127.0.0.5 at the server's port. The
    // clock stands: waiting a quarter second after a refusal would wait for
    // ever.
    TlsTestServer server(PlainTcpReply("plain reply"));
    TestClock clock;
    RecordingSocket socket({"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.1"}, clock);
    socket.SetSecure(false);
    Aim(socket, TlsTestServer::kServiceName, server.Port());
    socket.Connect();
    ASSERT_TRUE(PollUntilOutcome(socket));
    EXPECT_EQ(socket.Names().front(), "Connected");
    ASSERT_TRUE(PollUntilError(socket));
    EXPECT_EQ(socket.received, "plain reply");
    EXPECT_EQ(server.Connections(), 1);

    // When every address refuses, one Error says so.
    RecordingSocket refused({"127.0.0.2", "127.0.0.3"});
    ASSERT_TRUE(ConnectUntilTheEnd(refused, TlsTestServer::kServiceName, server.Port()));
    for (int i = 0; i < 5; ++i) refused.Poll();
    EXPECT_EQ(refused.Names(), std::vector<std::string>{"Error"});
    EXPECT_EQ(refused.LastErrorCode(), SSLSocket::kConnectionFailed);
}

TEST_F(SSLSocketTest, TheAddressThatWinsHasItsCertificateCheckedAgainstTheName) {
    TlsTestServer::Script script = TlsTestServer::Reply("secret");
    script.certificate = TlsTestServer::Certificate::OtherName;
    TlsTestServer server(script);
    RecordingSocket socket({"127.0.0.2", "127.0.0.1"});
    ASSERT_TRUE(ConnectUntilTheEnd(socket, TlsTestServer::kServiceName, server.Port()));
    EXPECT_EQ(socket.Names(), std::vector<std::string>{"Error"});
    EXPECT_EQ(socket.LastErrorCode(), SSLSocket::kCertificateRejected);
    EXPECT_TRUE(server.Requests().empty());
}

// ---- renegotiation ----------------------------------------------------------------------------

TEST_F(SSLSocketTest, ARenegotiationAskedForByTheServerEndsTheConnection) {
    // TLS 1.2 itself works as ever.
    TlsTestServer::Script tls12 = TlsTestServer::Reply("over TLS 1.2");
    tls12.tls12Only = true;
    {
        TlsTestServer server(tls12);
        RecordingSocket control;
        ASSERT_TRUE(ConnectUntilTheEnd(control, "127.0.0.1", server.Port()));
        EXPECT_EQ(control.received, "over TLS 1.2");
        EXPECT_EQ(control.LastErrorCode(), SSLSocket::kConnectionClosed);
    }

    // Bytes, then the request, then more bytes that must not be taken.
    TlsTestServer::Script script;
    script.tls12Only = true;
    script.steps = {{0, "before"}, {150, "after", true}, {150, " and later"}};
    script.ending = TlsTestServer::Ending::KeepOpen;
    TlsTestServer server(script);
    RecordingSocket socket;
    ASSERT_TRUE(ConnectUntilTheEnd(socket, "127.0.0.1", server.Port()));
    // The server notes its request once the call that sent it has returned,
    // which may be after the client has already ended the connection.
    EXPECT_TRUE(WaitUntil([&] { return server.RenegotiationRequested(); }));
    EXPECT_EQ(socket.received, "before");
    EXPECT_EQ(socket.LastErrorCode(), SSLSocket::kConnectionBroken);
    EXPECT_FALSE(socket.IsConnected());
}

}  // namespace
