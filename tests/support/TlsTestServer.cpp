#include "tests/support/TlsTestServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cctype>
#include <cstdlib>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace testsupport {

namespace {

// ---- certificates -----------------------------------------------------------------

struct KeyAndCertificate {
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
};

struct Certificates {
    KeyAndCertificate ca;
    KeyAndCertificate localhost;
    KeyAndCertificate otherName;
    KeyAndCertificate selfSigned;
    std::string caPem;
};

void Check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("test certificates: ") + what);
}

void AddExtension(X509* certificate, X509V3_CTX* context, int nid, const char* value) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, context, nid, value);
    Check(extension != nullptr, "extension");
    Check(X509_add_ext(certificate, extension, -1) == 1, "add extension");
    X509_EXTENSION_free(extension);
}

// A certificate for `key` named `commonName`, signed by `issuer` (itself when
// none). `subjectAltNames` is empty for a CA.
KeyAndCertificate MakeCertificate(const char* commonName, const KeyAndCertificate* issuer, bool ca,
                                  const char* subjectAltNames) {
    static long serial = 1;
    KeyAndCertificate made;
    made.key = EVP_EC_gen("P-256");
    Check(made.key != nullptr, "key");
    X509* certificate = X509_new();
    Check(certificate != nullptr, "certificate");
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial++);
    X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 7L * 24 * 3600);
    X509_set_pubkey(certificate, made.key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Halvoric tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName),
                               -1, -1, 0);
    X509_set_issuer_name(certificate, issuer ? X509_get_subject_name(issuer->certificate) : name);

    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer ? issuer->certificate : certificate, certificate, nullptr, nullptr, 0);
    if (ca) {
        AddExtension(certificate, &context, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(certificate, &context, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(certificate, &context, NID_basic_constraints, "critical,CA:FALSE");
        AddExtension(certificate, &context, NID_key_usage, "critical,digitalSignature");
        AddExtension(certificate, &context, NID_ext_key_usage, "serverAuth");
        AddExtension(certificate, &context, NID_subject_alt_name, subjectAltNames);
    }
    AddExtension(certificate, &context, NID_subject_key_identifier, "hash");
    Check(X509_sign(certificate, issuer ? issuer->key : made.key, EVP_sha256()) > 0, "sign");
    made.certificate = certificate;
    return made;
}

std::string ToPem(X509* certificate) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, certificate);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<std::size_t>(length));
    BIO_free(bio);
    return pem;
}

// Made once per process; lives until it ends.
const Certificates& TestCertificates() {
    static const Certificates certificates = [] {
        Certificates made;
        made.ca = MakeCertificate("Halvoric Test CA", nullptr, true, "");
        made.localhost =
            MakeCertificate("localhost", &made.ca, false,
                            (std::string("DNS:localhost,DNS:") + TlsTestServer::kServiceName + ",IP:127.0.0.1").c_str());
        made.otherName = MakeCertificate("other.example", &made.ca, false, "DNS:other.example");
        made.selfSigned = MakeCertificate("localhost", nullptr, false, "DNS:localhost,IP:127.0.0.1");
        made.caPem = ToPem(made.ca.certificate);
        return made;
    }();
    return certificates;
}

// ---- request reading ---------------------------------------------------------------------

// The length of a complete request at the start of `data`, or 0 when more is
// to come: the header block, its blank line and Content-length body bytes.
std::size_t CompleteRequestLength(const std::string& data) {
    const std::size_t end = data.find("\r\n\r\n");
    if (end == std::string::npos) return 0;
    std::string head = data.substr(0, end);
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t bodyLength = 0;
    const std::size_t field = head.find("\r\ncontent-length:");
    if (field != std::string::npos) {
        bodyLength = std::strtoul(head.c_str() + field + 17, nullptr, 10);
    }
    const std::size_t total = end + 4 + bodyLength;
    return data.size() >= total ? total : 0;
}

}  // namespace

// ---- the server --------------------------------------------------------------------------

struct TlsTestServer::Tls {
    SSL_CTX* context = nullptr;
    ~Tls() {
        if (context) SSL_CTX_free(context);
    }
};

TlsTestServer::Script TlsTestServer::Reply(std::string bytes, Ending ending) {
    Script script;
    script.steps.push_back({0, std::move(bytes)});
    script.ending = ending;
    return script;
}

TlsTestServer::Script TlsTestServer::Trickle(std::string head, const std::string& body, int intervalMs) {
    Script script;
    script.steps.push_back({0, std::move(head)});
    for (const char byte : body) script.steps.push_back({intervalMs, std::string(1, byte)});
    return script;
}

