#pragma once
// The engine under the Internet calls: one per connection handle, chosen by the
// server name's scheme when connecting (makeEngine). Its calls do the protocol's
// work and return all they learn as a value; only CurlInternet's entry points
// turn that value into a handle or BOOL, the thread's last error, last server
// reply, failure detail and notice. Internal to net/.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/InternetApi.h"
#include "net/LayerOptions.h"
#include "net/ListingParser.h"
#include "net/Result.h"
#include "net/ServerCertificate.h"

namespace net {

// A server's reply as InternetGetLastResponseInfoA gives it (code 0: words of the layer's own).
struct ServerReply {
    DWORD code = 0;
    std::string text;
};

// What one engine call learnt.
struct [[nodiscard]] Outcome {
    Result result;                     // the error number and, on failure, the reason in words
    std::optional<ServerReply> reply;  // the server's reply that ended the call; none: it said nothing
    std::string notice;                // what the user must read, failed or not (files the server kept, a part kept)
    bool ok() const { return result.ok(); }
};

struct [[nodiscard]] ConnectOutcome : Outcome {
    // A secure connect that failed (12045) only because no trusted authority issued the
    // server's certificate, while no key is trusted for the server: that certificate.
    std::optional<ServerCertificate> untrusted;
    // An SSH connect that failed (12045) only because no known_hosts file knows the host: its key.
    std::optional<SshHostKey> unknownHostKey;
};

// InternetConnectA's arguments, checked for line breaks, and its session's gateway.
struct ConnectRequest {
    std::string serverName;  // as typed: "host", "host:2121", "ftps://[::1]", ...
    INTERNET_PORT port = 0;  // the call's port: 0 for the scheme's own (a port in the name wins)
    std::string user;        // empty: anonymous
    std::string password;
    bool passive = true;
    bool viaGateway = false;  // the session goes through a TIS gateway, named by `gateway`
    std::string gateway;
};

struct DownloadRequest {
    std::string remotePath;  // absolute on the server
    std::string shownName;   // as the caller named it, for the progress window
    std::string localPath;
    bool failIfExists = false;
    bool writeThrough = false;  // on disk before the call returns
    bool ascii = false;
    bool keepsPart = true;  // a binary download cut keeps what arrived, to continue it
    bool oneOfMany = false;  // FTP_FLAG_NO_PART: its file may be one made ahead (SpareFiles)
};

struct UploadRequest {
    std::string localPath;
    std::string remotePath;  // absolute on the server
    std::string shownName;   // as the caller named it, for the progress window
    bool ascii = false;
    bool newName = false;  // FTP_FLAG_NEW_NAME
};

// What the layer lends an engine for the engine's life.
struct EngineContext {
    const LayerOptions& options;
    const RunTrust& trust;              // keys the user trusted for this run
    CallWatcher* const& watcher;        // the layer's watcher of long calls (null: none), read as each step begins
    const std::atomic<bool>& closed;    // the connection's handle was closed: a running call is cancelled
};

class Engine {
public:
    virtual ~Engine() = default;

    // Sets the connection up and logs in; on success the current folder is the login folder.
    virtual ConnectOutcome connect(const ConnectRequest& request) = 0;
    // The current server folder as the engine keeps it (absolute); asks the server nothing.
    virtual std::string currentDirectory() const = 0;
    // Makes `path` (absolute) the current folder.
    virtual Outcome changeDirectory(const std::string& path) = 0;
    // Every entry of `folder` (absolute) as listed, "." and ".." included when listed.
    // linksAsLinks: a link to a folder must show as a link, not as the folder it leads to.
    virtual Outcome list(const std::string& folder, std::vector<ListEntry>& entries, bool linksAsLinks) = 0;
    virtual Outcome download(const DownloadRequest& request) = 0;
    // Replaces the server file only with a complete new one (RemoteReplace).
    virtual Outcome upload(const UploadRequest& request) = 0;

    // Server commands; every path absolute. A refusal comes with the server's words.
    virtual Outcome createDirectory(const std::string& path) = 0;
    virtual Outcome removeDirectory(const std::string& path) = 0;  // an empty folder
    virtual Outcome removeFile(const std::string& path) = 0;
    virtual Outcome rename(const std::string& from, const std::string& to) = 0;
    virtual Outcome setPermissions(const std::string& path, unsigned mode) = 0;
};

class DownloadTarget;
struct ServerFileId;

// A download that may continue a part kept from a cut one, whatever the protocol. When the
// target's part came from `file`'s server and path, `describe` fills in the server file's size
// and time; failing, the part stays (unless the user cancelled) and that is the outcome. The
// part continues (`fetch` from its end) only while those are the ones it came from; otherwise,
// or when the server will not continue there (`fetch` sets `startOver`), it is emptied and the
// file read from its start.
Outcome continueOrStartOver(DownloadTarget& target, ServerFileId& file, const CallWatcher* watcher,
                            const std::function<Outcome(ServerFileId& file)>& describe,
                            const std::function<Outcome(std::uint64_t offset, bool& startOver)>& fetch);

// The engine for a server name: "sftp://" gives the SFTP engine; "ftp://", "ftps://" or no
// scheme the FTP engine.
std::unique_ptr<Engine> makeEngine(std::string_view serverName, const EngineContext& context);

}  // namespace net
