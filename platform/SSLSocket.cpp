#include "platform/SSLSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/Ticks.h"

namespace platform {

namespace {

// How long Poll waits for the socket when there is nothing to do at once:
// well under one tick, so that a polling loop keeps its timing.
constexpr int kWaitMilliseconds = 5;
// How many bytes one Poll takes in at most, so that a fast sender cannot keep
// a single Poll busy.
constexpr std::size_t kMaxReadPerPoll = 256 * 1024;
// How long a connection attempt runs alone before the next address is tried
// beside it (RFC 8305, "Connection Attempt Delay").
constexpr auto kAttemptDelay = std::chrono::milliseconds(250);

// ---- trust anchors --------------------------------------------------------------

X509* ParseCertificate(const std::string& pem) {
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    if (!bio) return nullptr;
    X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    return certificate;
}

// ---- SIGPIPE ------------------------------------------------------------------

// Writing to a socket whose peer has gone raises SIGPIPE, which would end the
// process. OpenSSL writes with write(), where no flag can prevent it, so the
// signal is held back while the socket works and a SIGPIPE it caused is
// consumed before the mask is restored.
class SigpipeGuard {
public:
    SigpipeGuard() {
#if !defined(SO_NOSIGPIPE)
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        sigset_t block;
        sigemptyset(&block);
        sigaddset(&block, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &block, &previous_);
#endif
    }
    ~SigpipeGuard() {
#if !defined(SO_NOSIGPIPE)
        if (!wasPending_) {
            sigset_t pending;
            sigemptyset(&pending);
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                sigset_t only;
                sigemptyset(&only);
                sigaddset(&only, SIGPIPE);
                const timespec zero{0, 0};
                while (sigtimedwait(&only, nullptr, &zero) == -1 && errno == EINTR) {
                }
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
#endif
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
#if !defined(SO_NOSIGPIPE)
    sigset_t previous_{};
    bool wasPending_ = false;
#endif
};

// ---- name resolution ----------------------------------------------------------

struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family = AF_UNSPEC;
};

// The outcome of one name look-up, shared between the socket and the thread
// that runs it; whichever lets go last frees it. The socket never waits for
// the thread: a slow resolver cannot hold the caller.
struct Resolution {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool ok = false;
    std::vector<SocketAddress> addresses;
};

// The addresses in the order in which they are tried: the resolver's order,
// with the address families taking turns, starting with the family of the
// first address (RFC 8305, section 4).
std::vector<SocketAddress> InterleaveFamilies(const std::vector<SocketAddress>& sorted) {
    std::vector<SocketAddress> first;
    std::vector<SocketAddress> other;
    for (const SocketAddress& address : sorted) {
        (address.family == sorted.front().family ? first : other).push_back(address);
    }
    std::vector<SocketAddress> ordered;
    ordered.reserve(sorted.size());
    for (std::size_t i = 0; i < first.size() || i < other.size(); ++i) {
        if (i < first.size()) ordered.push_back(first[i]);
        if (i < other.size()) ordered.push_back(other[i]);
    }
    return ordered;
}

// Looks `host` up for TCP at `port` and appends what it resolves to;
// `numeric` takes only an address text, without asking any name service.
// False when nothing resolved.
bool LookUp(const std::string& host, std::int32_t port, bool numeric, std::vector<SocketAddress>& addresses) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV | (numeric ? AI_NUMERICHOST : 0);
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
    const std::size_t before = addresses.size();
    for (const addrinfo* at = found; at; at = at->ai_next) {
        if (at->ai_addrlen > sizeof(sockaddr_storage)) continue;
        SocketAddress address;
        std::memcpy(&address.storage, at->ai_addr, at->ai_addrlen);
        address.length = static_cast<socklen_t>(at->ai_addrlen);
        address.family = at->ai_family;
        addresses.push_back(address);
    }
    ::freeaddrinfo(found);
    return addresses.size() > before;
}

void Resolved(Resolution& resolution, std::vector<SocketAddress> addresses) {
    {
        std::lock_guard lock(resolution.mutex);
        resolution.ok = !addresses.empty();
        if (resolution.ok) resolution.addresses = InterleaveFamilies(addresses);
        resolution.done = true;
    }
    resolution.finished.notify_all();
}

// Resolves `host` by the list the settings give for it, else on a thread of
// its own, which is handed the host and the port alone.
void StartResolution(const std::shared_ptr<Resolution>& resolution, std::string host, std::int32_t port,
                     const ConnectionSettings& settings) {
    if (const std::vector<std::string>* given = settings.AddressesFor(host)) {
        std::vector<SocketAddress> addresses;
        for (const std::string& text : *given) LookUp(text, port, true, addresses);
        Resolved(*resolution, std::move(addresses));
        return;
    }
    std::thread([resolution, host = std::move(host), port] {
        std::vector<SocketAddress> addresses;
        LookUp(host, port, false, addresses);
        Resolved(*resolution, std::move(addresses));
    }).detach();
}

bool IsAddressLiteral(const std::string& host) {
    in6_addr buffer{};
    return ::inet_pton(AF_INET, host.c_str(), &buffer) == 1 || ::inet_pton(AF_INET6, host.c_str(), &buffer) == 1;
}

int WaitForSockets(pollfd* entries, std::size_t count, int milliseconds) {
    int result;
    do {
        result = ::poll(entries, count, milliseconds);
    } while (result == -1 && errno == EINTR);
    return result;
}

int WaitForSocket(int fd, short events) {
    pollfd entry{fd, events, 0};
    return WaitForSockets(&entry, 1, kWaitMilliseconds);
}

// Opens a non-blocking TCP socket and starts connecting it to `address`.
// Returns the socket, or -1 when the attempt failed at once. `connected`
// tells whether the connection is up already.
int StartConnecting(const SocketAddress& address, bool& connected) {
    connected = false;
    const int fd = ::socket(address.family, SOCK_STREAM, IPPROTO_TCP);
    if (fd < 0) return -1;
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
#if defined(SO_NOSIGPIPE)
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
#endif
    int result;
    do {
        result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address.storage), address.length);
    } while (result == -1 && errno == EINTR);
    if (result == 0) {
        connected = true;
        return fd;
    }
    if (errno == EINPROGRESS || errno == EALREADY) return fd;
    ::close(fd);
    return -1;
}

}  // namespace

