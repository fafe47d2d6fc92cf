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

namespace platform {

namespace {

// How long Poll waits for the socket when there is nothing to do at once:
// well under one tick, so that a polling loop keeps its timing.
constexpr int kWaitMilliseconds = 5;
// How many bytes one Poll takes in at most, so that a fast sender cannot keep
// a single Poll busy.
constexpr std::size_t kMaxReadPerPoll = 256 * 1024;

// ---- trust anchors added by tests -------------------------------------------

std::mutex& AnchorMutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<std::string>& Anchors() {
    static std::vector<std::string> anchors;
    return anchors;
}

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

void StartResolution(const std::shared_ptr<Resolution>& resolution, std::string host, std::int32_t port) {
    std::thread([resolution, host = std::move(host), port] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        addrinfo* found = nullptr;
        const int status = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
        std::vector<SocketAddress> addresses;
        if (status == 0) {
            for (const addrinfo* at = found; at; at = at->ai_next) {
                if (at->ai_addrlen > sizeof(sockaddr_storage)) continue;
                SocketAddress address;
                std::memcpy(&address.storage, at->ai_addr, at->ai_addrlen);
                address.length = static_cast<socklen_t>(at->ai_addrlen);
                address.family = at->ai_family;
                addresses.push_back(address);
            }
            ::freeaddrinfo(found);
        }
        {
            std::lock_guard lock(resolution->mutex);
            resolution->ok = status == 0 && !addresses.empty();
            resolution->addresses = std::move(addresses);
            resolution->done = true;
        }
        resolution->finished.notify_all();
    }).detach();
}

bool IsAddressLiteral(const std::string& host) {
    in6_addr buffer{};
    return ::inet_pton(AF_INET, host.c_str(), &buffer) == 1 || ::inet_pton(AF_INET6, host.c_str(), &buffer) == 1;
}

int WaitForSocket(int fd, short events) {
    pollfd entry{fd, events, 0};
    int result;
    do {
        result = ::poll(&entry, 1, kWaitMilliseconds);
    } while (result == -1 && errno == EINTR);
    return result;
}

}  // namespace

// ---- the connection -------------------------------------------------------------

enum class Stage {
    Failing,        // Connect found a fault; reported by the next Poll
    Resolving,      // the name look-up runs
    TcpStart,       // the next address is to be tried
    TcpConnecting,  // a TCP connection is being made
    Handshaking,    // the TLS handshake runs
    JustOpened,     // up; Event_Connected is still to be raised
    Open,           // up; data flows
};

struct SSLSocket::Connection {
    Stage stage = Stage::Resolving;
    std::int32_t failCode = kNoError;
    std::string host;
    bool secure = true;
    std::shared_ptr<Resolution> resolution;
    std::vector<SocketAddress> addresses;
    std::size_t nextAddress = 0;
    int fd = -1;
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    short handshakeWants = POLLIN | POLLOUT;

    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() {
        CloseSocket();
        if (context) SSL_CTX_free(context);
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

void SSLSocket::AddTrustAnchorForTesting(const std::string& pemCertificate) {
    X509* certificate = ParseCertificate(pemCertificate);
    if (!certificate) {
        ERR_clear_error();
        throw InvalidArgumentException("The trust anchor is not a PEM certificate.");
    }
    X509_free(certificate);
    std::lock_guard lock(AnchorMutex());
    Anchors().push_back(pemCertificate);
}

void SSLSocket::ClearTrustAnchorsForTesting() {
    std::lock_guard lock(AnchorMutex());
    Anchors().clear();
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
    if (address_.empty() || port_ < 1 || port_ > 65535) {
        connection_->stage = Stage::Failing;
        connection_->failCode = kInvalidAddress;
        return;
    }
    connection_->resolution = std::make_shared<Resolution>();
    StartResolution(connection_->resolution, address_, port_);
}

void SSLSocket::Write(std::string_view data) {
    writeBuffer_.append(data);
}

std::string SSLSocket::Lookahead() const {
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
        case Stage::TcpConnecting:
            WaitForSocket(c.fd, POLLOUT);
            break;
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
                c.stage = Stage::TcpStart;
                break;
            }
            case Stage::TcpStart:
                if (!StartTcpConnect()) return;
                break;
            case Stage::TcpConnecting: {
                pollfd entry{c.fd, POLLOUT, 0};
                if (::poll(&entry, 1, 0) <= 0) return;
                int error = 0;
                socklen_t length = sizeof error;
                if (::getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
                if (error != 0) {
                    c.CloseSocket();
                    c.stage = Stage::TcpStart;
                    break;
                }
                FinishTcpConnect();
                break;
            }
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

// Opens a socket to the next address and starts connecting. Returns false
// (after raising Event_Error) when no address is left.
bool SSLSocket::StartTcpConnect() {
    Connection& c = *connection_;
    while (c.nextAddress < c.addresses.size()) {
        const SocketAddress& address = c.addresses[c.nextAddress++];
        c.fd = ::socket(address.family, SOCK_STREAM, IPPROTO_TCP);
        if (c.fd < 0) continue;
        ::fcntl(c.fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(c.fd, F_SETFL, ::fcntl(c.fd, F_GETFL) | O_NONBLOCK);
#if defined(SO_NOSIGPIPE)
        const int one = 1;
        ::setsockopt(c.fd, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
#endif
        int result;
        do {
            result = ::connect(c.fd, reinterpret_cast<const sockaddr*>(&address.storage), address.length);
        } while (result == -1 && errno == EINTR);
        if (result == 0) {
            FinishTcpConnect();
            return true;
        }
        if (errno == EINPROGRESS) {
            c.stage = Stage::TcpConnecting;
            return true;
        }
        c.CloseSocket();
    }
    Fail(kConnectionFailed);
    return false;
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
        SSL_CTX_set_mode(c.context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        SSL_CTX_set_verify(c.context, SSL_VERIFY_PEER, nullptr);
        ok = SSL_CTX_set_default_verify_paths(c.context) == 1;
    }
    if (ok) {
        X509_STORE* store = SSL_CTX_get_cert_store(c.context);
        std::lock_guard lock(AnchorMutex());
        for (const std::string& pem : Anchors()) {
            X509* anchor = ParseCertificate(pem);
            if (!anchor) continue;
            X509_STORE_add_cert(store, anchor);  // fails harmlessly for a duplicate
            X509_free(anchor);
        }
    }
    if (ok) ok = (c.ssl = SSL_new(c.context)) != nullptr;
    if (ok) ok = SSL_set_fd(c.ssl, c.fd) == 1;
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
