#include "platform/ApplicationBus.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QEventLoop>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantList>
#include <QVariantMap>
#include <QPointer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>

#include "platform/FileUri.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

constexpr char kInterface[] = "org.freedesktop.Application";

// What a waiting launch serves to the owner it hands documents to.
constexpr char kLaunchInterface[] = "platform.ApplicationBus.Launch";
constexpr char kLaunchPath[] = "/platform/ApplicationBus/Launch";
// The platform data entry by which a launch's Open says that it waits for
// the documents, and under which number it answers StillWaiting for them.
constexpr char kHandOverKey[] = "platform-hand-over";

constexpr char kBus[] = "org.freedesktop.DBus";
constexpr char kPeer[] = "org.freedesktop.DBus.Peer";
constexpr char kBusPath[] = "/org/freedesktop/DBus";
// Answers of RequestName.
constexpr uint kPrimaryOwner = 1;
constexpr uint kAlreadyOwner = 4;

// A call that the bus itself never ends: the launch keeps its own time.
constexpr int kNoBusTimeout = std::numeric_limits<int>::max();

// "25 seconds", for a launch's message.
std::string Duration(std::chrono::milliseconds duration) {
    if (duration.count() % 1000 == 0) {
        const auto seconds = duration.count() / 1000;
        return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
    }
    return std::to_string(duration.count()) + " ms";
}

QString Ascii(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QDBusMessage CallTo(const QString& service, const QString& path, const char* interface, const QString& method,
                    const QVariantList& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, QString::fromLatin1(interface), method);
    call.setArguments(arguments);
    return call;
}

// A call to the bus itself.
QDBusMessage BusCall(const QString& method, const QVariantList& arguments) {
    return CallTo(QString::fromLatin1(kBus), QString::fromLatin1(kBusPath), kBus, method, arguments);
}

}  // namespace

std::string ApplicationObjectPath(std::string_view applicationId) {
    std::string path = "/";
    for (const char c : applicationId) path += c == '.' ? '/' : c == '-' ? '_' : c;
    return path;
}

// The object that serves org.freedesktop.Application for the receiver, on the
// thread that created it. Every call is answered at once, but for the Open of
// a launch that waits: that is answered once every document it carried has
// opened, or refused when its launch no longer waits or the bus closes first.
class ApplicationBusService final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    explicit ApplicationBusService(ApplicationBus::Receiver receiver) : receiver_(std::move(receiver)) {}

    // Refuses every hand-over not yet answered; later calls are refused at once.
    void Close() {
        closed_ = true;
        for (const auto& handOver : waiting_) {
            Refuse(*handOver, QStringLiteral("The application quit before it opened the document."));
        }
        waiting_.clear();
    }

public slots:
    void Activate(const QVariantMap& platformData) {
        (void)platformData;
        if (Refused()) return;
        if (receiver_.activate) receiver_.activate();
    }

    void Open(const QStringList& uris, const QVariantMap& platformData) {
        if (Refused()) return;
        std::vector<fs::path> documents;
        for (const QString& uri : uris) {
            const QByteArray bytes = uri.toUtf8();
            std::optional<fs::path> document = PathFromFileUri(std::string_view(bytes.constData(), bytes.size()));
            if (!document) {
                sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("Not a local file URI: ") + uri);
                return;
            }
            documents.push_back(std::move(*document));
        }
        if (documents.empty()) {
            if (receiver_.activate) receiver_.activate();
            return;
        }
        if (!receiver_.openDocument) {
            sendErrorReply(QDBusError::NotSupported, QStringLiteral("This application opens no documents."));
            return;
        }
        const QVariant token = platformData.value(QString::fromLatin1(kHandOverKey));
        if (token.metaType() != QMetaType::fromType<uint>() || !message().isReplyRequired()) {
            // A sender that does not wait: answered now, the documents open in turn.
            for (const fs::path& document : documents) receiver_.openDocument(document, nullptr);
            return;
        }
        setDelayedReply(true);
        auto handOver = std::make_shared<HandOver>(
            HandOver{connection(), message(), token.toUInt(), static_cast<int>(documents.size())});
        waiting_.push_back(handOver);
        // The launch's word that the documents are here: from now on it waits
        // as long as the application takes to get to them.
        handOver->connection.send(ToLaunch(*handOver, QStringLiteral("Received")));
        for (const fs::path& document : documents) {
            receiver_.openDocument(document, std::make_shared<Document>(this, handOver));
        }
    }

    void ActivateAction(const QString& actionName, const QVariantList& parameter, const QVariantMap& platformData) {
        (void)actionName;
        (void)parameter;
        (void)platformData;
        sendErrorReply(QDBusError::NotSupported, QStringLiteral("This application has no actions."));
    }

