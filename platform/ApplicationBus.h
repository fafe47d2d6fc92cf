#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class ApplicationBusService;

// File URIs as the desktop hands documents over. Every byte of the path other
// than an unreserved ASCII character or "/" is percent-encoded, so that a file
// name that is not valid UTF-8 travels unchanged.
std::string FileUri(const std::filesystem::path& absolutePath);

// The local path that a file URI names, byte for byte. nullopt for another
// scheme, a host other than "localhost", a relative path, a query or fragment,
// a malformed escape or an escaped NUL.
std::optional<std::filesystem::path> PathFromFileUri(std::string_view uri);

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
// by its unique connection name (never to itself), one Open call per document,
// each answered when the owner takes that document from its queue to open it:
// a busy owner keeps the launch waiting instead of making it open the document
// a second time. An owner that leaves before taking a document answers with
// an error (or the bus does for it); the launch then hands the rest to the new
// owner, or, when the bus has made it the owner, opens them itself.
//
// The wait is bounded: an owner that takes no document for kHandOverTimeout
// (stopped, hung) ends the launch with Role::Failed, and the launch says which
// documents it could not hand over. The owner takes a document only while its
// sender is still on the bus, so a launch that has given up never sees its
// documents open after all. So a document is shown once, or its launch says
// that it was not handed over. (Giving up and the owner's check are separate
// steps on the bus: only an owner that takes the document in the instant
// between the launch's time running out and the bus seeing it leave can
// still open it.)
class ApplicationBus {
public:
    // How long a launch waits for the owner to take one document (or to
    // answer Activate) before it gives up: the bus's usual call time-out.
    static constexpr std::chrono::milliseconds kHandOverTimeout{25000};

    // What reaches the application that owns the name. Both run on the thread
    // that claimed the name, from its event loop.
    struct Receiver {
        // A document handed in. The application calls `take` once, when it
        // takes the document from its queue to open it, and opens it only when
        // `take` returns true: false means that the sender has given up
        // waiting and left the bus (it has said that the document was not
        // handed over). Until then the sender waits.
        std::function<void(const std::filesystem::path& document, std::function<bool()> take)> openDocument;
        // A launch without documents asks the application to come to the front.
        std::function<void()> activate;
    };

    enum class Role {
        Primary,     // this launch owns the name: it runs and serves the interface
        HandedOver,  // the owner took everything: this launch ends
        Failed,      // the owner did not take `documents` (see `failure`): this launch ends, saying so
        Alone,       // no name to own (the bus refuses it, or has gone): this launch runs on its own
    };
    struct Claim {
        Role role = Role::Alone;
        // Primary, Alone: the documents that this launch opens itself.
        // Failed: the documents that were not handed over.
        std::vector<std::filesystem::path> documents;
        // Failed: why, as a phrase ("it did not answer within 25 seconds").
        std::string failure;
    };

    // Connects to the session bus, or (for tests) to the bus at `address`.
    // nullptr when there is no bus to connect to.
    static std::unique_ptr<ApplicationBus> Connect(std::string applicationId, const std::string& address = {});
    ~ApplicationBus();
    ApplicationBus(const ApplicationBus&) = delete;
    ApplicationBus& operator=(const ApplicationBus&) = delete;

    // Serves the interface for `receiver`, then asks for the name, queueing
    // behind its owner. Primary when this launch owns it, at once or after the
    // owner went away during the hand-over, however long that took. Otherwise
    // hands `documents` over to the owner (or, with none, asks it to come to
    // the front): HandedOver when it took them all, Failed when it did not
    // answer in time or refused. Alone only when the bus refuses the name or
    // goes away meanwhile.
    // After anything but Primary the launch has left the queue and the bus.
    Claim ClaimOrHandOver(std::vector<std::filesystem::path> documents, Receiver receiver);

    // Gives the name up at once (or leaves its queue), so that the next launch
    // in the queue owns it; then answers every hand-over whose documents were
    // not all taken with an error, so that its sender hands them to that owner
    // or, being it, opens them itself; then leaves the bus. Nothing reaches
    // the receiver afterwards, and a document not yet taken can no longer be.
    // Safe to call from the receiver's own callbacks; the destructor closes too.
    void Close();

    // Test support: a shorter wait than kHandOverTimeout.
    void SetHandOverTimeoutForTesting(std::chrono::milliseconds timeout) { handOverTimeout_ = timeout; }

private:
    ApplicationBus(std::string applicationId, std::string connectionName);
    enum class HandOverResult { Done, OwnerLeftOrRefused, TimedOut };
    HandOverResult HandOver(const std::string& owner, std::vector<std::filesystem::path>& documents,
                            std::string& error);

    std::string applicationId_;
    std::string connectionName_;
    std::unique_ptr<ApplicationBusService> service_;
    std::chrono::milliseconds handOverTimeout_ = kHandOverTimeout;
    bool named_ = false;  // owns the name or waits in its queue
    bool connected_ = true;
};

}  // namespace platform
