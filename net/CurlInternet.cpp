#include "net/CurlInternet.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "net/CurlHandles.h"
#include "net/FtpPath.h"
#include "net/ListingParser.h"
#include "net/ReplyReader.h"

namespace net {
namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;
struct LastReply {
    DWORD code = 0;
    std::string text;
};
thread_local LastReply t_lastReply;

std::atomic<HINTERNET> g_nextHandle{1};
std::atomic<unsigned> g_tempCounter{0};
std::once_flag g_curlInit;

constexpr long kBufferSize = 512 * 1024;
constexpr auto kReportInterval = std::chrono::milliseconds(200);

HINTERNET newHandle() { return g_nextHandle.fetch_add(1); }

BOOL fail(DWORD error)
{
    t_lastError = error;
    return FALSE_;
}

BOOL succeed()
{
    t_lastError = ERROR_SUCCESS;
    return TRUE_;
}

BOOL finish(const Result& result) { return result.ok() ? succeed() : fail(result.error); }

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return m_fd; }
    void adopt(int fd)
    {
        reset();
        m_fd = fd;
    }
    // Closes now; returns close()'s errno or 0.
    int reset()
    {
        int err = 0;
        if (m_fd >= 0 && ::close(m_fd) != 0)
            err = errno;
        m_fd = -1;
        return err;
    }

private:
    int m_fd;
};

// A download's temporary file: removed unless committed.
struct TempFile {
    UniqueFd fd;
    std::string path;
    bool committed = false;
    ~TempFile()
    {
        fd.reset();
        if (!committed && !path.empty())
            ::unlink(path.c_str());
    }
};