private:
    // The Open call of a launch that waits, until it is answered.
    struct HandOver {
        QDBusConnection connection;
        QDBusMessage call;
        uint token;
        int unopened;
    };

    // One of its documents, as the receiver holds it.
    class Document final : public ApplicationBus::HandedIn {
    public:
        Document(ApplicationBusService* service, const std::shared_ptr<HandOver>& handOver)
            : service_(service), handOver_(handOver) {}
        void Confirm(std::function<void(bool stillWaiting)> answer) override {
            if (service_) {
                service_->Confirm(handOver_, std::move(answer));
            } else {
                answer(false);
            }
        }
        void Opening() override {
            if (service_) service_->Opening(handOver_);
        }

    private:
        QPointer<ApplicationBusService> service_;
        std::weak_ptr<HandOver> handOver_;
    };

    static QDBusMessage ToLaunch(const HandOver& handOver, const QString& method) {
        return CallTo(handOver.call.service(), QString::fromLatin1(kLaunchPath), kLaunchInterface, method,
                      {handOver.token});
    }

    // Asks the launch whether it still waits; a launch that says no, or has
    // left the bus, has its hand-over refused.
    void Confirm(const std::weak_ptr<HandOver>& weak, std::function<void(bool)> answer) {
        const std::shared_ptr<HandOver> handOver = weak.lock();
        if (!handOver) {
            answer(false);
            return;
        }
        auto* watcher = new QDBusPendingCallWatcher(
            handOver->connection.asyncCall(ToLaunch(*handOver, QStringLiteral("StillWaiting")), kNoBusTimeout), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, weak, watcher, answer = std::move(answer)] {
            watcher->deleteLater();
            const QDBusPendingReply<bool> reply = *watcher;
            const std::shared_ptr<HandOver> handOver = weak.lock();
            const bool waits = handOver && !reply.isError() && reply.value();
            if (handOver && !waits) {
                Refuse(*handOver, QStringLiteral("The launch no longer waits for the document."));
                std::erase(waiting_, handOver);
            }
            answer(waits);
        });
    }

    void Opening(const std::weak_ptr<HandOver>& weak) {
        const std::shared_ptr<HandOver> handOver = weak.lock();
        if (!handOver || --handOver->unopened > 0) return;
        handOver->connection.send(handOver->call.createReply());
        std::erase(waiting_, handOver);
    }

    static void Refuse(const HandOver& handOver, const QString& why) {
        handOver.connection.send(handOver.call.createErrorReply(QDBusError::Failed, why));
    }

    bool Refused() {
        if (!closed_) return false;
        sendErrorReply(QDBusError::Failed, QStringLiteral("The application is quitting."));
        return true;
    }

    ApplicationBus::Receiver receiver_;
    std::vector<std::shared_ptr<HandOver>> waiting_;
    bool closed_ = false;
};

// What a launch serves to the owner while it hands a document over: the
// owner's word that it has the document, and the answer to whether the
// launch still waits for it. A launch that has answered yes is committed: it
// waits for the outcome, however long that takes. A launch that has given up
// answers no. Only the connection that the document went to is heard; any
// other caller is refused, so that nobody else can keep the launch waiting or
// commit it.
class ApplicationBusLaunch final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "platform.ApplicationBus.Launch")

public:
    // Begins the hand-over of one document to the connection `owner`, under a
    // number of its own.
    uint Begin(const QString& owner) {
        owner_ = owner;
        current_ = ++last_;
        committed_ = false;
        return current_;
    }
    // Ends it, whatever the outcome: from now on the answer is no.
    void End() { current_ = 0; }
    // Whether this launch has said that it still waits for the document.
    bool Committed() const { return current_ != 0 && committed_; }

