#include "platform/Dictionary.h"

#include "platform/Exceptions.h"

namespace platform {

const std::string& Dictionary::Key(std::int64_t index) const {
    if (index < 0 || index >= Count()) throw OutOfBoundsException("Dictionary key index out of range.");
    return entries_[static_cast<std::size_t>(index)].first;
}

const std::pair<std::string, std::string>* Dictionary::Find(std::string_view key) const {
    const auto found = index_.find(std::string(key));
    return found == index_.end() ? nullptr : &entries_[found->second];
}

const std::string& Dictionary::Value(std::string_view key) const {
    const auto* entry = Find(key);
    if (!entry) throw KeyNotFoundException("The dictionary holds no such key.");
    return entry->second;
}

void Dictionary::SetValue(std::string_view key, std::string value) {
    const auto [found, inserted] = index_.try_emplace(std::string(key), entries_.size());
    if (inserted) {
        entries_.emplace_back(std::string(key), std::move(value));
    } else {
        entries_[found->second].second = std::move(value);
    }
}

void Dictionary::Remove(std::string_view key) {
    const auto found = index_.find(std::string(key));
    if (found == index_.end()) throw KeyNotFoundException("The dictionary holds no such key.");
    const std::size_t position = found->second;
    index_.erase(found);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(position));
    for (auto& [name, at] : index_) {
        if (at > position) --at;
    }
}

}  // namespace platform
