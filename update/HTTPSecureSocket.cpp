#include "update/HTTPSecureSocket.h"

#include <array>
#include <cstdint>
#include <limits>

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

std::int32_t ClampToInt32(std::int64_t value) {
    if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

// Ticks plus the time-out, as the signed 32-bit clock counts (wrapping).
std::int32_t DeadlineAfter(std::int32_t seconds) {
    const auto span = static_cast<std::uint32_t>(static_cast<std::int64_t>(seconds) * 60);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(platform::Ticks()) + span);
}

}  // namespace

HTTPSecureSocket::HTTPSecureSocket() {
    InitializeRequestHeaders();
    DefaultPort = 443;
    SetSecure(true);
}

void HTTPSecureSocket::InitializeRequestHeaders() {
    requestHeaders = platform::Make<InternetHeaders>();
    requestHeaders->SetHeader("Accept", "*/*");
    requestHeaders->SetHeader("Accept-Language", "en");
}

void HTTPSecureSocket::SetFormData(const platform::Ref<platform::Dictionary>& form) {
    if (form) {
        _postContent = EncodeFormData(*form);
        _postContentType = "application/x-www-form-urlencoded";
    } else {
        _postContent.clear();
        _postContentType.clear();
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
    _server = slash > 0 ? LeftB(rest, slash - 1) : rest;
    _path = slash > 0 ? MidB(rest, slash) : std::string();
    if (_path.empty()) _path = "/";
    _urlPort = InStrB(_server, ":") > 0 ? ClampToInt32(platform::Val(NthField(_server, ":", 2))) : 0;
    if (_urlPort == 0) _urlPort = DefaultPort;
    SetPort(_urlPort);
    SetAddress(NthField(_server, ":", 1));
}

std::string HTTPSecureSocket::Post(std::string_view url, std::int32_t timeout) {
    timeoutSeconds = timeout;
    synchronous = true;
    DoConnect(url, "POST");
    WaitForPage();
    return _pageBuffer;
}

void HTTPSecureSocket::DoConnect(std::string_view url, std::string_view method) {
    mErrorCode = 0;
    ParseURL(url);
    _processingURL = std::string(url);
    _httpAction = std::string(method);
    // Clear the socket of any earlier use.
    ReadAll();
    Close();
    Purge();
    Poll();
    ResetVariables();
    Connect();
}

void HTTPSecureSocket::ResetVariables() {
    _pageBuffer.clear();
    _pageHeaders = nullptr;
    _httpStatusCode = 0;
    _pageComplete = false;
}

void HTTPSecureSocket::WaitForPage() {
    _pageComplete = false;
    mErrorCode = 0;
    std::int32_t deadline = DeadlineAfter(timeoutSeconds);
    bool lastConnectionState = false;
    std::int64_t lastBodyLength = 0;
    while (!_pageComplete && mErrorCode == 0) {
        Poll();
        if (_connectionValid != lastConnectionState) {
            lastConnectionState = _connectionValid;
            deadline = DeadlineAfter(timeoutSeconds);
        } else if (LenB(_pageBuffer) != lastBodyLength) {
            lastBodyLength = LenB(_pageBuffer);
            deadline = DeadlineAfter(timeoutSeconds);
        }
        if (timeoutSeconds > 0 && platform::Ticks() > deadline) {
            Close();
            SetError(kTimedOut);
            break;
        }
    }
}

void HTTPSecureSocket::SetError(std::int32_t code) {
    mErrorCode = code;
}

void HTTPSecureSocket::Event_Connected() {
    _connectionValid = true;
    SendRequest(_httpAction);
}

void HTTPSecureSocket::SendRequest(std::string_view method) {
    requestHeaders->SetHeader("Host", _server);
    requestHeaders->SetHeader("Content-type", _postContentType);
    requestHeaders->SetHeader("Content-length", Str(LenB(_postContent)));
    std::string message = std::string(method) + " " + _path + " HTTP/1.0\r\n";
    message += requestHeaders->FormatHTTPHeaders();
    message += "\r\n\r\n";
    message += _postContent;
    Write(message);
}

void HTTPSecureSocket::Event_DataAvailable() {
    HandleNewData();
}

void HTTPSecureSocket::HandleNewData() {
    if (threadProtection) return;
    threadProtection = true;
    struct Release {
        bool& flag;
        ~Release() { flag = false; }
    } release{threadProtection};

    if (_pageHeaders) {
        ProcessData(ReadAll());
        return;
    }

    const std::string unread = Lookahead();
    std::string eol = DetermineEOLCharacter(unread);
    std::int64_t position = InStrB(unread, eol + eol);
    if (position == 0) {
        eol = "\n";
        position = InStrB(unread, "\n\n");
    }
    if (position == 0) {
        eol = "\r\n";
        position = InStrB(unread, "\r\n\r\n");
    }
    if (position == 0) {
        eol = "\r";
        position = InStrB(unread, "\r\r");
    }
    if (position == 0) {
        // The header block has not ended yet; its bytes stay unread. A block
        // that grows past the body's limit without ending is taken as body,
        // which the limit then cuts.
        if (LenB(unread) > kMaxBodyBytes) ProcessData(ReadAll());
        return;
    }
    ParseHeaders(Read(position - 1));
    Read(2 * LenB(eol));
    ProcessData(ReadAll());
}

std::string HTTPSecureSocket::DetermineEOLCharacter(std::string_view text) {
    return InternetHeaders::DetermineEOLCharacter(text);
}

void HTTPSecureSocket::ParseHeaders(std::string_view block) {
    const std::string statusLine = NthField(block, DetermineEOLCharacter(block), 1);
    _httpStatusCode = ClampToInt32(platform::Val(NthField(statusLine, " ", 2)));
    _pageHeaders = platform::Make<InternetHeaders>();
    _pageHeaders->ParseHeaders(block);
}

void HTTPSecureSocket::ProcessData(std::string_view bytes) {
    const std::int64_t room = kMaxBodyBytes - LenB(_pageBuffer);
    if (LenB(bytes) <= room) {
        _pageBuffer.append(bytes);
        return;
    }
    // Past the limit: keep what fits, end the connection and report it.
    _pageBuffer.append(bytes.substr(0, static_cast<std::size_t>(room > 0 ? room : 0)));
    Close();
    _connectionValid = false;
    SetError(kBodyTooLarge);
}

void HTTPSecureSocket::ProcessPage() {
    _pageComplete = true;
}

void HTTPSecureSocket::Event_Error() {
    const bool wasValid = _connectionValid;
    _connectionValid = false;
    if (wasValid) {
        if (!Lookahead().empty()) ProcessData(ReadAll());
        ProcessPage();
    } else {
        SetError(LastErrorCode());
    }
}

}  // namespace halvoric
