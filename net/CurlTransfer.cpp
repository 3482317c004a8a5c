#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "net/CurlParts.h"
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

using Op = CurlInternet::Operation;

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
    struct stat st {};
    const bool replacing = ::stat(local.c_str(), &st) == 0;
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
        // Over an existing file: private until it takes that file's mode at the end.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, replacing ? 0600 : 0666);
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

    const std::string target = resolvePath(connection.cwd, remote);
    const auto slash = target.rfind('/');
    const std::string folder = slash == 0 ? "/" : target.substr(0, slash);
    const std::string base = target.substr(slash + 1);
    if (base.empty())
        return Result::failure(ERROR_INVALID_PARAMETER, "no file name");

    // Sends the local file to `path`; `refused` tells whether the server turned the STOR
    // down before taking any data (its reply to STOR was 4xx or 5xx, nothing came before).
    auto store = [&](const std::string& path, bool* refused) -> Result {
        if (::lseek(file.get(), 0, SEEK_SET) != 0)
            return Result::failure(errorFromErrno(errno), std::strerror(errno));
        Operation op;
        op.progress = {CallProgress::Kind::Uploading, std::string(remote), 0, static_cast<std::uint64_t>(st.st_size)};
        op.url = "ftp://" + connection.authority + urlPath(path, false);
        op.inFd = file.get();
        if (Result r = prepare(connection, op); !r.ok())
            return r;
        CURL* h = connection.easy.get();
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(h, CURLOPT_READFUNCTION, &onFileRead);
        curl_easy_setopt(h, CURLOPT_READDATA, static_cast<void*>(&op));
        if (Result r = chooseType(connection, op, ascii); !r.ok())
            return r;
        if (!ascii)  // the read callback adds CRs to a text
            curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(st.st_size));
        Result r = perform(connection, op);
        if (refused) {
            const FtpReply* last = op.replies.last();
            const bool began = std::any_of(op.replies.replies().begin(), op.replies.replies().end(),
                                           [](const FtpReply& reply) { return reply.code == 125 || reply.code == 150; });
            *refused = !r.ok() && !op.cancelled && op.localErrno == 0 && last && last->code >= 400 && !began;
        }
        return r;
    };
    // Sends commands in turn in the target's folder, stopping at the first refusal; no
    // progress is shown for them. `fromTaken`: an RNFR among them was answered 350.
    auto commands = [&](std::initializer_list<std::string> lines, bool* fromTaken, bool quick = false) -> Result {
        Operation op;
        op.url = "ftp://" + connection.authority + urlPath(folder, true);
        if (Result r = prepare(connection, op); !r.ok())
            return r;
        op.watcher = nullptr;
        for (const std::string& line : lines)
            if (!op.quote.append(line))
                return Result::failure(ERROR_NOT_ENOUGH_MEMORY, "out of memory");
        CURL* h = connection.easy.get();
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(h, CURLOPT_QUOTE, op.quote.get());
        if (quick)
            curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, 5000L);
        Result r = perform(connection, op);
        if (fromTaken)
            *fromTaken = op.replies.lastWithCode(350) != nullptr;
        return r;
    };
    // Removes the temporary file where the server lets us; the report stays the upload's.
    // Quick: after a cancel or a failure the user is not kept waiting long.
    auto removeTemporary = [&](const std::string& path) {
        const LastReply kept = lastReply();
        (void)commands({"DELE " + path}, nullptr, true);
        lastReply() = kept;
    };

    // The old file is replaced only by a complete one: upload beside it, then rename.
    // A long name is cut before a whole UTF-8 character, for servers that want UTF-8 names.
    std::size_t keep = std::min<std::size_t>(base.size(), 100);
    while (keep > 0 && keep < base.size() && (static_cast<unsigned char>(base[keep]) & 0xC0) == 0x80)
        --keep;
    const std::string temp = (folder == "/" ? "/" : folder + "/") + "." + base.substr(0, keep) + ".quillon-" +
                             std::to_string(::getpid()) + "-" + std::to_string(g_tempCounter.fetch_add(1));
    bool refused = false;
    if (Result r = store(temp, &refused); !r.ok()) {
        if (!refused) {
            removeTemporary(temp);  // cancelled or broken off: the part goes, the old file stays
            return r;
        }
        // The server takes no such name (some refuse names with a leading dot): in place.
        return store(target, nullptr);
    }
    bool fromTaken = false;
    if (commands({"RNFR " + temp, "RNTO " + target}, &fromTaken).ok())
        return Result::success();
    // RNFR was taken and RNTO refused: some servers rename only onto a free name.
    if (fromTaken && commands({"DELE " + target}, nullptr).ok() &&
        commands({"RNFR " + temp, "RNTO " + target}, nullptr).ok())
        return Result::success();
    // No renaming on this server: replace the file in place, as it allows.
    const Result direct = store(target, nullptr);
    removeTemporary(temp);
    return direct;
}

}  // namespace net
