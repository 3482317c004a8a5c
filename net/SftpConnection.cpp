#include "net/SftpConnection.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "net/KnownHosts.h"

// The options of an SFTP operation, the host-key check, and the outcome in the layer's numbers.

namespace net {
namespace {

constexpr long kBufferSize = 2 * 1024 * 1024;

size_t collect(char* data, size_t size, size_t count, void* text)
{
    static_cast<std::string*>(text)->append(data, size * count);
    return size * count;
}

// What libcurl's error text says the server answered: "Upload failed: Disk full (14/-31)"
// gives "Disk full".
std::string statusWords(std::string text)
{
    if (const auto colon = text.rfind(": "); colon != std::string::npos)
        text.erase(0, colon + 2);
    if (const auto open = text.rfind(" ("); open != std::string::npos && text.ends_with(")"))
        text.erase(open);
    return text.empty() ? std::string("The server refused it.") : text;
}

// The host-key types libssh2 checks, best first.
int typeRank(std::string_view type)
{
    if (type == "ssh-ed25519")
        return 0;
    if (type.starts_with("ecdsa-sha2-nistp"))
        return 1;
    if (type == "ssh-rsa")
        return 2;
    return -1;
}

}  // namespace

SftpConnection::SftpConnection(const EngineContext& context) : m_context(context) {}

SftpConnection::~SftpConnection()
{
    if (!m_knownHostsFile.empty())
        ::unlink(m_knownHostsFile.c_str());
}

std::string SftpConnection::url(std::string_view absolutePath, bool folder) const
{
    return "sftp://" + authority + sftpUrlPath(absolutePath, folder);
}

Result SftpConnection::chooseHostKeyType(bool forget)
{
    std::string best;
    if (!forget) {
        const KnownHosts known = KnownHosts::forUser();
        std::vector<std::string> types = known.knownTypes(server.host, server.port);
        if (types.empty())  // a port 22 entry is taken for any port, as ssh takes it
            types = known.knownTypes(server.host, 22);
        for (const std::string& type : types)
            if (typeRank(type) >= 0 && (best.empty() || typeRank(type) < typeRank(best)))
                best = type;
    }
    m_askedType = best;
    if (best.empty()) {
        if (!m_knownHostsFile.empty())
            ::unlink(m_knownHostsFile.c_str());
        m_knownHostsFile.clear();
        return Result::success();
    }
    // libcurl asks the server for the type of the first entry naming the host; the key in it
    // is never compared (the host-key callback decides), but libssh2 skips one under 20 bytes.
    if (m_knownHostsFile.empty()) {
        const char* folder = std::getenv("TMPDIR");
        std::string name = std::string(folder && *folder ? folder : "/tmp") + "/quillon-known-hosts-XXXXXX";
        const int fd = ::mkstemp(name.data());
        if (fd < 0)
            return Result::failure(errorFromErrno(errno), std::strerror(errno));
        ::close(fd);
        m_knownHostsFile = name;
    }
    const std::string host = server.port == INTERNET_DEFAULT_SSH_PORT
                                 ? server.host
                                 : "[" + server.host + "]:" + std::to_string(server.port);
    const std::string line = host + " " + best + " " + std::string(68, 'A') + "\n";
    const int fd = ::open(m_knownHostsFile.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    const bool written = fd >= 0 && ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    if (fd >= 0)
        ::close(fd);
    return written ? Result::success() : Result::failure(ERROR_ACCESS_DENIED, m_knownHostsFile + ": not written");
}

int SftpConnection::onHostKey(void* self, int, const char* key, size_t length)
{
    return static_cast<SftpConnection*>(self)->acceptHostKey(std::string_view(key, length)) ? CURLKHMATCH_OK
                                                                                           : CURLKHMATCH_MISMATCH;
}

// Before any password or key goes: the key must be the one this connection began with,
// else one that known_hosts holds for the host, else (the host unknown there) the one the
// user trusted for this run.
bool SftpConnection::acceptHostKey(std::string_view blob)
{
    const std::string quoted = "\"" + serverName + "\"";
    const std::string description = sshKeyDescription(blob) + ".";
    if (!m_acceptedKey.empty()) {
        if (blob == m_acceptedKey)
            return true;
        hostKeyRefusal = HostKeyRefusal{ERROR_INTERNET_SEC_INVALID_CERT,
                                        "The host key of " + quoted + " changed while the program was connected to it.\r\n" +
                                            description + "\r\n\r\nSomeone may be pretending to be this server. Nothing "
                                                          "more was sent.",
                                        std::nullopt};
        return false;
    }
    const HostKeyVerdict verdict = KnownHosts::forUser().check(server.host, server.port, blob);
    switch (verdict.status) {
    case HostKeyStatus::Known:
        break;
    case HostKeyStatus::Revoked:
        hostKeyRefusal = HostKeyRefusal{ERROR_INTERNET_SEC_CERT_REVOKED, hostKeyWarning(serverName, blob, verdict), {}};
        return false;
    case HostKeyStatus::Changed: {
        std::string text = hostKeyWarning(serverName, blob, verdict);
        if (askedTypeFailed)  // the server's known key was of a type that could not be checked
            text = "The host key known for " + quoted + " in " + verdict.file + ", line " +
                   std::to_string(verdict.line) +
                   " could not be checked: the server refused the signatures this program checks that key type "
                   "with (RSA keys: SHA-1 only). It showed another key, which your known hosts do not hold:\r\n" +
                   description + "\r\n\r\nNo connection was made. If the server's administrator confirms this key, "
                                 "add it to your known hosts.";
        hostKeyRefusal = HostKeyRefusal{ERROR_INTERNET_SEC_INVALID_CERT, text, {}};
        return false;
    }
    case HostKeyStatus::Unknown:
        if (const auto trusted = m_context.trust.hostKeyFor(knownHostsName(server.host, server.port))) {
            if (*trusted == blob)
                break;
            hostKeyRefusal = HostKeyRefusal{ERROR_INTERNET_SEC_INVALID_CERT,
                                            "The host key of " + quoted +
                                                " is not the one you chose to trust for this run.\r\n" + description +
                                                "\r\n\r\nSomeone may be pretending to be this server. No connection "
                                                "was made.",
                                            {}};
            return false;
        }
        hostKeyRefusal = HostKeyRefusal{ERROR_INTERNET_INVALID_CA,
                                        "The authenticity of host " + quoted +
                                            " can't be established: no known_hosts file holds its key.\r\n" +
                                            description + " Nothing was sent to it.",
                                        SshHostKey{serverName, server.host, server.port, std::string(blob)}};
        return false;
    }
    m_acceptedKey = std::string(blob);
    return true;
}

Result SftpConnection::prepare(Operation& op)
{
    if (insideCall())
        return Result::failure(ERROR_FTP_TRANSFER_IN_PROGRESS, "another call is running");
    if (!multi)
        return Result::failure(ERROR_NOT_ENOUGH_MEMORY, "no multi handle");
    easy.reset();
    CURL* h = easy.get();
    if (!op.watcher)  // a step of a call made of several (StepsCall) keeps that call's
        op.watcher = m_context.watcher;
    op.closed = &m_context.closed;
    // A cancelled operation's session goes: shut at once, libcurl's goodbye to the server
    // costs nothing, and the server learns of the cancel now.
    op.abandon = [this] {
        for (const curl_socket_t socket : sockets)
            ::shutdown(socket, SHUT_RDWR);
    };
    CURLcode rc = watchOperation(h, op, sockets);
    auto set = [&](CURLoption option, auto value) {
        const CURLcode r = curl_easy_setopt(h, option, value);
        if (rc == CURLE_OK)
            rc = r;
    };
    op.stallAfter = m_context.options.stallTimeout;
    if (op.progress.kind == CallProgress::Kind::Connecting)
        op.stallAfter = std::max<std::chrono::steady_clock::duration>(op.stallAfter, m_context.options.connectTimeout);
    const long backstop = static_cast<long>(std::chrono::ceil<std::chrono::seconds>(op.stallAfter).count()) + 30;
    // libssh2 keeps as many requests in flight as the buffer holds (30000 bytes each):
    // OpenSSH's sftp keeps 64 of 32 KiB.
    set(CURLOPT_BUFFERSIZE, kBufferSize);
    set(CURLOPT_UPLOAD_BUFFERSIZE, kBufferSize);
    set(CURLOPT_URL, op.url.c_str());
    set(CURLOPT_PROTOCOLS_STR, "sftp");
    set(CURLOPT_PATH_AS_IS, 1L);
    set(CURLOPT_USERNAME, user.c_str());
    set(CURLOPT_SSH_AUTH_TYPES, login.methods);
    if (login.methods & (CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD))
        set(CURLOPT_PASSWORD, password.c_str());
    if (!login.keyFile.empty())
        set(CURLOPT_SSH_PRIVATE_KEYFILE, login.keyFile.c_str());
    set(CURLOPT_SSH_HOSTKEYFUNCTION, &SftpConnection::onHostKey);
    set(CURLOPT_SSH_HOSTKEYDATA, static_cast<void*>(this));
    if (!m_knownHostsFile.empty())
        set(CURLOPT_SSH_KNOWNHOSTS, m_knownHostsFile.c_str());
    set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_context.options.connectTimeout.count()));
    set(CURLOPT_SERVER_RESPONSE_TIMEOUT, backstop);
    set(CURLOPT_MAXAGE_CONN, 24L * 3600);  // the session is kept however long the window is idle
    if (resolveEntry) {
        if (!op.resolve.append(*resolveEntry))
            return Result::failure(ERROR_NOT_ENOUGH_MEMORY, "out of memory");
        set(CURLOPT_RESOLVE, op.resolve.get());
    }
    if (rc != CURLE_OK)
        return Result::failure(errorFromCurl(rc), curl_easy_strerror(rc));
    return Result::success();
}