// ---- connection settings ------------------------------------------------------------

void ConnectionSettings::AddTrustAnchor(const std::string& pemCertificate) {
    X509* certificate = ParseCertificate(pemCertificate);
    if (!certificate) {
        ERR_clear_error();
        throw InvalidArgumentException("The trust anchor is not a PEM certificate.");
    }
    X509_free(certificate);
    trustAnchors_.push_back(pemCertificate);
}

void ConnectionSettings::SetAddresses(const std::string& host, const std::vector<std::string>& addresses) {
    for (const std::string& text : addresses) {
        std::vector<SocketAddress> parsed;
        if (!LookUp(text, 1, true, parsed)) throw InvalidArgumentException("Not an IP address: " + text);
    }
    addresses_[host] = addresses;
}

const std::vector<std::string>* ConnectionSettings::AddressesFor(const std::string& host) const {
    const auto found = addresses_.find(host);
    return found == addresses_.end() ? nullptr : &found->second;
}

// ---- the connection -------------------------------------------------------------

enum class Stage {
    Failing,      // Connect found a fault; reported by the next Poll
    Resolving,    // the name look-up runs
    Connecting,   // TCP connection attempts run, one per address tried so far
    Handshaking,  // the TLS handshake runs
    JustOpened,   // up; Event_Connected is still to be raised
    Open,         // up; data flows
};

namespace {

// What the TLS layer reports of the handshakes on one connection.
struct HandshakeWatch {
    // The first handshake has completed.
    bool done = false;
    // The server started another handshake after it: a renegotiation (TLS 1.2
    // and earlier; TLS 1.3 has none).
    bool renegotiationRequested = false;
};

// OpenSSL's information callback: notes a handshake that starts after the
// first one has completed. The client context refuses renegotiation, and the
// socket ends the connection when it sees the note.
void NoteHandshakeStart(const SSL* ssl, int where, int /*value*/) {
    if ((where & SSL_CB_HANDSHAKE_START) == 0) return;
    auto* watch = static_cast<HandshakeWatch*>(SSL_get_app_data(ssl));
    if (watch && watch->done) watch->renegotiationRequested = true;
}

}  // namespace

struct SSLSocket::Connection {
    Stage stage = Stage::Resolving;
    std::int32_t failCode = kNoError;
    std::string host;
    bool secure = true;
    // The settings' anchors, and the clock that times the attempts, as they
    // were at Connect.
    std::vector<std::string> trustAnchors;
    std::shared_ptr<const Clock> clock;
    std::shared_ptr<Resolution> resolution;
    std::vector<SocketAddress> addresses;
    std::size_t nextAddress = 0;
    // The sockets of the connection attempts still pending, oldest first.
    std::vector<int> attempts;
    // When the next address is due to be tried beside the pending attempts,
    // on the connection's clock.
    std::chrono::steady_clock::duration nextAttemptDue{};
    int fd = -1;
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    short handshakeWants = POLLIN | POLLOUT;
    HandshakeWatch handshakes;

    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() {
        CloseAttempts();
        CloseSocket();
        if (context) SSL_CTX_free(context);
    }

