#pragma once
// One operation on a libcurl easy handle: driving it on a multi handle while the
// watcher is told (and may cancel), the stall rule, the server's replies as they
// arrive, and the data callbacks of listings and transfers. What it knows of a
// protocol is only that replies come as CURLINFO_HEADER_IN lines. Internal to net/.

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "net/CurlHandles.h"
#include "net/Engine.h"
#include "net/FtpPath.h"
#include "net/ReplyReader.h"

namespace net {

// What every operation has: its watcher, its replies, the stall rule and the
// progress libcurl reports.
struct Operation {
    Operation() = default;
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;
    ~Operation() { endWatch(); }

    CallProgress progress;
    CallWatcher* watcher = nullptr;
    // The watcher was told the call started and not yet that it finished. With holdWatch,
    // the call goes on after perform (a download's flush) and ends with the operation.
    bool watching = false;
    bool holdWatch = false;
    void startWatch()
    {
        if (watcher && !watching)
            watcher->callStarted(progress);
        watching = watcher != nullptr;
    }
    void endWatch()
    {
        if (watching)
            watcher->callFinished();
        watching = false;
    }
    // Clean-up after a cancel or a failure: the watcher still hears from it (the window
    // stays served), but cannot cancel it; its own time limit bounds it.
    bool cleanup = false;
    ReplyReader replies;
    // The reply that ended the operation (set by the engine as it performs it).
    std::optional<ServerReply> reply;
    std::chrono::steady_clock::time_point lastReport{};
    bool reported = false;
    bool cancelled = false;
    const std::atomic<bool>* closed = nullptr;  // the connection's handle was closed
    // Run once when the operation stops before libcurl ended it (a cancel, a closed handle,
    // the stall rule), before libcurl closes anything.
    std::function<void()> abandon;
    const std::vector<curl_socket_t>* sockets = nullptr;
    // Stall rule: the call fails when no byte arrived or left for this long.
    std::chrono::steady_clock::duration stallAfter{};
    std::chrono::steady_clock::time_point lastByte{};
    std::uint64_t bytesSeen = 0;     // every byte either way, control and data
    std::uint64_t seenAtCheck = 0;
    std::uint64_t socketBytesAtCheck = 0;
    bool stalled = false;
    curl_off_t downloaded = 0;
    curl_off_t downloadTotal = 0;
    curl_off_t uploaded = 0;
    curl_off_t uploadTotal = 0;
    std::string url;
    CurlSlist quote;
    // A command whose reply is wanted: the index in `replies` of the first reply after it went.
    std::string quoted;
    std::size_t quotedAt = SIZE_MAX;
    CurlSlist resolve;
    CURLcode curlCode = CURLE_OK;  // libcurl's outcome of the last run
    std::string* curlText = nullptr;  // when set: libcurl's own messages (its verbose text) go here
    int localErrno = 0;          // a local file failed: its reason says more than libcurl's
    bool overlongReply = false;  // libcurl gave up on a reply longer than its own limit
    // Cancelled by the user's choice: not by a closed handle, nor by the program being killed
    // (those keep what a lost connection keeps).
    bool cancelledByUser() const
    {
        return cancelled && !(closed && closed->load()) && !(watcher && watcher->programKilled());
    }
};

// A listing adds its body; its progress counts the lines.
struct ListingOperation : Operation {
    std::string* body = nullptr;
};

// A transfer adds the type command sent just before it and the line-end conversion.
struct TransferOperation : Operation {
    CurlSlist prequote;
    bool ascii = false;
    std::string pending;  // converted text on its way
};

struct DownloadOperation : TransferOperation {
    int outFd = -1;
    // Write-through: writeback of each few MiB starts as they are written, so the flush at
    // the end has little left to do.
    bool writeBehind = false;
    std::uint64_t written = 0;
    std::uint64_t writebackFrom = 0;
    CrlfDecoder decoder;
    // Run once, as the first data arrives (libcurl then knows the file's size and time).
    std::function<void()> firstData;
};

struct UploadOperation : TransferOperation {
    int inFd = -1;
    CrlfEncoder encoder;
    std::size_t pendingPos = 0;
    std::vector<char> chunk;
};

// An operation made while another one holds the call (a download's hash check after its
// data): it reports into that call instead of starting one of its own.
class WithinCall : public CallWatcher {
public:
    explicit WithinCall(CallWatcher* watcher) : m_watcher(watcher) {}
    WithinCall(const WithinCall&) = delete;
    WithinCall& operator=(const WithinCall&) = delete;
    // The watcher for each operation of the call (null: nobody watches).
    CallWatcher* watcher() { return m_watcher ? this : nullptr; }
    void callStarted(const CallProgress&) override {}
    bool callProgress(const CallProgress& now) override { return m_watcher->callProgress(now); }
    void callFinished() override {}
    bool programKilled() const override { return m_watcher->programKilled(); }

protected:
    CallWatcher* m_watcher;
};

// Several operations that the watcher hears of as one call (an upload's steps): it is told
// the call started when this is made and finished when it goes, and the operations given
// this as their watcher report into that call, so the progress window stays up with Cancel.
class StepsCall final : public WithinCall {
public:
    StepsCall(CallWatcher* watcher, const CallProgress& what) : WithinCall(watcher)
    {
        if (m_watcher)
            m_watcher->callStarted(what);
    }
    ~StepsCall() override
    {
        if (m_watcher)
            m_watcher->callFinished();
    }
};

// A call made from inside a running one (a handler run by the events its watcher pumps).
bool insideCall();

// The options every operation sets on `easy`: the debug, progress and socket callbacks
// with `op`, and nothing taken from the environment (proxies, .netrc).
[[nodiscard]] CURLcode watchOperation(CURL* easy, Operation& op, std::vector<curl_socket_t>& sockets);

// Runs the operation on `multi`, never waiting more than 20 ms between two looks at the
// watcher. The result: libcurl's, or CURLE_ABORTED_BY_CALLBACK when the operation stopped it.
CURLcode drive(CURLM* multi, CURL* easy, Operation& op);

// Marks the whole call as running on this thread while it lives.
class CallDepth {
public:
    CallDepth();
    ~CallDepth();
    CallDepth(const CallDepth&) = delete;
    CallDepth& operator=(const CallDepth&) = delete;
};

// Runs `work` (a blocking step on local files, such as a flush) on a thread of its own
// while the watcher hears from the call as during a transfer. Returns work's result, or
// -1 when the call was cancelled first: `work` then finishes alone, so it must own all
// it uses (a duplicated descriptor, say).
int runServed(Operation& op, std::function<int()> work);
// fsync of `fd` through runServed, on a descriptor of its own: an errno, 0, or -1 when cancelled.
int flushServed(Operation& op, int fd);

// The data callbacks: a listing's body, a download into op.outFd and an upload from
// op.inFd (`empty`: no data at all), converting line ends when op.ascii.
void receiveBody(CURL* easy, ListingOperation& op);
void receiveFile(CURL* easy, DownloadOperation& op);
void sendFile(CURL* easy, UploadOperation& op, bool empty);
// The end of an ASCII download: a CR that ended the data is written now.
[[nodiscard]] Result finishText(DownloadOperation& op);

}  // namespace net