TlsTestServer::Script TlsTestServer::NeverHandshake() {
    Script script;
    script.completeHandshake = false;
    return script;
}

const std::string& TlsTestServer::CaCertificatePem() {
    return TestCertificates().caPem;
}

platform::ConnectionSettings TlsTestServer::TrustingSettings(const std::vector<std::string>& serviceAddresses) {
    platform::ConnectionSettings settings;
    settings.AddTrustAnchor(CaCertificatePem());
    if (!serviceAddresses.empty()) settings.SetAddresses(kServiceName, serviceAddresses);
    return settings;
}

int TlsTestServer::UnusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

TlsTestServer::TlsTestServer(Script script) : script_(std::move(script)), tls_(std::make_unique<Tls>()) {
    if (script_.tls) {
        const Certificates& certificates = TestCertificates();
        const KeyAndCertificate& chosen = script_.certificate == Certificate::Localhost ? certificates.localhost
                                          : script_.certificate == Certificate::OtherName
                                              ? certificates.otherName
                                              : certificates.selfSigned;
        tls_->context = SSL_CTX_new(TLS_server_method());
        if (!tls_->context || SSL_CTX_use_certificate(tls_->context, chosen.certificate) != 1 ||
            SSL_CTX_use_PrivateKey(tls_->context, chosen.key) != 1 ||
            (script_.tls12Only && SSL_CTX_set_max_proto_version(tls_->context, TLS1_2_VERSION) != 1)) {
            throw std::runtime_error("test server: TLS set-up failed");
        }
    }
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 8) != 0) {
        ::close(listenFd_);
        throw std::runtime_error("test server: cannot listen");
    }
    socklen_t length = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
}

TlsTestServer::~TlsTestServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        if (currentFd_ >= 0) ::shutdown(currentFd_, SHUT_RDWR);
    }
    stopped_.notify_all();
    thread_.join();
    ::close(listenFd_);
}

std::string TlsTestServer::Url(const std::string& path, const std::string& host) const {
    return "https://" + host + ":" + std::to_string(port_) + path;
}

std::vector<std::string> TlsTestServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<std::chrono::steady_clock::time_point> TlsTestServer::AcceptTimes() const {
    std::lock_guard lock(mutex_);
    return acceptTimes_;
}

std::vector<std::chrono::steady_clock::time_point> TlsTestServer::RequestTimes() const {
    std::lock_guard lock(mutex_);
    return requestTimes_;
}

std::vector<std::string> TlsTestServer::ServerNames() const {
    std::lock_guard lock(mutex_);
    return serverNames_;
}

bool TlsTestServer::Pause(int milliseconds) {
    std::unique_lock lock(mutex_);
    return !stopped_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return stopping_.load(); });
}

void TlsTestServer::Run() {
    // A write to a client that has gone raises SIGPIPE on this thread only;
    // held back here, it stays harmless.
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &block, nullptr);

    while (!stopping_) {
        pollfd entry{listenFd_, POLLIN, 0};
        if (::poll(&entry, 1, 20) <= 0) continue;
        const int fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd < 0) continue;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                ::close(fd);
                break;
            }
            currentFd_ = fd;
            acceptTimes_.push_back(std::chrono::steady_clock::now());
        }
        ++connections_;
        Serve(fd);
        {
            std::lock_guard lock(mutex_);
            currentFd_ = -1;
        }
        ::close(fd);
        ERR_clear_error();
    }
}

