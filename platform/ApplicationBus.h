#pragma once

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
// a malformed escape, or an escaped NUL or "/".
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
// A hand-over waits until the running application has taken each document
// from its queue to open it, one Open call per document: an application that
// is busy (a blocking request, a modal loop) keeps the caller waiting rather
// than make it give up and open the document a second time, and an
// application that quits before it takes a document answers with an error,
// after which the caller tries again and, failing that, opens the document
// itself. So a document is never lost and never opened twice.
class ApplicationBus {
public:
    // What reaches the application that owns the name. Both run on the thread
    // that claimed the name, from its event loop.
    struct Receiver {
        // A document handed in. The application calls `taken` once, when it
        // takes the document from its queue to open it; until then the sender
        // waits.
        std::function<void(const std::filesystem::path& document, std::function<void()> taken)> openDocument;
        // A launch without documents asks the application to come to the front.
        std::function<void()> activate;
    };

    enum class Role {
        Primary,     // this launch owns the name: it runs and serves the interface
        HandedOver,  // another instance took everything: this launch ends
        Alone,       // neither: this launch runs on its own, off the bus
    };
    struct Claim {
        Role role = Role::Alone;
        // The documents that this launch opens itself (those not handed over).
        std::vector<std::filesystem::path> documents;
    };

    // Connects to the session bus, or (for tests) to the bus at `address`.
    // nullptr when there is no bus to connect to.
    static std::unique_ptr<ApplicationBus> Connect(std::string applicationId, const std::string& address = {});
    ~ApplicationBus();
    ApplicationBus(const ApplicationBus&) = delete;
    ApplicationBus& operator=(const ApplicationBus&) = delete;

    // Serves the interface for `receiver`, then takes the name. When another
    // instance owns it, hands `documents` over to it (or, with none, asks it to
    // come to the front); when the owner goes away meanwhile, tries to take the
    // name again. Gives up (Alone) when the bus refuses or nothing succeeds for
    // a few seconds. After anything but Primary the connection is closed.
    Claim ClaimOrHandOver(std::vector<std::filesystem::path> documents, Receiver receiver);

    // Gives the name up at once, so that the next launch takes it, answers
    // every hand-over whose documents were not all taken with an error, so that
    // its sender opens them, and leaves the bus. Nothing reaches the receiver
    // afterwards. Safe to call from the receiver's own callbacks; the
    // destructor closes too.
    void Close();

private:
    ApplicationBus(std::string applicationId, std::string connectionName);
    bool HandOver(std::vector<std::filesystem::path>& documents);

    std::string applicationId_;
    std::string connectionName_;
    std::unique_ptr<ApplicationBusService> service_;
    bool owner_ = false;
    bool connected_ = true;
};

}  // namespace platform
