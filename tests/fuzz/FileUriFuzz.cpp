// The file URIs that the session bus's Open hands in (PathFromFileUri) and
// those a launch sends (FileUri). For any input:
//
// - a path comes back only for a "file:" URI of the local host: "file://"
//   (any letter case), then no host or "localhost" (any letter case), then
//   an absolute path without query or fragment;
// - the path that comes back is the one the URI spells: segment by segment,
//   each the percent-decoding of the URI's segment, so no escape turns into a
//   "/" or a NUL, and every "%" starts a well-formed escape;
// - what comes back goes out again as a URI that comes back unchanged;
// - any byte string taken as a path (without NUL, which no path holds) goes
//   out and comes back unchanged, with or without "localhost" as host.
//
// Any difference aborts, and so becomes a finding.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileUri.h"

namespace {

void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "file URIs: %s\n", what);
    std::abort();
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t at = 0; at < a.size(); ++at) {
        if (Lower(a[at]) != Lower(b[at])) return false;
    }
    return true;
}

std::vector<std::string_view> Segments(std::string_view path) {
    std::vector<std::string_view> segments;
    std::size_t from = 0;
    for (;;) {
        const std::size_t slash = path.find('/', from);
        segments.push_back(path.substr(from, slash == std::string_view::npos ? slash : slash - from));
        if (slash == std::string_view::npos) return segments;
        from = slash + 1;
    }
}

int HexValue(char c) {
    const std::string_view digits = "0123456789abcdef";
    const std::size_t at = digits.find(Lower(c));
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

// The bytes that a URI segment spells; nullopt when a "%" starts no escape.
std::optional<std::string> Decoded(std::string_view segment) {
    std::string bytes;
    for (std::size_t at = 0; at < segment.size(); ++at) {
        if (segment[at] != '%') {
            bytes += segment[at];
            continue;
        }
        if (at + 2 >= segment.size() || HexValue(segment[at + 1]) < 0 || HexValue(segment[at + 2]) < 0) {
            return std::nullopt;
        }
        bytes += static_cast<char>(HexValue(segment[at + 1]) * 16 + HexValue(segment[at + 2]));
        at += 2;
    }
    return bytes;
}

void CheckAccepted(std::string_view uri, const std::string& path) {
    constexpr std::string_view scheme = "file://";
    Require(uri.size() >= scheme.size() && SameIgnoringCase(uri.substr(0, scheme.size()), scheme),
            "a path came back for a URI that is not a file URI");
    const std::string_view rest = uri.substr(scheme.size());
    const std::size_t slash = rest.find('/');
    Require(slash != std::string_view::npos, "a path came back for a URI without a path");
    const std::string_view host = rest.substr(0, slash);
    Require(host.empty() || SameIgnoringCase(host, "localhost"), "a path came back for another host");
    const std::string_view spelled = rest.substr(slash);
    Require(spelled.find_first_of("?#") == std::string_view::npos, "a path came back from a query or fragment");

    Require(!path.empty() && path.front() == '/', "the path is not absolute");
    Require(path.find('\0') == std::string::npos, "the path holds a NUL");
    const std::vector<std::string_view> spelledSegments = Segments(spelled);
    const std::vector<std::string_view> pathSegments = Segments(path);
    Require(spelledSegments.size() == pathSegments.size(), "the path has other segments than the URI spells");
    for (std::size_t index = 0; index < pathSegments.size(); ++index) {
        const std::optional<std::string> decoded = Decoded(spelledSegments[index]);
        Require(decoded.has_value(), "a path came back from a malformed escape");
        Require(*decoded == pathSegments[index], "a segment of the path is not the one the URI spells");
    }

    const std::string again = platform::FileUri(path);
    const std::optional<std::filesystem::path> back = platform::PathFromFileUri(again);
    Require(back && back->native() == path, "the path does not come back from its own URI");
}

void CheckRoundTrip(std::string_view bytes) {
    std::string path = "/";
    for (const char c : bytes) {
        if (c != '\0') path += c;
    }
    const std::string uri = platform::FileUri(path);
    Require(uri.compare(0, 7, "file://") == 0 &&
                uri.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~/%", 7) ==
                    std::string::npos,
            "a URI holds a byte that should have been escaped");
    for (const std::string& form : {uri, "file://localhost" + uri.substr(7), "FILE://LocalHost" + uri.substr(7)}) {
        const std::optional<std::filesystem::path> back = platform::PathFromFileUri(form);
        Require(back && back->native() == path, "a path does not come back from its URI");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (const std::optional<std::filesystem::path> path = platform::PathFromFileUri(input)) {
        CheckAccepted(input, path->native());
    }
    CheckRoundTrip(input);
    return 0;
}
