#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Ticks.h"

namespace platform {

// What a connection trusts and how it finds a host's addresses beyond the
// system's own: extra trust anchors beside the system's trust store, and
// address lists that stand in for the resolver's answer for given host names.
// The empty settings leave both to the system. A value: a socket keeps the
// copy it was given.
class ConnectionSettings {
public:
    // Trusts `pemCertificate` (a PEM certificate) as an additional anchor.
    // Raises InvalidArgumentException when the text holds no certificate.
    void AddTrustAnchor(const std::string& pemCertificate);
    // Connections to the host name `host` (exactly as given to SetAddress)
    // use `addresses`, IPv4 or IPv6 address texts in the order a resolver
    // would give them, instead of resolving the name; an empty list makes the
    // name unresolvable. Raises InvalidArgumentException for a text that is
    // no address.
    void SetAddresses(const std::string& host, const std::vector<std::string>& addresses);

    // The anchors added, as PEM texts, in the order added.
    const std::vector<std::string>& TrustAnchors() const { return trustAnchors_; }
    // The list given for `host`; nullptr when none was.
    const std::vector<std::string>* AddressesFor(const std::string& host) const;

private:
    std::vector<std::string> trustAnchors_;
    std::map<std::string, std::vector<std::string>> addresses_;
};

// A TCP client socket with TLS, driven by polling. Connect starts the
// connection and returns at once; the outcome and everything after it are
// reported by the events Event_Connected, Event_DataAvailable and
// Event_Error, which a subclass overrides. The events are raised only from
// within Poll, on the thread that calls it, never from anywhere else.
//
// A host name with several addresses is connected to as RFC 8305 ("Happy
// Eyeballs") describes: the addresses are tried in the resolver's order with
// the address families interleaved, the next one 250 ms after the attempt
// before it began (at once when an attempt fails) while the earlier attempts
// go on; the first TCP connection to come up is used and the others are
// closed. The 250 ms run on the socket's clock (SetClock).
//
// With Secure true (the default) the connection is TLS 1.2 or later: the
// server's certificate chain is verified against the system's trust store
// (plus the anchors of the connection settings), and the certificate
// must name the host (or the IP address) given as Address. A host name is
// also sent as server name indication. A certificate that fails verification
// fails the connection before Event_Connected. A renegotiation that the
// server asks for is refused, and the connection ends there (as broken).
// With Secure false the socket is plain TCP.
//
// Event_Connected: the connection is up (after the TLS handshake) and can
// carry data.
// Event_DataAvailable: new bytes have arrived and can be taken with
// Lookahead, Read and ReadAll. Bytes that arrive together with the peer's
// close are announced by this event before Event_Error reports the close.
// Event_Error: the connection attempt failed, or the connection, once up,
// ended (the peer closed it or it broke). LastErrorCode tells which.
//
// Close, Purge and the reading operations raise no events.
class SSLSocket {
public:
    // Values of LastErrorCode.
    static constexpr std::int32_t kNoError = 0;
    // The host name could not be resolved to an address.
    static constexpr std::int32_t kNameNotResolved = 1;
    // No TCP connection could be made to any of the host's addresses
    // (refused, unreachable).
    static constexpr std::int32_t kConnectionFailed = 2;
    // The TLS handshake failed for a reason other than the certificate.
    static constexpr std::int32_t kHandshakeFailed = 3;
    // The server's certificate failed verification (untrusted chain, wrong
    // host name or address, expired, ...).
    static constexpr std::int32_t kCertificateRejected = 4;
    // The peer closed an established connection (orderly or abrupt end of
    // the stream).
    static constexpr std::int32_t kConnectionClosed = 5;
    // An established connection broke (reset, send or receive failure, or a
    // renegotiation asked for by the server).
    static constexpr std::int32_t kConnectionBroken = 6;
    // Address is empty or Port lies outside 1 to 65535.
    static constexpr std::int32_t kInvalidAddress = 7;
    // The system refused a resource the socket needs (a socket, TLS state).
    static constexpr std::int32_t kSystemError = 8;

