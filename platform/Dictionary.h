#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {

// A key-value table of texts that yields its keys in the order in which they
// were first stored. Storing a value under a key it already holds replaces the
// value in place, keeping the key's position.
class Dictionary {
public:
    std::int64_t Count() const { return static_cast<std::int64_t>(entries_.size()); }

    // The key at `index` (0 to Count() - 1); OutOfBoundsException otherwise.
    const std::string& Key(std::int64_t index) const;

    // The value stored under `key`; KeyNotFoundException when there is none.
    const std::string& Value(std::string_view key) const;
    void SetValue(std::string_view key, std::string value);

    bool HasKey(std::string_view key) const { return Find(key) != nullptr; }

    // Removes `key` and its value; KeyNotFoundException when there is none.
    void Remove(std::string_view key);

private:
    const std::pair<std::string, std::string>* Find(std::string_view key) const;

    std::vector<std::pair<std::string, std::string>> entries_;
    std::unordered_map<std::string, std::size_t> index_;  // key -> position in entries_
};

}  // namespace platform
