#pragma once

#include <concepts>
#include <cstddef>
#include <memory>
#include <utility>

#include "platform/Exceptions.h"

namespace platform {

// A shared, reference-counted handle to a framework object. An object lives
// while any Ref holds it. A Ref may be nil; using a nil Ref (->, *) raises
// NilObjectException instead of crashing.
template <class T>
class Ref {
public:
    Ref() noexcept = default;
    Ref(std::nullptr_t) noexcept {}
    Ref(std::shared_ptr<T> object) noexcept : object_(std::move(object)) {}

    template <class U>
        requires std::convertible_to<U*, T*>
    Ref(const Ref<U>& other) noexcept : object_(other.Shared()) {}

    T* operator->() const { return &Checked(); }
    T& operator*() const { return Checked(); }

    explicit operator bool() const noexcept { return object_ != nullptr; }
    bool IsNil() const noexcept { return object_ == nullptr; }

    T* Get() const noexcept { return object_.get(); }
    const std::shared_ptr<T>& Shared() const noexcept { return object_; }

    template <class U>
    bool operator==(const Ref<U>& other) const noexcept { return Get() == other.Get(); }
    bool operator==(std::nullptr_t) const noexcept { return object_ == nullptr; }

private:
    T& Checked() const {
        if (!object_) throw NilObjectException("A nil object was used.");
        return *object_;
    }

    std::shared_ptr<T> object_;
};

// The class-testing cast: the same object typed as T. Nil stays nil; an object
// of another class raises IllegalCastException.
template <class T, class U>
Ref<T> Cast(const Ref<U>& object) {
    if (!object) return nullptr;
    auto cast = std::dynamic_pointer_cast<T>(object.Shared());
    if (!cast) throw IllegalCastException("An object was cast to a class it does not belong to.");
    return Ref<T>(std::move(cast));
}

// Creates a plain (non-window) framework object.
template <class T, class... Args>
Ref<T> Make(Args&&... args) {
    return Ref<T>(std::make_shared<T>(std::forward<Args>(args)...));
}

}  // namespace platform