signals:
    // The owner has spoken: a sign of life, and perhaps a commitment.
    void Heard();

public slots:
    void Received(uint token) {
        if (FromOwner(token)) emit Heard();
    }
    bool StillWaiting(uint token) {
        if (!FromOwner(token)) return false;
        committed_ = true;
        emit Heard();
        return true;
    }

private:
    // Whether the call is the owner's, about the document being handed over.
    bool FromOwner(uint token) {
        if (message().service() != owner_) {
            sendErrorReply(QDBusError::AccessDenied,
                           QStringLiteral("Only the application that has the document may ask for it."));
            return false;
        }
        return current_ != 0 && token == current_;
    }

    QString owner_;
    uint last_ = 0;
    uint current_ = 0;
    bool committed_ = false;
};

// A connection attempt, made on a thread of its own: Qt's connecting waits for
// the bus's handshake without a limit (forever, on a stopped bus).
struct ConnectAttempt {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool connected = false;
    bool abandoned = false;  // the launch stopped waiting for it
};

ApplicationBus::ApplicationBus(std::string applicationId, std::chrono::milliseconds timeout, std::string address)
    : applicationId_(std::move(applicationId)), address_(std::move(address)), timeout_(timeout) {}

ApplicationBus::~ApplicationBus() {
    Close();
}

std::string ApplicationBus::DidNotAnswer(std::string_view who) const {
    return std::string(who) + " did not answer within " + Duration(timeout_);
}

ApplicationBus::Connection ApplicationBus::Connect() {
    static std::atomic<int> connections{0};
    const QString name = QStringLiteral("platform.ApplicationBus.%1").arg(++connections);
    auto attempt = std::make_shared<ConnectAttempt>();
    std::thread([attempt, name, address = address_] {
        const QDBusConnection connection = address.empty()
                                               ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)
                                               : QDBusConnection::connectToBus(QString::fromStdString(address), name);
        const bool connected = connection.isConnected();
        const std::lock_guard lock(attempt->mutex);
        if (!connected || attempt->abandoned) QDBusConnection::disconnectFromBus(name);
        attempt->done = true;
        attempt->connected = connected;
        attempt->finished.notify_all();
    }).detach();
    std::unique_lock lock(attempt->mutex);
    const bool done = attempt->finished.wait_for(lock, timeout_, [&] { return attempt->done; });
    heard_ = std::chrono::steady_clock::now();
    if (!done) {
        // Qt's bus machinery waits for the attempt now: nothing of it may be
        // used again in this process.
        attempt->abandoned = true;
        return Connection::Hung;
    }
    if (!attempt->connected) return Connection::NoBus;
    connectionName_ = name.toStdString();
    return Connection::Made;
}

