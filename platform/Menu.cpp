#include "platform/Menu.h"

namespace platform {

void MenuItem::Append(const Ref<MenuItem>& item) {
    if (!item) throw NilObjectException("A nil menu item cannot be appended.");
    children_.push_back(item);
}

Ref<MenuItem> MenuItem::Item(std::int32_t index) const {
    if (index < 0 || index >= Count()) throw OutOfBoundsException("No menu item at that index.");
    return children_[static_cast<std::size_t>(index)];
}

Ref<MenuItem> MenuItem::Child(std::string_view name) const {
    for (const auto& child : children_) {
        if (child->Name() == name) return child;
    }
    return nullptr;
}

Ref<MenuItem> MenuItem::Lookup(std::string_view name) const {
    for (const auto& child : children_) {
        if (child->Name() == name) return child;
        if (auto found = child->Lookup(name)) return found;
    }
    return nullptr;
}

}  // namespace platform