    // The pending attempts, each waited on until it can be written (connected
    // or failed).
    std::vector<pollfd> AttemptEntries() const {
        std::vector<pollfd> entries;
        for (const int attempt : attempts) entries.push_back({attempt, POLLOUT, 0});
        return entries;
    }

    void CloseAttempts() {
        for (const int attempt : attempts) ::close(attempt);
        attempts.clear();
    }

    void CloseSocket() {
        if (ssl) {
            SSL_free(ssl);
            ssl = nullptr;
        }
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
};

SSLSocket::SSLSocket() = default;

SSLSocket::~SSLSocket() {
    SigpipeGuard guard;
    Release();
}

bool SSLSocket::IsConnected() const {
    return connection_ && connection_->stage == Stage::Open;
}

void SSLSocket::Connect() {
    {
        SigpipeGuard guard;
        Release();
    }
    ++generation_;
    lastErrorCode_ = kNoError;
    connection_ = std::make_unique<Connection>();
    connection_->host = address_;
    connection_->secure = secure_;
    connection_->trustAnchors = settings_.TrustAnchors();
    connection_->clock = clock_;
    if (address_.empty() || port_ < 1 || port_ > 65535) {
        connection_->stage = Stage::Failing;
        connection_->failCode = kInvalidAddress;
        return;
    }
    connection_->resolution = std::make_shared<Resolution>();
    StartResolution(connection_->resolution, address_, port_, settings_);
}

void SSLSocket::Write(std::string_view data) {
    writeBuffer_.append(data);
}

const std::string& SSLSocket::Lookahead() const {
    return readBuffer_;
}

std::string SSLSocket::Read(std::int64_t count) {
    if (count <= 0) return {};
    const auto taken = static_cast<std::size_t>(std::min<std::int64_t>(count, static_cast<std::int64_t>(readBuffer_.size())));
    std::string result = readBuffer_.substr(0, taken);
    readBuffer_.erase(0, taken);
    return result;
}

std::string SSLSocket::ReadAll() {
    std::string result;
    result.swap(readBuffer_);
    return result;
}

void SSLSocket::Purge() {
    readBuffer_.clear();
    writeBuffer_.clear();
}

void SSLSocket::Close() {
    SigpipeGuard guard;
    if (connection_) ++generation_;
    if (connection_ && connection_->stage == Stage::Open && connection_->ssl) {
        // Tell the peer, without waiting for its answer.
        SSL_shutdown(connection_->ssl);
        ERR_clear_error();
    }
    Release();
    writeBuffer_.clear();
}

void SSLSocket::Release() {
    connection_.reset();
}

void SSLSocket::Fail(std::int32_t code) {
    ++generation_;
    Release();
    lastErrorCode_ = code;
    Event_Error();
}

void SSLSocket::Poll() {
    if (!connection_) return;
    SigpipeGuard guard;
    WaitBriefly();
    Advance();
}

void SSLSocket::WaitBriefly() {
    Connection& c = *connection_;
    switch (c.stage) {
        case Stage::Resolving: {
            std::unique_lock lock(c.resolution->mutex);
            c.resolution->finished.wait_for(lock, std::chrono::milliseconds(kWaitMilliseconds),
                                            [&] { return c.resolution->done; });
            break;
        }
        case Stage::Connecting: {
            std::vector<pollfd> entries = c.AttemptEntries();
            WaitForSockets(entries.data(), entries.size(), kWaitMilliseconds);
            break;
        }
        case Stage::Handshaking:
            WaitForSocket(c.fd, c.handshakeWants);
            break;
        case Stage::Open:
            if (c.ssl && SSL_has_pending(c.ssl)) break;
            WaitForSocket(c.fd, static_cast<short>(POLLIN | (writeBuffer_.empty() ? 0 : POLLOUT)));
            break;
        default:
            break;
    }
}

void SSLSocket::Advance() {
    for (;;) {
        if (!connection_) return;
        Connection& c = *connection_;
        switch (c.stage) {
            case Stage::Failing:
                Fail(c.failCode);
                return;
            case Stage::Resolving: {
                std::unique_lock lock(c.resolution->mutex);
                if (!c.resolution->done) return;
                const bool ok = c.resolution->ok;
                c.addresses = std::move(c.resolution->addresses);
                lock.unlock();
                c.resolution.reset();
                if (!ok) {
                    Fail(kNameNotResolved);
                    return;
                }
                c.stage = Stage::Connecting;
                break;
            }
            case Stage::Connecting:
                if (!AdvanceAttempts()) return;
                break;
            case Stage::Handshaking:
                ContinueHandshake();
                if (!connection_ || connection_->stage == Stage::Handshaking) return;
                break;
            case Stage::JustOpened: {
                c.stage = Stage::Open;
                const auto generation = generation_;
                Event_Connected();
                if (generation != generation_) return;
                break;
            }
            case Stage::Open:
                Transfer();
                return;
        }
    }
}

// Drives the connection attempts: takes the first one that has come up,
// drops those that failed, and starts the next address when it is due (at
// once when no attempt is pending). Returns true when a connection was taken
// (the stage has moved on), false when the attempts go on or all of them
// failed (Event_Error raised).
bool SSLSocket::AdvanceAttempts() {
    Connection& c = *connection_;
    std::vector<pollfd> entries = c.AttemptEntries();
    if (!entries.empty() && WaitForSockets(entries.data(), entries.size(), 0) > 0) {
        std::vector<bool> failed(entries.size(), false);
        // Of attempts that came up together, the oldest (the preferred
        // address) wins.
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].revents == 0) continue;
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(entries[i].fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
            if (error == 0 && (entries[i].revents & (POLLERR | POLLHUP | POLLNVAL)) == 0) {
                UseAttempt(i);
                return true;
            }
            failed[i] = true;
        }
        for (std::size_t i = entries.size(); i-- > 0;) {
            if (!failed[i]) continue;
            ::close(c.attempts[i]);
            c.attempts.erase(c.attempts.begin() + static_cast<std::ptrdiff_t>(i));
            // A failed attempt hands over to the next address at once.
            c.nextAttemptDue = c.clock->TimeSinceStart();
        }
    }
    while (c.nextAddress < c.addresses.size() &&
           (c.attempts.empty() || c.clock->TimeSinceStart() >= c.nextAttemptDue)) {
        if (StartNextAttempt()) return true;
    }
    if (c.attempts.empty()) Fail(kConnectionFailed);
    return false;
}

