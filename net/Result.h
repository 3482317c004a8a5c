#pragma once
// Outcome of an internal call: an error number of WinInet.h (0 = success) and
// a text for logs. Only the entry points of CurlInternet turn it into a handle
// or BOOL and the thread's last error.

#include <curl/curl.h>

#include <string>
#include <utility>

#include "net/WinInet.h"

namespace net {

constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;

struct [[nodiscard]] Result {
    DWORD error = ERROR_SUCCESS;
    std::string text;

    bool ok() const { return error == ERROR_SUCCESS; }
    static Result success() { return {}; }
    static Result failure(DWORD error, std::string text) { return {error, std::move(text)}; }
};

// The one mapping of libcurl's codes to our error numbers.
[[nodiscard]] DWORD errorFromCurl(CURLcode code);
// Local file errors (errno) to our error numbers.
[[nodiscard]] DWORD errorFromErrno(int err);

}  // namespace net
