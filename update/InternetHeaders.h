#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Dictionary.h"

namespace halvoric {

// A table of HTTP header lines: header name to value, in the order in which
// the names were first stored. A name that a parsed reply carries more than
// once is stored the second time as the name followed by ":1", the third time
// with ":2", and so on.
class InternetHeaders {
public:
    InternetHeaders() = default;
    virtual ~InternetHeaders() = default;

    // Stores a header of a parsed reply, numbering a repeated name.
    virtual void AppendHeader(std::string_view name, std::string value);
    // Removes `name` together with its numbered copies.
    virtual void Delete(std::string_view name);
    // How many copies of `name` are stored.
    virtual std::int32_t NameCount(std::string_view name) const;
    // Stores `value` under `name`, replacing an earlier value in place (an
    // empty value is stored, not removed) and dropping numbered copies.
    virtual void SetHeader(std::string_view name, std::string value);
    // The line end that `text` uses: CR LF when it holds CR LF, else LF when
    // it holds LF, else CR when it holds CR, else CR LF.
    static std::string DetermineEOLCharacter(std::string_view text);
    // The table as header lines (name, ": ", value) joined by CR LF, with no
    // line end after the last one.
    virtual std::string FormatHTTPHeaders() const;
    // Reads the headers of a reply's header block: continuation lines are
    // joined, and every line holding ":" gives a header.
    virtual void ParseHeaders(std::string_view block);

    // The value stored under `name` exactly as written (its first copy);
    // empty when there is none.
    std::string Value(std::string_view name) const;

    // The table itself.
    platform::Dictionary Headers;
};

}  // namespace halvoric
