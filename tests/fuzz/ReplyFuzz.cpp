// The reading of the service's reply (ReplyReader, as HTTPSecureSocket uses
// it), fed one reply as one read and again cut into the reads that the input
// chooses (ReplyFuzzInput.h), both checked against a plain reading written
// here from the rules themselves:
//
// - at every notification the end of the header block is looked for in all
//   unread bytes at once: the doubled line end that the bytes use, else LF LF,
//   else CR LF CR LF, else CR CR; a block that grows past the body's limit
//   without ending is taken as body;
// - the block's first line gives the status, its lines the headers, a repeated
//   name numbered ":1", ":2", ...; the bytes after the blank line, and at the
//   close every byte still unread, are the body, of which at most
//   kMaxBodyBytes are kept, and more than that fails the reading with
//   kBodyTooLarge;
// - a reply whose first blank line is CR LF CR LF, with no LF LF or CR CR
//   before it, reads the same however it is cut.
//
// Any difference aborts, and so becomes a finding.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/fuzz/ReplyFuzzInput.h"
#include "update/ReplyReader.h"

namespace halvoric::fuzz {
namespace {

constexpr std::size_t kCap = static_cast<std::size_t>(ReplyReader::kMaxBodyBytes);

void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "reply reading: %s\n", what);
    std::abort();
}

struct Reading {
    bool headersFound = false;
    std::int32_t status = 0;
    std::vector<std::pair<std::string, std::string>> headers;  // key, value, in order
    std::string body;
    std::int32_t errorCode = 0;

    bool operator==(const Reading&) const = default;

    // Empties the reading but keeps its memory: a body near the cap is
    // read four times a run, and fresh megabytes each time would make the
    // target slow.
    void Clear() {
        headersFound = false;
        status = 0;
        headers.clear();
        body.clear();
        errorCode = 0;
    }
};

// What the connection does with the reader, as HTTPSecureSocket does it: at
// every notification hand over all unread bytes and drop what was taken; a
// reading error closes the connection, so nothing more arrives; at the close
// the unread bytes go to the reader. The last piece may come with the close,
// without a notification of its own.
void ReadWithProduct(const std::vector<std::string_view>& pieces, bool lastArrivesWithClose, Reading& reading) {
    ReplyReader reader;
    static std::string unread;
    unread.clear();
    bool closed = false;
    for (std::size_t index = 0; index < pieces.size() && !closed; ++index) {
        unread.append(pieces[index]);
        if (lastArrivesWithClose && index + 1 == pieces.size()) break;
        const std::size_t taken = reader.Arrive(unread);
        Require(taken == 0 || taken == unread.size(), "the reader took part of the unread bytes");
        unread.erase(0, taken);
        closed = reader.ErrorCode() != 0;
    }
    if (!closed) reader.End(unread);

    reading.Clear();
    reading.headersFound = static_cast<bool>(reader.Headers());
    reading.status = reader.StatusCode();
    reading.body.assign(reader.Body());
    reading.errorCode = reader.ErrorCode();
    if (reader.Headers()) {
        const platform::Dictionary& table = reader.Headers()->Headers;
        for (std::int64_t index = 0; index < table.Count(); ++index) {
            const std::string& key = table.Key(index);
            reading.headers.emplace_back(key, table.Value(key));
        }
    }
}

// ---- the plain reading ------------------------------------------------------------

bool Holds(std::string_view text, std::string_view what) {
    return text.find(what) != std::string_view::npos;
}

std::string LineEndOf(std::string_view text) {
    if (Holds(text, "\r\n")) return "\r\n";
    if (Holds(text, "\n")) return "\n";
    if (Holds(text, "\r")) return "\r";
    return "\r\n";
}

struct BlankLine {
    std::size_t at = std::string_view::npos;  // 0-based; npos: none
    std::string eol;
};

BlankLine FindBlankLine(std::string_view unread) {
    const std::string named = LineEndOf(unread);
    for (const std::string& eol : {named, std::string("\n"), std::string("\r\n"), std::string("\r")}) {
        const std::size_t at = unread.find(eol + eol);
        if (at != std::string_view::npos) return {at, eol};
    }
    return {};
}