std::pair<std::string, std::string> splitLocalPath(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

bool isDirectory(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ENOENT on a path: the file (2) or, when its folder is missing too, the path (3).
DWORD missingError(const std::string& path)
{
    return isDirectory(splitLocalPath(path).first) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

void fillRecord(const ListEntry& entry, WIN32_FIND_DATAA* record)
{
    *record = WIN32_FIND_DATAA{};
    record->dwFileAttributes = entry.attributes;
    record->ftLastWriteTime = entry.lastWrite;
    record->nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
    record->nFileSizeLow = static_cast<DWORD>(entry.size & 0xFFFFFFFFu);
    const std::size_t n = std::min<std::size_t>(entry.name.size(), MAX_PATH - 1);
    std::memcpy(record->cFileName, entry.name.data(), n);
    record->cFileName[n] = '\0';
}

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// A TLS failure in words for the user, kept as the last response text.
struct TlsFailure {
    DWORD error;
    DWORD replyCode;
    std::string explanation;
};

// Certificate verification results of the TLS library (X509_V_ERR_*).
enum : long {
    kNoChainVerdict = 1,
    kCertNotYetValid = 9,
    kCertExpired = 10,
    kSelfSignedLeaf = 18,
    kSelfSignedInChain = 19,
    kHostnameMismatch = 62,
    kIpAddressMismatch = 64,
};

std::optional<TlsFailure> describeTlsFailure(CURL* handle, CURLcode rc, const FtpReply* last)
{
    switch (rc) {
    case CURLE_USE_SSL_FAILED: {
        std::string text = "The server does not offer TLS (it refused AUTH TLS), so the login was not sent.";
        if (last)
            text += " The server said: " + last->text;
        return TlsFailure{ERROR_INTERNET_EXTENDED_ERROR, last ? static_cast<DWORD>(last->code) : 0, text};
    }
    case CURLE_PEER_FAILED_VERIFICATION: {
        long verify = 0;
        if (curl_easy_getinfo(handle, CURLINFO_SSL_VERIFYRESULT, &verify) != CURLE_OK)
            verify = -1;
        // libcurl checks the name itself, after the chain passed: a name failure leaves
        // no chain error behind (0, or libcurl's "not verified yet" 1).
        if (verify == 0 || verify == kNoChainVerdict || verify == kHostnameMismatch ||
            verify == kIpAddressMismatch)
            return TlsFailure{ERROR_INTERNET_SEC_CERT_CN_INVALID, 0,
                              "The server's certificate is for another host name."};
        std::string text = "The server's certificate was not issued by a trusted authority.";
        if (verify == kCertExpired)
            text = "The server's certificate has expired.";
        else if (verify == kCertNotYetValid)
            text = "The server's certificate is not valid yet.";
        else if (verify == kSelfSignedLeaf || verify == kSelfSignedInChain)
            text = "The server's certificate is self-signed: it was not issued by a trusted authority.";
        return TlsFailure{ERROR_INTERNET_INVALID_CA, 0, text};
    }
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
        return TlsFailure{ERROR_INTERNET_INVALID_CA, 0,
                          "The trusted certificates could not be read (see SSL_CERT_FILE and SSL_CERT_DIR)."};
    case CURLE_SSL_ISSUER_ERROR:
        return TlsFailure{ERROR_INTERNET_INVALID_CA, 0,
                          "The server's certificate was not issued by a trusted authority."};
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_SHUTDOWN_FAILED:
        return TlsFailure{ERROR_INTERNET_SECURITY_CHANNEL_ERROR, 0,
                          "The secure (TLS) connection to the server could not be set up."};
    default:
        return std::nullopt;
    }
}

bool featOffersMlsd(const std::string& reply)
{
    std::size_t start = 0;
    while (start < reply.size()) {
        std::size_t end = reply.find('\n', start);
        if (end == std::string::npos)
            end = reply.size();
        std::string line = reply.substr(start, end - start);
        start = end + 1;
        const auto first = line.find_first_not_of(' ');
        if (first == std::string::npos || first == 0)
            continue;  // features are indented by one space (RFC 2389)
        std::string word = line.substr(first, 4);
        std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::toupper(c); });
        if (word == "MLST" || word == "MLSD")
            return true;
    }
    return false;
}

}  // namespace

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
    bool passive = true;
    std::string cwd = "/";
    bool mlsd = false;
    CurlEasy easy;

    ~Connection()
    {
        // QUIT is sent when the handle goes; do not wait long for its answer.
        if (easy)
            curl_easy_setopt(easy.get(), CURLOPT_SERVER_RESPONSE_TIMEOUT, 2L);
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
    ReplyReader replies;
    std::chrono::steady_clock::time_point lastReport{};
    bool reported = false;
    bool cancelled = false;
    std::string url;
    CurlSlist quote;
    CurlSlist resolve;
    // listing
    std::string* body = nullptr;
    std::uint64_t lines = 0;
    // download
    int outFd = -1;
    // upload
    int inFd = -1;
    bool ascii = false;
    CrlfEncoder encoder;
    std::string pending;
    std::size_t pendingPos = 0;
    std::vector<char> chunk;
    int localErrno = 0;
    bool overlongReply = false;  // libcurl gave up on a reply longer than its own limit
};