Result SftpConnection::perform(Operation& op)
{
    const CallDepth depth;
    op.lastByte = std::chrono::steady_clock::now();
    op.startWatch();
    hostKeyRefusal.reset();
    m_curlText.clear();
    op.curlText = &m_curlText;
    lastCode = drive(multi.get(), easy.get(), op);
    op.abandon = nullptr;  // a cancel after the transfer (a download's flush) keeps the session
    if (!op.holdWatch)
        op.endWatch();
    if (lastCode == CURLE_OK && op.localErrno == 0)
        return Result::success();
    if (op.cancelled)
        return Result::failure(ERROR_INTERNET_OPERATION_CANCELLED, "cancelled");
    if (op.stalled)
        return Result::failure(ERROR_INTERNET_TIMEOUT, "no byte came or went for too long");
    if (op.localErrno)
        return Result::failure(errorFromErrno(op.localErrno), std::strerror(op.localErrno));
    return failure(lastCode, op);
}

// libcurl tells a refused read or write and a lost connection alike (CURLE_SSH, no words);
// what tells them apart is the file's close, which libcurl tries next and reports only when
// it failed: for want of a connection, or with an answer (-31, LIBSSH2_ERROR_SFTP_PROTOCOL).
bool SftpConnection::lostWhileClosing() const
{
    static const std::string kFailedClose = "Failed to close libssh2 file: ";
    const auto at = m_curlText.find(kFailedClose);
    return at != std::string::npos && std::atoi(m_curlText.c_str() + at + kFailedClose.size()) != -31;
}