// Starts connecting to the next address. Returns true when that connection
// came up at once and was taken.
bool SSLSocket::StartNextAttempt() {
    Connection& c = *connection_;
    bool connected = false;
    const int fd = StartConnecting(c.addresses[c.nextAddress++], connected);
    if (fd < 0) {
        c.nextAttemptDue = c.clock->TimeSinceStart();
        return false;
    }
    c.attempts.push_back(fd);
    c.nextAttemptDue = c.clock->TimeSinceStart() + kAttemptDelay;
    if (!connected) return false;
    UseAttempt(c.attempts.size() - 1);
    return true;
}

// Goes on with the attempt at `index`, whose connection is up, and closes the
// others.
void SSLSocket::UseAttempt(std::size_t index) {
    Connection& c = *connection_;
    c.fd = c.attempts[index];
    c.attempts.erase(c.attempts.begin() + static_cast<std::ptrdiff_t>(index));
    c.CloseAttempts();
    FinishTcpConnect();
}

void SSLSocket::FinishTcpConnect() {
    if (connection_->secure) {
        StartHandshake();
    } else {
        connection_->stage = Stage::JustOpened;
    }
}

void SSLSocket::StartHandshake() {
    Connection& c = *connection_;
    c.context = SSL_CTX_new(TLS_client_method());
    bool ok = c.context != nullptr;
    if (ok) {
        SSL_CTX_set_min_proto_version(c.context, TLS1_2_VERSION);
        SSL_CTX_set_options(c.context, SSL_OP_NO_RENEGOTIATION);
        SSL_CTX_set_info_callback(c.context, NoteHandshakeStart);
        SSL_CTX_set_mode(c.context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        SSL_CTX_set_verify(c.context, SSL_VERIFY_PEER, nullptr);
        ok = SSL_CTX_set_default_verify_paths(c.context) == 1;
    }
    if (ok) {
        X509_STORE* store = SSL_CTX_get_cert_store(c.context);
        for (const std::string& pem : c.trustAnchors) {
            X509* anchor = ParseCertificate(pem);
            if (!anchor) continue;
            X509_STORE_add_cert(store, anchor);  // fails harmlessly for a duplicate
            X509_free(anchor);
        }
    }
    if (ok) ok = (c.ssl = SSL_new(c.context)) != nullptr;
    if (ok) ok = SSL_set_fd(c.ssl, c.fd) == 1;
    if (ok) ok = SSL_set_app_data(c.ssl, &c.handshakes) == 1;
    if (ok) {
        if (IsAddressLiteral(c.host)) {
            // An address is checked against the certificate's IP entries and
            // never sent as server name.
            ok = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(c.ssl), c.host.c_str()) == 1;
        } else {
            ok = SSL_set1_host(c.ssl, c.host.c_str()) == 1 &&
                 SSL_set_tlsext_host_name(c.ssl, c.host.c_str()) == 1;
        }
    }
    ERR_clear_error();
    if (!ok) {
        Fail(kSystemError);
        return;
    }
    SSL_set_connect_state(c.ssl);
    c.stage = Stage::Handshaking;
}