namespace {

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

size_t onBody(char* data, size_t size, size_t count, void* user)
{
    auto* op = static_cast<Op*>(user);
    const size_t n = size * count;
    op->body->append(data, n);
    op->lines += static_cast<std::uint64_t>(std::count(data, data + n, '\n'));
    return n;
}

size_t onFileData(char* data, size_t size, size_t count, void* user)
{
    auto* op = static_cast<Op*>(user);
    const size_t n = size * count;
    size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(op->outFd, data + done, n - done);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            op->localErrno = errno;
            return 0;
        }
        done += static_cast<size_t>(w);
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

size_t onFileRead(char* buffer, size_t size, size_t count, void* user)
{
    auto* op = static_cast<Op*>(user);
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

CurlInternet::CurlInternet() : CurlInternet(Options{}) {}

CurlInternet::CurlInternet(Options options) : m_options(std::move(options))
{
    std::call_once(g_curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CurlInternet::~CurlInternet()
{
    std::lock_guard lock(m_mutex);
    m_finds.clear();
    m_connections.clear();
    m_sessions.clear();
}

DWORD CurlInternet::GetLastError() { return t_lastError; }

void CurlInternet::setCallWatcher(CallWatcher* watcher) { m_watcher = watcher; }

std::string CurlInternet::currentDirectory(HINTERNET hConnect) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_connections.find(hConnect);
    return it == m_connections.end() ? std::string() : it->second->cwd;
}

CurlInternet::Connection* CurlInternet::connectionFor(HINTERNET handle)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_connections.find(handle);
    return it == m_connections.end() ? nullptr : it->second.get();
}

// ---------------------------------------------------------------- entry points

HINTERNET CurlInternet::InternetOpenA(const char* lpszAgent, DWORD dwAccessType, const char* lpszProxy,
                                      const char*, DWORD)
{
    if (dwAccessType != 0 && dwAccessType != INTERNET_OPEN_TYPE_DIRECT && dwAccessType != INTERNET_OPEN_TYPE_PROXY)
        return fail(ERROR_INVALID_PARAMETER);
    auto session = std::make_unique<Session>();
    session->agent = lpszAgent ? lpszAgent : "";
    session->access = dwAccessType == INTERNET_OPEN_TYPE_PROXY ? INTERNET_OPEN_TYPE_PROXY : INTERNET_OPEN_TYPE_DIRECT;
    if (session->access == INTERNET_OPEN_TYPE_PROXY && lpszProxy)
        session->proxy = lpszProxy;
    const HINTERNET handle = newHandle();
    {
        std::lock_guard lock(m_mutex);
        m_sessions.emplace(handle, std::move(session));
    }
    succeed();
    return handle;
}

HINTERNET CurlInternet::InternetConnectA(HINTERNET hInternet, const char* lpszServerName, INTERNET_PORT nServerPort,
                                         const char* lpszUserName, const char* lpszPassword, DWORD dwService,
                                         DWORD dwFlags, DWORD_PTR)
{
    std::string proxy;
    bool viaGateway = false;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_sessions.find(hInternet);
        if (it == m_sessions.end())
            return fail(ERROR_INVALID_HANDLE);
        viaGateway = it->second->access == INTERNET_OPEN_TYPE_PROXY;
        proxy = it->second->proxy;
    }
    if (dwService != INTERNET_SERVICE_FTP || !lpszServerName)
        return fail(ERROR_INVALID_PARAMETER);
    const std::string user = lpszUserName ? lpszUserName : "";
    const std::string password = lpszPassword ? lpszPassword : "";
    if (hasLineBreak(lpszServerName) || hasLineBreak(user) || hasLineBreak(password))
        return fail(ERROR_INVALID_PARAMETER);
    const auto server = parseServerName(lpszServerName, nServerPort);
    if (!server)
        return fail(ERROR_INVALID_PARAMETER);
    if (server->tls && viaGateway) {
        // The gateway takes the login in plain text; TLS would only start behind it.
        t_lastReply = LastReply{0, "A secure (ftps://) connection cannot go through the FTP gateway; "
                                   "nothing was sent."};
        return fail(ERROR_INTERNET_EXTENDED_ERROR);
    }

    auto connection = std::make_unique<Connection>();
    connection->session = hInternet;
    connection->server = *server;
    connection->passive = (dwFlags & INTERNET_FLAG_PASSIVE) != 0;
    connection->user = user.empty() ? "anonymous" : user;
    connection->password = password.empty() && user.empty() ? "quillon@" : password;
    if (server->tls) {
        connection->caFile = environment("SSL_CERT_FILE");
        connection->caPath = environment("SSL_CERT_DIR");
    }
    ServerAddress peer = *server;
    if (viaGateway) {
        // A TIS-style gateway: log in to the gateway as "user@server[:port]".
        std::string_view text = proxy;
        for (const std::string_view prefix : {"ftp=", "ftp://"})
            if (text.substr(0, prefix.size()) == prefix)
                text.remove_prefix(prefix.size());
        while (!text.empty() && text.back() == '/')
            text.remove_suffix(1);
        const auto gateway = hasLineBreak(text) ? std::nullopt : parseServerName(text, 0);
        if (!gateway)
            return fail(ERROR_INTERNET_NAME_NOT_RESOLVED);
        peer = *gateway;
        connection->user += "@" + gatewayTarget(*server);
    }
    if (m_options.resolveHost && !isAddressLiteral(peer.host)) {
        const auto address = m_options.resolveHost(peer.host);
        if (!address)
            return fail(ERROR_INTERNET_NAME_NOT_RESOLVED);
        connection->resolveEntry = peer.host + ":" + std::to_string(peer.port) + ":" + *address;
    }
    connection->authority = urlAuthority(peer);
    if (!connection->easy)
        return fail(ERROR_INTERNET_INTERNAL_ERROR);

    if (const Result result = connect(*connection); !result.ok())
        return fail(result.error);
    const HINTERNET handle = newHandle();
    {
        std::lock_guard lock(m_mutex);
        m_connections.emplace(handle, std::move(connection));
    }
    succeed();
    return handle;
}

BOOL CurlInternet::InternetCloseHandle(HINTERNET hInternet)
{
    std::vector<std::unique_ptr<Connection>> closing;  // destroyed (QUIT) after the lock
    {
        std::lock_guard lock(m_mutex);
        if (m_finds.erase(hInternet))
            return succeed();
        std::vector<HINTERNET> connections;
        if (const auto it = m_connections.find(hInternet); it != m_connections.end()) {
            connections.push_back(hInternet);
        } else if (const auto s = m_sessions.find(hInternet); s != m_sessions.end()) {
            for (const auto& [handle, connection] : m_connections)
                if (connection->session == hInternet)
                    connections.push_back(handle);
            m_sessions.erase(s);
        } else {
            return fail(ERROR_INVALID_HANDLE);
        }
        for (const HINTERNET c : connections) {
            std::erase_if(m_finds, [c](const auto& item) { return item.second->connection == c; });
            auto node = m_connections.extract(c);
            closing.push_back(std::move(node.mapped()));
        }
    }
    closing.clear();
    return succeed();
}

HINTERNET CurlInternet::FtpFindFirstFileA(HINTERNET hConnect, const char* lpszSearchFile,
                                          WIN32_FIND_DATAA* lpFindFileData, DWORD, DWORD_PTR)
{
    Connection* connection = connectionFor(hConnect);
    if (!connection)
        return fail(ERROR_INVALID_HANDLE);
    const std::string_view pattern = lpszSearchFile ? lpszSearchFile : "";
    if (!lpFindFileData || hasLineBreak(pattern))
        return fail(ERROR_INVALID_PARAMETER);
    auto find = std::make_unique<Find>();
    find->connection = hConnect;
    if (const Result result = list(*connection, pattern, *find); !result.ok())
        return fail(result.error);
    fillRecord(find->entries.front(), lpFindFileData);
    find->next = 1;
    const HINTERNET handle = newHandle();
    {
        std::lock_guard lock(m_mutex);
        m_finds.emplace(handle, std::move(find));
    }
    succeed();
    return handle;
}

BOOL CurlInternet::InternetFindNextFileA(HINTERNET hFind, WIN32_FIND_DATAA* lpvFindData)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_finds.find(hFind);
    if (it == m_finds.end())
        return fail(ERROR_INVALID_HANDLE);
    if (!lpvFindData)
        return fail(ERROR_INVALID_PARAMETER);
    Find& find = *it->second;
    if (find.next >= find.entries.size())
        return fail(ERROR_NO_MORE_FILES);
    fillRecord(find.entries[find.next++], lpvFindData);
    return succeed();
}

