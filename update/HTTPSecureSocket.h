#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Dictionary.h"
#include "platform/Ref.h"
#include "platform/SSLSocket.h"
#include "update/InternetHeaders.h"
#include "update/ReplyReader.h"

namespace halvoric {

// An HTTP/1.0 form-post client over the TLS socket: one POST per connection,
// a form body in the program's own encoding, a synchronous wait with an
// inactivity time-out and an overall limit, and the reply body read until the
// server closes the connection. Used in this order: construct, SetFormData,
// Post, Close; one object serves one request.
class HTTPSecureSocket : public platform::SSLSocket {
public:
    // ErrorCode after the time-out or the overall limit ran out.
    static constexpr std::int32_t kTimedOut = -1;
    // ErrorCode after the body grew past kMaxBodyBytes: the connection was
    // closed and Post returned the first kMaxBodyBytes bytes.
    static constexpr std::int32_t kBodyTooLarge = ReplyReader::kBodyTooLarge;
    // The most reply-body bytes kept (see ReplyReader).
    static constexpr std::int64_t kMaxBodyBytes = ReplyReader::kMaxBodyBytes;
    // The longest a request may take, as a multiple of its time-out, however
    // steadily the reply keeps arriving.
    static constexpr std::int32_t kOverallLimitFactor = 3;

    HTTPSecureSocket();

    // The form fields to post: the body becomes their encoding and the content
    // type "application/x-www-form-urlencoded". A nil form leaves both empty.
    void SetFormData(const platform::Ref<platform::Dictionary>& form);

    // The pairs of the form as key, "=" and encoded value, joined by "&", in
    // the dictionary's key order. Keys are field names and are sent as written.
    std::string EncodeFormData(const platform::Dictionary& form) const;

    // Posts the form to `url` and waits for the reply. Returns the reply body
    // (the bytes after the header block's blank line, exactly as received)
    // once the server has closed the connection, the connection failed,
    // `timeoutSeconds` passed with no progress, or kOverallLimitFactor times
    // `timeoutSeconds` passed since the start (0 or less: neither limit), both
    // on the socket's clock.
    std::string Post(std::string_view url, std::int32_t timeoutSeconds);

    // Escapes the 27 characters of the form encoding and turns spaces into "+".
    static std::string EncodeURLString(std::string_view text);

    // Takes server, path and port from `url` and sets the socket's Address and
    // Port from them.
    void ParseURL(std::string_view url);

    // The line end that `text` uses (see InternetHeaders).
    static std::string DetermineEOLCharacter(std::string_view text);

    // Port used when the URL names none.
    std::int32_t DefaultPort = 443;

    // What the last Post left behind.
    std::int32_t ErrorCode() const { return errorCode_; }
    std::int32_t HTTPStatusCode() const { return reply_.StatusCode(); }
    // The reply's headers; nil until the reply's header block was complete.
    platform::Ref<InternetHeaders> PageHeaders() const { return reply_.Headers(); }
    const InternetHeaders& RequestHeaders() const { return *requestHeaders_; }
    const std::string& Server() const { return server_; }
    const std::string& Path() const { return path_; }
    bool PageComplete() const { return pageComplete_; }

protected:
    void Event_Connected() override;
    void Event_DataAvailable() override;
    void Event_Error() override;

private:
    void InitializeRequestHeaders();
    void DoConnect(std::string_view url, std::string_view method);
    void ResetVariables();
    void WaitForPage();
    void SetError(std::int32_t code);
    void SendRequest(std::string_view method);
    void HandleNewData();
    void StopOnReadingError();
    void ProcessPage();

    platform::Ref<InternetHeaders> requestHeaders_;
    std::int32_t timeoutSeconds_ = 0;
    std::int32_t errorCode_ = 0;
    std::string httpAction_;
    // The URL's host part as written, with ":" and the port when given.
    std::string server_;
    std::string path_;
    std::string postContent_;
    std::string postContentType_;
    bool connectionValid_ = false;
    // The reply as read so far: status, headers and body.
    ReplyReader reply_;
    bool pageComplete_ = false;
};

}  // namespace halvoric
