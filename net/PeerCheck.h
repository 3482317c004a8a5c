#pragma once
// Watches the TLS handshakes of one secure connection (control and data): keeps
// the certificate when no trusted authority issued it, reports a certificate for
// another name as such even then, lets the key trusted for this run stand in for
// the authority (and for nothing else), and keeps why the last certificate was
// refused, since libcurl tells a data connection's refusal only as a garbled reply.
// Internal to net/.

#include <curl/curl.h>

#include <optional>
#include <string>

#include "net/ServerCertificate.h"

struct x509_store_ctx_st;  // OpenSSL's X509_STORE_CTX

namespace net {

class PeerCheck {
public:
    // host: the name or address typed, checked against the certificate; server: "host:port";
    // pinnedKey: the key trusted for this run ("sha256//..."), or empty.
    PeerCheck(std::string host, std::string server, std::string pinnedKey)
        : m_host(std::move(host)), m_server(std::move(server)), m_pinnedKey(std::move(pinnedKey))
    {
    }

    // For CURLOPT_SSL_CTX_FUNCTION, with this object as CURLOPT_SSL_CTX_DATA.
    static CURLcode install(CURL* handle, void* sslContext, void* self);

    // The certificate of the last handshake that failed only because no trusted
    // authority issued it (the name matches, the dates are current); nullopt otherwise.
    const std::optional<ServerCertificate>& untrusted() const { return m_untrusted; }
    // A handshake since clear() showed another key than the one trusted for this run.
    bool showedOtherKey() const { return m_otherKey; }
    // Why the last handshake's certificate was refused, or is refused by libcurl's own name
    // check after it (X509_V_ERR_*); nullopt: it was accepted.
    std::optional<long> refusal() const { return m_refusal; }
    void clear()
    {
        m_untrusted.reset();
        m_otherKey = false;
        m_refusal.reset();
    }

private:
    static int verify(x509_store_ctx_st* store, void* self);

    std::string m_host;
    std::string m_server;
    std::string m_pinnedKey;
    std::optional<ServerCertificate> m_untrusted;
    bool m_otherKey = false;
    std::optional<long> m_refusal;
};

}  // namespace net