void TlsTestServer::Serve(int fd) {
    // Waits until `fd` is readable; false when the server stops first or
    // `limitMs` (unless negative) passes.
    const auto readable = [this, fd](int limitMs) {
        const auto start = std::chrono::steady_clock::now();
        while (!stopping_) {
            pollfd entry{fd, POLLIN, 0};
            if (::poll(&entry, 1, 20) > 0) return true;
            if (limitMs >= 0 && std::chrono::steady_clock::now() - start > std::chrono::milliseconds(limitMs)) {
                return false;
            }
        }
        return false;
    };

    if (!script_.completeHandshake) {
        // Take whatever comes and never answer, until the client gives up.
        char discard[4096];
        while (readable(-1)) {
            if (::recv(fd, discard, sizeof discard, 0) <= 0) {
                if (!stopping_) ++clientCloses_;
                return;
            }
        }
        return;
    }

    SSL* ssl = nullptr;
    if (script_.tls) {
        if (script_.onHandshake) script_.onHandshake();
        ssl = SSL_new(tls_->context);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) != 1) {
            SSL_free(ssl);
            return;
        }
        const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
        std::lock_guard lock(mutex_);
        serverNames_.push_back(name ? name : "");
    }
    const auto receive = [&](char* buffer, int size) -> int {
        if (ssl) return SSL_read(ssl, buffer, size);
        return static_cast<int>(::recv(fd, buffer, static_cast<std::size_t>(size), 0));
    };
    const auto send = [&](const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const int n = ssl ? SSL_write(ssl, bytes.data() + sent, static_cast<int>(bytes.size() - sent))
                              : static_cast<int>(::send(fd, bytes.data() + sent, bytes.size() - sent, 0));
            if (n <= 0) return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    };
    const auto pending = [&] { return ssl && SSL_pending(ssl) > 0; };

    // The request: until it is complete, the client stops sending for 2 s or
    // closes.
    std::string request;
    char buffer[16384];
    while (CompleteRequestLength(request) == 0) {
        if (!pending() && !readable(2000)) break;
        const int n = receive(buffer, sizeof buffer);
        if (n <= 0) break;
        request.append(buffer, static_cast<std::size_t>(n));
    }
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        requestTimes_.push_back(std::chrono::steady_clock::now());
    }
    if (script_.onRequest) script_.onRequest();

    bool ok = true;
    for (const Step& step : script_.steps) {
        if (step.delayMs > 0 && !Pause(step.delayMs)) {
            ok = false;
            break;
        }
        if (step.renegotiate && ssl) {
            // Sends the hello request and returns; the renegotiation itself
            // would start with the client's answer.
            if (SSL_renegotiate(ssl) != 1 || SSL_do_handshake(ssl) != 1) {
                ok = false;
                break;
            }
            renegotiationRequested_ = true;
        }
        if (!step.bytes.empty() && !send(step.bytes)) {
            ok = false;
            break;
        }
    }
    if (ok && script_.ending == Ending::Close && ssl) SSL_shutdown(ssl);
    if (ok && script_.ending != Ending::KeepOpen) ::shutdown(fd, SHUT_WR);
    if (ok) ++scriptsEnded_;
    // Take what the client still sends until it closes (at once when the
    // server stops), so that the close is orderly on both sides.
    while (readable(script_.ending == Ending::KeepOpen ? -1 : 2000)) {
        if (receive(buffer, sizeof buffer) <= 0) {
            if (!stopping_) ++clientCloses_;
            break;
        }
    }
    if (ssl) SSL_free(ssl);
}

// ---- a listener that never answers ------------------------------------------------------

UnansweredListener::UnansweredListener(const std::string& address, int port) : address_(address) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return;
    sockaddr_storage storage{};
    const auto length = static_cast<socklen_t>(found->ai_addrlen);
    std::memcpy(&storage, found->ai_addr, found->ai_addrlen);
    ::freeaddrinfo(found);
    const auto* target = reinterpret_cast<const sockaddr*>(&storage);
    const int fd = ::socket(storage.ss_family, SOCK_STREAM, 0);
    if (fd < 0) return;
    // A queue of length 0 holds one connection; once that one is in, the
    // system drops every further request instead of refusing it.
    if (::bind(fd, target, length) != 0 || ::listen(fd, 0) != 0) {
        ::close(fd);
        return;
    }
    listenFd_ = fd;
    // Connect until a connection no longer comes up: then the queue is full.
    for (int i = 0; i < 16; ++i) {
        const int filler = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (filler < 0) break;
        fillers_.push_back(filler);
        if (::connect(filler, target, length) == 0) continue;
        if (errno != EINPROGRESS) break;
        pollfd entry{filler, POLLOUT, 0};
        if (::poll(&entry, 1, 300) == 0) return;  // dropped: the queue is full
    }
    // The queue never filled: not the behaviour this listener stands for.
    for (const int filler : fillers_) ::close(filler);
    fillers_.clear();
    ::close(listenFd_);
    listenFd_ = -1;
}

std::unique_ptr<UnansweredListener> UnansweredListener::OnLoopback(int port) {
    for (const char* address : {"::1", "127.0.0.2"}) {
        auto listener = std::make_unique<UnansweredListener>(address, port);
        if (listener->Listening()) return listener;
    }
    return nullptr;
}

UnansweredListener::~UnansweredListener() {
    for (const int filler : fillers_) ::close(filler);
    if (listenFd_ >= 0) ::close(listenFd_);
}

}  // namespace testsupport