void SSLSocket::ContinueHandshake() {
    Connection& c = *connection_;
    ERR_clear_error();
    const int result = SSL_connect(c.ssl);
    if (result == 1) {
        c.handshakes.done = true;
        c.stage = Stage::JustOpened;
        return;
    }
    switch (SSL_get_error(c.ssl, result)) {
        case SSL_ERROR_WANT_READ:
            c.handshakeWants = POLLIN;
            return;
        case SSL_ERROR_WANT_WRITE:
            c.handshakeWants = POLLOUT;
            return;
        default:
            break;
    }
    const bool rejected = SSL_get_verify_result(c.ssl) != X509_V_OK;
    ERR_clear_error();
    Fail(rejected ? kCertificateRejected : kHandshakeFailed);
}

// Sends what is queued. Returns false when the connection broke.
bool SSLSocket::FlushWrites() {
    Connection& c = *connection_;
    while (!writeBuffer_.empty()) {
        const std::size_t chunk = std::min<std::size_t>(writeBuffer_.size(), INT_MAX);
        if (c.ssl) {
            ERR_clear_error();
            const int sent = SSL_write(c.ssl, writeBuffer_.data(), static_cast<int>(chunk));
            if (sent > 0) {
                writeBuffer_.erase(0, static_cast<std::size_t>(sent));
                continue;
            }
            const int error = SSL_get_error(c.ssl, sent);
            ERR_clear_error();
            return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE;
        }
#if defined(MSG_NOSIGNAL)
        const int flags = MSG_NOSIGNAL;
#else
        const int flags = 0;
#endif
        const ssize_t sent = ::send(c.fd, writeBuffer_.data(), chunk, flags);
        if (sent >= 0) {
            writeBuffer_.erase(0, static_cast<std::size_t>(sent));
            continue;
        }
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    return true;
}

void SSLSocket::Transfer() {
    const auto generation = generation_;
    if (!FlushWrites()) {
        Fail(kConnectionBroken);
        return;
    }
    Connection& c = *connection_;
    std::string arrived;
    std::int32_t endCode = kNoError;
    char buffer[16384];
    while (arrived.size() < kMaxReadPerPoll) {
        if (c.ssl) {
            ERR_clear_error();
            const int received = SSL_read(c.ssl, buffer, sizeof buffer);
            if (c.handshakes.renegotiationRequested) {
                // Nothing that came after the request is taken.
                ERR_clear_error();
                endCode = kConnectionBroken;
                break;
            }
            if (received > 0) {
                arrived.append(buffer, static_cast<std::size_t>(received));
                continue;
            }
            const int error = SSL_get_error(c.ssl, received);
            if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) break;
            if (error == SSL_ERROR_ZERO_RETURN) {
                endCode = kConnectionClosed;
            } else if (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0 && (received == 0 || errno == 0)) {
                endCode = kConnectionClosed;  // end of the stream without close_notify
            } else if (error == SSL_ERROR_SSL &&
                       ERR_GET_REASON(ERR_peek_last_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
                endCode = kConnectionClosed;
            } else {
                endCode = kConnectionBroken;
            }
            ERR_clear_error();
            break;
        }
        const ssize_t received = ::recv(c.fd, buffer, sizeof buffer, 0);
        if (received > 0) {
            arrived.append(buffer, static_cast<std::size_t>(received));
            continue;
        }
        if (received == 0) {
            endCode = kConnectionClosed;
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            break;
        } else {
            endCode = kConnectionBroken;
        }
        break;
    }
    if (!arrived.empty()) {
        readBuffer_.append(arrived);
        Event_DataAvailable();
        if (generation != generation_) return;
    }
    if (endCode != kNoError) Fail(endCode);
}

}  // namespace platform
