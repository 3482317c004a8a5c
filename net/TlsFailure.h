#pragma once
// Failures of the TLS handshake in words for the user; the words are kept as the
// last response text.

#include <curl/curl.h>

#include <optional>
#include <string>
#include <string_view>

#include "net/ReplyReader.h"
#include "net/WinInet.h"

namespace net {

// A TLS failure in words for the user, kept as the last response text.
struct TlsFailure {
    DWORD error;
    DWORD replyCode;
    std::string explanation;
    bool versionRefused = false;  // the server accepts none of the TLS versions offered
};

// Told when the server refuses an upload because it accepts only TLS 1.3.
inline constexpr char kNoTls13Uploads[] =
    "The server accepts only TLS 1.3, which this program does not use for uploads.";

// Told when a server showed another key than the one trusted for this run.
inline constexpr char kNotTheTrustedKey[] = "The server's certificate is not the one you chose to trust for this run.";

// The failure a refused certificate explains: `otherKey`, a handshake showed another key than
// the one trusted for this run; `verifyResult`, why a certificate was refused (X509_V_ERR_*).
// nullopt: neither. libcurl may tell either as a garbled reply of the control connection.
std::optional<TlsFailure> describeCertificateRefusal(bool otherKey, std::optional<long> verifyResult);

// nullopt: rc is not a TLS failure. `last` is the server's last reply, if any; `detail` is
// libcurl's error text.
std::optional<TlsFailure> describeTlsFailure(CURL* handle, CURLcode rc, const FtpReply* last,
                                             std::string_view detail);

}  // namespace net
