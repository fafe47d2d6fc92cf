#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Ref.h"

// Byte-wise string operations. Framework strings are std::string holding raw
// bytes; positions are 1-based and lengths count bytes, never characters.
namespace platform {

// The platform's line end.
inline constexpr std::string_view EndOfLine = "\n";

// A one-byte string holding the given byte value.
std::string Chr(std::uint8_t byte);

// The length of the string in bytes.
std::int64_t LenB(std::string_view text);

// The first `count` bytes (all of them when the string is shorter).
std::string LeftB(std::string_view text, std::int64_t count);

// The last `count` bytes (all of them when the string is shorter).
std::string RightB(std::string_view text, std::int64_t count);

// `length` bytes from the 1-based position `start` (fewer at the end, none past it).
std::string MidB(std::string_view text, std::int64_t start, std::int64_t length);
// All bytes from the 1-based position `start` on.
std::string MidB(std::string_view text, std::int64_t start);

// The 1-based position of the first occurrence of `find` in `text` at or after
// the 1-based position `start`; 0 when there is none or `find` is empty.
std::int64_t InStrB(std::int64_t start, std::string_view text, std::string_view find);
inline std::int64_t InStrB(std::string_view text, std::string_view find) {
    return InStrB(1, text, find);
}

// The number of fields when `text` is cut at every occurrence of `delimiter`
// (found left to right, without overlap): occurrences + 1, or 0 for an empty text.
std::int64_t CountFields(std::string_view text, std::string_view delimiter);

// Field number `index` (1-based) of `text` cut at `delimiter`; empty when there is
// no such field.
std::string NthField(std::string_view text, std::string_view delimiter, std::int64_t index);

// `text` with every occurrence of `find` (left to right, without overlap)
// replaced by `replacement`.
std::string ReplaceAllB(std::string_view text, std::string_view find, std::string_view replacement);

// The decimal text of a number ("-12", "0", "120").
std::string Str(std::int64_t value);

// The hexadecimal text of a number, upper case, without leading zeros ("2B").
std::string Hex(std::uint64_t value);

// The two hexadecimal digits of a byte, upper case ("0A", "2B").
std::string HexByte(unsigned char byte);

// The number that `text` starts with, after leading blanks: an optional sign and
// decimal digits; 0 when it starts with no number.
std::int64_t Val(std::string_view text);

// Val held to the range of a signed 32-bit number: a larger number gives the
// largest such number, a smaller one the smallest.
std::int32_t ValInt32(std::string_view text);

// A text encoding named by its base, variant and format codes.
class TextEncoding {
public:
    TextEncoding(std::uint32_t base, std::uint32_t variant, std::uint32_t format)
        : base_(base), variant_(variant), format_(format) {}

    std::uint32_t Base() const { return base_; }
    std::uint32_t Variant() const { return variant_; }
    std::uint32_t Format() const { return format_; }
    // Unicode (base 0x0100), default variant, UTF-8 form (format 2).
    bool IsUTF8() const { return base_ == 0x0100 && variant_ == 0 && format_ == 2; }

private:
    std::uint32_t base_;
    std::uint32_t variant_;
    std::uint32_t format_;
};

Ref<TextEncoding> GetTextEncoding(std::uint32_t base, std::uint32_t variant, std::uint32_t format);

// Converts text from one encoding to another. The converter reads its input
// in the source encoding; bytes that do not form valid text there become
// U+FFFD REPLACEMENT CHARACTER in the output.
class TextConverter {
public:
    TextConverter(Ref<TextEncoding> from, Ref<TextEncoding> to)
        : from_(std::move(from)), to_(std::move(to)) {}

    std::string convert(std::string_view text) const;

private:
    Ref<TextEncoding> from_;
    Ref<TextEncoding> to_;
};

// A converter between the two encodings, or nil when the platform has none for
// that pair (only UTF-8 is supported).
Ref<TextConverter> GetTextConverter(const Ref<TextEncoding>& from, const Ref<TextEncoding>& to);

// `text` read as UTF-8 with every invalid sequence replaced by U+FFFD.
std::string ValidUTF8(std::string_view text);

}  // namespace platform