bool ApplicationBus::Await(const QDBusPendingCall& pending, const QString& peer) {
    using Clock = std::chrono::steady_clock;
    const QDBusConnection connection(Ascii(connectionName_));
    QEventLoop loop;
    QDBusPendingCallWatcher watcher(pending);
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    if (launch_) {
        QObject::connect(launch_.get(), &ApplicationBusLaunch::Heard, &loop, [&] {
            heard_ = Clock::now();
            loop.quit();
        });
    }
    // Questions whether a connection is there. Qt and libdbus answer them
    // from the bus thread, however busy the application's own thread is; a
    // stopped process, or a stopped bus, answers nothing.
    struct Ping {
        Clock::time_point asked{};
        std::unique_ptr<QDBusPendingCallWatcher> reply;  // until it comes
    };
    const auto ask = [&](Ping& ping, const QString& to, Clock::time_point now) {
        ping.asked = now;
        ping.reply = std::make_unique<QDBusPendingCallWatcher>(
            connection.asyncCall(CallTo(to, QStringLiteral("/"), kPeer, QStringLiteral("Ping"), {}), kNoBusTimeout));
        QObject::connect(ping.reply.get(), &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    };
    // Whether the reply has come, and without an error; it is let go once come.
    const auto answered = [](Ping& ping) {
        if (!ping.reply || !ping.reply->isFinished()) return false;
        const bool answer = !ping.reply->isError();
        ping.reply.reset();
        return answer;
    };
    // An answer that comes at once needs no question: the first goes out once
    // the peer has been quiet for a fifth of the bound, and one at a time.
    const auto interval = std::max<Clock::duration>(timeout_ / 5, std::chrono::milliseconds(1));
    Ping peerPing;
    Ping busPing;
    // The bus's own time-outs run on a coarse timer, which may end a wait a
    // little early: this one is exact.
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    while (!watcher.isFinished()) {
        const Clock::time_point now = Clock::now();
        if (answered(peerPing)) heard_ = now;
        if (answered(busPing)) busHeard_ = busPing.asked;
        // Once this launch has said that it still waits, the owner opens the
        // document: the wait for that has no limit.
        if (launch_ && launch_->Committed()) {
            timer.stop();
            loop.exec(QEventLoop::ExcludeUserInputEvents);
            continue;
        }
        Clock::time_point wake = heard_ + timeout_;
        if (now >= wake) return false;
        if (!peer.isEmpty() && !peerPing.reply) {
            const Clock::time_point next = std::max(heard_, peerPing.asked) + interval;
            if (now >= next) {
                ask(peerPing, peer, now);
                if (!busPing.reply) ask(busPing, QString::fromLatin1(kBus), now);
            } else {
                wake = std::min(wake, next);
            }
        }
        timer.start(std::chrono::ceil<std::chrono::milliseconds>(wake - now));
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    heard_ = Clock::now();
    return true;
}

std::optional<QDBusMessage> ApplicationBus::AskBus(const QDBusMessage& call) {
    QDBusPendingCall pending = QDBusConnection(Ascii(connectionName_)).asyncCall(call, kNoBusTimeout);
    if (!Await(pending, {})) return std::nullopt;
    return pending.reply();
}

ApplicationBus::Claim ApplicationBus::Leave(Role role, std::vector<fs::path> documents, std::string failure) {
    Close();
    return {role, std::move(documents), std::move(failure)};
}

ApplicationBus::Claim ApplicationBus::ClaimOrHandOver(std::vector<fs::path> documents, Receiver receiver) {
    switch (Connect()) {
        case Connection::Made: break;
        case Connection::NoBus: return {Role::Alone, std::move(documents), {}};
        case Connection::Hung: {
            Claim claim{Role::Failed, std::move(documents), DidNotAnswer("the session bus")};
            claim.connectionHung = true;
            return claim;
        }
    }
    QDBusConnection connection(Ascii(connectionName_));
    const QString name = Ascii(applicationId_);
    // The objects first, then the name: a call that reaches this connection
    // the moment the name is ours (at once, or later from the queue) finds the
    // object there, and is served once the event loop runs.
    service_ = std::make_unique<ApplicationBusService>(std::move(receiver));
    launch_ = std::make_unique<ApplicationBusLaunch>();
    if (!connection.registerObject(Ascii(ApplicationObjectPath(applicationId_)), service_.get(),
                                   QDBusConnection::ExportAllSlots) ||
        !connection.registerObject(QString::fromLatin1(kLaunchPath), launch_.get(), QDBusConnection::ExportAllSlots)) {
        return Leave(Role::Alone, std::move(documents));
    }
    // Queued behind the owner, not refused: when the owner goes away, the bus
    // hands the name to the first launch in the queue in the same step.
    const std::optional<QDBusMessage> requested = AskBus(BusCall(QStringLiteral("RequestName"), {name, uint{0}}));
    if (!requested) return Leave(Role::Failed, std::move(documents), DidNotAnswer("the session bus"));
    if (requested->type() != QDBusMessage::ReplyMessage) return Leave(Role::Alone, std::move(documents));
    named_ = true;
    const auto primary = [&] {
        connection.unregisterObject(QString::fromLatin1(kLaunchPath));
        return Claim{Role::Primary, std::move(documents), {}};
    };
    const uint answer = requested->arguments().value(0).toUInt();
    if (answer == kPrimaryOwner || answer == kAlreadyOwner) return primary();

    const QString self = connection.baseService();
    const auto ownerNow = [&]() -> std::optional<QString> {
        const std::optional<QDBusMessage> owner = AskBus(BusCall(QStringLiteral("GetNameOwner"), {name}));
        if (!owner) return std::nullopt;
        // While this launch waits in the queue the name always has an owner;
        // none means that the bus has gone.
        return owner->type() == QDBusMessage::ReplyMessage ? owner->arguments().value(0).toString() : QString();
    };
    for (;;) {
        const std::optional<QString> owner = ownerNow();
        if (!owner) return Leave(Role::Failed, std::move(documents), DidNotAnswer("the session bus"));
        if (owner->isEmpty()) return Leave(Role::Alone, std::move(documents));
        if (*owner == self) return primary();
        std::string error;
        switch (HandOver(*owner, documents, error)) {
            case HandOverResult::Done: return Leave(Role::HandedOver, {});
            case HandOverResult::TimedOut:
                // The bus passes the questions on: when it answered its own
                // after the owner last spoke, the owner is the one silent.
                return Leave(Role::Failed, std::move(documents),
                             DidNotAnswer(busHeard_ > heard_ ? "it" : "the session bus"));
            case HandOverResult::OwnerLeftOrRefused: break;
        }
        // An owner that went away has a successor (this launch, perhaps): go on
        // with it. One that is still there refused.
        const std::optional<QString> now = ownerNow();
        if (!now) return Leave(Role::Failed, std::move(documents), DidNotAnswer("the session bus"));
        if (*now == *owner) return Leave(Role::Failed, std::move(documents), "it refused them (" + error + ")");
    }
}

ApplicationBus::HandOverResult ApplicationBus::HandOver(const QString& owner, std::vector<fs::path>& documents,
                                                        std::string& error) {
    QDBusConnection connection(Ascii(connectionName_));
    const auto call = [&](const QString& method, const QVariantList& arguments) {
        // To the owner's own connection: should the name pass on meanwhile,
        // the call fails instead of reaching the next owner, or this launch.
        QDBusPendingCall pending = connection.asyncCall(
            CallTo(owner, Ascii(ApplicationObjectPath(applicationId_)), kInterface, method, arguments), kNoBusTimeout);
        const bool answered = Await(pending, owner);
        launch_->End();
        if (!answered) return HandOverResult::TimedOut;
        const QDBusMessage reply = pending.reply();
        if (reply.type() == QDBusMessage::ReplyMessage) return HandOverResult::Done;
        error = reply.errorMessage().toStdString();
        return HandOverResult::OwnerLeftOrRefused;
    };
    if (documents.empty()) return call(QStringLiteral("Activate"), {QVariantMap()});
    // One document per call: each is answered when the owner opens it, so a
    // failure part-way leaves exactly the documents it did not open.
    while (!documents.empty()) {
        const QVariantMap platformData{{QString::fromLatin1(kHandOverKey), launch_->Begin(owner)}};
        const QStringList uris{Ascii(FileUri(documents.front()))};
        if (const HandOverResult result = call(QStringLiteral("Open"), {uris, platformData});
            result != HandOverResult::Done) {
            return result;
        }
        documents.erase(documents.begin());
    }
    return HandOverResult::Done;
}

void ApplicationBus::Close() {
    if (connectionName_.empty()) return;
    QDBusConnection connection(Ascii(connectionName_));
    // The name goes first (or the place in its queue), so that a launch that
    // is refused next finds the next owner there. Nothing here waits for the
    // bus, which may not answer.
    if (named_) {
        connection.send(BusCall(QStringLiteral("ReleaseName"), {Ascii(applicationId_)}));
    }
    named_ = false;
    if (service_) service_->Close();
    connection.unregisterObject(Ascii(ApplicationObjectPath(applicationId_)));
    connection.unregisterObject(QString::fromLatin1(kLaunchPath));
    QDBusConnection::disconnectFromBus(Ascii(connectionName_));
    connectionName_.clear();
}

}  // namespace platform

#include "ApplicationBus.moc"
