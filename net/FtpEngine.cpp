#include "net/FtpEngine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "net/FtpUploadSteps.h"
#include "net/LocalFiles.h"
#include "net/TextLines.h"
#include "net/TlsFailure.h"

// The connect step, listings, changes of folder and the transfers.

namespace net {
namespace {

bool featOffersMlsd(const std::string& reply)
{
    for (const std::string_view line : TextLines(reply)) {
        const auto first = line.find_first_not_of(' ');
        if (first == std::string_view::npos || first == 0)
            continue;  // features are indented by one space (RFC 2389)
        std::string word(line.substr(first, 4));
        std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::toupper(c); });
        if (word == "MLST" || word == "MLSD")
            return true;
    }
    return false;
}

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The reply "213 20240101120000" (or with fractions of a second) to MDTM: seconds since the
// epoch, or -1.
std::int64_t parseMdtm(int code, const std::string& text)
{
    std::tm tm{};
    if (code != 213 || std::sscanf(text.c_str(), "213 %4d%2d%2d%2d%2d%2d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                                   &tm.tm_hour, &tm.tm_min, &tm.tm_sec) != 6)
        return -1;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    const std::time_t t = ::timegm(&tm);
    return t < 0 ? -1 : t;
}

std::string withThousands(std::uint64_t n)
{
    std::string digits = std::to_string(n);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), ",");
    return digits;
}

// What an operation learnt, failed or not.
Outcome outcomeOf(Result result, const Operation& op) { return {std::move(result), op.reply, {}}; }

}  // namespace

FtpEngine::FtpEngine(const EngineContext& context) : m_context(context), m_connection(context) {}

Outcome FtpEngine::configure(const ConnectRequest& request)
{
    FtpConnection& connection = m_connection;
    const auto server = parseServerName(request.serverName, request.port);
    if (!server)
        return {Result::failure(ERROR_INVALID_PARAMETER, {}), std::nullopt, {}};
    if (server->tls && request.viaGateway) {
        // The gateway takes the login in plain text; TLS would only start behind it.
        return {Result::failure(ERROR_INTERNET_EXTENDED_ERROR, {}),
                ServerReply{0, "A secure (ftps://) connection cannot go through the FTP gateway; "
                               "nothing was sent."},
                {}};
    }
    connection.server = *server;
    connection.passive = request.passive;
    connection.user = request.user.empty() ? "anonymous" : request.user;
    connection.password = request.password.empty() && request.user.empty() ? "quillon@" : request.password;
    if (server->tls) {
        connection.caFile = environment("SSL_CERT_FILE");
        connection.caPath = environment("SSL_CERT_DIR");
        connection.pinnedKey = m_context.trust.pinFor(urlAuthority(*server)).value_or(std::string());
        connection.peer.emplace(server->host, urlAuthority(*server), connection.pinnedKey);
    }
    ServerAddress peer = *server;
    if (request.viaGateway) {
        // A TIS-style gateway: log in to the gateway as "user@server[:port]".
        std::string_view text = request.gateway;
        for (const std::string_view prefix : {"ftp=", "ftp://"})
            if (text.substr(0, prefix.size()) == prefix)
                text.remove_prefix(prefix.size());
        while (!text.empty() && text.back() == '/')
            text.remove_suffix(1);
        const auto gateway = hasLineBreak(text) ? std::nullopt : parseServerName(text, 0);
        if (!gateway)
            return {Result::failure(ERROR_INTERNET_NAME_NOT_RESOLVED, {}), std::nullopt, {}};
        peer = *gateway;
        connection.user += "@" + gatewayTarget(*server);
    }
    if (m_context.options.resolveHost && !isAddressLiteral(peer.host)) {
        const auto address = m_context.options.resolveHost(peer.host);
        if (!address)
            return {Result::failure(ERROR_INTERNET_NAME_NOT_RESOLVED, {}), std::nullopt, {}};
        connection.resolveEntry = peer.host + ":" + std::to_string(peer.port) + ":" + *address;
    }
    connection.authority = urlAuthority(peer);
    if (!connection.easy || !connection.multi)
        return {Result::failure(ERROR_INTERNET_INTERNAL_ERROR, {}), std::nullopt, {}};
    return {};
}

