#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/Exceptions.h"

namespace platform {

struct Color {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    bool operator==(const Color&) const = default;
};

constexpr Color RGB(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return Color{red, green, blue};
}

// One named design value of a window or a control.
using PropertyValue = std::variant<std::int32_t, bool, double, std::string, Color>;

struct Property {
    std::string name;
    PropertyValue value;
};

// The design values of one window or control, applied in the order given.
using PropertyList = std::vector<Property>;

// The value of a property as the type the property needs; a value of another
// type raises InvalidArgumentException.
template <class T>
const T& PropertyAs(const Property& property) {
    if (const T* value = std::get_if<T>(&property.value)) return *value;
    throw InvalidArgumentException("The design property " + property.name + " has a value of the wrong type.");
}

}  // namespace platform