    SSLSocket();
    virtual ~SSLSocket();
    SSLSocket(const SSLSocket&) = delete;
    SSLSocket& operator=(const SSLSocket&) = delete;

    // The host to connect to: a host name or an IPv4/IPv6 address text.
    const std::string& Address() const { return address_; }
    void SetAddress(std::string address) { address_ = std::move(address); }

    std::int32_t Port() const { return port_; }
    void SetPort(std::int32_t port) { port_ = port; }

    // TLS on (true, the default) or plain TCP; takes effect at Connect.
    bool Secure() const { return secure_; }
    void SetSecure(bool secure) { secure_ = secure; }

    // The trust anchors and address lists of the connections started
    // afterwards (the empty settings by default: the system's alone); takes
    // effect at Connect.
    void SetConnectionSettings(ConnectionSettings settings) { settings_ = std::move(settings); }

    // The clock the socket times by (SystemClock by default; nil sets it
    // back); takes effect at Connect. The socket shares the clock, so the
    // clock lives as long as the socket, whoever else lets it go.
    const std::shared_ptr<const Clock>& GetClock() const { return clock_; }
    void SetClock(std::shared_ptr<const Clock> clock) { clock_ = clock ? std::move(clock) : SystemClock(); }

    // Starts connecting to Address and Port, closing any earlier connection
    // first. Returns at once: the name is resolved on a thread of its own, and
    // the outcome arrives through Poll as Event_Connected or Event_Error.
    // LastErrorCode becomes kNoError.
    virtual void Connect();

    // Queues `data` to be sent after everything written before, in order; it
    // goes out while the socket is polled, once the connection is up.
    virtual void Write(std::string_view data);

    // Drives the socket: advances the connection, sends queued bytes, takes in
    // what has arrived and raises the events. When there is nothing to do at
    // once it waits up to a few milliseconds for the socket, so a loop that
    // polls does not keep a processor busy.
    virtual void Poll();

    // All bytes received and not yet read, without consuming them. The text
    // stays valid until the socket's next operation.
    virtual const std::string& Lookahead() const;
    // Returns and consumes the first `count` unread bytes (fewer when fewer
    // have arrived).
    virtual std::string Read(std::int64_t count);
    // Returns and consumes all unread bytes.
    virtual std::string ReadAll();
    // Drops the unread bytes and the bytes queued for sending.
    virtual void Purge();
    // Ends the connection (or the attempt) without raising an event. Unread
    // bytes stay readable; bytes still queued for sending are dropped.
    virtual void Close();

    // The code of the last failure, kNoError when there was none.
    std::int32_t LastErrorCode() const { return lastErrorCode_; }
    // True between Event_Connected and the end of the connection.
    bool IsConnected() const;

protected:
    virtual void Event_Connected() {}
    virtual void Event_DataAvailable() {}
    virtual void Event_Error() {}

private:
    struct Connection;

    void Advance();
    void WaitBriefly();
    bool AdvanceAttempts();
    bool StartNextAttempt();
    void UseAttempt(std::size_t index);
    void FinishTcpConnect();
    void StartHandshake();
    void ContinueHandshake();
    void Transfer();
    bool FlushWrites();
    // Ends the attempt or the connection with `code` and raises Event_Error.
    void Fail(std::int32_t code);
    void Release();

    std::string address_;
    std::int32_t port_ = 0;
    bool secure_ = true;
    ConnectionSettings settings_;
    std::shared_ptr<const Clock> clock_ = SystemClock();
    std::int32_t lastErrorCode_ = kNoError;
    std::string readBuffer_;
    std::string writeBuffer_;
    std::unique_ptr<Connection> connection_;
    // Counts connections begun and ended, so that code which raised an event
    // can tell whether the handler closed or restarted the socket.
    std::uint64_t generation_ = 0;
};

}  // namespace platform
