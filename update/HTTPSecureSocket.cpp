#include "update/HTTPSecureSocket.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>

#include "platform/Text.h"
#include "platform/Ticks.h"

namespace halvoric {

using platform::InStrB;
using platform::LeftB;
using platform::LenB;
using platform::MidB;
using platform::NthField;
using platform::Str;

namespace {

// The characters escaped by the form encoding, in the order in which they are
// replaced: "%" first, so that the "%" of a later escape is never escaped again.
constexpr std::array<unsigned char, 27> kEscapedCharacters = {
    '%', '&', '=', ',', '/', '\\', ']', '[', '{', '}', '`', '~', '-', '_',
    '(', ')', '*', '^', '$', '#', '!', '+', ';', '<', '>', '\r', '\n'};

// Ticks plus the time-out, as the signed 32-bit clock counts (wrapping).
std::int32_t DeadlineAfter(const platform::Clock& clock, std::int32_t seconds) {
    const auto span = static_cast<std::uint32_t>(static_cast<std::int64_t>(seconds) * 60);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(clock.Ticks()) + span);
}

}  // namespace

HTTPSecureSocket::HTTPSecureSocket() {
    InitializeRequestHeaders();
    DefaultPort = 443;
    SetSecure(true);
}

void HTTPSecureSocket::InitializeRequestHeaders() {
    requestHeaders_ = platform::Make<InternetHeaders>();
    requestHeaders_->SetHeader("Accept", "*/*");
    requestHeaders_->SetHeader("Accept-Language", "en");
}

void HTTPSecureSocket::SetFormData(const platform::Ref<platform::Dictionary>& form) {
    if (form) {
        postContent_ = EncodeFormData(*form);
        postContentType_ = "application/x-www-form-urlencoded";
    } else {
        postContent_.clear();
        postContentType_.clear();
    }
}

std::string HTTPSecureSocket::EncodeFormData(const platform::Dictionary& form) const {
    std::string result;
    for (std::int64_t index = 0; index < form.Count(); ++index) {
        const std::string& key = form.Key(index);
        // Keys are the program's own field names and go out as written (the
        // service reads "app_id", not its escaped form); values are encoded.
        result += "&" + key + "=" + EncodeURLString(form.Value(key));
    }
    return MidB(result, 2);
}

std::string HTTPSecureSocket::EncodeURLString(std::string_view text) {
    std::string result(text);
    for (const unsigned char character : kEscapedCharacters) {
        const std::string escape = "%" + platform::RightB("00" + platform::Hex(character), 2);
        result = platform::ReplaceAllB(result, platform::Chr(character), escape);
    }
    return platform::ReplaceAllB(result, " ", "+");
}

void HTTPSecureSocket::ParseURL(std::string_view url) {
    const std::int64_t scheme = InStrB(url, "://");
    const std::string rest = scheme > 0 ? MidB(url, scheme + 3) : std::string(url);
    const std::int64_t slash = InStrB(rest, "/");
    server_ = slash > 0 ? LeftB(rest, slash - 1) : rest;
    path_ = slash > 0 ? MidB(rest, slash) : std::string();
    if (path_.empty()) path_ = "/";
    std::int32_t port = InStrB(server_, ":") > 0 ? platform::ValInt32(NthField(server_, ":", 2)) : 0;
    if (port == 0) port = DefaultPort;
    SetPort(port);
    SetAddress(NthField(server_, ":", 1));
}

std::string HTTPSecureSocket::Post(std::string_view url, std::int32_t timeoutSeconds) {
    timeoutSeconds_ = timeoutSeconds;
    DoConnect(url, "POST");
    WaitForPage();
    return reply_.Body();
}

void HTTPSecureSocket::DoConnect(std::string_view url, std::string_view method) {
    errorCode_ = 0;
    ParseURL(url);
    httpAction_ = std::string(method);
    // Clear the socket of any earlier use.
    ReadAll();
    Close();
    Purge();
    Poll();
    ResetVariables();
    Connect();
}

void HTTPSecureSocket::ResetVariables() {
    reply_.Reset();
    pageComplete_ = false;
}

void HTTPSecureSocket::WaitForPage() {
    pageComplete_ = false;
    errorCode_ = 0;
    // The socket's clock, held for the whole wait.
    const std::shared_ptr<const platform::Clock> clock = GetClock();
    std::int32_t deadline = DeadlineAfter(*clock, timeoutSeconds_);
    // However steadily bytes come, the request ends at the overall limit,
    // measured on the clock that Ticks counts.
    const auto overallEnd = clock->TimeSinceStart() +
                            std::chrono::seconds(std::int64_t{kOverallLimitFactor} * std::max(timeoutSeconds_, 0));
    bool lastConnectionState = false;
    std::int64_t lastBodyLength = 0;
    while (!pageComplete_ && errorCode_ == 0) {
        Poll();
        if (connectionValid_ != lastConnectionState) {
            lastConnectionState = connectionValid_;
            deadline = DeadlineAfter(*clock, timeoutSeconds_);
        } else if (LenB(reply_.Body()) != lastBodyLength) {
            lastBodyLength = LenB(reply_.Body());
            deadline = DeadlineAfter(*clock, timeoutSeconds_);
        }
        if (timeoutSeconds_ > 0 && (clock->Ticks() > deadline || clock->TimeSinceStart() >= overallEnd)) {
            Close();
            SetError(kTimedOut);
            break;
        }
    }
}

void HTTPSecureSocket::SetError(std::int32_t code) {
    errorCode_ = code;
}

void HTTPSecureSocket::Event_Connected() {
    connectionValid_ = true;
    SendRequest(httpAction_);
}

void HTTPSecureSocket::SendRequest(std::string_view method) {
    requestHeaders_->SetHeader("Host", server_);
    requestHeaders_->SetHeader("Content-type", postContentType_);
    requestHeaders_->SetHeader("Content-length", Str(LenB(postContent_)));
    std::string message = std::string(method) + " " + path_ + " HTTP/1.0\r\n";
    message += requestHeaders_->FormatHTTPHeaders();
    message += "\r\n\r\n";
    message += postContent_;
    Write(message);
}

void HTTPSecureSocket::Event_DataAvailable() {
    HandleNewData();
}

void HTTPSecureSocket::HandleNewData() {
    // The header block stays unread in the socket until its blank line has
    // come; the reader takes the bytes from then on.
    const std::size_t taken = reply_.Arrive(Lookahead());
    if (taken > 0) Read(static_cast<std::int64_t>(taken));
    StopOnReadingError();
}

std::string HTTPSecureSocket::DetermineEOLCharacter(std::string_view text) {
    return InternetHeaders::DetermineEOLCharacter(text);
}

// A reply that cannot be read on (a body past its limit, of which the reader
// keeps what fits) ends the connection, and the request fails with the
// reader's code.
void HTTPSecureSocket::StopOnReadingError() {
    if (reply_.ErrorCode() == 0) return;
    Close();
    connectionValid_ = false;
    SetError(reply_.ErrorCode());
}

void HTTPSecureSocket::ProcessPage() {
    pageComplete_ = true;
}

void HTTPSecureSocket::Event_Error() {
    const bool wasValid = connectionValid_;
    connectionValid_ = false;
    if (wasValid) {
        // Unread bytes go to the body, whether or not the header block ended.
        if (!Lookahead().empty()) reply_.End(ReadAll());
        StopOnReadingError();
        ProcessPage();
    } else {
        SetError(LastErrorCode());
    }
}

}  // namespace halvoric
