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

void RunTrust::trustHostKey(const std::string& name, const std::string& blob)
{
    std::lock_guard lock(m_mutex);
    m_hostKeys[name] = blob;
}

std::optional<std::string> RunTrust::hostKeyFor(const std::string& name) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_hostKeys.find(name);
    if (it == m_hostKeys.end())
        return std::nullopt;
    return it->second;
}

}  // namespace net
