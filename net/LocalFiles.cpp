#include "net/LocalFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

namespace net {
namespace {

std::atomic<unsigned> g_tempCounter{0};

constexpr const char* kNotAFile =
    "Only an ordinary file can be uploaded; this is a folder, pipe or device. Nothing was sent.";

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

// By the user's own (effective) rights, not by whether anybody may write the file.
bool userMayWrite(const std::string& path)
{
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0)
        return true;
    return errno != EACCES && errno != EPERM && errno != EROFS;
}

}  // namespace

DownloadTarget::~DownloadTarget()
{
    m_temp.reset();
    if (!m_committed && !m_tempName.empty())
        ::unlinkat(m_folder.get(), m_tempName.c_str(), 0);
}

Result DownloadTarget::open(const std::string& local, bool failIfExists)
{
    const auto [folderPath, base] = splitLocalPath(local);
    if (base.empty())
        return Result::failure(ERROR_INVALID_PARAMETER, "no file name");
    m_base = base;
    m_failIfExists = failIfExists;
    // (O_PATH: a folder we may write but not list is used as before.)
    m_folder.adopt(::open(folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (m_folder.get() < 0) {
        const int err = errno;
        return Result::failure(err == ENOENT || err == ENOTDIR ? ERROR_PATH_NOT_FOUND : errorFromErrno(err),
                               std::strerror(err));
    }
    m_replacing = ::fstatat(m_folder.get(), base.c_str(), &m_old, 0) == 0;
    if (m_replacing) {
        // Only an ordinary file is ever replaced (never a folder, device or pipe).
        if (!S_ISREG(m_old.st_mode))
            return Result::failure(ERROR_ACCESS_DENIED, "target is not a file");
        if (failIfExists)
            return Result::failure(ERROR_FILE_EXISTS, "target exists");
        // A file nobody may write is read-only: it is kept, whoever runs the program. So is
        // one the user may not write, even where the folder would let a rename replace it.
        if ((m_old.st_mode & 0222) == 0 || !userMayWrite(local))
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
    const std::string stem = "." + base.substr(0, 180) + ".quillon-" + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100 && m_temp.get() < 0; ++attempt) {
        std::string name = stem + std::to_string(g_tempCounter.fetch_add(1));
        // Over an existing file: private until it takes that file's mode at the end.
        const int fd = ::openat(m_folder.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                                m_replacing ? 0600 : 0666);
        if (fd >= 0) {
            m_temp.adopt(fd);
            m_tempName = std::move(name);
        } else if (errno != EEXIST) {
            const int err = errno;
            return Result::failure(err == ENOENT ? ERROR_PATH_NOT_FOUND : errorFromErrno(err), std::strerror(err));
        }
    }
    if (m_temp.get() < 0)
        return Result::failure(ERROR_ACCESS_DENIED, "no temporary file");
    return Result::success();
}

Result DownloadTarget::commit(bool writeThrough, const std::function<int(int fd)>& flush)
{
    if (m_replacing) {
        // The replacement keeps the old file's owner, group and permissions (no set-id bits).
        // Where the group cannot be kept, its rights do not pass to another group.
        mode_t mode = m_old.st_mode & 0777;
        if (::fchown(m_temp.get(), m_old.st_uid, m_old.st_gid) != 0 &&
            ::fchown(m_temp.get(), static_cast<uid_t>(-1), m_old.st_gid) != 0)
            mode &= ~static_cast<mode_t>(0070);
        if (::fchmod(m_temp.get(), mode) != 0)
            return Result::failure(errorFromErrno(errno), std::strerror(errno));
    }
    if (writeThrough) {
        const int err = flush(m_temp.get());
        if (err < 0)
            return Result::failure(ERROR_INTERNET_OPERATION_CANCELLED, "cancelled");
        if (err != 0)
            return Result::failure(errorFromErrno(err), std::strerror(err));
    }
    if (const int err = m_temp.reset(); err != 0)
        return Result::failure(errorFromErrno(err), std::strerror(err));
    int rc;
    if (m_failIfExists) {
        rc = ::renameat2(m_folder.get(), m_tempName.c_str(), m_folder.get(), m_base.c_str(), RENAME_NOREPLACE);
        if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
            rc = ::linkat(m_folder.get(), m_tempName.c_str(), m_folder.get(), m_base.c_str(), 0);
            if (rc == 0)
                ::unlinkat(m_folder.get(), m_tempName.c_str(), 0);
        }
    } else {
        rc = ::renameat(m_folder.get(), m_tempName.c_str(), m_folder.get(), m_base.c_str());
    }
    if (rc != 0)
        return Result::failure(errorFromErrno(errno), std::strerror(errno));
    m_committed = true;
    // The new name is made durable too; the file is in place whatever happens meanwhile.
    if (writeThrough) {
        const UniqueFd listing(::openat(m_folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (listing.get() >= 0)
            (void)flush(listing.get());
    }
    return Result::success();
}

Result UploadSource::open(const std::string& local)
{
    // Only an ordinary file goes: opening a pipe would wait for a writer, a device may
    // never end. O_NONBLOCK keeps the open itself from waiting.
    struct stat st {};
    if (::stat(local.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return Result::failure(ERROR_ACCESS_DENIED, kNotAFile);
    m_file.adopt(::open(local.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (m_file.get() < 0) {
        const int err = errno;
        return Result::failure(err == ENOENT ? missingError(local) : errorFromErrno(err), std::strerror(err));
    }
    if (::fstat(m_file.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return Result::failure(ERROR_ACCESS_DENIED, kNotAFile);
    (void)::fcntl(m_file.get(), F_SETFL, ::fcntl(m_file.get(), F_GETFL) & ~O_NONBLOCK);
    m_size = static_cast<std::uint64_t>(st.st_size);
    return Result::success();
}

int UploadSource::rewind() { return ::lseek(m_file.get(), 0, SEEK_SET) == 0 ? 0 : errno; }

}  // namespace net