BOOL CurlInternet::FtpSetCurrentDirectoryA(HINTERNET hConnect, const char* lpszDirectory)
{
    Connection* connection = connectionFor(hConnect);
    if (!connection)
        return fail(ERROR_INVALID_HANDLE);
    if (!lpszDirectory || !*lpszDirectory || hasLineBreak(lpszDirectory))
        return fail(ERROR_INVALID_PARAMETER);
    return finish(changeDirectory(*connection, lpszDirectory));
}

BOOL CurlInternet::FtpGetFileA(HINTERNET hConnect, const char* lpszRemoteFile, const char* lpszNewFile,
                               BOOL fFailIfExists, DWORD dwFlagsAndAttributes, DWORD dwFlags, DWORD_PTR)
{
    Connection* connection = connectionFor(hConnect);
    if (!connection)
        return fail(ERROR_INVALID_HANDLE);
    if (!lpszRemoteFile || !*lpszRemoteFile || !lpszNewFile || !*lpszNewFile || hasLineBreak(lpszRemoteFile) ||
        hasLineBreak(lpszNewFile))
        return fail(ERROR_INVALID_PARAMETER);
    return finish(download(*connection, lpszRemoteFile, lpszNewFile, fFailIfExists != 0,
                           (dwFlagsAndAttributes & FILE_FLAG_WRITE_THROUGH) != 0,
                           (dwFlags & 3) == FTP_TRANSFER_TYPE_ASCII));
}

