// The file URIs of the session-bus hand-over (ApplicationBus), apart from the
// bus itself so that they build and can be tried without D-Bus.

#include <algorithm>

#include "platform/FileUri.h"
#include "platform/Text.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

bool Unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

}  // namespace

std::string FileUri(const fs::path& absolutePath) {
    std::string uri = "file://";
    for (const unsigned char c : absolutePath.native()) {
        if (Unreserved(c) || c == '/') {
            uri += static_cast<char>(c);
        } else {
            uri += '%' + HexByte(c);
        }
    }
    return uri;
}

std::optional<fs::path> PathFromFileUri(std::string_view uri) {
    constexpr std::string_view scheme = "file://";
    if (uri.size() < scheme.size() || !EqualsIgnoringAsciiCase(uri.substr(0, scheme.size()), scheme)) {
        return std::nullopt;
    }
    const std::string_view rest = uri.substr(scheme.size());
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const std::string_view host = rest.substr(0, slash);
    if (!host.empty() && !EqualsIgnoringAsciiCase(host, "localhost")) return std::nullopt;
    const std::string_view encoded = rest.substr(slash);
    if (encoded.find_first_of(std::string_view("?#\0", 3)) != std::string_view::npos) return std::nullopt;

    std::string path;
    path.reserve(encoded.size());
    for (std::size_t index = 0; index < encoded.size(); ++index) {
        if (encoded[index] != '%') {
            path += encoded[index];
            continue;
        }
        if (encoded.size() - index < 3) return std::nullopt;
        const int high = HexDigit(encoded[index + 1]);
        const int low = HexDigit(encoded[index + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        // No file name holds a NUL or a "/": an escaped one names no file,
        // and decoding a "/" would name another path than the URI spells.
        const char byte = static_cast<char>(high * 16 + low);
        if (byte == '\0' || byte == '/') return std::nullopt;
        path += byte;
        index += 2;
    }
    return fs::path(path);
}

}  // namespace platform
