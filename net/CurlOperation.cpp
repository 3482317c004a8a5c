#include "net/CurlOperation.h"

#include <fcntl.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

// Running one operation on an easy handle: the callbacks every operation shares,
// the loop that drives it, and the data callbacks of listings and transfers.

namespace net {
namespace {

constexpr long kBufferSize = 512 * 1024;
// The watcher hears from a running call this often, whatever the server does,
// so that the window it pumps never waits longer for its events.
constexpr auto kReportInterval = std::chrono::milliseconds(20);
// How long libcurl may show no byte before the stall rule asks the sockets themselves.
constexpr auto kAskSocketsAfter = std::chrono::milliseconds(100);
constexpr long kPollMs = 20;
constexpr long kIdleWaitMs = 5;
constexpr int kQuickLooks = 3;

using Op = Operation;

// Calls running on this thread: a call made from inside another one (a handler
// run by the events the watcher pumps) is refused rather than nested.
thread_local int t_callDepth = 0;

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
        if (op->curlText)
            op->curlText->append(data, size);
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

// The operation stops here: what its engine does first (Operation::abandon).
bool stopNow(Op& op)
{
    if (op.abandon)
        std::exchange(op.abandon, nullptr)();
    return false;
}

// Between steps of a running call: applies the stall rule, notices a closed
// handle, and tells the watcher. False: stop the call now.
bool keepGoing(Op& op)
{
    if (op.replies.failed() || op.overlongReply || op.cancelled || op.stalled)
        return false;
    const auto now = std::chrono::steady_clock::now();
    // The sockets are asked only once libcurl has shown nothing new for a while: asking them
    // at every step cost a batch of small files several percent of its time.
    if (op.bytesSeen != op.seenAtCheck) {
        op.seenAtCheck = op.bytesSeen;
        op.lastByte = now;
    } else if (now - op.lastByte >= kAskSocketsAfter) {
        if (const std::uint64_t bytes = socketBytes(op.sockets); bytes != op.socketBytesAtCheck) {
            op.socketBytesAtCheck = bytes;
            op.lastByte = now;
        } else if (now - op.lastByte >= op.stallAfter) {
            op.stalled = true;
            return stopNow(op);
        }
    }
    if (op.closed && op.closed->load()) {
        op.cancelled = true;
        return stopNow(op);
    }
    if (!op.watcher)
        return true;
    if (op.reported && now - op.lastReport < kReportInterval)
        return true;
    op.reported = true;
    op.lastReport = now;
    switch (op.progress.kind) {
    case CallProgress::Kind::Uploading:
        // A step after the data (a rename) keeps telling the bytes the call has sent.
        op.progress.done = std::max(op.progress.done, static_cast<std::uint64_t>(op.uploaded));
        op.progress.total = std::max(op.progress.total, static_cast<std::uint64_t>(op.uploadTotal));
        break;
    case CallProgress::Kind::Listing:
        break;  // the listing's body callback counts its lines
    case CallProgress::Kind::Checking:
        break;  // the whole file is there
    default:
        op.progress.done = static_cast<std::uint64_t>(op.downloaded);
        op.progress.total = static_cast<std::uint64_t>(op.downloadTotal);
        break;
    }
    if (!op.watcher->callProgress(op.progress) && !op.cleanup) {
        op.cancelled = true;
        return stopNow(op);
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

}  // namespace

// Removing the easy handle early ends the transfer at once (its connection is closed,
// no QUIT is waited for).
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

bool insideCall() { return t_callDepth > 0; }

CallDepth::CallDepth() { ++t_callDepth; }
CallDepth::~CallDepth() { --t_callDepth; }

CURLcode watchOperation(CURL* h, Operation& op, std::vector<curl_socket_t>& sockets)
{
    CURLcode rc = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        const CURLcode r = curl_easy_setopt(h, option, value);
        if (rc == CURLE_OK)
            rc = r;
    };
    set(CURLOPT_NOSIGNAL, 1L);
    // Nothing from the environment: no proxy but the one typed in (all_proxy, ftp_proxy and
    // no_proxy would otherwise apply), and no login from a .netrc.
    set(CURLOPT_PROXY, "");
    set(CURLOPT_NOPROXY, "*");
    set(CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
    set(CURLOPT_BUFFERSIZE, kBufferSize);
    set(CURLOPT_UPLOAD_BUFFERSIZE, kBufferSize);
    set(CURLOPT_VERBOSE, 1L);  // the debug callback is how the server's replies are read
    set(CURLOPT_DEBUGFUNCTION, &onDebug);
    set(CURLOPT_DEBUGDATA, static_cast<void*>(&op));
    set(CURLOPT_OPENSOCKETFUNCTION, &onOpenSocket);
    set(CURLOPT_OPENSOCKETDATA, static_cast<void*>(&sockets));
    set(CURLOPT_CLOSESOCKETFUNCTION, &onCloseSocket);
    set(CURLOPT_CLOSESOCKETDATA, static_cast<void*>(&sockets));
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, &onProgress);
    set(CURLOPT_XFERINFODATA, static_cast<void*>(&op));
    op.sockets = &sockets;
    return rc;
}

int runServed(Operation& op, std::function<int()> work)
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

// Runs fsync on a descriptor of its own, so that a call cancelled meanwhile may return.
int flushServed(Operation& op, int fd)
{
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return errno;
    return runServed(op, [own] {
        const int err = ::fsync(own) == 0 ? 0 : errno;
        ::close(own);
        return err;
    });
}

namespace {

size_t onBody(char* data, size_t size, size_t count, void* user)
{
    auto* op = static_cast<ListingOperation*>(user);
    const size_t n = size * count;
    op->body->append(data, n);
    op->progress.done += static_cast<std::uint64_t>(std::count(data, data + n, '\n'));
    return n;
}

constexpr std::uint64_t kWriteBehind = 8 * 1024 * 1024;

// Writes all of it; errno on failure, else 0.
int writeAll(int fd, const char* data, size_t n)
{
    size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(fd, data + done, n - done);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += static_cast<size_t>(w);
    }
    return 0;
}

size_t onFileData(char* data, size_t size, size_t count, void* user)
{
    auto* op = static_cast<DownloadOperation*>(user);
    const size_t n = size * count;
    if (op->firstData)
        std::exchange(op->firstData, nullptr)();
    int err;
    if (op->ascii) {
        op->pending.clear();
        op->decoder.decode(std::string_view(data, n), op->pending);
        err = writeAll(op->outFd, op->pending.data(), op->pending.size());
    } else {
        err = writeAll(op->outFd, data, n);
    }
    if (err != 0) {
        op->localErrno = err;
        return 0;
    }
    op->written += op->ascii ? op->pending.size() : n;
    if (op->writeBehind && op->written - op->writebackFrom >= kWriteBehind) {
        // Only starts the writeback; the flush at the end waits for it.
        (void)::sync_file_range(op->outFd, static_cast<off64_t>(op->writebackFrom),
                                static_cast<off64_t>(op->written - op->writebackFrom), SYNC_FILE_RANGE_WRITE);
        op->writebackFrom = op->written;
    }
    return n;
}

ssize_t readSome(int fd, char* buffer, size_t size)
{
    for (;;) {
        const ssize_t r = ::read(fd, buffer, size);
        if (r >= 0 || errno != EINTR)
            return r;
    }
}

size_t onNoData(char*, size_t, size_t, void*) { return 0; }

// An upload that continues a part starts at its end (binary only).
int onSeek(void* user, curl_off_t offset, int origin)
{
    auto* op = static_cast<UploadOperation*>(user);
    if (op->ascii)
        return CURL_SEEKFUNC_CANTSEEK;
    return ::lseek(op->inFd, static_cast<off_t>(offset), origin) < 0 ? CURL_SEEKFUNC_FAIL : CURL_SEEKFUNC_OK;
}

size_t onFileRead(char* buffer, size_t size, size_t count, void* user)
{
    auto* op = static_cast<UploadOperation*>(user);
    const size_t room = size * count;
    if (!op->ascii) {
        const ssize_t r = readSome(op->inFd, buffer, room);
        if (r < 0) {
            op->localErrno = errno;
            return CURL_READFUNC_ABORT;
        }
        return static_cast<size_t>(r);
    }
    if (op->pendingPos == op->pending.size()) {
        op->chunk.resize(std::max<size_t>(room / 2, 1));
        const ssize_t r = readSome(op->inFd, op->chunk.data(), op->chunk.size());
        if (r < 0) {
            op->localErrno = errno;
            return CURL_READFUNC_ABORT;
        }
        if (r == 0)
            return 0;
        op->pending.clear();
        op->pendingPos = 0;
        op->encoder.encode(std::string_view(op->chunk.data(), static_cast<size_t>(r)), op->pending);
    }
    const size_t n = std::min(room, op->pending.size() - op->pendingPos);
    std::memcpy(buffer, op->pending.data() + op->pendingPos, n);
    op->pendingPos += n;
    return n;
}

}  // namespace

void receiveBody(CURL* easy, ListingOperation& op)
{
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, static_cast<void*>(&op));
}

void receiveFile(CURL* easy, DownloadOperation& op)
{
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &onFileData);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, static_cast<void*>(&op));
}

void sendFile(CURL* easy, UploadOperation& op, bool empty)
{
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, empty ? &onNoData : &onFileRead);
    curl_easy_setopt(easy, CURLOPT_READDATA, static_cast<void*>(&op));
    curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, &onSeek);
    curl_easy_setopt(easy, CURLOPT_SEEKDATA, static_cast<void*>(&op));
}

Result finishText(DownloadOperation& op)
{
    if (!op.ascii)
        return Result::success();
    op.pending.clear();
    op.decoder.finish(op.pending);
    if (const int err = writeAll(op.outFd, op.pending.data(), op.pending.size()); err != 0)
        return Result::failure(errorFromErrno(err), std::strerror(err));
    return Result::success();
}

}  // namespace net
