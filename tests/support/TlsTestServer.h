#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/SSLSocket.h"

namespace testsupport {

// A TLS server on 127.0.0.1 for tests, running on a thread of its own. It
// listens on an ephemeral port, takes connections one after the other,
// records the exact bytes of each request and answers every connection by
// the same script. Its certificates are made in code when first needed: a
// test CA (CaCertificatePem, to be trusted by the client under test) and
// leaf certificates signed by it, plus one self-signed certificate that no
// one trusts.
class TlsTestServer {
public:
    enum class Certificate {
        // for "localhost", kServiceName and 127.0.0.1, signed by the test CA
        Localhost,
        OtherName,   // for "other.example" only, signed by the test CA
        SelfSigned,  // for "localhost" and 127.0.0.1, signed by nobody trusted
    };

    // What the server does after the last step.
    enum class Ending {
        Close,     // sends the TLS close alert and closes
        Abort,     // closes the TCP stream without the close alert
        KeepOpen,  // holds the connection until the client closes it
    };

    // A made-up host name that the Localhost certificate names; tests give
    // the client its addresses in its connection settings (TrustingSettings).
    static constexpr const char* kServiceName = "service.halvoric.test";

    // One step of an answer: wait `delayMs`, then (with `renegotiate`) ask
    // the client for a renegotiation, then send `bytes` (nothing when empty).
    struct Step {
        int delayMs = 0;
        std::string bytes;
        bool renegotiate = false;  // needs tls12Only
    };

    struct Script {
        bool tls = true;  // false: plain TCP
        bool tls12Only = false;  // offer TLS 1.2 at most (1.3 has no renegotiation)
        Certificate certificate = Certificate::Localhost;
        // false: accept the TCP connection and never answer the handshake.
        bool completeHandshake = true;
        // Called on the server's thread as it starts the TLS handshake.
        std::function<void()> onHandshake;
        // Called on the server's thread once a connection's request has been
        // read and recorded, before the first step.
        std::function<void()> onRequest;
        std::vector<Step> steps;
        Ending ending = Ending::Close;
    };

    // Sends `bytes` at once, then ends.
    static Script Reply(std::string bytes, Ending ending = Ending::Close);
    // Sends `head` at once, then each byte of `body` `intervalMs` after the
    // one before, then closes.
    static Script Trickle(std::string head, const std::string& body, int intervalMs);
    // Accepts the connection and never answers the handshake.
    static Script NeverHandshake();

    explicit TlsTestServer(Script script);
    ~TlsTestServer();
    TlsTestServer(const TlsTestServer&) = delete;
    TlsTestServer& operator=(const TlsTestServer&) = delete;

    int Port() const { return port_; }
    // "https://" + host + ":" + port + path.
    std::string Url(const std::string& path, const std::string& host = "127.0.0.1") const;

    // The request of each connection, exactly as received: the header block
    // up to its blank line, then as many bytes as its Content-length names.
    // A connection's entry appears once its request has been read.
    std::vector<std::string> Requests() const;
    // When each request had been read (on the steady clock), in the order of
    // Requests.
    std::vector<std::chrono::steady_clock::time_point> RequestTimes() const;
    // The server name (SNI) each TLS connection asked for, empty for none.
    std::vector<std::string> ServerNames() const;
    // How many connections were accepted.
    int Connections() const { return connections_.load(); }
    // When each connection was accepted (on the steady clock).
    std::vector<std::chrono::steady_clock::time_point> AcceptTimes() const;
    // How many connections had their script played to its end: the last step
    // sent and the Ending carried out (for KeepOpen: the hold begun).
    int ScriptsEnded() const { return scriptsEnded_.load(); }
    // How many connections the client ended (the server read the end of the
    // stream, or a failure) while the server still held them.
    int ClientCloses() const { return clientCloses_.load(); }

    // The test CA's certificate in PEM form.
    static const std::string& CaCertificatePem();
    // Connection settings that trust the test CA and, given
    // `serviceAddresses`, resolve kServiceName to them.
    static platform::ConnectionSettings TrustingSettings(const std::vector<std::string>& serviceAddresses = {});
    // A port on 127.0.0.1 on which nothing listens: connecting is refused.
    static int UnusedPort();
    // A host name that resolves to nothing, and whose look-up sends no query
    // off the machine: its first label is longer than the 63 bytes a DNS name
    // may hold, so the system's resolver refuses it before asking anyone.
    static std::string UnresolvableName() { return std::string(64, 'x') + ".halvoric.invalid"; }
    // Whether the step with `renegotiate` found the server's TLS layer willing
    // to send the request (false until such a step ran).
    bool RenegotiationRequested() const { return renegotiationRequested_.load(); }

private:
    struct Tls;

    void Run();
    void Serve(int fd);
    // Waits `milliseconds` or until the server stops; false when it stopped.
    bool Pause(int milliseconds);

    Script script_;
    std::unique_ptr<Tls> tls_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> scriptsEnded_{0};
    std::atomic<int> clientCloses_{0};
    std::atomic<bool> renegotiationRequested_{false};
    mutable std::mutex mutex_;
    std::condition_variable stopped_;
    int currentFd_ = -1;
    std::vector<std::string> requests_;
    std::vector<std::chrono::steady_clock::time_point> requestTimes_;
    std::vector<std::chrono::steady_clock::time_point> acceptTimes_;
    std::vector<std::string> serverNames_;
    std::thread thread_;
};

// A TCP listener whose queue of pending connections is full and never
// taken: the system drops further connection requests to it, so that
// connecting there neither succeeds nor fails until the connecting side gives
// up, as with a host whose route is broken.
class UnansweredListener {
public:
    // Listens on `address` (IPv4 or IPv6 text) at `port` and fills its queue.
    // Listening() is false when that is impossible on this machine (no IPv6,
    // the port taken).
    UnansweredListener(const std::string& address, int port);
    ~UnansweredListener();
    UnansweredListener(const UnansweredListener&) = delete;
    UnansweredListener& operator=(const UnansweredListener&) = delete;

    bool Listening() const { return listenFd_ >= 0; }
    const std::string& Address() const { return address_; }

    // One at `port` on ::1 (as with a broken IPv6 route), else on 127.0.0.2;
    // nil when neither can be made here.
    static std::unique_ptr<UnansweredListener> OnLoopback(int port);

private:
    std::string address_;
    int listenFd_ = -1;
    std::vector<int> fillers_;
};

}  // namespace testsupport
