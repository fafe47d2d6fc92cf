#include "update/ServiceHost.h"

#include "product/Product.h"

namespace halvoric {

namespace {

std::optional<std::string>& HostOverride() {
    static std::optional<std::string> host;
    return host;
}

}  // namespace

std::string ServiceHost() {
    return HostOverride().value_or(std::string(product::kServiceHost));
}

void SetServiceHostForTesting(std::optional<std::string> host) {
    HostOverride() = std::move(host);
}

}  // namespace halvoric