BOOL CurlInternet::FtpPutFileA(HINTERNET hConnect, const char* lpszLocalFile, const char* lpszNewRemoteFile,
                               DWORD dwFlags, DWORD_PTR)
{
    Connection* connection = connectionFor(hConnect);
    if (!connection)
        return fail(ERROR_INVALID_HANDLE);
    if (!lpszLocalFile || !*lpszLocalFile || !lpszNewRemoteFile || !*lpszNewRemoteFile ||
        hasLineBreak(lpszLocalFile) || hasLineBreak(lpszNewRemoteFile))
        return fail(ERROR_INVALID_PARAMETER);
    return finish(upload(*connection, lpszLocalFile, lpszNewRemoteFile, (dwFlags & 3) == FTP_TRANSFER_TYPE_ASCII));
}

BOOL CurlInternet::InternetGetLastResponseInfoA(DWORD* lpdwError, char* lpszBuffer, DWORD* lpdwBufferLength)
{
    if (!lpdwError || !lpdwBufferLength)
        return fail(ERROR_INVALID_PARAMETER);
    const LastReply& last = t_lastReply;
    const auto length = static_cast<DWORD>(last.text.size());
    *lpdwError = last.code;
    if (!lpszBuffer) {
        *lpdwBufferLength = length;
        return TRUE_;
    }
    if (*lpdwBufferLength < length) {
        if (*lpdwBufferLength > 0) {
            std::memcpy(lpszBuffer, last.text.data(), *lpdwBufferLength - 1);
            lpszBuffer[*lpdwBufferLength - 1] = '\0';
        }
        *lpdwBufferLength = length;
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(lpszBuffer, last.text.data(), length);
    if (*lpdwBufferLength > length)
        lpszBuffer[length] = '\0';
    *lpdwBufferLength = length;
    return TRUE_;
}

// ---------------------------------------------------------------- operations

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
        // TLS 1.2 exactly. Over TLS 1.3 the server sends session tickets after the handshake;
        // on an upload this libcurl closes the data connection with them unread, the kernel
        // then resets it, and the server may lose the file's tail while both sides report
        // success. TLS 1.2 sends its ticket inside the handshake.
        set(CURLOPT_SSLVERSION,
            static_cast<long>(CURL_SSLVERSION_TLSv1_2) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2));
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
    const CURLcode rc = curl_easy_perform(connection.easy.get());
    if (op.watcher)
        op.watcher->callFinished();
    if (const FtpReply* reply = op.replies.last())
        t_lastReply = LastReply{static_cast<DWORD>(reply->code), reply->text};
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
        if (auto tls = describeTlsFailure(connection.easy.get(), rc, op.replies.last())) {
            error = tls->error;
            t_lastReply = LastReply{tls->replyCode, std::move(tls->explanation)};
        }
    }
    return Result::failure(error, std::string(curl_easy_strerror(rc)) + ": " + connection.easy.errorText());
}