// libcurl's SSH codes in the layer's numbers. What the server refused comes as 12003 with its
// words as the reply (code 0: SFTP has no reply codes).
Result SftpConnection::failure(CURLcode rc, Operation& op)
{
    const auto refused = [&op](std::string words) {
        op.reply = ServerReply{0, words};
        return Result::failure(ERROR_INTERNET_EXTENDED_ERROR, std::move(words));
    };
    const std::string said = easy.errorText();
    const bool connecting = op.progress.kind == CallProgress::Kind::Connecting;
    switch (rc) {
    case CURLE_PEER_FAILED_VERIFICATION:
        if (hostKeyRefusal)
            return Result::failure(hostKeyRefusal->error, hostKeyRefusal->text);
        return Result::failure(ERROR_INTERNET_INVALID_CA, "The server's host key could not be read.");
    case CURLE_LOGIN_DENIED:
        return refused("The server refused the login.");
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_REMOTE_DISK_FULL:
    case CURLE_REMOTE_FILE_EXISTS:
    case CURLE_QUOTE_ERROR:
    case CURLE_UPLOAD_FAILED:
        return refused(statusWords(said));
    case CURLE_SSH:
    case CURLE_FAILED_INIT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        if (connecting)
            return Result::failure(ERROR_INTERNET_SECURITY_CHANNEL_ERROR,
                                   "The SSH connection could not be set up" + (said.empty() ? "." : ": " + said));
        if (rc != CURLE_SSH || lostWhileClosing())
            return Result::failure(ERROR_INTERNET_CONNECTION_ABORTED, "The connection to the server was lost.");
        // The file still closed: the session held, and the server refused a read or a write.
        return refused("The server broke the transfer off without saying why: its disk may be full, or the name "
                       "may be a folder's.");
    default:
        break;
    }
    std::string text = std::string(curl_easy_strerror(rc)) + (said.empty() ? "" : ": " + said);
    long osErrno = 0;
    if (rc == CURLE_COULDNT_CONNECT && curl_easy_getinfo(easy.get(), CURLINFO_OS_ERRNO, &osErrno) == CURLE_OK &&
        osErrno != 0)
        text += std::string(" (") + std::strerror(static_cast<int>(osErrno)) + ")";
    return Result::failure(errorFromCurl(rc), text);
}