ConnectOutcome FtpEngine::connect(const ConnectRequest& request)
{
    FtpConnection& connection = m_connection;
    ConnectOutcome outcome;
    if (Outcome configured = configure(request); !configured.ok()) {
        static_cast<Outcome&>(outcome) = std::move(configured);
        return outcome;
    }
    connection.callStart = true;
    static_cast<Outcome&>(outcome) = login();
    if (!outcome.ok() && connection.tlsVersionRefused && !connection.tls13 && !m_context.closed) {
        // The server refused TLS 1.2 before anything but AUTH TLS was sent: try TLS 1.3.
        connection.tls13 = true;
        Outcome again = login();
        if (!again.reply)
            again.reply = std::move(outcome.reply);
        static_cast<Outcome&>(outcome) = std::move(again);
    }
    // Offered for trust only while no key is trusted for the server: a changed key is refused.
    if (outcome.result.error == ERROR_INTERNET_INVALID_CA && connection.peer && connection.pinnedKey.empty())
        outcome.untrusted = connection.peer->untrusted();
    return outcome;
}

Outcome FtpEngine::login()
{
    FtpConnection& connection = m_connection;
    Operation op;
    op.progress = {CallProgress::Kind::Connecting, connection.server.host, 0, 0};
    op.url = "ftp://" + connection.authority + "/";  // the login folder: no CWD
    if (Result r = connection.prepare(op); !r.ok())
        return outcomeOf(std::move(r), op);
    // '*': a server without FEAT must not fail the login.
    if (!op.quote.append("*FEAT"))
        return outcomeOf(Result::failure(ERROR_NOT_ENOUGH_MEMORY, "out of memory"), op);
    CURL* h = connection.easy.get();
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(h, CURLOPT_QUOTE, op.quote.get());
    if (Result r = connection.perform(op); !r.ok())
        return outcomeOf(std::move(r), op);
    const char* entry = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry && *entry == '/')
        connection.cwd = entry;
    if (const FtpReply* feat = op.replies.lastWithCode(211)) {
        connection.mlsd = featOffersMlsd(feat->text);
        connection.hash = hashCommandIn(feat->text);
    }
    return outcomeOf(Result::success(), op);
}

// MLSD gives exact times, but a server may describe a link by what it leads to (type=dir):
// LIST's `ls -l` lines show links as links.
Outcome FtpEngine::list(const std::string& folder, std::vector<ListEntry>& entries, bool linksAsLinks)
{
    const bool mlsd = m_connection.mlsd && !linksAsLinks;
    FtpConnection& connection = m_connection;
    connection.callStart = true;
    std::string body;
    body.reserve(64 * 1024);
    ListingOperation op;
    op.progress = {CallProgress::Kind::Listing, folder, 0, 0};
    op.url = connection.url(folder, true);
    op.body = &body;
    if (Result r = connection.prepare(op); !r.ok())
        return outcomeOf(std::move(r), op);
    CURL* h = connection.easy.get();
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, mlsd ? "MLSD" : "LIST");
    receiveBody(h, op);
    if (Result r = connection.perform(op); !r.ok())
        return outcomeOf(std::move(r), op);
    entries = parseListing(body, mlsd);
    return outcomeOf(Result::success(), op);
}

Outcome FtpEngine::changeDirectory(const std::string& target)
{
    FtpConnection& connection = m_connection;
    connection.callStart = true;
    Operation op;
    op.progress = {CallProgress::Kind::ChangingDirectory, target, 0, 0};
    op.url = connection.url(target, true);
    if (Result r = connection.prepare(op); !r.ok())
        return outcomeOf(std::move(r), op);
    if (!op.quote.append("PWD"))
        return outcomeOf(Result::failure(ERROR_NOT_ENOUGH_MEMORY, "out of memory"), op);
    CURL* h = connection.easy.get();
    // NOBODY on a folder URL performs just the CWD; PWD afterwards names the canonical path.
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(h, CURLOPT_POSTQUOTE, op.quote.get());
    if (Result r = connection.perform(op); !r.ok())
        return outcomeOf(std::move(r), op);
    const FtpReply* pwd = op.replies.lastWithCode(257);
    const auto canonical = pwd ? parsePwdReply(pwd->text) : std::nullopt;
    connection.cwd = canonical && canonical->front() == '/' ? *canonical : target;
    return outcomeOf(Result::success(), op);
}

