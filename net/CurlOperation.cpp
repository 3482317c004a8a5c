#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "net/CurlParts.h"
#include "net/Result.h"
#include "net/TlsFailure.h"

#include <cstring>

// Running one operation on a connection's easy handle: the options every
// operation shares, the reply and progress callbacks, and the outcome.

namespace net {
namespace {

constexpr long kBufferSize = 512 * 1024;
// The watcher hears from a running call this often, whatever the server does,
// so that the window it pumps never waits longer for its events.
constexpr auto kReportInterval = std::chrono::milliseconds(20);
constexpr long kPollMs = 20;
constexpr long kIdleWaitMs = 5;
constexpr int kQuickLooks = 3;

using Op = CurlInternet::Operation;

// Calls running on this thread: a call made from inside another one (a handler
// run by the events the watcher pumps) is refused rather than nested.
thread_local int t_callDepth = 0;

struct CallDepth {
    CallDepth() { ++t_callDepth; }
    ~CallDepth() { --t_callDepth; }
    CallDepth(const CallDepth&) = delete;
    CallDepth& operator=(const CallDepth&) = delete;
};

bool keepGoing(Op& op);

int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* user)
{
    auto* op = static_cast<Op*>(user);
    if (type != CURLINFO_TEXT)
        op->bytesSeen += size;  // any byte in or out counts against the stall rule
    // Server replies arrive as CURLINFO_HEADER_IN; commands (HEADER_OUT, with PASS) are never kept.
    if (type == CURLINFO_HEADER_IN) {
        op->replies.feed(std::string_view(data, size));
    } else if (type == CURLINFO_HEADER_OUT && !op->quoted.empty()) {
        const std::string_view sent(data, size);
        if (sent.starts_with(op->quoted) && sent.substr(op->quoted.size()).starts_with("\r\n"))
            op->quotedAt = op->replies.replies().size();
    } else if (type == CURLINFO_TEXT) {
        // libcurl's own limits on replies (it then fails with a receive error or keeps
        // waiting for a line end): the server is not speaking FTP.
        const std::string_view text(data, size);
        if (text.starts_with("Too large response headers") ||
            text.starts_with("Excessive server response line length"))
            op->overlongReply = true;
    } else if (type == CURLINFO_DATA_IN || type == CURLINFO_DATA_OUT) {
        // One step of libcurl may move many megabytes: keep the watcher told between
        // its chunks. A stop asked for here takes effect at the step's end.
        (void)keepGoing(*op);
    }
    return 0;
}

// Bytes that came in or went out on the connection's sockets, parts of a reply
// line and TLS records included (libcurl shows replies only as whole lines).
std::uint64_t socketBytes(const std::vector<curl_socket_t>* sockets)
{
    std::uint64_t sum = 0;
    if (!sockets)
        return sum;
    for (const curl_socket_t socket : *sockets) {
        tcp_info info{};
        socklen_t size = sizeof info;
        if (::getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &size) == 0)
            sum += info.tcpi_bytes_received + info.tcpi_bytes_acked;
    }
    return sum;
}

curl_socket_t onOpenSocket(void* user, curlsocktype, curl_sockaddr* address)
{
    const curl_socket_t s = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (s != CURL_SOCKET_BAD)
        static_cast<std::vector<curl_socket_t>*>(user)->push_back(s);
    return s;
}

int onCloseSocket(void* user, curl_socket_t socket)
{
    std::erase(*static_cast<std::vector<curl_socket_t>*>(user), socket);
    return ::close(socket);
}

// Between steps of a running call: applies the stall rule, notices a closed
// handle, and tells the watcher. False: stop the call now.
bool keepGoing(Op& op)
{
    if (op.replies.failed() || op.overlongReply || op.cancelled || op.stalled)
        return false;
    const auto now = std::chrono::steady_clock::now();
    const std::uint64_t bytes = op.bytesSeen + socketBytes(op.sockets);
    if (bytes != op.bytesAtCheck) {
        op.bytesAtCheck = bytes;
        op.lastByte = now;
    } else if (now - op.lastByte >= op.stallAfter) {
        op.stalled = true;
        return false;
    }
    if (op.closed && op.closed->load()) {
        op.cancelled = true;
        return false;
    }
    if (!op.watcher)
        return true;
    if (op.reported && now - op.lastReport < kReportInterval)
        return true;
    op.reported = true;
    op.lastReport = now;
    switch (op.progress.kind) {
    case CallProgress::Kind::Uploading:
        op.progress.done = static_cast<std::uint64_t>(op.uploaded);
        op.progress.total = std::max(op.progress.total, static_cast<std::uint64_t>(op.uploadTotal));
        break;
    case CallProgress::Kind::Listing:
        op.progress.done = op.lines;
        break;
    default:
        op.progress.done = static_cast<std::uint64_t>(op.downloaded);
        op.progress.total = static_cast<std::uint64_t>(op.downloadTotal);
        break;
    }
    if (!op.watcher->callProgress(op.progress) && !op.cleanup) {
        op.cancelled = true;
        return false;
    }
    return true;
}

