#pragma once
// The local side of a transfer, whatever the protocol: the file a download writes
// (a temporary file beside the target, put in its place only when complete) and
// the file an upload reads (an ordinary file only). Internal to net/.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>

#include "net/Result.h"

namespace net {

// Owns a file descriptor.
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

class DownloadTarget {
public:
    DownloadTarget() = default;
    DownloadTarget(const DownloadTarget&) = delete;
    DownloadTarget& operator=(const DownloadTarget&) = delete;
    ~DownloadTarget();

    // Checks the target (only an ordinary file the user may write is replaced; with
    // failIfExists none) and makes the temporary file beside it.
    [[nodiscard]] Result open(const std::string& local, bool failIfExists);
    // Where the data goes.
    int fd() const { return m_temp.get(); }
    // All data written: keeps an old file's owner, group and permissions, flushes the file
    // when writeThrough (through `flush`, which returns an errno, 0, or -1 when the call
    // was cancelled meanwhile) and puts it in the target's place.
    [[nodiscard]] Result commit(bool writeThrough, const std::function<int(int fd)>& flush);

private:
    // Everything happens by name in this folder, even if it is renamed or its path comes to
    // lead elsewhere while the call runs. Declared before the temporary file, which goes first.
    UniqueFd m_folder;
    std::string m_base;
    bool m_failIfExists = false;
    bool m_replacing = false;
    struct stat m_old {};
    UniqueFd m_temp;
    std::string m_tempName;
    bool m_committed = false;
};

class UploadSource {
public:
    // Opens the file; only an ordinary file goes.
    [[nodiscard]] Result open(const std::string& local);
    int fd() const { return m_file.get(); }
    std::uint64_t size() const { return m_size; }
    // Back to the file's start, to send it again: an errno, or 0.
    int rewind();

private:
    UniqueFd m_file;
    std::uint64_t m_size = 0;
};

}  // namespace net