// A binary download continues a part kept from a cut one when the server's file has the
// same size and time (SIZE, MDTM) as then; otherwise, or when the server refuses REST, it
// starts over. ASCII downloads always start over: an offset into converted text is no
// byte offset.
Outcome FtpEngine::download(const DownloadRequest& request)
{
    FtpConnection& connection = m_connection;
    connection.callStart = true;
    DownloadTarget target;
    if (Result r = target.open(request.localPath, request.failIfExists, request.keepsPart,
                                    request.oneOfMany ? &m_spares : nullptr); !r.ok())
        return {std::move(r), std::nullopt, {}};
    ServerFileId file{connection.user + "@" + connection.authority, request.remotePath};
    const auto describe = [&](ServerFileId& described) { return describeFile(request, described); };
    return continueOrStartOver(target, file, m_context.watcher, describe, [&](std::uint64_t offset, bool& startOver) {
        CURLcode code = CURLE_OK;
        Outcome outcome = fetch(request, target, file, offset, code);
        startOver = code == CURLE_FTP_COULDNT_USE_REST;
        return outcome;
    });
}

// SIZE and MDTM of the file, as the progress window's first steps.
Outcome FtpEngine::describeFile(const DownloadRequest& request, ServerFileId& file)
{
    const auto slash = request.remotePath.rfind('/');
    const std::string folder = slash == 0 || slash == std::string::npos ? "/" : request.remotePath.substr(0, slash);
    const CallProgress shown{CallProgress::Kind::Downloading, request.shownName, 0, 0, request.localPath};
    std::optional<ServerReply> reply;
    // SIZE counts the stored bytes only in TYPE I (some servers refuse it in TYPE A).
    for (const char* verb : {"TYPE I", "SIZE ", "MDTM "}) {
        const std::string line = *verb == 'T' ? std::string(verb) : verb + request.remotePath;
        const StepReply step = m_connection.command(line, folder, FtpConnection::Watch::Cancellable, shown, reply);
        if (step.code == 0)
            return {step.result.ok() ? Result::failure(ERROR_INTERNET_CONNECTION_ABORTED, "no reply") : step.result,
                    reply, {}};
        if (*verb == 'S')
            file.size = parseSizeReply(step.code, step.text);
        else if (*verb == 'M')
            file.mtime = parseMdtm(step.code, step.text);
    }
    return {Result::success(), reply, {}};
}