int onProgress(void* user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow)
{
    auto* op = static_cast<Op*>(user);
    op->downloaded = dlnow;
    op->downloadTotal = dltotal;
    op->uploaded = ulnow;
    op->uploadTotal = ultotal;
    return keepGoing(*op) ? 0 : 1;
}

// Runs the transfer on the connection's multi handle, never waiting more than
// kPollMs between two looks at the watcher. Removing the easy handle early ends
// the transfer at once (its connection is closed, no QUIT is waited for).
CURLcode drive(CURLM* multi, CURL* easy, Op& op)
{
    if (curl_multi_add_handle(multi, easy) != CURLM_OK)
        return CURLE_FAILED_INIT;
    CURLcode result = CURLE_ABORTED_BY_CALLBACK;
    int idleLooks = 0;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        if (running == 0) {
            int left = 0;
            result = CURLE_GOT_NOTHING;
            while (CURLMsg* msg = curl_multi_info_read(multi, &left))
                if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy)
                    result = msg->data.result;
            break;
        }
        if (!keepGoing(op))
            break;
        long wait = kPollMs;
        long timer = -1;
        if (curl_multi_timeout(multi, &timer) == CURLM_OK && timer >= 0)
            wait = std::min(wait, timer);
        // While it sets up an FTP data connection libcurl waits on that connection alone and
        // sets no timer: before the data socket exists (right after the PASV/EPSV reply) it
        // waits on nothing, and during the data connection's TLS handshake it does not watch
        // the control connection, where the reply it needs before RETR arrives (servers that
        // start TLS on a data connection only after the transfer command answer the handshake
        // only then). curl_easy_perform sleeps a whole second there; this loop looks again soon.
        // The libcurl of Debian 12 sets a timer of about 200 ms meanwhile: the phase is told by
        // the last reply, the passive one (227 or 229), read before the data connection exists.
        const FtpReply* last = op.replies.last();
        if (timer < 0 || (last && (last->code == 227 || last->code == 229)))
            wait = std::min(wait, kIdleWaitMs);
        fd_set readable, writable, failed;
        FD_ZERO(&readable);
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        int maxFd = -1;
        // No socket to wait on (a timer is often set then, the data connection's connect
        // time-out): libcurl is between two steps of its own and wants to be called again,
        // at once the first few times, then after a millisecond (a name may be resolving).
        if (curl_multi_fdset(multi, &readable, &writable, &failed, &maxFd) == CURLM_OK && maxFd < 0)
            wait = std::min(wait, idleLooks++ < kQuickLooks ? 0L : 1L);
        else
            idleLooks = 0;
        if (wait > 0)
            curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait), nullptr);
    }
    curl_multi_remove_handle(multi, easy);
    return result;
}

// The server closed the connection while it lay idle, so this call did nothing
// there: it ran on the connection kept from before, and the very first reply was
// 421 ("Control connection timed out", sent when the idle time ran out and read
// only now), or the connection closed before any reply came.
bool closedWhileIdle(CURL* easy, const Op& op, CURLcode rc)
{
    if (rc == CURLE_OK || op.cancelled || op.stalled || op.localErrno != 0 || op.overlongReply ||
        op.replies.failed() || op.replies.unfinished())
        return false;
    long connects = -1;
    if (curl_easy_getinfo(easy, CURLINFO_NUM_CONNECTS, &connects) != CURLE_OK || connects != 0)
        return false;
    const std::vector<FtpReply>& replies = op.replies.replies();
    if (!replies.empty())
        return replies.front().code == 421;
    return rc == CURLE_RECV_ERROR || rc == CURLE_SEND_ERROR || rc == CURLE_GOT_NOTHING;
}

}  // namespace

