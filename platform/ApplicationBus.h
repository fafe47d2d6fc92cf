#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>


class QDBusMessage;
class QDBusPendingCall;
class QString;

namespace platform {

class ApplicationBusService;
class ApplicationBusLaunch;

// The object path under which an application id serves its interface: "/"
// and the id with "." turned into "/" and "-" into "_".
std::string ApplicationObjectPath(std::string_view applicationId);

// One running application per user session, the desktop's way: the
// application owns its reverse-domain id as a name on the session bus and
// serves the freedesktop interface org.freedesktop.Application (Activate,
// Open with file URIs; ActivateAction answers that it is not supported) at the
// id's object path. A launch that finds the name taken hands its documents to
// the owner instead of starting.
//
// A launch asks for the name and, when it is taken, joins the bus's queue for
// it: when the owner goes away (it quits, crashes or loses its connection),
// the bus makes the first launch in the queue the owner at once, so there is
// never a moment without an owner while a launch waits, nor two owners. While
// queued, a launch hands its documents to the owner of the moment, addressed
// by its unique connection name (never to itself), one Open call per document.
//
// The owner answers each hand-over at once, from its event loop, which also
// runs while a message box or a file dialog is up, and keeps the document
// until the application gets to it, however long its user takes. Then it asks
// the launch whether it still waits: a launch that says yes is committed to
// wait, and the owner opens the document and tells it so, which ends the
// hand-over of that document. Only the launch decides, so a document opens
// exactly when its launch has said yes, and never after the launch has given
// up. An owner that leaves before it opens a document tells the launch so (or
// the bus does); the launch then hands the rest to the new owner, or, when the
// bus has made it the owner, opens them itself.
//
// A launch gives up only on silence: when the peer it waits for (the bus, or
// the owner and the bus that carries its words) has given no sign of life
// for the whole bound. How long the owner takes does not count: while an
// answer is slow to come, the launch asks the owner's connection now and
// then whether it is there, which the bus thread of a busy owner answers at
// once and a stopped (or wholly hung) process never does. Every answer, word
// or reply to that question starts the bound anew. Once the launch has said
// that it still waits for a document, it waits for the outcome without limit.
class ApplicationBus {
public:
    // How long a peer may stay silent before a launch gives up on it: the
    // bus's usual call time-out.
    static constexpr std::chrono::milliseconds kHandOverTimeout{25000};

    // A document that a waiting launch handed in, as the owner holds it until
    // the application opens it.
    class HandedIn {
    public:
        virtual ~HandedIn() = default;
        // Asks the launch whether it still waits for the document, and calls
        // `answer` from the event loop. true: the launch waits until Opening,
        // or until this application leaves the bus. false: the launch has
        // given up (it has said that the document was not handed over) or
        // gone; the document must not open.
        virtual void Confirm(std::function<void(bool stillWaiting)> answer) = 0;
        // Tells the launch that the document opens now, after a true answer.
        virtual void Opening() = 0;
    };

    // What reaches the application that owns the name. Both run on the thread
    // that claimed the name, from its event loop.
    struct Receiver {
        // A document handed in. `handedIn` is null when its sender does not
        // wait for it: the application just opens it in turn. Otherwise the
        // application confirms it before it opens it.
        std::function<void(const std::filesystem::path& document, std::shared_ptr<HandedIn> handedIn)> openDocument;
        // A launch without documents asks the application to come to the front.
        std::function<void()> activate;
    };

    enum class Role {
        Primary,     // this launch owns the name: it runs and serves the interface
        HandedOver,  // the owner took everything: this launch ends
        Failed,      // the owner did not take `documents` (see `failure`): this launch ends, saying so
        Alone,       // no name to own (no bus, or it refuses the name, or goes away): this launch runs on its own
    };
    struct Claim {
        Role role = Role::Alone;
        // Primary, Alone: the documents that this launch opens itself.
        // Failed: the documents that were not handed over.
        std::vector<std::filesystem::path> documents;
        // Failed: why, as a phrase ("it did not answer within 25 seconds").
        std::string failure;
        // Failed: the bus never answered the connection. Qt's bus thread then
        // stays blocked in it, and Qt would wait for that thread when the
        // process ends: the process must end at once instead.
        bool connectionHung = false;
    };

    // A claim of `applicationId` on the session bus, or (for tests) on the bus
    // at `address`, that gives up on a peer after `timeout` of silence.
    ApplicationBus(std::string applicationId, std::chrono::milliseconds timeout, std::string address = {});
    ~ApplicationBus();
    ApplicationBus(const ApplicationBus&) = delete;
    ApplicationBus& operator=(const ApplicationBus&) = delete;

    // Connects, serves the interface for `receiver`, then asks for the name,
    // queueing behind its owner. Primary when this launch owns it, at once or
    // after the owner went away during the hand-over, however long that took.
    // Otherwise hands `documents` over to the owner (or, with none, asks it to
    // come to the front): HandedOver when it opened them all, Failed when it
    // or the bus stayed silent for the bound, or it refused. Alone when there
    // is no bus, or the bus refuses the name or goes away meanwhile.
    // After anything but Primary the launch has left the queue and the bus.
    // Called once.
    Claim ClaimOrHandOver(std::vector<std::filesystem::path> documents, Receiver receiver);

    // Gives the name up at once (or leaves its queue), so that the next launch
    // in the queue owns it; then tells every launch whose documents were not
    // all opened, so that it hands them to that owner or, being it, opens them
    // itself; then leaves the bus. Nothing reaches the receiver afterwards,
    // and a document not yet opened can no longer be. Never waits for the bus.
    // Safe to call from the receiver's own callbacks; the destructor closes too.
    void Close();

private:
    enum class Connection { Made, NoBus, Hung };
    enum class HandOverResult { Done, OwnerLeftOrRefused, TimedOut };
    Connection Connect();
    // Waits for the answer to `pending` from `peer` (empty: the bus itself):
    // false once the peer has been silent for the bound. Without limit once
    // this launch has said that it still waits for the document.
    bool Await(const QDBusPendingCall& pending, const QString& peer);
    std::optional<QDBusMessage> AskBus(const QDBusMessage& call);
    HandOverResult HandOver(const QString& owner, std::vector<std::filesystem::path>& documents, std::string& error);
    Claim Leave(Role role, std::vector<std::filesystem::path> documents, std::string failure = {});
    std::string DidNotAnswer(std::string_view who) const;

    std::string applicationId_;
    std::string address_;
    std::chrono::milliseconds timeout_;
    // The last sign of life of the peer waited for, and the last moment at
    // which the bus is known to have been alive while the launch waited for
    // the owner (a question it answered was asked then).
    std::chrono::steady_clock::time_point heard_{};
    std::chrono::steady_clock::time_point busHeard_{};
    std::string connectionName_;  // once connected, until closed
    std::unique_ptr<ApplicationBusService> service_;
    std::unique_ptr<ApplicationBusLaunch> launch_;
    bool named_ = false;  // owns the name or waits in its queue
};

}  // namespace platform
