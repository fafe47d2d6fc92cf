#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Dictionary.h"
#include "platform/Ref.h"
#include "platform/SSLSocket.h"
#include "update/InternetHeaders.h"

namespace halvoric {

// An HTTP/1.0 form-post client over the TLS socket: one POST per connection,
// a form body in the program's own encoding, a synchronous wait with an
// inactivity time-out, and the reply body read until the server closes the
// connection. Used in this order: construct, SetFormData, Post, Close; one
// object serves one request.
class HTTPSecureSocket : public platform::SSLSocket {
public:
    // mErrorCode after the time-out ran out.
    static constexpr std::int32_t kTimedOut = -1;
    // mErrorCode after the body grew past kMaxBodyBytes: the connection was
    // closed and Post returned the first kMaxBodyBytes bytes.
    static constexpr std::int32_t kBodyTooLarge = -2;
    // The most reply-body bytes kept.
    static constexpr std::int64_t kMaxBodyBytes = 1024 * 1024;

    HTTPSecureSocket();

    // The form fields to post: the body becomes their encoding and the content
    // type "application/x-www-form-urlencoded". A nil form leaves both empty.
    void SetFormData(const platform::Ref<platform::Dictionary>& form);

    // The pairs of the form as key, "=" and encoded value, joined by "&", in
    // the dictionary's key order. Keys are field names and are sent as written.
    std::string EncodeFormData(const platform::Dictionary& form) const;

    // Posts the form to `url` and waits for the reply. Returns the reply body
    // (the bytes after the header block's blank line, exactly as received)
    // once the server has closed the connection, the connection failed, or
    // `timeoutSeconds` passed with no progress (0 or less: no time-out).
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
    std::int32_t ErrorCode() const { return mErrorCode; }
    std::int32_t HTTPStatusCode() const { return _httpStatusCode; }
    // The reply's headers; nil until the reply's header block was complete.
    platform::Ref<InternetHeaders> PageHeaders() const { return _pageHeaders; }
    const InternetHeaders& RequestHeaders() const { return *requestHeaders; }
    const std::string& Server() const { return _server; }
    const std::string& Path() const { return _path; }
    bool PageComplete() const { return _pageComplete; }

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
    void ParseHeaders(std::string_view block);
    void ProcessData(std::string_view bytes);
    void ProcessPage();

    platform::Ref<InternetHeaders> requestHeaders;
    bool synchronous = false;
    std::int32_t timeoutSeconds = 0;
    std::int32_t mErrorCode = 0;
    std::string _httpAction;
    std::string _processingURL;
    std::string _server;
    std::string _path;
    std::int32_t _urlPort = 0;
    std::string _postContent;
    std::string _postContentType;
    bool _connectionValid = false;
    platform::Ref<InternetHeaders> _pageHeaders;
    std::int32_t _httpStatusCode = 0;
    std::string _pageBuffer;
    bool _pageComplete = false;
    bool threadProtection = false;
};

}  // namespace halvoric
