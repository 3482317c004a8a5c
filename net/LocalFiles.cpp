#include "net/LocalFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
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

// Gives an unnamed file (O_TMPFILE) the name `name` in `folder`; false with errno set.
bool nameSpare(int spare, int folder, const std::string& name)
{
    const std::string self = "/proc/self/fd/" + std::to_string(spare);
    if (::linkat(AT_FDCWD, self.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    return ::linkat(spare, "", folder, name.c_str(), AT_EMPTY_PATH) == 0;  // no /proc: privileged only
}

constexpr std::time_t kPartLifetime = 7 * 24 * 3600;

// The process's umask, read without changing it (umask() would, for every thread at once).
mode_t processUmask()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "Umask:") {
            unsigned value = 022;
            status >> std::oct >> value;
            return static_cast<mode_t>(value & 0777);
        }
        status.ignore(1 << 16, '\n');
    }
    return 022;
}

// The hidden name of a kept part: a long name is cut, and told apart by a hash of the whole.
std::string partNameFor(const std::string& base)
{
    if (base.size() <= 180)
        return "." + base + ".quillon-part";
    char hash[24];
    std::snprintf(hash, sizeof hash, "%016zx", std::hash<std::string>{}(base));
    return "." + base.substr(0, 160) + "-" + hash + ".quillon-part";
}

// A part's identity file: the local name, the server's file, and (after a cut) the part's
// size and modification time as it was left.
struct PartInfo {
    std::string local;
    ServerFileId file;
    std::optional<std::pair<std::int64_t, std::int64_t>> stamp;  // size, mtime in ns
};

std::int64_t mtimeNs(const struct stat& st) { return st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec; }

std::string describe(const PartInfo& info)
{
    std::string text = "quillon-part 1\nlocal " + info.local + "\nserver " + info.file.server + "\npath " +
                       info.file.path + "\nsize " + std::to_string(info.file.size) + "\nmtime " +
                       std::to_string(info.file.mtime) + "\n";
    if (info.stamp)
        text += "stamp " + std::to_string(info.stamp->first) + " " + std::to_string(info.stamp->second) + "\n";
    return text;
}