Result CurlInternet::connect(Connection& connection)
{
    Operation op;
    op.progress = {CallProgress::Kind::Connecting, connection.server.host, 0, 0};
    op.url = "ftp://" + connection.authority + "/";
    if (Result r = prepare(connection, op); !r.ok())
        return r;
    // '*': a server without FEAT must not fail the login.
    if (!op.quote.append("*FEAT"))
        return Result::failure(ERROR_NOT_ENOUGH_MEMORY, "out of memory");
    CURL* h = connection.easy.get();
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(h, CURLOPT_QUOTE, op.quote.get());
    if (Result r = perform(connection, op); !r.ok())
        return r;
    const char* entry = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry && *entry == '/')
        connection.cwd = entry;
    if (const FtpReply* feat = op.replies.lastWithCode(211))
        connection.mlsd = featOffersMlsd(feat->text);
    return Result::success();
}

Result CurlInternet::list(Connection& connection, std::string_view pattern, Find& find)
{
    std::string folder = connection.cwd;
    std::string_view filter = pattern;
    if (const auto slash = pattern.rfind('/'); slash != std::string_view::npos) {
        folder = resolvePath(connection.cwd, slash == 0 ? std::string_view("/") : pattern.substr(0, slash));
        filter = pattern.substr(slash + 1);
    }
    if (filter == "*.*" || filter == "*")
        filter = {};

    std::string body;
    body.reserve(64 * 1024);
    Operation op;
    op.progress = {CallProgress::Kind::Listing, folder, 0, 0};
    op.url = "ftp://" + connection.authority + urlPath(folder, true);
    op.body = &body;
    if (Result r = prepare(connection, op); !r.ok())
        return r;
    CURL* h = connection.easy.get();
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, connection.mlsd ? "MLSD" : "LIST");
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, static_cast<void*>(&op));
    if (Result r = perform(connection, op); !r.ok())
        return r;
    find.entries = parseListing(body, connection.mlsd);
    // Names with '/', CR, LF or NUL, and names too long for a record, cannot stand for
    // an entry of this folder: they are left out. "." and ".." are kept as listed.
    std::erase_if(find.entries, [](const ListEntry& e) { return !isUsableName(e.name); });
    if (!filter.empty())
        std::erase_if(find.entries, [filter](const ListEntry& e) { return !wildcardMatch(filter, e.name); });
    if (find.entries.empty())
        return Result::failure(ERROR_NO_MORE_FILES, "empty listing");
    return Result::success();
}

Result CurlInternet::changeDirectory(Connection& connection, std::string_view path)
{
    const std::string target = resolvePath(connection.cwd, path);
    Operation op;
    op.progress = {CallProgress::Kind::ChangingDirectory, target, 0, 0};
    op.url = "ftp://" + connection.authority + urlPath(target, true);
    if (Result r = prepare(connection, op); !r.ok())
        return r;
    if (!op.quote.append("PWD"))
        return Result::failure(ERROR_NOT_ENOUGH_MEMORY, "out of memory");
    CURL* h = connection.easy.get();
    // NOBODY on a folder URL performs just the CWD; PWD afterwards names the canonical path.
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(h, CURLOPT_POSTQUOTE, op.quote.get());
    if (Result r = perform(connection, op); !r.ok())
        return r;
    const FtpReply* pwd = op.replies.lastWithCode(257);
    const auto canonical = pwd ? parsePwdReply(pwd->text) : std::nullopt;
    connection.cwd = canonical && canonical->front() == '/' ? *canonical : target;
    return Result::success();
}

