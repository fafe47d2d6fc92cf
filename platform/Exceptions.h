#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace platform {

// The base of every exception the framework raises. Handlers catch this class
// to take in all run-time errors; Type() names the concrete class for messages.
class RuntimeException : public std::runtime_error {
public:
    explicit RuntimeException(const std::string& message = {}) : std::runtime_error(message) {}
    virtual std::string_view Type() const noexcept { return "RuntimeException"; }
};

#define PLATFORM_EXCEPTION(Name)                                                     \
    class Name : public RuntimeException {                                           \
    public:                                                                          \
        explicit Name(const std::string& message = {}) : RuntimeException(message) {} \
        std::string_view Type() const noexcept override { return #Name; }           \
    }

// A missing (nil) object was used.
PLATFORM_EXCEPTION(NilObjectException);
// An object was cast to a class it does not belong to.
PLATFORM_EXCEPTION(IllegalCastException);
// A dictionary was asked for a key it does not hold.
PLATFORM_EXCEPTION(KeyNotFoundException);
// An index lay outside the valid range.
PLATFORM_EXCEPTION(OutOfBoundsException);
// A file or stream operation failed.
PLATFORM_EXCEPTION(IOException);
// A design property list named a property the object does not have.
PLATFORM_EXCEPTION(InvalidArgumentException);

#undef PLATFORM_EXCEPTION

}  // namespace platform