// The number that a status text starts with: blanks, a sign, decimal digits;
// 0 without digits; held to the range of a signed 32-bit number.
std::int32_t Number(std::string_view text) {
    text.remove_prefix(std::min(text.find_first_not_of(" \t"), text.size()));
    const bool negative = text.starts_with('-');
    if (text.starts_with('-') || text.starts_with('+')) text.remove_prefix(1);
    std::string_view digits = text.substr(0, std::min(text.find_first_not_of("0123456789"), text.size()));
    digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size()));
    // Eleven digits and more lie outside the range whatever they are.
    const std::int64_t magnitude = digits.size() > 10 ? std::int64_t{1} << 40 : std::atoll(std::string(digits).c_str());
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(negative ? -magnitude : magnitude,
                                                              std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

void ParseBlock(std::string_view block, Reading& reading) {
    reading.headersFound = true;
    const std::string eol = LineEndOf(block);

    // The status: the first line's text after its first space, up to the next.
    const std::string_view statusLine = block.substr(0, block.find(eol));
    const std::size_t space = statusLine.find(' ');
    if (space != std::string_view::npos) {
        const std::string_view rest = statusLine.substr(space + 1);
        reading.status = Number(rest.substr(0, rest.find(' ')));
    }

    // A line end followed by a space or a tab joins the two lines with one space.
    std::string joined;
    for (std::size_t at = 0; at < block.size();) {
        if (block.substr(at, eol.size()) == eol && at + eol.size() < block.size() &&
            (block[at + eol.size()] == ' ' || block[at + eol.size()] == '\t')) {
            joined += ' ';
            at += eol.size() + 1;
        } else {
            joined += block[at++];
        }
    }

    std::map<std::string, int> seen;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = joined.find(eol, start);
        const std::string line = joined.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos) {
            const std::string name = line.substr(0, colon);
            std::string value = line.substr(colon + 1);
            value.erase(0, std::min(value.find_first_not_of(' '), value.size()));
            const int copy = seen[name]++;
            reading.headers.emplace_back(copy == 0 ? name : name + ":" + std::to_string(copy), value);
        }
        if (end == std::string::npos) break;
        start = end + eol.size();
    }
}

void KeepInBody(std::string_view bytes, Reading& reading) {
    if (reading.errorCode != 0) return;
    if (reading.body.size() + bytes.size() <= kCap) {
        reading.body.append(bytes);
        return;
    }
    reading.body.append(bytes.substr(0, kCap - reading.body.size()));
    reading.errorCode = ReplyReader::kBodyTooLarge;
}

void ReadPlainly(const std::vector<std::string_view>& pieces, bool lastArrivesWithClose, Reading& reading) {
    reading.Clear();
    static std::string unread;
    unread.clear();
    for (std::size_t index = 0; index < pieces.size(); ++index) {
        unread.append(pieces[index]);
        if (lastArrivesWithClose && index + 1 == pieces.size()) break;
        if (reading.headersFound) {
            KeepInBody(unread, reading);
            unread.clear();
        } else if (const BlankLine blank = FindBlankLine(unread); blank.at != std::string_view::npos) {
            ParseBlock(std::string_view(unread).substr(0, blank.at), reading);
            KeepInBody(std::string_view(unread).substr(blank.at + 2 * blank.eol.size()), reading);
            unread.clear();
        } else if (unread.size() > kCap) {
            KeepInBody(unread, reading);
            unread.clear();
        }
        if (reading.errorCode != 0) return;
    }
    KeepInBody(unread, reading);
}

// Whether the reply's first blank line is CR LF CR LF and nothing before it
// could end the block sooner in a shorter read.
bool EndsAtItsFirstCrLfCrLf(std::string_view reply) {
    const std::size_t at = reply.find("\r\n\r\n");
    if (at == std::string_view::npos || at + 4 > kCap) return false;
    const std::string_view upTo = reply.substr(0, at + 4);
    return !Holds(upTo, "\n\n") && !Holds(upTo, "\r\r");
}

std::vector<std::string_view> Cut(std::string_view reply, std::vector<std::size_t> cuts) {
    std::sort(cuts.begin(), cuts.end());
    std::vector<std::string_view> pieces;
    std::size_t from = 0;
    for (const std::size_t cut : cuts) {
        pieces.push_back(reply.substr(from, cut - from));
        from = cut;
    }
    pieces.push_back(reply.substr(from));
    return pieces;
}

}  // namespace
}  // namespace halvoric::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace halvoric::fuzz;
    static Reading once, cut, plain;
    ReplyPlan plan = DecodeReplyPlan(std::string_view(reinterpret_cast<const char*>(data), size));
    static std::string reply;
    reply.assign(plan.reply);
    std::vector<std::size_t> cuts;
    for (const std::uint16_t cut : plan.cuts) cuts.push_back(cut % (reply.size() + 1));

    if (plan.filler) {
        ReadPlainly({reply}, false, plain);
        const std::size_t wanted = static_cast<std::size_t>(static_cast<std::int64_t>(kCap) + *plan.filler);
        cuts.push_back(reply.size());
        if (plain.body.size() < wanted) reply.append(wanted - plain.body.size(), 'x');
    }

    const std::vector<std::string_view> whole{reply};
    const std::vector<std::string_view> pieces = Cut(reply, cuts);

    ReadWithProduct(whole, false, once);
    ReadPlainly(whole, false, plain);
    Require(once == plain, "one read differs from the plain reading");
    ReadWithProduct(pieces, plan.lastArrivesWithClose, cut);
    ReadPlainly(pieces, plan.lastArrivesWithClose, plain);
    Require(cut == plain, "cut reads differ from the plain reading");

    for (const Reading* reading : {&once, &cut}) {
        Require(reading->body.size() <= kCap, "the body is longer than the cap");
        Require(reading->errorCode == 0 || reading->errorCode == halvoric::ReplyReader::kBodyTooLarge,
                "an error code that reading cannot give");
        Require(reading->errorCode == 0 || reading->body.size() == kCap,
                "a failed reading whose body is not cut at the cap");
    }
    if (!plan.lastArrivesWithClose && EndsAtItsFirstCrLfCrLf(reply)) {
        Require(cut == once, "a CR LF reply reads differently when cut");
    }
    return 0;
}