Result CurlInternet::download(Connection& connection, std::string_view remote, const std::string& local,
                              bool failIfExists, bool writeThrough, bool ascii)
{
    struct stat st {};
    if (::stat(local.c_str(), &st) == 0) {
        // Only an ordinary file is ever replaced (never a folder, device or pipe).
        if (!S_ISREG(st.st_mode))
            return Result::failure(ERROR_ACCESS_DENIED, "target is not a file");
        if (failIfExists)
            return Result::failure(ERROR_FILE_EXISTS, "target exists");
    }
    const auto [folder, base] = splitLocalPath(local);
    if (base.empty())
        return Result::failure(ERROR_INVALID_PARAMETER, "no file name");
    // A ".." step would let a name taken from a listing climb out of the chosen folder.
    for (std::size_t start = 0; start <= local.size();) {
        std::size_t end = local.find('/', start);
        if (end == std::string::npos)
            end = local.size();
        if (std::string_view(local).substr(start, end - start) == "..")
            return Result::failure(ERROR_INVALID_PARAMETER, "the local path climbs with ..");
        start = end + 1;
    }

    // The target is replaced only by a complete file: write beside it, rename at the end.
    TempFile temp;
    const std::string stem = "." + base.substr(0, 180) + ".quillon-" + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100 && temp.fd.get() < 0; ++attempt) {
        std::string path = folder + "/" + stem + std::to_string(g_tempCounter.fetch_add(1));
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            temp.fd.adopt(fd);
            temp.path = std::move(path);
        } else if (errno != EEXIST) {
            const int err = errno;
            return Result::failure(err == ENOENT ? ERROR_PATH_NOT_FOUND : errorFromErrno(err), std::strerror(err));
        }
    }
    if (temp.fd.get() < 0)
        return Result::failure(ERROR_ACCESS_DENIED, "no temporary file");

    const std::string remotePath = resolvePath(connection.cwd, remote);
    Operation op;
    op.progress = {CallProgress::Kind::Downloading, std::string(remote), 0, 0};
    op.url = "ftp://" + connection.authority + urlPath(remotePath, false);
    op.outFd = temp.fd.get();
    if (Result r = prepare(connection, op); !r.ok())
        return r;
    CURL* h = connection.easy.get();
    if (ascii)
        curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 1L);  // TYPE A; libcurl turns CR LF into LF
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onFileData);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, static_cast<void*>(&op));
    if (Result r = perform(connection, op); !r.ok())
        return r;

    if (writeThrough && ::fsync(temp.fd.get()) != 0)
        return Result::failure(errorFromErrno(errno), std::strerror(errno));
    if (const int err = temp.fd.reset(); err != 0)
        return Result::failure(errorFromErrno(err), std::strerror(err));
    int rc;
    if (failIfExists) {
        rc = ::renameat2(AT_FDCWD, temp.path.c_str(), AT_FDCWD, local.c_str(), RENAME_NOREPLACE);
        if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
            rc = ::link(temp.path.c_str(), local.c_str());
            if (rc == 0)
                ::unlink(temp.path.c_str());
        }
    } else {
        rc = ::rename(temp.path.c_str(), local.c_str());
    }
    if (rc != 0)
        return Result::failure(errorFromErrno(errno), std::strerror(errno));
    temp.committed = true;
    if (writeThrough) {
        const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.get() >= 0)
            ::fsync(dir.get());
    }
    return Result::success();
}

Result CurlInternet::upload(Connection& connection, const std::string& local, std::string_view remote, bool ascii)
{
    const UniqueFd file(::open(local.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        const int err = errno;
        return Result::failure(err == ENOENT ? missingError(local) : errorFromErrno(err), std::strerror(err));
    }
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || S_ISDIR(st.st_mode))
        return Result::failure(ERROR_ACCESS_DENIED, "not a file");

    const std::string remotePath = resolvePath(connection.cwd, remote);
    Operation op;
    op.progress = {CallProgress::Kind::Uploading, std::string(remote), 0, static_cast<std::uint64_t>(st.st_size)};
    op.url = "ftp://" + connection.authority + urlPath(remotePath, false);
    op.inFd = file.get();
    op.ascii = ascii;
    if (Result r = prepare(connection, op); !r.ok())
        return r;
    CURL* h = connection.easy.get();
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, &onFileRead);
    curl_easy_setopt(h, CURLOPT_READDATA, static_cast<void*>(&op));
    if (ascii)
        curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 1L);  // TYPE A; the read callback adds the CRs
    else
        curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(st.st_size));
    return perform(connection, op);
}

}  // namespace net
