#pragma once

#include <QString>
#include <string_view>

// Framework strings handed to Qt.
namespace platform {

// The bytes read as UTF-8 (invalid sequences show as U+FFFD).
inline QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A button's or menu item's caption, shown as plain text: "&" is not a
// mnemonic marker.
inline QString PlainCaption(std::string_view text) {
    return FromUtf8(text).replace('&', QStringLiteral("&&"));
}

}  // namespace platform
