#include "net/FtpConnection.h"

#include <algorithm>
#include <cstring>
#include <tuple>
#include <utility>

#include "net/TlsFailure.h"

// The options of an FTP operation, and its outcome from libcurl's and the server's.

namespace net {
namespace {

// The server closed the connection while it lay idle, so this call did nothing
// there: it ran on the connection kept from before, and the very first reply was
// 421 ("Control connection timed out", sent when the idle time ran out and read
// only now), or the connection closed before any reply came.
bool closedWhileIdle(CURL* easy, const Operation& op, CURLcode rc)
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

FtpConnection::FtpConnection(const EngineContext& context) : m_context(context) {}

FtpConnection::~FtpConnection()
{
    // QUIT is sent when the multi handle goes, with the response time-out of the
    // last easy handle added to it: do not wait long for its answer.
    if (easy && multi) {
        curl_easy_setopt(easy.get(), CURLOPT_SERVER_RESPONSE_TIMEOUT, 2L);
        if (curl_multi_add_handle(multi.get(), easy.get()) == CURLM_OK)
            curl_multi_remove_handle(multi.get(), easy.get());
    }
}

std::string FtpConnection::url(std::string_view absolutePath, bool folder) const
{
    return "ftp://" + authority + urlPath(absolutePath, folder);
}

Result FtpConnection::prepare(Operation& op)
{
    // Made from inside a running call (its watcher pumping events): the easy
    // handle may be the one in use, so nothing is touched.
    if (insideCall())
        return Result::failure(ERROR_FTP_TRANSFER_IN_PROGRESS, "another call is running");
    if (!multi)
        return Result::failure(ERROR_NOT_ENOUGH_MEMORY, "no multi handle");
    easy.reset();
    CURL* h = easy.get();
    op.watcher = m_context.watcher;
    op.closed = &m_context.closed;
    CURLcode rc = watchOperation(h, op, sockets);
    auto set = [&](CURLoption option, auto value) {
        const CURLcode r = curl_easy_setopt(h, option, value);
        if (rc == CURLE_OK)
            rc = r;
    };
    // The connect step has its own limit (libcurl's connect time-out covers TCP,
    // greeting and login); every other step fails after stallTimeout without a byte.
    op.stallAfter = m_context.options.stallTimeout;
    if (op.progress.kind == CallProgress::Kind::Connecting)
        op.stallAfter = std::max<std::chrono::steady_clock::duration>(op.stallAfter, m_context.options.connectTimeout);
    // libcurl's own wait for a reply only backs the stall rule up.
    const long backstop = static_cast<long>(std::chrono::ceil<std::chrono::seconds>(op.stallAfter).count()) + 30;
    set(CURLOPT_URL, op.url.c_str());
    set(CURLOPT_PROTOCOLS_STR, "ftp");
    set(CURLOPT_USERNAME, user.c_str());
    set(CURLOPT_PASSWORD, password.c_str());
    set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_context.options.connectTimeout.count()));
    set(CURLOPT_ACCEPTTIMEOUT_MS, static_cast<long>(m_context.options.connectTimeout.count()));
    set(CURLOPT_SERVER_RESPONSE_TIMEOUT, backstop);
    // Data connections go to the control connection's peer, whatever a 227 reply says.
    set(CURLOPT_FTP_SKIP_PASV_IP, 1L);
    // Each data connection's "address:port" would stay in libcurl's name cache for a minute,
    // and every connection walks the whole cache: a batch of small files slowed down as it
    // went. Names given through CURLOPT_RESOLVE stay; an address needs no cache.
    set(CURLOPT_DNS_CACHE_TIMEOUT, 0L);
    set(CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
    set(CURLOPT_PATH_AS_IS, 1L);
    if (!passive)
        set(CURLOPT_FTPPORT, "-");
    if (server.tls) {
        // Explicit TLS, required: AUTH TLS before USER, PROT P for data, no plain fallback.
        set(CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        set(CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
        // A key trusted for this run stands in for the authorities (PeerCheck) and for nothing
        // else: dates and name are checked as for any certificate.
        set(CURLOPT_SSL_VERIFYPEER, 1L);
        set(CURLOPT_SSL_VERIFYHOST, 2L);
        if (!pinnedKey.empty())
            set(CURLOPT_PINNEDPUBLICKEY, pinnedKey.c_str());
        if (peer) {
            peer->clear();
            // A TLS library without this hook offers nothing to trust; the checks stay the same.
            (void)curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, &PeerCheck::install);
            (void)curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, static_cast<void*>(&*peer));
        }
        // TLS 1.2, whose ticket comes inside the handshake. Over TLS 1.3 the server sends session
        // tickets after it; an upload never reads its data connection, so this libcurl closes
        // it with them unread and the kernel resets it: a server may then cut the file short
        // (one daemon answered 426 to 13 of 120 uploads, all at 114,688 bytes; the upload
        // fails with 12030). Data connections take the control connection's TLS settings, so
        // a server that refuses TLS 1.2 gets TLS 1.3 for everything but uploads (FtpPutFileA).
        const long version = tls13
            ? static_cast<long>(CURL_SSLVERSION_TLSv1_3) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_3)
            : static_cast<long>(CURL_SSLVERSION_TLSv1_2) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2);
        set(CURLOPT_SSLVERSION, version);
        if (!caFile.empty())
            set(CURLOPT_CAINFO, caFile.c_str());
        if (!caPath.empty())
            set(CURLOPT_CAPATH, caPath.c_str());
    }
    if (resolveEntry) {
        if (!op.resolve.append(*resolveEntry))
            return Result::failure(ERROR_NOT_ENOUGH_MEMORY, "out of memory");
        set(CURLOPT_RESOLVE, op.resolve.get());
    }
    if (rc != CURLE_OK)
        return Result::failure(errorFromCurl(rc), curl_easy_strerror(rc));
    return Result::success();
}

