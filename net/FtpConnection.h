#pragma once
// One FTP control connection over libcurl: its handles, what the login and the
// server taught it, and the running of one operation on it (the FTP options,
// the outcome read from libcurl and the server's replies). Internal to net/.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/CurlHandles.h"
#include "net/CurlOperation.h"
#include "net/Engine.h"
#include "net/FtpHash.h"
#include "net/FtpPath.h"
#include "net/PeerCheck.h"
#include "net/RemoteReplace.h"

namespace net {

struct FtpConnection {
    explicit FtpConnection(const EngineContext& context);
    ~FtpConnection();  // QUIT, briefly waited for
    FtpConnection(const FtpConnection&) = delete;
    FtpConnection& operator=(const FtpConnection&) = delete;

    // Sets the options of `op` (its url set already) on a fresh easy handle. Refused from
    // inside a running call (12110).
    [[nodiscard]] Result prepare(Operation& op);
    // Runs it: the outcome, and op.reply set to the server's reply that ended it (or the
    // layer's words for a TLS failure) when there is one.
    [[nodiscard]] Result perform(Operation& op);
    // TYPE A or I just before a transfer's command, where the server needs it.
    [[nodiscard]] Result chooseType(TransferOperation& op, bool ascii);
    // The URL of an absolute server path.
    std::string url(std::string_view absolutePath, bool folder) const;

    // How a command's operation is watched: as a step the window shows (`shown`) and the
    // user may cancel; or as a clean-up the window is served through but no cancel stops,
    // bounded by a short time limit.
    enum class Watch { Cancellable, CleanUp };
    // One command sent in `folder` (absolute). A refusal is an answer, not a broken
    // connection. `reply` becomes the operation's reply when it brought one. `partOf`: the
    // call the command is a step of (StepsCall), watched instead of the layer's watcher.
    // `then`: a second command, sent in the same operation as soon as the first is answered
    // (refused or not); its reply goes to *thenReply.
    StepReply command(const std::string& line, std::string_view folder, Watch watch, const CallProgress& shown,
                      std::optional<ServerReply>& reply, CallWatcher* partOf = nullptr, const std::string& then = {},
                      StepReply* thenReply = nullptr);

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
    std::optional<HashCommand> hash;  // the server's hash of a file, as its FEAT reply offers it
    RenameSupport renames = RenameSupport::Unknown;  // what uploads found the server allows
    std::vector<curl_socket_t> sockets;  // open TCP sockets of this connection (the stall rule reads them)
    CurlMulti multi;  // declared before `easy`: it goes last, sending QUIT
    CurlEasy easy;

private:
    EngineContext m_context;
};

}  // namespace net
