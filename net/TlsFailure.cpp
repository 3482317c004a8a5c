#include "net/TlsFailure.h"

#include "net/Result.h"

namespace net {
namespace {

// Certificate verification results of the TLS library (X509_V_ERR_*).
enum : long {
    kNoChainVerdict = 1,
    kCertNotYetValid = 9,
    kCertExpired = 10,
    kSelfSignedLeaf = 18,
    kSelfSignedInChain = 19,
    kHostnameMismatch = 62,
    kIpAddressMismatch = 64,
};

TlsFailure certificateFailure(long verify)
{
    // libcurl checks the name itself, after the chain passed: a name failure leaves
    // no chain error behind (0, or libcurl's "not verified yet" 1).
    if (verify == 0 || verify == kNoChainVerdict || verify == kHostnameMismatch || verify == kIpAddressMismatch)
        return TlsFailure{ERROR_INTERNET_SEC_CERT_CN_INVALID, 0, "The server's certificate is for another host name."};
    std::string text = "The server's certificate was not issued by a trusted authority.";
    if (verify == kCertExpired)
        text = "The server's certificate has expired.";
    else if (verify == kCertNotYetValid)
        text = "The server's certificate is not valid yet.";
    else if (verify == kSelfSignedLeaf || verify == kSelfSignedInChain)
        text = "The server's certificate is self-signed: it was not issued by a trusted authority.";
    return TlsFailure{ERROR_INTERNET_INVALID_CA, 0, text};
}

}  // namespace

std::optional<TlsFailure> describeCertificateRefusal(bool otherKey, std::optional<long> verifyResult)
{
    if (otherKey)
        return TlsFailure{ERROR_INTERNET_INVALID_CA, 0, kNotTheTrustedKey};
    if (verifyResult)
        return certificateFailure(*verifyResult);
    return std::nullopt;
}

std::optional<TlsFailure> describeTlsFailure(CURL* handle, CURLcode rc, const FtpReply* last,
                                             std::string_view detail)
{
    // The server's "protocol version" alert, or a version the TLS library will not speak.
    if ((rc == CURLE_SSL_CONNECT_ERROR || rc == CURLE_SSL_CIPHER) &&
        (detail.find("alert protocol version") != std::string_view::npos ||
         detail.find("unsupported protocol") != std::string_view::npos))
        return TlsFailure{ERROR_INTERNET_SECURITY_CHANNEL_ERROR, 0,
                          "The server accepts none of the TLS versions this program uses "
                          "(TLS 1.2, and TLS 1.3 for browsing and downloads).",
                          true};
    switch (rc) {
    case CURLE_USE_SSL_FAILED: {
        std::string text = "The server does not offer TLS (it refused AUTH TLS), so the login was not sent.";
        if (last)
            text += " The server said: " + last->text;
        return TlsFailure{ERROR_INTERNET_EXTENDED_ERROR, last ? static_cast<DWORD>(last->code) : 0, text};
    }
    case CURLE_PEER_FAILED_VERIFICATION: {
        long verify = 0;
        if (curl_easy_getinfo(handle, CURLINFO_SSL_VERIFYRESULT, &verify) != CURLE_OK)
            verify = -1;
        return certificateFailure(verify);
    }
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
        return TlsFailure{ERROR_INTERNET_INVALID_CA, 0,
                          "The trusted certificates could not be read (see SSL_CERT_FILE and SSL_CERT_DIR)."};
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return TlsFailure{ERROR_INTERNET_INVALID_CA, 0, kNotTheTrustedKey};
    case CURLE_SSL_ISSUER_ERROR:
        return TlsFailure{ERROR_INTERNET_INVALID_CA, 0,
                          "The server's certificate was not issued by a trusted authority."};
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_SHUTDOWN_FAILED:
        return TlsFailure{ERROR_INTERNET_SECURITY_CHANNEL_ERROR, 0,
                          "The secure (TLS) connection to the server could not be set up."};
    default:
        return std::nullopt;
    }
}

}  // namespace net
