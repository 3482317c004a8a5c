#include "net/ServerCertificate.h"

namespace net {

void RunTrust::trust(const ServerCertificate& certificate)
{
    std::lock_guard lock(m_mutex);
    m_pins[certificate.server] = certificate.publicKeyPin;
}

std::optional<std::string> RunTrust::pinFor(const std::string& server) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_pins.find(server);
    if (it == m_pins.end())
        return std::nullopt;
    return it->second;
}

}  // namespace net
