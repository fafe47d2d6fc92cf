#pragma once

#include <optional>
#include <string>

namespace halvoric {

// The host of the maker's update and launch-report service, as fixed when
// Halvoric was built (a host name, or host:port).
std::string ServiceHost();

// Makes ServiceHost() answer `host` instead, so that tests reach a server
// they start themselves; nullopt returns to the built-in host.
void SetServiceHostForTesting(std::optional<std::string> host);

}  // namespace halvoric
