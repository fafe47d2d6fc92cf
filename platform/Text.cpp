#include "platform/Text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>

namespace platform {

namespace {

std::size_t ClampCount(std::int64_t count) {
    return count <= 0 ? 0 : static_cast<std::size_t>(count);
}

}  // namespace

std::string Chr(std::uint8_t byte) {
    return std::string(1, static_cast<char>(byte));
}

std::int64_t LenB(std::string_view text) {
    return static_cast<std::int64_t>(text.size());
}

std::string LeftB(std::string_view text, std::int64_t count) {
    return std::string(text.substr(0, ClampCount(count)));
}

std::string RightB(std::string_view text, std::int64_t count) {
    const std::size_t n = std::min(ClampCount(count), text.size());
    return std::string(text.substr(text.size() - n));
}

std::string MidB(std::string_view text, std::int64_t start, std::int64_t length) {
    if (start < 1 || static_cast<std::uint64_t>(start) > text.size()) return {};
    return std::string(text.substr(static_cast<std::size_t>(start - 1), ClampCount(length)));
}

std::string MidB(std::string_view text, std::int64_t start) {
    return MidB(text, start, LenB(text));
}

std::int64_t InStrB(std::int64_t start, std::string_view text, std::string_view find) {
    if (find.empty() || start < 1 || static_cast<std::uint64_t>(start) > text.size()) return 0;
    const std::size_t at = text.find(find, static_cast<std::size_t>(start - 1));
    return at == std::string_view::npos ? 0 : static_cast<std::int64_t>(at) + 1;
}

std::int64_t CountFields(std::string_view text, std::string_view delimiter) {
    if (text.empty()) return 0;
    if (delimiter.empty()) return 1;
    std::int64_t fields = 1;
    for (std::size_t at = text.find(delimiter); at != std::string_view::npos;
         at = text.find(delimiter, at + delimiter.size())) {
        ++fields;
    }
    return fields;
}

std::string NthField(std::string_view text, std::string_view delimiter, std::int64_t index) {
    if (text.empty() || index < 1) return {};
    if (delimiter.empty()) return index == 1 ? std::string(text) : std::string();
    std::size_t begin = 0;
    for (std::int64_t field = 1; field < index; ++field) {
        const std::size_t at = text.find(delimiter, begin);
        if (at == std::string_view::npos) return {};
        begin = at + delimiter.size();
    }
    const std::size_t end = text.find(delimiter, begin);
    return std::string(text.substr(begin, end == std::string_view::npos ? text.npos : end - begin));
}

std::string ReplaceAllB(std::string_view text, std::string_view find, std::string_view replacement) {
    if (find.empty()) return std::string(text);
    std::string result;
    result.reserve(text.size());
    std::size_t begin = 0;
    for (std::size_t at = text.find(find); at != std::string_view::npos; at = text.find(find, begin)) {
        result.append(text.substr(begin, at - begin)).append(replacement);
        begin = at + find.size();
    }
    result.append(text.substr(begin));
    return result;
}

std::string Str(std::int64_t value) {
    return std::to_string(value);
}

std::string Hex(std::uint64_t value) {
    char digits[17];
    const auto [end, error] = std::to_chars(std::begin(digits), std::end(digits), value, 16);
    std::string text(digits, end);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string HexByte(unsigned char byte) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[byte >> 4], kDigits[byte & 0x0F]};
}

std::int64_t Val(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    const bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
    std::int64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        const int digit = text[at] - '0';
        if (value > (INT64_MAX - digit) / 10) return negative ? INT64_MIN : INT64_MAX;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

std::int32_t ValInt32(std::string_view text) {
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(Val(text), std::numeric_limits<std::int32_t>::min(),
                                 std::numeric_limits<std::int32_t>::max()));
}

Ref<TextEncoding> GetTextEncoding(std::uint32_t base, std::uint32_t variant, std::uint32_t format) {
    return Make<TextEncoding>(base, variant, format);
}

Ref<TextConverter> GetTextConverter(const Ref<TextEncoding>& from, const Ref<TextEncoding>& to) {
    if (!from || !to || !from->IsUTF8() || !to->IsUTF8()) return nullptr;
    return Make<TextConverter>(from, to);
}

std::string TextConverter::convert(std::string_view text) const {
    return ValidUTF8(text);
}

std::string ValidUTF8(std::string_view text) {
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(text.size());
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = byte(i);
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;  // range of the first continuation byte
        if (lead < 0x80) {
            length = 1;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;   // no overlong forms
            if (lead == 0xED) high = 0x9F;  // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;   // no overlong forms
            if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
        }
        if (length == 0) {
            out.append(kReplacement);
            ++i;
            continue;
        }
        // Take the longest valid prefix; a broken sequence becomes one U+FFFD.
        std::size_t valid = 1;
        for (; valid < length && i + valid < text.size(); ++valid) {
            const unsigned char c = byte(i + valid);
            const unsigned char lo = valid == 1 ? low : 0x80;
            const unsigned char hi = valid == 1 ? high : 0xBF;
            if (c < lo || c > hi) break;
        }
        if (valid == length) {
            out.append(text.substr(i, length));
        } else {
            out.append(kReplacement);
        }
        i += valid;
    }
    return out;
}

}  // namespace platform
