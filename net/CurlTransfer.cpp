#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>

#include "net/CurlParts.h"
#include "net/RemoteReplace.h"
#include "net/Result.h"

// Downloads into a temporary file that replaces the target when complete, and uploads.

namespace net {
namespace {

std::atomic<unsigned> g_tempCounter{0};

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

// A download's temporary file, named in the folder it was made in: removed from that
// folder unless committed, wherever the folder has moved meanwhile.
struct TempFile {
    int folder = -1;  // not owned
    UniqueFd fd;
    std::string name;
    bool committed = false;
    ~TempFile()
    {
        fd.reset();
        if (!committed && !name.empty())
            ::unlinkat(folder, name.c_str(), 0);
    }
};

// Runs fsync on a descriptor of its own, so that a call cancelled meanwhile may return.
int flushServed(CurlInternet::Operation& op, int fd)
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

using Op = CurlInternet::Operation;

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
    auto* op = static_cast<Op*>(user);
    const size_t n = size * count;
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

// The end of an ASCII download: a CR that ended the data is written now.
Result finishText(Op& op)
{
    if (!op.ascii)
        return Result::success();
    op.pending.clear();
    op.decoder.finish(op.pending);
    if (const int err = writeAll(op.outFd, op.pending.data(), op.pending.size()); err != 0)
        return Result::failure(errorFromErrno(err), std::strerror(err));
    return Result::success();
}

// ASCII transfers ask for TYPE A themselves, just before the transfer command, and the
// layer converts the line ends. libcurl's text mode (CURLOPT_TRANSFERTEXT) is not used:
// on upload it turns every LF into CR LF again (a CR LF line end went out as CR CR LF),
// on download it turns CR LF and every lone CR into LF. libcurl does not see that TYPE A,
// so after one the binary transfers of the connection ask for TYPE I again themselves.
Result chooseType(CurlInternet::Connection& connection, Op& op, bool ascii)
{
    op.ascii = ascii;
    CURL* h = connection.easy.get();
    if (ascii || connection.typeMayBeAscii) {
        if (!op.prequote.append(ascii ? "TYPE A" : "TYPE I"))
            return Result::failure(ERROR_NOT_ENOUGH_MEMORY, "out of memory");
        curl_easy_setopt(h, CURLOPT_PREQUOTE, op.prequote.get());
    }
    if (ascii) {
        connection.typeMayBeAscii = true;
        // SIZE and "150 ... (n bytes)" count the stored file, not the text on the wire.
        curl_easy_setopt(h, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    }
    return Result::success();
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

// By the user's own (effective) rights, not by whether anybody may write the file.
bool userMayWrite(const std::string& path)
{
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0)
        return true;
    return errno != EACCES && errno != EPERM && errno != EROFS;
}

}  // namespace

Result CurlInternet::download(Connection& connection, std::string_view remote, const std::string& local,
                              bool failIfExists, bool writeThrough, bool ascii)
{
    const auto [folderPath, base] = splitLocalPath(local);
    if (base.empty())
        return Result::failure(ERROR_INVALID_PARAMETER, "no file name");
    // Everything below happens by name in this folder, even if it is renamed or its path
    // comes to lead elsewhere while the call runs.
    // (O_PATH: a folder we may write but not list is used as before.)
    const UniqueFd folder(::open(folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) {
        const int err = errno;
        return Result::failure(err == ENOENT || err == ENOTDIR ? ERROR_PATH_NOT_FOUND : errorFromErrno(err),
                               std::strerror(err));
    }
    struct stat st {};
    const bool replacing = ::fstatat(folder.get(), base.c_str(), &st, 0) == 0;
    if (replacing) {
        // Only an ordinary file is ever replaced (never a folder, device or pipe).
        if (!S_ISREG(st.st_mode))
            return Result::failure(ERROR_ACCESS_DENIED, "target is not a file");
        if (failIfExists)
            return Result::failure(ERROR_FILE_EXISTS, "target exists");
        // A file nobody may write is read-only: it is kept, whoever runs the program. So is
        // one the user may not write, even where the folder would let a rename replace it.
        if ((st.st_mode & 0222) == 0 || !userMayWrite(local))
            return Result::failure(ERROR_ACCESS_DENIED, "target is read-only");
    }
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
    temp.folder = folder.get();
    const std::string stem = "." + base.substr(0, 180) + ".quillon-" + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100 && temp.fd.get() < 0; ++attempt) {
        std::string name = stem + std::to_string(g_tempCounter.fetch_add(1));
        // Over an existing file: private until it takes that file's mode at the end.
        const int fd = ::openat(folder.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                                replacing ? 0600 : 0666);
        if (fd >= 0) {
            temp.fd.adopt(fd);
            temp.name = std::move(name);
        } else if (errno != EEXIST) {
            const int err = errno;
            return Result::failure(err == ENOENT ? ERROR_PATH_NOT_FOUND : errorFromErrno(err), std::strerror(err));
        }
    }
    if (temp.fd.get() < 0)
        return Result::failure(ERROR_ACCESS_DENIED, "no temporary file");

    const std::string remotePath = resolvePath(connection.cwd, remote);
    // Declared after the temporary file: the call ends (and the window hears so) before
    // an unfinished file is removed.
    Operation op;
    op.progress = {CallProgress::Kind::Downloading, std::string(remote), 0, 0, folderPath};
    op.url = "ftp://" + connection.authority + urlPath(remotePath, false);
    op.outFd = temp.fd.get();
    op.writeBehind = writeThrough;
    op.holdWatch = true;  // the flush is part of the call: the window is served through it
    if (Result r = prepare(connection, op); !r.ok())
        return r;
    CURL* h = connection.easy.get();
    if (Result r = chooseType(connection, op, ascii); !r.ok())
        return r;
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onFileData);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, static_cast<void*>(&op));
    if (Result r = perform(connection, op); !r.ok())
        return r;
    if (Result r = finishText(op); !r.ok())
        return r;