Result SftpConnection::command(const std::string& line, Operation& op, std::string* said)
{
    if (op.url.empty())
        op.url = url("/", true);
    if (Result r = prepare(op); !r.ok())
        return r;
    if (!op.quote.append(line))
        return Result::failure(ERROR_NOT_ENOUGH_MEMORY, "out of memory");
    CURL* h = easy.get();
    if (said) {
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &collect);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, static_cast<void*>(said));
    }
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);  // on a folder: the command alone
    curl_easy_setopt(h, CURLOPT_QUOTE, op.quote.get());
    if (op.cleanup)  // after a cancel or a failure: the user is not kept waiting long
        curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, 5000L);
    return perform(op);
}

std::optional<std::vector<ListEntry>> SftpConnection::takeListing(const std::string& folder)
{
    std::optional<std::vector<ListEntry>> out;
    if (justListed && justListed->first == folder)
        out = std::move(justListed->second);
    justListed.reset();
    return out;
}

Result SftpConnection::list(const std::string& folder, std::vector<ListEntry>& entries, ListingOperation& op)
{
    std::string body;
    body.reserve(64 * 1024);
    op.url = url(folder, true);
    op.body = &body;
    if (Result r = prepare(op); !r.ok())
        return r;
    receiveBody(easy.get(), op);
    if (Result r = perform(op); !r.ok())
        return r;
    entries = parseListing(body, false);
    std::erase_if(entries, [](const ListEntry& e) { return e.name == "." || e.name == ".."; });
    return Result::success();
}

std::optional<SftpConnection::Stored> SftpConnection::stat(const std::string& path, Operation& op, bool time,
                                                           Result* failed)
{
    op.url = url(path, false);
    Result r = prepare(op);
    if (r.ok()) {
        curl_easy_setopt(easy.get(), CURLOPT_NOBODY, 1L);  // opened, its size read, closed
        curl_easy_setopt(easy.get(), CURLOPT_FILETIME, time ? 1L : 0L);
        r = perform(op);
    }
    curl_off_t size = -1;
    curl_off_t mtime = -1;
    const bool told = r.ok() && curl_easy_getinfo(easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size) == CURLE_OK &&
                      size >= 0;
    if (time && told && curl_easy_getinfo(easy.get(), CURLINFO_FILETIME_T, &mtime) != CURLE_OK)
        mtime = -1;
    if (failed)
        *failed = std::move(r);
    if (!told)
        return std::nullopt;
    return Stored{static_cast<std::uint64_t>(size), mtime};
}

}  // namespace net
