#include "platform/ApplicationBus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusReply>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <thread>

namespace platform {

namespace fs = std::filesystem;

namespace {

constexpr char kInterface[] = "org.freedesktop.Application";

// How long a launch keeps trying to take the name or reach its owner, counted
// from its last progress, before it runs on its own. What it waits for here is
// an owner that is leaving the bus (it quit or died) and its name coming free.
constexpr auto kRetryBudget = std::chrono::seconds(5);
constexpr auto kRetryPause = std::chrono::milliseconds(20);

// A hand-over waits for as long as the owner takes to answer: an owner that
// leaves the bus without answering makes the bus answer with an error.
constexpr int kNoTimeout = std::numeric_limits<int>::max();

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
                // service is too.
                const std::shared_ptr<HandOver> taken = weak.lock();
                if (!taken || --taken->untaken > 0) return;
                taken->connection.send(taken->call.createReply());
                std::erase(waiting_, taken);
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
    bool Refused() {
        if (!closed_) return false;
        sendErrorReply(QDBusError::Failed, QStringLiteral("The application is quitting."));
        return true;
    }

    struct HandOver {
        QDBusConnection connection;
        QDBusMessage call;
        int untaken;
    };

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
    // The object first, then the name: a call that reaches the name the moment
    // it is ours finds the object there, and is served once the event loop runs.
    service_ = std::make_unique<ApplicationBusService>(std::move(receiver));
    if (!connected_ ||
        !connection.registerObject(Ascii(ApplicationObjectPath(applicationId_)), service_.get(),
                                   QDBusConnection::ExportAllSlots)) {
        Close();
        return {Role::Alone, std::move(documents)};
    }
    auto deadline = std::chrono::steady_clock::now() + kRetryBudget;
    for (;;) {
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = connection.interface()->registerService(
            name, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
        if (!reply.isValid()) break;
        if (reply.value() == QDBusConnectionInterface::ServiceRegistered) {
            owner_ = true;
            return {Role::Primary, std::move(documents)};
        }
        const std::size_t before = documents.size();
        if (HandOver(documents)) {
            Close();
            return {Role::HandedOver, {}};
        }
        // The owner left (or refused) before it took everything: take the
        // name, or hand the rest to whoever has it now.
        const auto now = std::chrono::steady_clock::now();
        if (documents.size() < before) deadline = now + kRetryBudget;
        if (now >= deadline) break;
        std::this_thread::sleep_for(kRetryPause);
    }
    Close();
    return {Role::Alone, std::move(documents)};
}

bool ApplicationBus::HandOver(std::vector<fs::path>& documents) {
    QDBusConnection connection(Ascii(connectionName_));
    const auto call = [&](const QString& method, const QVariantList& arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            Ascii(applicationId_), Ascii(ApplicationObjectPath(applicationId_)), kInterface, method);
        message.setArguments(arguments);
        return connection.call(message, QDBus::Block, kNoTimeout).type() == QDBusMessage::ReplyMessage;
    };
    if (documents.empty()) return call(QStringLiteral("Activate"), {QVariantMap()});
    // One document per call: each is answered when the owner takes it, so a
    // failure part-way leaves exactly the documents it did not take.
    while (!documents.empty()) {
        const QStringList uris{Ascii(FileUri(documents.front()))};
        if (!call(QStringLiteral("Open"), {uris, QVariantMap()})) return false;
        documents.erase(documents.begin());
    }
    return true;
}

void ApplicationBus::Close() {
    if (!connected_) return;
    connected_ = false;
    QDBusConnection connection(Ascii(connectionName_));
    // The name goes first, so that a sender that is refused next finds it free.
    if (owner_) connection.interface()->unregisterService(Ascii(applicationId_));
    owner_ = false;
    if (service_) {
        service_->Close();
        connection.unregisterObject(Ascii(ApplicationObjectPath(applicationId_)));
    }
    QDBusConnection::disconnectFromBus(Ascii(connectionName_));
}

}  // namespace platform

#include "ApplicationBus.moc"
