#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// File URIs as the desktop hands documents over. Every byte of the path other
// than an unreserved ASCII character or "/" is percent-encoded, so that a file
// name that is not valid UTF-8 travels unchanged.
std::string FileUri(const std::filesystem::path& absolutePath);

// The local path that a file URI names, byte for byte. nullopt for another
// scheme, a host other than "localhost", a relative path, a query or fragment,
// a malformed escape, or an escaped NUL or "/".
std::optional<std::filesystem::path> PathFromFileUri(std::string_view uri);

}  // namespace platform