    if (replacing) {
        // The replacement keeps the old file's owner, group and permissions (no set-id bits).
        // Where the group cannot be kept, its rights do not pass to another group.
        mode_t mode = st.st_mode & 0777;
        if (::fchown(temp.fd.get(), st.st_uid, st.st_gid) != 0 &&
            ::fchown(temp.fd.get(), static_cast<uid_t>(-1), st.st_gid) != 0)
            mode &= ~static_cast<mode_t>(0070);
        if (::fchmod(temp.fd.get(), mode) != 0)
            return Result::failure(errorFromErrno(errno), std::strerror(errno));
    }
    if (writeThrough) {
        const int err = flushServed(op, temp.fd.get());
        if (err < 0)
            return Result::failure(ERROR_INTERNET_OPERATION_CANCELLED, "cancelled");
        if (err != 0)
            return Result::failure(errorFromErrno(err), std::strerror(err));
    }
    if (const int err = temp.fd.reset(); err != 0)
        return Result::failure(errorFromErrno(err), std::strerror(err));
    int rc;
    if (failIfExists) {
        rc = ::renameat2(folder.get(), temp.name.c_str(), folder.get(), base.c_str(), RENAME_NOREPLACE);
        if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
            rc = ::linkat(folder.get(), temp.name.c_str(), folder.get(), base.c_str(), 0);
            if (rc == 0)
                ::unlinkat(folder.get(), temp.name.c_str(), 0);
        }
    } else {
        rc = ::renameat(folder.get(), temp.name.c_str(), folder.get(), base.c_str());
    }
    if (rc != 0)
        return Result::failure(errorFromErrno(errno), std::strerror(errno));
    temp.committed = true;
    // The new name is made durable too; the file is in place whatever happens meanwhile.
    if (writeThrough) {
        const UniqueFd listing(::openat(folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (listing.get() >= 0)
            (void)flushServed(op, listing.get());
    }
    return Result::success();
}

namespace {
constexpr const char* kNotAFile =
    "Only an ordinary file can be uploaded; this is a folder, pipe or device. Nothing was sent.";

// The upload's steps on the server, as the replacing logic sees them.
class FunctionSteps final : public RemoteSteps {
public:
    FunctionSteps(std::function<StoreOutcome(const std::string&, bool)> store,
                  std::function<StepReply(const std::string&)> command)
        : m_store(std::move(store)), m_command(std::move(command))
    {
    }
    StoreOutcome store(const std::string& path) override { return m_store(path, false); }
    StoreOutcome storeEmpty(const std::string& path) override { return m_store(path, true); }
    StepReply command(const std::string& line) override { return m_command(line); }

private:
    std::function<StoreOutcome(const std::string&, bool)> m_store;
    std::function<StepReply(const std::string&)> m_command;
};

}  // namespace

Result CurlInternet::upload(Connection& connection, const std::string& local, std::string_view remote, bool ascii)
{
    // Only an ordinary file goes: opening a pipe would wait for a writer, a device may
    // never end. O_NONBLOCK keeps the open itself from waiting.
    struct stat st {};
    if (::stat(local.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return Result::failure(ERROR_ACCESS_DENIED, kNotAFile);
    const UniqueFd file(::open(local.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.get() < 0) {
        const int err = errno;
        return Result::failure(err == ENOENT ? missingError(local) : errorFromErrno(err), std::strerror(err));
    }
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return Result::failure(ERROR_ACCESS_DENIED, kNotAFile);
    (void)::fcntl(file.get(), F_SETFL, ::fcntl(file.get(), F_GETFL) & ~O_NONBLOCK);

    const std::string target = resolvePath(connection.cwd, remote);
    const auto slash = target.rfind('/');
    const std::string folder = slash == 0 ? "/" : target.substr(0, slash);
    const std::string base = target.substr(slash + 1);
    if (base.empty())
        return Result::failure(ERROR_INVALID_PARAMETER, "no file name");

    // Sends the local file to `path`, or (empty) an empty file with no progress shown.
    auto store = [&](const std::string& path, bool empty) -> StoreOutcome {
        StoreOutcome out;
        if (::lseek(file.get(), 0, SEEK_SET) != 0) {
            out.result = Result::failure(errorFromErrno(errno), std::strerror(errno));
            return out;
        }
        Operation op;
        op.progress = {CallProgress::Kind::Uploading, std::string(remote), 0, static_cast<std::uint64_t>(st.st_size)};
        op.url = "ftp://" + connection.authority + urlPath(path, false);
        op.inFd = file.get();
        if (out.result = prepare(connection, op); !out.result.ok())
            return out;
        if (empty)
            op.watcher = nullptr;
        CURL* h = connection.easy.get();
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(h, CURLOPT_READFUNCTION, empty ? &onNoData : &onFileRead);
        curl_easy_setopt(h, CURLOPT_READDATA, static_cast<void*>(&op));
        // An empty file is the same in either type: no TYPE command for it.
        if (!empty)
            if (out.result = chooseType(connection, op, ascii); !out.result.ok())
                return out;
        if (empty || !ascii)  // the read callback adds CRs to a text
            curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(empty ? 0 : st.st_size));
        out.result = perform(connection, op);
        out.reply = {static_cast<int>(lastReply().code), lastReply().text, out.result};
        // A STOR the server answered 125/150 had begun: a later 426, 452 or 552 is a failed
        // upload. Refused before that with 550, 553 or 501, it was the name.
        const FtpReply* last = op.replies.last();
        const bool began = std::any_of(op.replies.replies().begin(), op.replies.replies().end(),
                                       [](const FtpReply& reply) { return reply.code == 125 || reply.code == 150; });
        const bool answered = !out.result.ok() && !op.cancelled && op.localErrno == 0 && last && last->code >= 400;
        out.nameRefused = answered && !began && (last->code == 550 || last->code == 553 || last->code == 501);
        if (answered && began)  // the server's own words say more than "partial file"
            out.result = Result::failure(ERROR_INTERNET_EXTENDED_ERROR, last->text);
        return out;
    };
    // One command in the target's folder, with no progress shown. '*': a refusal is an
    // answer, not a broken connection, so it costs no new login.
    auto command = [&](const std::string& line) -> StepReply {
        StepReply out;
        Operation op;
        op.url = "ftp://" + connection.authority + urlPath(folder, true);
        if (out.result = prepare(connection, op); !out.result.ok())
            return out;
        // Removing a file comes after a cancel or a failure too: the window stays served
        // through it, but it cannot be cancelled (its time limit below bounds it).
        const bool removal = line.starts_with("DELE ");
        if (removal) {
            op.cleanup = true;
            op.progress = {CallProgress::Kind::Uploading, std::string(remote), 0, 0};
        } else {
            op.watcher = nullptr;
        }
        op.quoted = line;
        if (!op.quote.append("*" + line)) {
            out.result = Result::failure(ERROR_NOT_ENOUGH_MEMORY, "out of memory");
            return out;
        }
        CURL* h = connection.easy.get();
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(h, CURLOPT_QUOTE, op.quote.get());
        if (removal)  // the user is not kept waiting long
            curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, 5000L);
        out.result = perform(connection, op);
        if (op.quotedAt < op.replies.replies().size()) {
            out.code = op.replies.replies()[op.quotedAt].code;
            out.text = op.replies.replies()[op.quotedAt].text;
        }
        return out;
    };

    // The old file's permissions, which the new file would not get by itself; and a folder
    // of that name is never moved aside for a file.
    ServerFile old;
    if (connection.mlsd)
        if (const StepReply r = command("MLST " + target); r.code == 250)
            old = serverFileFromMlst(r.text);
    if (!old.mode && !old.folder)
        if (const StepReply r = command("STAT " + target); r.code / 100 == 2)
            old = serverFileFromStat(r.text, base);
    if (old.folder)
        return Result::failure(ERROR_ACCESS_DENIED, "A folder of that name is on the server. Nothing was sent.");

    // A long name is cut before a whole UTF-8 character, for servers that want UTF-8 names.
    std::size_t keep = std::min<std::size_t>(base.size(), 100);
    while (keep > 0 && keep < base.size() && (static_cast<unsigned char>(base[keep]) & 0xC0) == 0x80)
        --keep;
    const std::string stem = (folder == "/" ? "/" : folder + "/") + "." + base.substr(0, keep) + ".quillon-" +
                             std::to_string(::getpid()) + "-" + std::to_string(g_tempCounter.fetch_add(1));
    const ReplaceNames names{target, stem, stem + "-old", stem + "-probe"};
    FunctionSteps steps(store, command);
    ReplaceOutcome outcome = replaceRemote(steps, names, connection.renames, old.mode);
    if (outcome.reply)
        lastReply() = LastReply{static_cast<DWORD>(outcome.reply->code), outcome.reply->text};
    return outcome.result;
}

}  // namespace net
