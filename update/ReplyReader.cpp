#include "update/ReplyReader.h"

#include <algorithm>

#include "platform/Text.h"

namespace halvoric {

HeaderBlockEnd::Found HeaderBlockEnd::Search(std::string_view unread) {
    if (unread.size() < searched_) Reset();  // not the bytes seen before: start over
    // A pattern of up to four bytes found now was not there before, so it
    // ends among the new bytes: its search starts three bytes back.
    const std::size_t from = searched_ > 3 ? searched_ - 3 : 0;
    const std::string_view fresh = unread.substr(searched_ > 0 ? searched_ - 1 : 0);
    sawCrLf_ = sawCrLf_ || fresh.find("\r\n") != std::string_view::npos;
    sawLf_ = sawLf_ || fresh.find('\n') != std::string_view::npos;
    sawCr_ = sawCr_ || fresh.find('\r') != std::string_view::npos;
    searched_ = unread.size();

    const auto at = [&](std::string_view pattern) -> std::int64_t {
        const std::size_t found = unread.find(pattern, from);
        return found == std::string_view::npos ? 0 : static_cast<std::int64_t>(found) + 1;
    };
    // The line end of the bytes so far, as DetermineEOLCharacter gives it.
    const std::string eol = sawCrLf_ ? "\r\n" : sawLf_ ? "\n" : sawCr_ ? "\r" : "\r\n";
    for (const std::string& candidate : {eol, std::string("\n"), std::string("\r\n"), std::string("\r")}) {
        if (const std::int64_t position = at(candidate + candidate)) return {position, candidate};
    }
    return {};
}

std::size_t ReplyReader::Arrive(std::string_view unread) {
    if (errorCode_ != 0) return unread.size();
    if (headers_) {
        Append(unread);
        return unread.size();
    }
    const HeaderBlockEnd::Found end = headerEnd_.Search(unread);
    if (end.position == 0) {
        // A block that grows past the body's limit without ending is taken as
        // body, which the limit then cuts.
        if (static_cast<std::int64_t>(unread.size()) <= kMaxBodyBytes) return 0;
        Append(unread);
        headerEnd_.Reset();
        return unread.size();
    }
    const auto blockLength = static_cast<std::size_t>(end.position - 1);
    ParseHeaders(unread.substr(0, blockLength));
    // The blank line is dropped; what follows it is the body's start.
    Append(unread.substr(std::min(unread.size(), blockLength + 2 * end.eol.size())));
    return unread.size();
}

void ReplyReader::End(std::string_view unread) {
    if (errorCode_ == 0) Append(unread);
}

void ReplyReader::ParseHeaders(std::string_view block) {
    const std::string statusLine = platform::NthField(block, InternetHeaders::DetermineEOLCharacter(block), 1);
    statusCode_ = platform::ValInt32(platform::NthField(statusLine, " ", 2));
    headers_ = platform::Make<InternetHeaders>();
    headers_->ParseHeaders(block);
}

void ReplyReader::Append(std::string_view bytes) {
    const std::size_t room = static_cast<std::size_t>(kMaxBodyBytes) - body_.size();
    if (bytes.size() <= room) {
        body_.append(bytes);
        return;
    }
    body_.append(bytes.substr(0, room));
    errorCode_ = kBodyTooLarge;
}

}  // namespace halvoric
