#include "platform/ApplicationBus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QEventLoop>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantList>
#include <QVariantMap>
#include <atomic>
#include <chrono>
#include <limits>

namespace platform {

namespace fs = std::filesystem;

namespace {

constexpr char kInterface[] = "org.freedesktop.Application";

// A call that the bus itself never ends: the hand-over keeps its own time.
constexpr int kNoBusTimeout = std::numeric_limits<int>::max();

// "25 seconds", for a launch's message.
std::string Duration(std::chrono::milliseconds duration) {
    if (duration.count() % 1000 == 0) {
        const auto seconds = duration.count() / 1000;
        return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
    }
    return std::to_string(duration.count()) + " ms";
}

QString Ascii(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

std::string ApplicationObjectPath(std::string_view applicationId) {
    std::string path = "/";
    for (const char c : applicationId) path += c == '.' ? '/' : c == '-' ? '_' : c;
    return path;
}

// The object that serves org.freedesktop.Application for the receiver, on the
// thread that created it. An Open call is answered once every document it
// carried has been taken, or refused when the bus closes first.
class ApplicationBusService final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    explicit ApplicationBusService(ApplicationBus::Receiver receiver) : receiver_(std::move(receiver)) {}

    // Refuses every hand-over not yet answered; later calls are refused at once.
    void Close() {
        closed_ = true;
        for (const auto& handOver : waiting_) {
            handOver->connection.send(handOver->call.createErrorReply(
                QDBusError::Failed, QStringLiteral("The application quit before it opened the document.")));
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
        (void)platformData;
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
        setDelayedReply(true);
        auto handOver = std::make_shared<HandOver>(
            HandOver{connection(), message(), static_cast<int>(documents.size())});
        waiting_.push_back(handOver);
        for (const fs::path& document : documents) {
            receiver_.openDocument(document, [this, weak = std::weak_ptr<HandOver>(handOver)] {
                // Only this service holds hand-overs: one still there means the
                // service is too. One that is gone was refused (the application
                // quits) or given up by its sender.
                const std::shared_ptr<HandOver> taken = weak.lock();
                if (!taken) return false;
                if (!SenderWaits(*taken)) {
                    std::erase(waiting_, taken);
                    return false;
                }
                if (--taken->untaken == 0) {
                    taken->connection.send(taken->call.createReply());
                    std::erase(waiting_, taken);
                }
                return true;
            });
        }
    }

    void ActivateAction(const QString& actionName, const QVariantList& parameter, const QVariantMap& platformData) {
        (void)actionName;
        (void)parameter;
        (void)platformData;
        sendErrorReply(QDBusError::NotSupported, QStringLiteral("This application has no actions."));
    }

private:
    struct HandOver {
        QDBusConnection connection;
        QDBusMessage call;
        int untaken;
    };

    bool Refused() {
        if (!closed_) return false;
        sendErrorReply(QDBusError::Failed, QStringLiteral("The application is quitting."));
        return true;
    }

    // Whether the sender still waits for the answer. A sender that gave up
    // (its wait ran out) has said that its documents were not handed over and
    // has left the bus, so they must not open now. A sender that asked for no
    // answer is taken at its word.
    static bool SenderWaits(const HandOver& handOver) {
        if (!handOver.call.isReplyRequired()) return true;
        QDBusConnectionInterface* bus = handOver.connection.interface();
        if (!bus) return false;
        const QDBusReply<bool> onBus = bus->isServiceRegistered(handOver.call.service());
        return onBus.isValid() && onBus.value();
    }

    ApplicationBus::Receiver receiver_;
    std::vector<std::shared_ptr<HandOver>> waiting_;
    bool closed_ = false;
};

std::unique_ptr<ApplicationBus> ApplicationBus::Connect(std::string applicationId, const std::string& address) {
    static std::atomic<int> connections{0};
    const QString name = QStringLiteral("platform.ApplicationBus.%1").arg(++connections);
    const QDBusConnection connection = address.empty()
                                           ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)
                                           : QDBusConnection::connectToBus(QString::fromStdString(address), name);
    if (!connection.isConnected()) {
        QDBusConnection::disconnectFromBus(name);
        return nullptr;
    }
    return std::unique_ptr<ApplicationBus>(new ApplicationBus(std::move(applicationId), name.toStdString()));
}

ApplicationBus::ApplicationBus(std::string applicationId, std::string connectionName)
    : applicationId_(std::move(applicationId)), connectionName_(std::move(connectionName)) {}

ApplicationBus::~ApplicationBus() {
    Close();
}

ApplicationBus::Claim ApplicationBus::ClaimOrHandOver(std::vector<fs::path> documents, Receiver receiver) {
    QDBusConnection connection(Ascii(connectionName_));
    const QString name = Ascii(applicationId_);
    // The object first, then the name: a call that reaches this connection the
    // moment the name is ours (at once, or later from the queue) finds the
    // object there, and is served once the event loop runs.
    service_ = std::make_unique<ApplicationBusService>(std::move(receiver));
    if (!connected_ ||
        !connection.registerObject(Ascii(ApplicationObjectPath(applicationId_)), service_.get(),
                                   QDBusConnection::ExportAllSlots)) {
        Close();
        return {Role::Alone, std::move(documents), {}};
    }
    // Queued behind the owner, not refused: when the owner goes away, the bus
    // hands the name to the first launch in the queue in the same step.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> requested =
        connection.interface()->registerService(name, QDBusConnectionInterface::QueueService,
                                                QDBusConnectionInterface::DontAllowReplacement);
    if (!requested.isValid()) {
        Close();
        return {Role::Alone, std::move(documents), {}};
    }
    named_ = true;
    if (requested.value() == QDBusConnectionInterface::ServiceRegistered) {
        return {Role::Primary, std::move(documents), {}};
    }

    const QString self = connection.baseService();
    for (;;) {
        // While this launch waits in the queue the name always has an owner;
        // none means that the bus has gone.
        const QDBusReply<QString> owner = connection.interface()->serviceOwner(name);
        if (!owner.isValid()) {
            Close();
            return {Role::Alone, std::move(documents), {}};
        }
        if (owner.value() == self) return {Role::Primary, std::move(documents), {}};
        std::string error;
        const HandOverResult result = HandOver(owner.value().toStdString(), documents, error);
        if (result == HandOverResult::Done) {
            Close();
            return {Role::HandedOver, {}, {}};
        }
        // An owner that went away has a successor (this launch, perhaps): go on
        // with it. One that is still there did not answer in time, or refused.
        const QDBusReply<QString> now = connection.interface()->serviceOwner(name);
        if (now.isValid() && now.value() == owner.value()) {
            Close();
            return {Role::Failed, std::move(documents),
                    result == HandOverResult::TimedOut ? "it did not answer within " + Duration(handOverTimeout_)
                                                       : "it refused them (" + error + ")"};
        }
    }
}

ApplicationBus::HandOverResult ApplicationBus::HandOver(const std::string& owner, std::vector<fs::path>& documents,
                                                        std::string& error) {
    QDBusConnection connection(Ascii(connectionName_));
    const auto call = [&](const QString& method, const QVariantList& arguments) {
        // To the owner's own connection: should the name pass on meanwhile,
        // the call fails instead of reaching the next owner, or this launch.
        QDBusMessage message = QDBusMessage::createMethodCall(
            Ascii(owner), Ascii(ApplicationObjectPath(applicationId_)), kInterface, method);
        message.setArguments(arguments);
        // The bus's own time-out runs on a coarse timer, which may end the
        // wait a little early: this one is exact.
        QDBusPendingCall pending = connection.asyncCall(message, kNoBusTimeout);
        if (!pending.isFinished()) {
            QEventLoop loop;
            QDBusPendingCallWatcher watcher(pending);
            QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
            QTimer deadline;
            deadline.setTimerType(Qt::PreciseTimer);
            deadline.setSingleShot(true);
            QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
            deadline.start(handOverTimeout_);
            if (!pending.isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
        }
        if (!pending.isFinished()) return HandOverResult::TimedOut;
        const QDBusMessage reply = pending.reply();
        if (reply.type() == QDBusMessage::ReplyMessage) return HandOverResult::Done;
        error = reply.errorMessage().toStdString();
        return HandOverResult::OwnerLeftOrRefused;
    };
    if (documents.empty()) return call(QStringLiteral("Activate"), {QVariantMap()});
    // One document per call: each is answered when the owner takes it, so a
    // failure part-way leaves exactly the documents it did not take.
    while (!documents.empty()) {
        const QStringList uris{Ascii(FileUri(documents.front()))};
        if (const HandOverResult result = call(QStringLiteral("Open"), {uris, QVariantMap()});
            result != HandOverResult::Done) {
            return result;
        }
        documents.erase(documents.begin());
    }
    return HandOverResult::Done;
}

void ApplicationBus::Close() {
    if (!connected_) return;
    connected_ = false;
    QDBusConnection connection(Ascii(connectionName_));
    // The name goes first (or the place in its queue), so that a sender that
    // is refused next finds the next owner there.
    if (named_) connection.interface()->unregisterService(Ascii(applicationId_));
    named_ = false;
    if (service_) {
        service_->Close();
        connection.unregisterObject(Ascii(ApplicationObjectPath(applicationId_)));
    }
    QDBusConnection::disconnectFromBus(Ascii(connectionName_));
}

}  // namespace platform

#include "ApplicationBus.moc"
