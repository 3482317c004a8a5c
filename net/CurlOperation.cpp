#include <algorithm>

#include "net/CurlParts.h"
#include "net/Result.h"
#include "net/TlsFailure.h"

// Running one operation on a connection's easy handle: the options every
// operation shares, the reply and progress callbacks, and the outcome.

namespace net {
namespace {

constexpr long kBufferSize = 512 * 1024;
// The longest wait without a timer of libcurl's own; see runTransfer.
constexpr int kIdleWaitMs = 5;
constexpr auto kReportInterval = std::chrono::milliseconds(200);

using Op = CurlInternet::Operation;

int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* user)
{
    // Server replies arrive as CURLINFO_HEADER_IN; commands (HEADER_OUT, with PASS) are never kept.
    if (type == CURLINFO_HEADER_IN) {
        static_cast<Op*>(user)->replies.feed(std::string_view(data, size));
    } else if (type == CURLINFO_TEXT) {
        // libcurl's own limits on replies (it then fails with a receive error or keeps
        // waiting for a line end): the server is not speaking FTP.
        const std::string_view text(data, size);
        if (text.starts_with("Too large response headers") ||
            text.starts_with("Excessive server response line length"))
            static_cast<Op*>(user)->overlongReply = true;
    }
    return 0;
}

int onProgress(void* user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow)
{
    auto* op = static_cast<Op*>(user);
    if (op->replies.failed() || op->overlongReply)
        return 1;
    if (!op->watcher)
        return 0;
    const auto now = std::chrono::steady_clock::now();
    if (op->reported && now - op->lastReport < kReportInterval)
        return 0;
    op->reported = true;
    op->lastReport = now;
    switch (op->progress.kind) {
    case CallProgress::Kind::Uploading:
        op->progress.done = static_cast<std::uint64_t>(ulnow);
        op->progress.total = std::max(op->progress.total, static_cast<std::uint64_t>(ultotal));
        break;
    case CallProgress::Kind::Listing:
        op->progress.done = op->lines;
        break;
    default:
        op->progress.done = static_cast<std::uint64_t>(dlnow);
        op->progress.total = static_cast<std::uint64_t>(dltotal);
        break;
    }
    if (!op->watcher->callProgress(op->progress)) {
        op->cancelled = true;
        return 1;
    }
    return 0;
}

// Runs the easy handle's transfer to its end in `multi`, like curl_easy_perform, but never
// sleeps long while libcurl has nothing to wait for. While it sets up an FTP data connection,
// libcurl waits on that connection alone and sets no timer: before the data socket exists it
// waits on nothing, and during the data connection's TLS handshake it does not watch the control
// connection, where the reply it needs before sending RETR arrives (servers that start TLS on a
// data connection only after the transfer command answer the handshake only then).
// curl_easy_perform then sleeps its whole one-second poll; here a wait lasts at most kIdleWaitMs.
CURLcode runTransfer(CURLM* multi, CURL* easy)
{
    if (curl_multi_add_handle(multi, easy) != CURLM_OK)
        return CURLE_FAILED_INIT;
    CURLcode result = CURLE_OK;
    bool finished = false;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_OUT_OF_MEMORY;
            break;
        }
        if (running == 0)
            break;
        long timeout = -1;
        curl_multi_timeout(multi, &timeout);
        const int wait = timeout < 0 || timeout > kIdleWaitMs ? kIdleWaitMs : static_cast<int>(timeout);
        if (curl_multi_poll(multi, nullptr, 0, wait, nullptr) != CURLM_OK) {
            result = CURLE_OUT_OF_MEMORY;
            break;
        }
    }
    int queued = 0;
    while (const CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
            result = message->data.result;
            finished = true;
        }
    }
    if (!finished && result == CURLE_OK)
        result = CURLE_FAILED_INIT;
    curl_multi_remove_handle(multi, easy);
    return result;
}

}  // namespace

