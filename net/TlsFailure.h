#pragma once
// Failures of the TLS handshake in words for the user; the words are kept as the
// last response text.

#include <curl/curl.h>

#include <optional>
#include <string>

#include "net/ReplyReader.h"
#include "net/WinInet.h"

namespace net {

// A TLS failure in words for the user, kept as the last response text.
struct TlsFailure {
    DWORD error;
    DWORD replyCode;
    std::string explanation;
};

// nullopt: rc is not a TLS failure. `last` is the server's last reply, if any.
std::optional<TlsFailure> describeTlsFailure(CURL* handle, CURLcode rc, const FtpReply* last);

}  // namespace net
