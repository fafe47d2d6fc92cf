#include "update/InternetHeaders.h"

#include <unordered_map>

#include "platform/Text.h"

namespace halvoric {

using platform::InStrB;
using platform::LeftB;
using platform::MidB;
using platform::Str;

namespace {

std::string NumberedName(std::string_view name, std::int32_t copy) {
    return std::string(name) + ":" + Str(copy);
}

// The key of the copy numbered `copy` of `name`: the name itself for the
// first (0), then "name:1", "name:2", ...
std::string CopyKey(std::string_view name, std::int32_t copy) {
    return copy == 0 ? std::string(name) : NumberedName(name, copy);
}

}  // namespace

void InternetHeaders::AppendHeader(std::string_view name, std::string value) {
    Headers.SetValue(CopyKey(name, NameCount(name)), std::move(value));
}

void InternetHeaders::Delete(std::string_view name) {
    const std::int32_t count = NameCount(name);
    if (Headers.HasKey(name)) Headers.Remove(name);
    for (std::int32_t copy = 1; copy < count; ++copy) {
        const std::string numbered = NumberedName(name, copy);
        if (Headers.HasKey(numbered)) Headers.Remove(numbered);
    }
}

std::int32_t InternetHeaders::NameCount(std::string_view name) const {
    if (!Headers.HasKey(name)) return 0;
    std::int32_t count = 1;
    while (Headers.HasKey(NumberedName(name, count))) ++count;
    return count;
}

void InternetHeaders::SetHeader(std::string_view name, std::string value) {
    const std::int32_t count = NameCount(name);
    for (std::int32_t copy = 1; copy < count; ++copy) Headers.Remove(NumberedName(name, copy));
    Headers.SetValue(name, std::move(value));
}

std::string InternetHeaders::DetermineEOLCharacter(std::string_view text) {
    if (InStrB(text, "\r\n") > 0) return "\r\n";
    if (InStrB(text, "\n") > 0) return "\n";
    if (InStrB(text, "\r") > 0) return "\r";
    return "\r\n";
}

std::string InternetHeaders::FormatHTTPHeaders() const {
    std::string result;
    for (std::int64_t index = 0; index < Headers.Count(); ++index) {
        const std::string& key = Headers.Key(index);
        const std::int64_t colon = InStrB(key, ":");
        const std::string name = colon > 0 ? LeftB(key, colon - 1) : key;
        if (index > 0) result += "\r\n";
        result += name + ": " + Headers.Value(key);
    }
    return result;
}

void InternetHeaders::ParseHeaders(std::string_view block) {
    const std::string eol = DetermineEOLCharacter(block);
    // A line end followed by a space or a tab continues the line before it.
    std::string joined = platform::ReplaceAllB(block, eol + " ", " ");
    joined = platform::ReplaceAllB(joined, eol + "\t", " ");

    // How many copies of each name the table holds, counted here rather than
    // by NameCount for every line, so that a block repeating one name many
    // times is read in time linear in its size.
    std::unordered_map<std::string, std::int32_t> copies;
    std::size_t start = 0;
    while (start <= joined.size()) {
        std::size_t end = joined.find(eol, start);
        if (end == std::string::npos) end = joined.size();
        const std::string_view line = std::string_view(joined).substr(start, end - start);
        const std::int64_t colon = InStrB(line, ":");
        if (colon > 0) {
            std::string value = MidB(line, colon + 1);
            const std::size_t first = value.find_first_not_of(' ');
            value.erase(0, first == std::string::npos ? value.size() : first);
            const std::string name = LeftB(line, colon - 1);
            auto [entry, isNew] = copies.try_emplace(name, 0);
            if (isNew) entry->second = NameCount(name);
            Headers.SetValue(CopyKey(name, entry->second++), std::move(value));
        }
        if (end == joined.size()) break;
        start = end + eol.size();
    }
}

std::string InternetHeaders::Value(std::string_view name) const {
    return Headers.HasKey(name) ? Headers.Value(name) : std::string();
}

}  // namespace halvoric