Result CurlInternet::prepare(Connection& connection, Operation& op)
{
    connection.easy.reset();
    CURL* h = connection.easy.get();
    op.watcher = m_watcher;
    CURLcode rc = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        const CURLcode r = curl_easy_setopt(h, option, value);
        if (rc == CURLE_OK)
            rc = r;
    };
    const long stall = std::max<long>(1, static_cast<long>(m_options.stallTimeout.count()));
    set(CURLOPT_URL, op.url.c_str());
    set(CURLOPT_PROTOCOLS_STR, "ftp");
    set(CURLOPT_USERNAME, connection.user.c_str());
    set(CURLOPT_PASSWORD, connection.password.c_str());
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_options.connectTimeout.count()));
    set(CURLOPT_ACCEPTTIMEOUT_MS, static_cast<long>(m_options.connectTimeout.count()));
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, stall);
    set(CURLOPT_SERVER_RESPONSE_TIMEOUT, stall);
    // Data connections go to the control connection's peer, whatever a 227 reply says.
    set(CURLOPT_FTP_SKIP_PASV_IP, 1L);
    set(CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
    set(CURLOPT_PATH_AS_IS, 1L);
    if (!connection.passive)
        set(CURLOPT_FTPPORT, "-");
    set(CURLOPT_BUFFERSIZE, kBufferSize);
    set(CURLOPT_UPLOAD_BUFFERSIZE, kBufferSize);
    set(CURLOPT_VERBOSE, 1L);  // the debug callback is how the server's replies are read
    set(CURLOPT_DEBUGFUNCTION, &onDebug);
    set(CURLOPT_DEBUGDATA, static_cast<void*>(&op));
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, &onProgress);
    set(CURLOPT_XFERINFODATA, static_cast<void*>(&op));
    if (connection.server.tls) {
        // Explicit TLS, required: AUTH TLS before USER, PROT P for data, no plain fallback.
        set(CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        set(CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
        set(CURLOPT_SSL_VERIFYPEER, 1L);
        set(CURLOPT_SSL_VERIFYHOST, 2L);
        // TLS 1.2, whose ticket comes inside the handshake. Over TLS 1.3 the server sends session
        // tickets after it; an upload never reads its data connection, so this libcurl closes
        // it with them unread and the kernel resets it: a server may then cut the file short
        // (one daemon answered 426 to 13 of 120 uploads, all at 114,688 bytes; the upload
        // fails with 12030). Data connections take the control connection's TLS settings, so
        // a server that refuses TLS 1.2 gets TLS 1.3 for everything but uploads (FtpPutFileA).
        const long version = connection.tls13 ? CURL_SSLVERSION_TLSv1_3 | CURL_SSLVERSION_MAX_TLSv1_3
                                              : CURL_SSLVERSION_TLSv1_2 | CURL_SSLVERSION_MAX_TLSv1_2;
        set(CURLOPT_SSLVERSION, version);
        if (!connection.caFile.empty())
            set(CURLOPT_CAINFO, connection.caFile.c_str());
        if (!connection.caPath.empty())
            set(CURLOPT_CAPATH, connection.caPath.c_str());
    }
    if (connection.resolveEntry) {
        if (!op.resolve.append(*connection.resolveEntry))
            return Result::failure(ERROR_NOT_ENOUGH_MEMORY, "out of memory");
        set(CURLOPT_RESOLVE, op.resolve.get());
    }
    if (rc != CURLE_OK)
        return Result::failure(errorFromCurl(rc), curl_easy_strerror(rc));
    return Result::success();
}

Result CurlInternet::perform(Connection& connection, Operation& op)
{
    if (op.watcher)
        op.watcher->callStarted(op.progress);
    const CURLcode rc = runTransfer(connection.multi.get(), connection.easy.get());
    if (op.watcher)
        op.watcher->callFinished();
    if (const FtpReply* reply = op.replies.last())
        lastReply() = LastReply{static_cast<DWORD>(reply->code), reply->text};
    if (rc == CURLE_OK && !op.replies.failed() && !op.overlongReply && op.localErrno == 0)
        return Result::success();
    DWORD error;
    if (op.replies.failed() || op.overlongReply)
        error = ERROR_HTTP_INVALID_SERVER_RESPONSE;
    else if (op.cancelled)
        error = ERROR_INTERNET_OPERATION_CANCELLED;
    else if (op.localErrno)
        error = errorFromErrno(op.localErrno);
    else
        error = errorFromCurl(rc);
    if (connection.server.tls && error == errorFromCurl(rc)) {
        if (auto tls = describeTlsFailure(connection.easy.get(), rc, op.replies.last(), connection.easy.errorText())) {
            connection.tlsVersionRefused = tls->versionRefused;
            error = tls->error;
            lastReply() = LastReply{tls->replyCode, std::move(tls->explanation)};
        }
    }
    return Result::failure(error, std::string(curl_easy_strerror(rc)) + ": " + connection.easy.errorText());
}

}  // namespace net
