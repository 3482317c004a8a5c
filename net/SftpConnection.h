#pragma once
// One SFTP connection over libcurl: a multi handle whose cache keeps the SSH session
// open between operations (libcurl opens a new one only after a failure or a cancel),
// the login and host-key check of every session it opens, and the running of one
// operation with its outcome in the layer's numbers. Internal to net/.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/CurlHandles.h"
#include "net/CurlOperation.h"
#include "net/Engine.h"
#include "net/FtpPath.h"
#include "net/RemoteReplace.h"

namespace net {

// How a session logs in: the password, or a key file and/or the SSH agent.
struct SftpLogin {
    long methods = 0;     // CURLSSH_AUTH_*
    std::string keyFile;  // the private key offered, or empty
};

// Why the newest session's host key was refused.
struct HostKeyRefusal {
    DWORD error = ERROR_INTERNET_INVALID_CA;
    std::string text;
    std::optional<SshHostKey> unknown;  // no known_hosts file knows the host: the key to offer
};

class SftpConnection {
public:
    explicit SftpConnection(const EngineContext& context);
    ~SftpConnection();
    SftpConnection(const SftpConnection&) = delete;
    SftpConnection& operator=(const SftpConnection&) = delete;

    // Sets the options of `op` (its url set already) on a fresh easy handle; op.watcher, when
    // set, is kept. Refused from
    // inside a running call (12110).
    [[nodiscard]] Result prepare(Operation& op);
    // Runs it: the outcome, with op.reply set to the server's refusal where there is one.
    [[nodiscard]] Result perform(Operation& op);
    // Runs one SFTP command as libcurl's QUOTE takes it ("rm \"/a b\""), alone, on op.url
    // (by default the root); what it prints (pwd's "257 ..." naming that URL's folder) goes
    // to `said`.
    [[nodiscard]] Result command(const std::string& line, Operation& op, std::string* said = nullptr);
    // Lists `folder` (absolute) into `entries`, "." and ".." left out: they are the folder
    // and its parent, not entries of it.
    [[nodiscard]] Result list(const std::string& folder, std::vector<ListEntry>& entries, ListingOperation& op);
    // The size of a stored file and, with `time`, its modification time (seconds since the
    // epoch; -1: not told); nullopt when the server would not tell the size. `failed`, when
    // given, is the operation's outcome.
    struct Stored {
        std::uint64_t size = 0;
        std::int64_t mtime = -1;
    };
    std::optional<Stored> stat(const std::string& path, Operation& op, bool time = false, Result* failed = nullptr);
    std::string url(std::string_view absolutePath, bool folder) const;

    // Asks each new session for the host-key type that known_hosts knows for the server, so
    // that the server shows the key that can be checked; with `forget`, for none.
    [[nodiscard]] Result chooseHostKeyType(bool forget = false);
    const std::string& hostKeyTypeAsked() const { return m_askedType; }

    ServerAddress server;
    std::string serverName;  // as typed, for what the user is told
    std::string authority;   // "host:port"
    std::optional<std::string> resolveEntry;
    std::string user;
    std::string password;
    SftpLogin login;
    std::string cwd = "/";
    RenameSupport renames = RenameSupport::Unknown;
    // A change of folder lists it; the call right after it (a listing of that folder, or an
    // upload's look at the old file) takes that listing rather than asking again.
    std::optional<std::pair<std::string, std::vector<ListEntry>>> justListed;
    // That listing when it is of `folder`; it is gone either way.
    std::optional<std::vector<ListEntry>> takeListing(const std::string& folder);
    CURLcode lastCode = CURLE_OK;                  // of the newest operation
    std::optional<HostKeyRefusal> hostKeyRefusal;  // of the newest operation's new session
    bool askedTypeFailed = false;  // the key type asked for could not be used: none is asked now
    std::vector<curl_socket_t> sockets;  // open TCP sockets of this connection (the stall rule reads them)
    CurlMulti multi;  // declared before `easy`: it goes last, closing the session
    CurlEasy easy;

private:
    static int onHostKey(void* self, int type, const char* key, size_t length);
    bool acceptHostKey(std::string_view blob);
    [[nodiscard]] Result failure(CURLcode rc, Operation& op);
    bool lostWhileClosing() const;

    EngineContext m_context;
    std::string m_acceptedKey;     // the host key the connection's first session accepted
    std::string m_askedType;       // the host-key type asked for, or empty
    std::string m_knownHostsFile;  // a file naming it for libcurl (never the user's own)
    std::string m_curlText;        // libcurl's messages of the newest operation
};

}  // namespace net