// One RETR into the target, from `offset` (REST) when not 0. A binary download tells the
// target the server's file as its data begins (made from the start: MDTM before RETR); one
// cut by anything but the user's Cancel or a local failure keeps its part.
Outcome FtpEngine::fetch(const DownloadRequest& request, DownloadTarget& target, ServerFileId& file,
                         std::uint64_t offset, CURLcode& code)
{
    FtpConnection& connection = m_connection;
    // Declared after the target: the call ends (and the window hears so) before an
    // unfinished file is removed.
    DownloadOperation op;
    op.progress = {CallProgress::Kind::Downloading, request.shownName, 0, 0, request.localPath};
    op.url = connection.url(request.remotePath, false);
    op.outFd = target.fd();
    op.writeBehind = request.writeThrough;
    op.written = op.writebackFrom = offset;
    op.holdWatch = true;  // the flush is part of the call: the window is served through it
    if (Result r = connection.prepare(op); !r.ok())
        return outcomeOf(std::move(r), op);
    if (Result r = connection.chooseType(op, request.ascii); !r.ok())
        return outcomeOf(std::move(r), op);
    CURL* h = connection.easy.get();
    receiveFile(h, op);
    if (!request.ascii) {
        curl_easy_setopt(h, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(offset));
        if (offset == 0 && request.keepsPart) {
            // '*': a server without MDTM still sends the file (it just cannot continue it later).
            op.quoted = "MDTM " + request.remotePath;
            if (!op.prequote.append("*" + op.quoted))
                return outcomeOf(Result::failure(ERROR_NOT_ENOUGH_MEMORY, "out of memory"), op);
            curl_easy_setopt(h, CURLOPT_PREQUOTE, op.prequote.get());
            op.firstData = [&] {
                curl_off_t length = -1;
                if (curl_easy_getinfo(h, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK)
                    file.size = length;
                if (op.quotedAt < op.replies.replies().size())
                    file.mtime = parseMdtm(op.replies.replies()[op.quotedAt].code, op.replies.replies()[op.quotedAt].text);
                target.remember(file);
            };
        } else if (!request.keepsPart) {  // no SIZE before it: the caller knows the size it expects
            curl_easy_setopt(h, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
        } else if (offset > 0) {
            // Told again, so that a program killed now leaves a part that continues.
            op.firstData = [&] { target.remember(file); };
        }
    }
    Result result = connection.perform(op);
    code = op.curlCode;
    if (result.ok())
        result = finishText(op);
    // Never a part for the whole: what arrived must be the server's size.
    if (result.ok() && !request.ascii && file.size >= 0 && target.writtenSize() != file.size)
        result = Result::failure(ERROR_INTERNET_CONNECTION_ABORTED, "the file arrived incomplete");
    // A file that differs from the server's is wrong: nothing of it is kept.
    bool mismatch = false;
    if (result.ok() && !request.ascii && connection.hash) {
        result = checkHash(request, op, target.fd(), mismatch);
        op.progress.kind = CallProgress::Kind::Downloading;  // the flush that may follow
    }
    if (result.ok()) {
        result = target.commit(request.writeThrough, [&op](int fd) { return flushServed(op, fd); });
        if (result.ok() || !op.cancelled)  // cancelled during the flush: as during the data
            return outcomeOf(std::move(result), op);
    }
    Outcome outcome = outcomeOf(std::move(result), op);
    const bool cancelledByUser = op.cancelledByUser();
    if (request.ascii && !cancelledByUser && op.written > 0)
        outcome.notice = "An ASCII download starts over at the next Download.";
    else if (!mismatch && !cancelledByUser && op.localErrno == 0 && code != CURLE_FTP_COULDNT_USE_REST &&
             target.keep())
        outcome.notice = withThousands(static_cast<std::uint64_t>(target.writtenSize())) + " of " +
                         withThousands(static_cast<std::uint64_t>(file.size)) +
                         " bytes arrived; the next Download of this file continues from there.";
    return outcome;
}

// The server computes the hash while the command waits (a large file may take a while);
// the local one is computed on a thread of its own while the window is served.
Result FtpEngine::checkHash(const DownloadRequest& request, DownloadOperation& op, int fd, bool& mismatch)
{
    const HashCommand& hash = *m_connection.hash;
    const auto slash = request.remotePath.rfind('/');
    const std::string folder = slash == 0 || slash == std::string::npos ? "/" : request.remotePath.substr(0, slash);
    struct stat st {};
    const std::int64_t size = ::fstat(fd, &st) == 0 ? st.st_size : -1;
    WithinCall call(op.watcher);
    const auto whole = static_cast<std::uint64_t>(std::max<std::int64_t>(size, 0));
    op.progress = {CallProgress::Kind::Checking, request.shownName, whole, whole, request.localPath};
    const CallProgress& shown = op.progress;
    StepReply step;
    const auto ask = [&](const std::string& line) {
        step = m_connection.command(line, folder, FtpConnection::Watch::Cancellable, shown, op.reply, call.watcher());
        op.cancelled = op.cancelled || step.result.error == ERROR_INTERNET_OPERATION_CANCELLED;
        return !op.cancelled;
    };
    const Result cancelled = Result::failure(ERROR_INTERNET_OPERATION_CANCELLED, "cancelled");
    // The algorithm the reply names is the one compared, whatever OPTS HASH answered.
    if (hash.verb == "HASH" && !hash.selected && !ask(std::string("OPTS HASH ") + hashName(hash.algorithm)))
        return cancelled;
    if (!ask(hash.verb + " " + request.remotePath))
        return cancelled;
    const std::optional<ServerHash> theirs = parseHashReply(hash, step.code, step.text, size);
    if (!theirs)
        return Result::success();  // refused, unanswered or unreadable: no check
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) {
        op.localErrno = errno;
        return Result::failure(errorFromErrno(op.localErrno), std::strerror(op.localErrno));
    }
    // Owned by the thread too: a cancelled call returns at once and the thread stops soon.
    auto stop = std::make_shared<std::atomic<bool>>(false);
    auto ours = std::make_shared<std::string>();
    const int err = runServed(op, [own, algorithm = theirs->algorithm, stop, ours] {
        *ours = hashOfFile(own, algorithm, *stop);
        const int e = ours->empty() ? (errno != 0 ? errno : EIO) : 0;
        ::close(own);
        return e;
    });
    if (err < 0) {
        *stop = true;
        return cancelled;
    }
    if (err > 0) {
        op.localErrno = err;
        return Result::failure(errorFromErrno(err), std::strerror(err));
    }
    if (*ours == theirs->hex)
        return Result::success();
    mismatch = true;
    return Result::failure(ERROR_INTERNET_CONNECTION_ABORTED,
                           request.shownName + " arrived altered: its " + hashName(theirs->algorithm) +
                               " hash differs from the server's. The download was discarded; a local file of "
                               "that name is unchanged.");
}

Outcome FtpEngine::upload(const UploadRequest& request)
{
    FtpConnection& connection = m_connection;
    connection.callStart = true;
    if (connection.tls13)
        return {Result::failure(ERROR_INTERNET_EXTENDED_ERROR, {}), ServerReply{0, kNoTls13Uploads}, {}};
    UploadSource source;
    if (Result r = source.open(request.localPath); !r.ok())
        return {std::move(r), std::nullopt, {}};
    const std::string& target = request.remotePath;
    if (target.substr(target.rfind('/') + 1).empty())
        return {Result::failure(ERROR_INVALID_PARAMETER, "no file name"), std::nullopt, {}};
    // A binary upload's temporary is named after the local file (path, size, time): one cut
    // is continued by the next upload of the same file. ASCII uploads always start over.
    const ReplaceNames names = replaceNamesFor(target, request.ascii ? std::string() : source.key());
    FtpUploadSteps steps(connection, source, request.shownName, request.ascii, m_context.watcher,
                         request.ascii ? std::string() : names.temp, request.newName);
    ReplaceOutcome replaced = replaceRemote(steps, names, connection.renames, request.newName);
    Outcome outcome{std::move(replaced.result), steps.newestReply(), std::move(replaced.notice)};
    if (replaced.reply)  // the reply that explains the failure, rather than the newest one
        outcome.reply = ServerReply{static_cast<DWORD>(replaced.reply->code), replaced.reply->text};
    return outcome;
}

// One command on `path`, run in its folder: done on a 2xx or 3xx reply, else the server's
// refusal (12003 with its words) or why no reply came.
Outcome FtpEngine::command(const std::string& line, const std::string& path)
{
    const auto slash = path.rfind('/');
    const std::string folder = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
    std::optional<ServerReply> reply;
    const StepReply step = m_connection.command(line, folder, FtpConnection::Watch::Cancellable,
                                                {CallProgress::Kind::ServerCommand, path, 0, 0}, reply);
    if (step.code == 0)
        return {step.result.ok() ? Result::failure(ERROR_INTERNET_CONNECTION_ABORTED, "no reply") : step.result,
                reply, {}};
    reply = ServerReply{static_cast<DWORD>(step.code), step.text};
    if (step.refused())
        return {Result::failure(ERROR_INTERNET_EXTENDED_ERROR, step.text), reply, {}};
    return {Result::success(), reply, {}};
}

Outcome FtpEngine::createDirectory(const std::string& path)
{
    m_connection.callStart = true;
    return command("MKD " + path, path);
}

Outcome FtpEngine::removeDirectory(const std::string& path)
{
    m_connection.callStart = true;
    return command("RMD " + path, path);
}

Outcome FtpEngine::removeFile(const std::string& path)
{
    m_connection.callStart = true;
    return command("DELE " + path, path);
}

Outcome FtpEngine::rename(const std::string& from, const std::string& to)
{
    m_connection.callStart = true;
    Outcome first = command("RNFR " + from, from);
    if (!first.ok())
        return first;
    if (!first.reply || first.reply->code != 350)  // RNTO follows only "350 ready for the new name"
        return {Result::failure(ERROR_INTERNET_EXTENDED_ERROR, first.reply ? first.reply->text : ""), first.reply, {}};
    return command("RNTO " + to, to);
}

Outcome FtpEngine::setPermissions(const std::string& path, unsigned mode)
{
    m_connection.callStart = true;
    char octal[8];
    std::snprintf(octal, sizeof octal, "%o", mode & 07777u);
    return command(std::string("SITE CHMOD ") + octal + " " + path, path);
}

}  // namespace net
