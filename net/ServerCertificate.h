#pragma once
// A secure server's certificate as the user is shown it before trusting it, and
// the keys the user chose to trust until the program ends.

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace net {

struct ServerCertificate {
    std::string server;        // "host:port" as typed, the server it was presented by
    std::string subject;       // to whom it was issued, "CN=ftp.example.org,O=..."
    std::string issuer;        // by whom
    std::string validFrom;     // "2026-12-07 14:16:00 UTC"
    std::string validUntil;
    std::string fingerprint;   // SHA-256 of the whole certificate, "AB:CD:...", 32 bytes
    std::string publicKeyPin;  // "sha256//" + base64 of the SHA-256 of its public key (SPKI)
};

// The public keys trusted for this run, one per server; held in memory only.
class RunTrust {
public:
    void trust(const ServerCertificate& certificate);
    // The pin a connection to `server` ("host:port") must match; nullopt: the usual checks only.
    std::optional<std::string> pinFor(const std::string& server) const;
    // SSH host keys of hosts no known_hosts file knows, by their known_hosts name.
    void trustHostKey(const std::string& name, const std::string& blob);
    std::optional<std::string> hostKeyFor(const std::string& name) const;

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_pins;
    std::map<std::string, std::string> m_hostKeys;
};

}  // namespace net
