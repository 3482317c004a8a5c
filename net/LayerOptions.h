#pragma once
// What the program (or a test) sets for the Internet calls as a whole.

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace net {

struct LayerOptions {
    std::chrono::milliseconds connectTimeout{30000};  // TCP connect plus the greeting
    std::chrono::seconds stallTimeout{60};            // no progress at all for this long
    // Name resolution seam: maps a host name that is not an address literal to an
    // address literal, or nullopt for "no such host" (12007). Unset: libcurl resolves.
    std::function<std::optional<std::string>(const std::string& host)> resolveHost;
};

}  // namespace net