int runServed(CurlInternet::Operation& op, std::function<int()> work)
{
    const CallDepth depth;  // still inside the call: calls from the events it serves are refused
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<int> result;
    };
    auto shared = std::make_shared<Shared>();
    try {
        std::thread([shared, work] {
            const int result = work();
            const std::lock_guard lock(shared->mutex);
            shared->result = result;
            shared->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return work();  // no thread to be had: here, then
    }
    for (;;) {
        {
            std::unique_lock lock(shared->mutex);
            if (shared->done.wait_for(lock, kReportInterval, [&] { return shared->result.has_value(); }))
                return *shared->result;
        }
        op.lastByte = std::chrono::steady_clock::now();  // the stall rule is for the network
        if (!keepGoing(op) && op.cancelled)
            return -1;
    }
}

Result CurlInternet::prepare(Connection& connection, Operation& op)
{
    // Made from inside a running call (its watcher pumping events): the easy
    // handle may be the one in use, so nothing is touched.
    if (t_callDepth > 0)
        return Result::failure(ERROR_FTP_TRANSFER_IN_PROGRESS, "another call is running");
    if (!connection.multi)
        return Result::failure(ERROR_NOT_ENOUGH_MEMORY, "no multi handle");
    connection.easy.reset();
    CURL* h = connection.easy.get();
    op.watcher = m_watcher;
    op.closed = &connection.closed;
    op.sockets = &connection.sockets;
    CURLcode rc = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        const CURLcode r = curl_easy_setopt(h, option, value);
        if (rc == CURLE_OK)
            rc = r;
    };
    // The connect step has its own limit (libcurl's connect time-out covers TCP,
    // greeting and login); every other step fails after stallTimeout without a byte.
    op.stallAfter = m_options.stallTimeout;
    if (op.progress.kind == CallProgress::Kind::Connecting)
        op.stallAfter = std::max<std::chrono::steady_clock::duration>(op.stallAfter, m_options.connectTimeout);
    // libcurl's own wait for a reply only backs the stall rule up.
    const long backstop = static_cast<long>(std::chrono::ceil<std::chrono::seconds>(op.stallAfter).count()) + 30;
    set(CURLOPT_URL, op.url.c_str());
    set(CURLOPT_PROTOCOLS_STR, "ftp");
    set(CURLOPT_USERNAME, connection.user.c_str());
    set(CURLOPT_PASSWORD, connection.password.c_str());
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_options.connectTimeout.count()));
    set(CURLOPT_ACCEPTTIMEOUT_MS, static_cast<long>(m_options.connectTimeout.count()));
    set(CURLOPT_SERVER_RESPONSE_TIMEOUT, backstop);
    // Data connections go to the control connection's peer, whatever a 227 reply says.
    set(CURLOPT_FTP_SKIP_PASV_IP, 1L);
    set(CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
    set(CURLOPT_PATH_AS_IS, 1L);
    // Nothing from the environment: no proxy but the one typed in (all_proxy, ftp_proxy and
    // no_proxy would otherwise apply), and no login from a .netrc.
    set(CURLOPT_PROXY, "");
    set(CURLOPT_NOPROXY, "*");
    set(CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
    if (!connection.passive)
        set(CURLOPT_FTPPORT, "-");
    set(CURLOPT_BUFFERSIZE, kBufferSize);
    set(CURLOPT_UPLOAD_BUFFERSIZE, kBufferSize);
    set(CURLOPT_VERBOSE, 1L);  // the debug callback is how the server's replies are read
    set(CURLOPT_DEBUGFUNCTION, &onDebug);
    set(CURLOPT_DEBUGDATA, static_cast<void*>(&op));
    set(CURLOPT_OPENSOCKETFUNCTION, &onOpenSocket);
    set(CURLOPT_OPENSOCKETDATA, static_cast<void*>(&connection.sockets));
    set(CURLOPT_CLOSESOCKETFUNCTION, &onCloseSocket);
    set(CURLOPT_CLOSESOCKETDATA, static_cast<void*>(&connection.sockets));
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, &onProgress);
    set(CURLOPT_XFERINFODATA, static_cast<void*>(&op));
    if (connection.server.tls) {
        // Explicit TLS, required: AUTH TLS before USER, PROT P for data, no plain fallback.
        set(CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        set(CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
        // A key trusted for this run stands in for the authorities (PeerCheck) and for nothing
        // else: dates and name are checked as for any certificate.
        set(CURLOPT_SSL_VERIFYPEER, 1L);
        set(CURLOPT_SSL_VERIFYHOST, 2L);
        if (!connection.pinnedKey.empty())
            set(CURLOPT_PINNEDPUBLICKEY, connection.pinnedKey.c_str());
        if (connection.peer) {
            connection.peer->clear();
            // A TLS library without this hook offers nothing to trust; the checks stay the same.
            (void)curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, &PeerCheck::install);
            (void)curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, static_cast<void*>(&*connection.peer));
        }
        // TLS 1.2, whose ticket comes inside the handshake. Over TLS 1.3 the server sends session
        // tickets after it; an upload never reads its data connection, so this libcurl closes
        // it with them unread and the kernel resets it: a server may then cut the file short
        // (one daemon answered 426 to 13 of 120 uploads, all at 114,688 bytes; the upload
        // fails with 12030). Data connections take the control connection's TLS settings, so
        // a server that refuses TLS 1.2 gets TLS 1.3 for everything but uploads (FtpPutFileA).
        const long version = connection.tls13
            ? static_cast<long>(CURL_SSLVERSION_TLSv1_3) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_3)
            : static_cast<long>(CURL_SSLVERSION_TLSv1_2) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2);
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
    const CallDepth depth;
    op.lastByte = std::chrono::steady_clock::now();
    op.startWatch();
    const bool callStart = std::exchange(connection.callStart, false);
    CURLcode rc = drive(connection.multi.get(), connection.easy.get(), op);
    if (callStart && closedWhileIdle(connection.easy.get(), op, rc)) {
        // libcurl has dropped that connection: running the call again logs in once more
        // on a new one. Not a retry of anything done half-way; a failed login is reported.
        op.replies.reset();
        op.lastByte = std::chrono::steady_clock::now();
        rc = drive(connection.multi.get(), connection.easy.get(), op);
    }
    if (!op.holdWatch)
        op.endWatch();
    // The reply that ended the last command: libcurl ends a reply at any "ddd " line,
    // so a multi-line reply it acted on may still be open here (RFC 959 ends it only
    // at its own code); that one is the answer, not the reply before it.
    if (const std::optional<FtpReply> open = op.replies.unfinished())
        lastReply() = LastReply{static_cast<DWORD>(open->code), open->text};
    else if (const FtpReply* reply = op.replies.last())
        lastReply() = LastReply{static_cast<DWORD>(reply->code), reply->text};
    if (rc == CURLE_OK && !op.replies.failed() && !op.overlongReply && op.localErrno == 0)
        return Result::success();
    DWORD error;
    if (op.replies.failed() || op.overlongReply)
        error = ERROR_HTTP_INVALID_SERVER_RESPONSE;
    else if (op.cancelled)
        error = ERROR_INTERNET_OPERATION_CANCELLED;
    else if (op.stalled)
        error = ERROR_INTERNET_TIMEOUT;
    else if (op.localErrno)
        error = errorFromErrno(op.localErrno);
    else
        error = errorFromCurl(rc);
    if (connection.server.tls && !op.cancelled) {
        // What the handshakes saw comes first: libcurl tells a data connection's refused
        // certificate as a garbled reply ("Bad PASV/EPSV response: 150"), blaming the server.
        std::optional<TlsFailure> tls;
        if (connection.peer)
            tls = describeCertificateRefusal(connection.peer->showedOtherKey(), connection.peer->refusal());
        if (!tls && error == errorFromCurl(rc))
            tls = describeTlsFailure(connection.easy.get(), rc, op.replies.last(), connection.easy.errorText());
        if (tls) {
            connection.tlsVersionRefused = tls->versionRefused;
            if (op.progress.kind != CallProgress::Kind::Connecting) {
                // After a refused data connection libcurl may read the control connection a reply or
                // two behind ("Bad PASV/EPSV response: 250" at the next call): it goes (QUIT, with
                // 2 s for its answer), and the next call logs in on a new one.
                curl_easy_setopt(connection.easy.get(), CURLOPT_SERVER_RESPONSE_TIMEOUT, 2L);
                if (curl_multi_add_handle(connection.multi.get(), connection.easy.get()) == CURLM_OK)
                    curl_multi_remove_handle(connection.multi.get(), connection.easy.get());
                connection.multi.reset();
            }
            lastReply() = LastReply{tls->replyCode, tls->explanation};
            return Result::failure(tls->error, std::move(tls->explanation));
        }
    }
    if (op.localErrno)  // the local file's own reason ("No space left on device") says more than libcurl's
        return Result::failure(error, std::strerror(op.localErrno));
    std::string text = std::string(curl_easy_strerror(rc)) + ": " + connection.easy.errorText();
    long osErrno = 0;  // the socket's reason, such as "Connection refused"
    const bool socketFailed = rc == CURLE_COULDNT_CONNECT || rc == CURLE_SEND_ERROR || rc == CURLE_RECV_ERROR;
    if (socketFailed && curl_easy_getinfo(connection.easy.get(), CURLINFO_OS_ERRNO, &osErrno) == CURLE_OK &&
        osErrno != 0)
        text += std::string(" (") + std::strerror(static_cast<int>(osErrno)) + ")";
    return Result::failure(error, text);
}

}  // namespace net
