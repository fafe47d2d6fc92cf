#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Ref.h"
#include "update/InternetHeaders.h"

namespace halvoric {

// Finds the blank line that ends a reply's header block in the unread bytes
// of a connection, as they grow, searching each byte about once. The line end
// is the one InternetHeaders::DetermineEOLCharacter names for all bytes so
// far; when that one does not occur twice in a row, LF LF, then CR LF CR LF,
// then CR CR is looked for.
class HeaderBlockEnd {
public:
    struct Found {
        std::int64_t position = 0;  // 1-based start of the blank line; 0: none yet
        std::string eol;            // the line end that makes it up
    };

    // Looks in `unread`, which holds the bytes looked at before (unchanged)
    // followed by new ones.
    Found Search(std::string_view unread);
    // Starts over for another reply.
    void Reset() { *this = HeaderBlockEnd(); }

private:
    std::size_t searched_ = 0;  // bytes looked at so far
    bool sawCrLf_ = false;
    bool sawLf_ = false;
    bool sawCr_ = false;
};

// The reading of one reply, from the bytes of the connection as they arrive
// to the status code, the header table and the body. It does no input or
// output itself: the connection hands it what it holds unread and drops what
// the reader took.
//
// The header block stays unread until its blank line has come; then its first
// line gives the status code, the block gives the header table, the blank
// line is dropped, and every later byte goes to the body, which keeps at most
// kMaxBodyBytes bytes.
class ReplyReader {
public:
    // The most body bytes kept. A header block longer than this without its
    // blank line is taken as body, and so cut too.
    static constexpr std::int64_t kMaxBodyBytes = 1024 * 1024;
    // ErrorCode once the body grew past kMaxBodyBytes.
    static constexpr std::int32_t kBodyTooLarge = -2;

    // Bytes have arrived. `unread` is all that the connection holds unread:
    // what earlier calls left unread, unchanged, followed by the new bytes.
    // Returns how many of them, from the front, the reader took; the rest stay
    // unread for the next call. While the header block has not ended it takes
    // nothing, or all when the block has grown past kMaxBodyBytes; once it has
    // ended, all. After an error it takes all and keeps nothing.
    std::size_t Arrive(std::string_view unread);
    // The connection has ended: its unread bytes go to the body as they are,
    // whether or not the header block had ended.
    void End(std::string_view unread);
    // Starts over for another reply.
    void Reset() { *this = ReplyReader(); }

    // 0 until the header block has ended; then the number after the status
    // line's first space (0 when there is none).
    std::int32_t StatusCode() const { return statusCode_; }
    // nil until the header block has ended.
    const platform::Ref<InternetHeaders>& Headers() const { return headers_; }
    // The bytes after the blank line, exactly as received, up to kMaxBodyBytes.
    const std::string& Body() const { return body_; }
    // 0 while the reading goes well; kBodyTooLarge once more body bytes came
    // than kMaxBodyBytes, of which Body holds the first kMaxBodyBytes.
    std::int32_t ErrorCode() const { return errorCode_; }

private:
    void ParseHeaders(std::string_view block);
    void Append(std::string_view bytes);

    HeaderBlockEnd headerEnd_;
    platform::Ref<InternetHeaders> headers_;
    std::int32_t statusCode_ = 0;
    std::string body_;
    std::int32_t errorCode_ = 0;
};

}  // namespace halvoric