std::optional<PartInfo> readPartInfo(int folder, const std::string& name)
{
    const UniqueFd fd(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0)
        return std::nullopt;
    char buffer[8192];
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n <= 0 || n == static_cast<ssize_t>(sizeof buffer))
        return std::nullopt;
    std::istringstream in(std::string(buffer, static_cast<std::size_t>(n)));
    std::string line;
    if (!std::getline(in, line) || line != "quillon-part 1")
        return std::nullopt;
    PartInfo info;
    int fields = 0;
    while (std::getline(in, line)) {
        const auto space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? std::string() : line.substr(space + 1);
        try {
            if (key == "local")
                info.local = value, ++fields;
            else if (key == "server")
                info.file.server = value, ++fields;
            else if (key == "path")
                info.file.path = value, ++fields;
            else if (key == "size")
                info.file.size = std::stoll(value), ++fields;
            else if (key == "mtime")
                info.file.mtime = std::stoll(value), ++fields;
            else if (key == "stamp") {
                std::size_t used = 0;
                const std::int64_t size = std::stoll(value, &used);
                info.stamp = std::pair{size, std::stoll(value.substr(used))};
            }
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    if (fields != 5 || !info.file.known())
        return std::nullopt;
    return info;
}

// Written under a name of its own and renamed into place: never through a link.
bool writePartInfo(int folder, const std::string& name, const PartInfo& info)
{
    const std::string temp = name + "-" + std::to_string(::getpid());
    ::unlinkat(folder, temp.c_str(), 0);
    UniqueFd fd(::openat(folder, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0)
        return false;
    const std::string text = describe(info);
    const bool written = ::write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                         fd.reset() == 0 && ::renameat(folder, temp.c_str(), folder, name.c_str()) == 0;
    if (!written)
        ::unlinkat(folder, temp.c_str(), 0);
    return written;
}

}  // namespace

DownloadTarget::~DownloadTarget()
{
    m_temp.reset();
    if (!m_committed && !m_kept && !m_tempName.empty()) {
        ::unlinkat(m_folder.get(), m_tempName.c_str(), 0);
        if (!m_infoName.empty())
            ::unlinkat(m_folder.get(), m_infoName.c_str(), 0);
    }
}

// The part of this name, if no other download holds it; an unusable one is emptied.
void DownloadTarget::openPart()
{
    const std::string name = partNameFor(m_base);
    UniqueFd fd(::openat(m_folder.get(), name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                         m_replacing ? 0600 : 0666));
    struct stat st {}, named {};
    // Only a file of our own with no other name, locked by no other download, and still
    // under this name once locked (a finished download renames its part before it lets go).
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
        st.st_uid != ::geteuid() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 ||
        ::fstatat(m_folder.get(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_ino != st.st_ino ||
        named.st_dev != st.st_dev)
        return;
    m_lock.adopt(::fcntl(fd.get(), F_DUPFD_CLOEXEC, 0));
    m_temp.adopt(fd.get());
    fd.release();
    m_tempName = name;
    m_infoName = name + ".info";
    if (st.st_size == 0) {
        ::unlinkat(m_folder.get(), m_infoName.c_str(), 0);
        return;
    }
    const std::optional<PartInfo> info = readPartInfo(m_folder.get(), m_infoName);
    const bool usable = info && ::time(nullptr) - st.st_mtim.tv_sec < kPartLifetime && info->local == m_base &&
                        st.st_size <= info->file.size &&
                        (!info->stamp || *info->stamp == std::pair<std::int64_t, std::int64_t>{st.st_size, mtimeNs(st)});
    if (usable && ::lseek(m_temp.get(), 0, SEEK_END) == st.st_size) {
        m_partSize = static_cast<std::uint64_t>(st.st_size);
        m_partOf = info->file;
    } else {
        (void)startOver();
    }
}

Result DownloadTarget::startOver()
{
    m_partSize = 0;
    m_partOf = {};
    if (!m_infoName.empty())
        ::unlinkat(m_folder.get(), m_infoName.c_str(), 0);
    if (::ftruncate(m_temp.get(), 0) != 0 || ::lseek(m_temp.get(), 0, SEEK_SET) != 0)
        return Result::failure(errorFromErrno(errno), std::strerror(errno));
    return Result::success();
}

void DownloadTarget::remember(const ServerFileId& file)
{
    m_partOf = file;
    if (!m_infoName.empty() && file.known())
        (void)writePartInfo(m_folder.get(), m_infoName, {m_base, file, std::nullopt});
}

bool DownloadTarget::keep()
{
    struct stat st {};
    if (m_infoName.empty() || !m_partOf.known() || ::fstat(m_temp.get(), &st) != 0 || st.st_size == 0 ||
        st.st_size > m_partOf.size)
        return false;
    m_kept = writePartInfo(m_folder.get(), m_infoName, {m_base, m_partOf, std::pair{st.st_size, mtimeNs(st)}});
    return m_kept;
}

std::string DownloadTarget::keptNotice() const
{
    const auto withThousands = [](std::int64_t n) {
        std::string digits = std::to_string(n);
        for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
            digits.insert(static_cast<std::size_t>(at), ",");
        return digits;
    };
    return withThousands(writtenSize()) + " of " + withThousands(m_partOf.size) +
           " bytes arrived; the next Download of this file continues from there.";
}

SpareFiles::~SpareFiles()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wanted.notify_all();
    if (m_maker.joinable())
        m_maker.join();
}

int SpareFiles::take(int folder)
{
    struct stat st {};
    if (::fstat(folder, &st) != 0)
        return -1;
    int spare = -1;
    {
        const std::lock_guard lock(m_mutex);
        if (m_folder.get() < 0 || st.st_dev != m_device || st.st_ino != m_inode) {
            m_folder.adopt(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
            m_device = st.st_dev;
            m_inode = st.st_ino;
            ++m_generation;
            m_ready.clear();
            m_unsupported = false;
        } else if (!m_ready.empty()) {
            spare = m_ready.back().release();
            m_ready.pop_back();
        }
        if (m_unsupported || m_folder.get() < 0 || m_ready.size() >= kAhead)
            return spare;
        if (!m_maker.joinable())
            m_maker = std::thread([this] { makeAhead(); });
    }
    m_wanted.notify_one();
    return spare;
}

void SpareFiles::makeAhead()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wanted.wait(lock, [&] { return m_stop || (!m_unsupported && m_folder.get() >= 0 && m_ready.size() < kAhead); });
        if (m_stop)
            return;
        const unsigned generation = m_generation;
        const UniqueFd folder(::fcntl(m_folder.get(), F_DUPFD_CLOEXEC, 0));
        lock.unlock();
        UniqueFd file(folder.get() < 0 ? -1 : ::openat(folder.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
        const int err = errno;
        lock.lock();
        if (generation != m_generation)
            continue;
        if (file.get() >= 0)
            m_ready.push_back(std::move(file));
        else if (err != EINTR)
            m_unsupported = true;  // made one by one as before
    }
}

std::int64_t DownloadTarget::writtenSize() const
{
    struct stat st {};
    return ::fstat(m_temp.get(), &st) == 0 ? st.st_size : -1;
}

Result DownloadTarget::open(const std::string& local, bool failIfExists, bool resumable, SpareFiles* spares)
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
    if (resumable)
        openPart();
    const std::string stem = "." + base.substr(0, 180) + ".quillon-" + std::to_string(::getpid()) + "-";
    UniqueFd spare(spares && !resumable && !m_replacing ? spares->take(m_folder.get()) : -1);
    for (int attempt = 0; attempt < 100 && m_temp.get() < 0; ++attempt) {
        std::string name = stem + std::to_string(g_tempCounter.fetch_add(1));
        if (spare.get() >= 0) {
            if (nameSpare(spare.get(), m_folder.get(), name)) {
                m_temp.adopt(spare.release());
                m_tempName = std::move(name);
                continue;
            }
            if (errno == EEXIST)
                continue;
            spare.reset();  // made as any other temporary file instead
        }
        // Over an existing file: private until it takes that file's mode at the end.
        // (Read too: a download is checked against the server's hash before it is put in place.)
        const int fd = ::openat(m_folder.get(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
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
    } else if (!m_infoName.empty() && ::fchmod(m_temp.get(), 0666 & ~processUmask()) != 0) {
        // A part begun over a file since removed was made private: it takes a new file's mode.
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
    if (!m_infoName.empty())
        ::unlinkat(m_folder.get(), m_infoName.c_str(), 0);
    m_lock.reset();
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
    // FNV-1a: the same on every run.
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : local + '\0' + std::to_string(m_size) + '\0' + std::to_string(mtimeNs(st)))
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char key[20];
    std::snprintf(key, sizeof key, "%016llx", static_cast<unsigned long long>(hash));
    m_key = key;
    return Result::success();
}

int UploadSource::rewind() { return ::lseek(m_file.get(), 0, SEEK_SET) == 0 ? 0 : errno; }

}  // namespace net