Result FtpConnection::perform(Operation& op)
{
    const CallDepth depth;
    op.lastByte = std::chrono::steady_clock::now();
    op.startWatch();
    const bool firstOfCall = std::exchange(callStart, false);
    CURLcode rc = drive(multi.get(), easy.get(), op);
    if (firstOfCall && closedWhileIdle(easy.get(), op, rc)) {
        // libcurl has dropped that connection: running the call again logs in once more
        // on a new one. Not a retry of anything done half-way; a failed login is reported.
        op.replies.reset();
        op.lastByte = std::chrono::steady_clock::now();
        rc = drive(multi.get(), easy.get(), op);
    }
    op.curlCode = rc;
    if (!op.holdWatch)
        op.endWatch();
    // The reply that ended the last command: libcurl ends a reply at any "ddd " line,
    // so a multi-line reply it acted on may still be open here (RFC 959 ends it only
    // at its own code); that one is the answer, not the reply before it.
    if (const std::optional<FtpReply> open = op.replies.unfinished())
        op.reply = ServerReply{static_cast<DWORD>(open->code), open->text};
    else if (const FtpReply* reply = op.replies.last())
        op.reply = ServerReply{static_cast<DWORD>(reply->code), reply->text};
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
    if (server.tls && !op.cancelled) {
        // What the handshakes saw comes first: libcurl tells a data connection's refused
        // certificate as a garbled reply ("Bad PASV/EPSV response: 150"), blaming the server.
        std::optional<TlsFailure> tls;
        if (peer)
            tls = describeCertificateRefusal(peer->showedOtherKey(), peer->refusal());
        if (!tls && error == errorFromCurl(rc))
            tls = describeTlsFailure(easy.get(), rc, op.replies.last(), easy.errorText());
        if (tls) {
            tlsVersionRefused = tls->versionRefused;
            if (op.progress.kind != CallProgress::Kind::Connecting) {
                // After a refused data connection libcurl may read the control connection a reply or
                // two behind ("Bad PASV/EPSV response: 250" at the next call): it goes (QUIT, with
                // 2 s for its answer), and the next call logs in on a new one.
                curl_easy_setopt(easy.get(), CURLOPT_SERVER_RESPONSE_TIMEOUT, 2L);
                if (curl_multi_add_handle(multi.get(), easy.get()) == CURLM_OK)
                    curl_multi_remove_handle(multi.get(), easy.get());
                multi.reset();
            }
            op.reply = ServerReply{tls->replyCode, tls->explanation};
            return Result::failure(tls->error, std::move(tls->explanation));
        }
    }
    if (op.localErrno)  // the local file's own reason ("No space left on device") says more than libcurl's
        return Result::failure(error, std::strerror(op.localErrno));
    std::string text = std::string(curl_easy_strerror(rc)) + ": " + easy.errorText();
    long osErrno = 0;  // the socket's reason, such as "Connection refused"
    const bool socketFailed = rc == CURLE_COULDNT_CONNECT || rc == CURLE_SEND_ERROR || rc == CURLE_RECV_ERROR;
    if (socketFailed && curl_easy_getinfo(easy.get(), CURLINFO_OS_ERRNO, &osErrno) == CURLE_OK &&
        osErrno != 0)
        text += std::string(" (") + std::strerror(static_cast<int>(osErrno)) + ")";
    return Result::failure(error, text);
}

