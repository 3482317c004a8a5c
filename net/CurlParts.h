#pragma once
// What the files of CurlInternet share: the objects behind the handles, one
// running operation, and the calling thread's last server reply. Internal to net/.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "net/CurlHandles.h"
#include "net/CurlInternet.h"
#include "net/FtpPath.h"
#include "net/ListingParser.h"
#include "net/PeerCheck.h"
#include "net/RemoteReplace.h"
#include "net/ReplyReader.h"

namespace net {

struct CurlInternet::Session {
    std::string agent;
    DWORD access = INTERNET_OPEN_TYPE_DIRECT;
    std::string proxy;
};

struct CurlInternet::Connection {
    HINTERNET session = 0;
    ServerAddress server;
    std::string authority;                 // "host:port" of the control peer (server or gateway)
    std::optional<std::string> resolveEntry;
    std::string user;                      // as sent in USER
    std::string password;
    // "ftps://" only: the trusted certificates chosen by SSL_CERT_FILE / SSL_CERT_DIR when the
    // connection was made (empty: libcurl's default store). Kept so every call asks the same.
    std::string caFile;
    std::string caPath;
    // "ftps://" only: watches every handshake; and the key trusted for this run, if any
    // ("sha256//..."), then the only one accepted.
    std::optional<PeerCheck> peer;
    std::string pinnedKey;
    bool tls13 = false;              // the server refused TLS 1.2: TLS 1.3, and no uploads
    bool tlsVersionRefused = false;  // a call failed because the server refused the TLS version
    bool passive = true;
    // An ASCII transfer ran: the server may be in TYPE A while libcurl believes TYPE I.
    bool typeMayBeAscii = false;
    // Set as each call begins, cleared by its first operation: only that one may log
    // in again after an idle close (later ones follow commands the server carried out).
    bool callStart = false;
    std::string cwd = "/";
    bool mlsd = false;
    RenameSupport renames = RenameSupport::Unknown;  // what uploads found the server allows
    // Guarded by the handle table's lock: calls running on it, and whether its handle
    // was closed meanwhile (the running call is then cancelled and the object goes
    // when the last call returns).
    int busy = 0;
    std::atomic<bool> closed{false};
    std::vector<curl_socket_t> sockets;  // open TCP sockets of this connection (the stall rule reads them)
    CurlMulti multi;  // declared before `easy`: it goes last, sending QUIT
    CurlEasy easy;

    ~Connection()
    {
        // QUIT is sent when the multi handle goes, with the response time-out of the
        // last easy handle added to it: do not wait long for its answer.
        if (easy && multi) {
            curl_easy_setopt(easy.get(), CURLOPT_SERVER_RESPONSE_TIMEOUT, 2L);
            if (curl_multi_add_handle(multi.get(), easy.get()) == CURLM_OK)
                curl_multi_remove_handle(multi.get(), easy.get());
        }
    }
};

struct CurlInternet::Find {
    HINTERNET connection = 0;
    std::vector<ListEntry> entries;
    std::size_t next = 0;
};

struct CurlInternet::Operation {
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
    ~Operation() { endWatch(); }
    // Clean-up after a cancel or a failure: the watcher still hears from it (the window
    // stays served), but cannot cancel it; its own time limit bounds it.
    bool cleanup = false;
    ReplyReader replies;
    std::chrono::steady_clock::time_point lastReport{};
    bool reported = false;
    bool cancelled = false;
    const std::atomic<bool>* closed = nullptr;  // the connection's handle was closed
    const std::vector<curl_socket_t>* sockets = nullptr;
    // Stall rule: the call fails when no byte arrived or left for this long.
    std::chrono::steady_clock::duration stallAfter{};
    std::chrono::steady_clock::time_point lastByte{};
    std::uint64_t bytesSeen = 0;     // every byte either way, control and data
    std::uint64_t bytesAtCheck = 0;
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
    // listing
    std::string* body = nullptr;
    std::uint64_t lines = 0;
    // transfers: TYPE A (or I) sent just before the transfer command
    CurlSlist prequote;
    bool ascii = false;
    // download
    int outFd = -1;
    // Write-through: writeback of each few MiB starts as they are written, so the flush at
    // the end has little left to do.
    bool writeBehind = false;
    std::uint64_t written = 0;
    std::uint64_t writebackFrom = 0;
    CrlfDecoder decoder;
    // upload
    int inFd = -1;
    CrlfEncoder encoder;
    std::string pending;
    std::size_t pendingPos = 0;
    std::vector<char> chunk;
    int localErrno = 0;
    bool overlongReply = false;  // libcurl gave up on a reply longer than its own limit
};

// Runs `work` (a blocking step on local files, such as a flush) on a thread of its own
// while the watcher hears from the call as during a transfer. Returns work's result, or
// -1 when the call was cancelled first: `work` then finishes alone, so it must own all
// it uses (a duplicated descriptor, say).
int runServed(CurlInternet::Operation& op, std::function<int()> work);

// The reply that InternetGetLastResponseInfoA gives, per thread.
struct LastReply {
    DWORD code = 0;
    std::string text;
};
LastReply& lastReply();

}  // namespace net