// ASCII transfers ask for TYPE A themselves, just before the transfer command, and the
// layer converts the line ends. libcurl's text mode (CURLOPT_TRANSFERTEXT) is not used:
// on upload it turns every LF into CR LF again (a CR LF line end went out as CR CR LF),
// on download it turns CR LF and every lone CR into LF. libcurl does not see that TYPE A,
// so after one the binary transfers of the connection ask for TYPE I again themselves.
Result FtpConnection::chooseType(TransferOperation& op, bool ascii)
{
    op.ascii = ascii;
    CURL* h = easy.get();
    if (ascii || typeMayBeAscii) {
        if (!op.prequote.append(ascii ? "TYPE A" : "TYPE I"))
            return Result::failure(ERROR_NOT_ENOUGH_MEMORY, "out of memory");
        curl_easy_setopt(h, CURLOPT_PREQUOTE, op.prequote.get());
    }
    if (ascii) {
        typeMayBeAscii = true;
        // SIZE and "150 ... (n bytes)" count the stored file, not the text on the wire.
        curl_easy_setopt(h, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    }
    return Result::success();
}

// '*': a refusal is an answer, not a broken connection, so it costs no new login.
StepReply FtpConnection::command(const std::string& line, std::string_view folder, Watch watch,
                                 const CallProgress& shown, std::optional<ServerReply>& reply, CallWatcher* partOf,
                                 const std::string& then, StepReply* thenReply)
{
    StepReply out;
    Operation op;
    op.url = url(folder, true);
    if (out.result = prepare(op); !out.result.ok())
        return out;
    if (partOf)
        op.watcher = partOf;
    op.progress = shown;
    op.cleanup = watch == Watch::CleanUp;
    op.quoted = line;
    if (!op.quote.append("*" + line) || (!then.empty() && !op.quote.append("*" + then))) {
        out.result = Result::failure(ERROR_NOT_ENOUGH_MEMORY, "out of memory");
        return out;
    }
    CURL* h = easy.get();
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(h, CURLOPT_QUOTE, op.quote.get());
    if (watch == Watch::CleanUp)  // the user is not kept waiting long
        curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, 5000L);
    out.result = perform(op);
    if (op.reply)
        reply = op.reply;
    const std::vector<FtpReply>& replies = op.replies.replies();
    auto answer = [&](std::size_t at, StepReply& to) {
        if (at < replies.size())
            std::tie(to.code, to.text) = std::tie(replies[at].code, replies[at].text);
    };
    answer(op.quotedAt, out);
    if (thenReply) {
        *thenReply = {0, {}, out.result};
        if (op.quotedAt < replies.size())  // the first was answered: the second's reply follows
            answer(op.quotedAt + 1, *thenReply);
    }
    return out;
}

}  // namespace net
