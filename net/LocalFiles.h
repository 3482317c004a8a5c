#pragma once
// The local side of a transfer, whatever the protocol: the file a download writes
// (a temporary file beside the target, put in its place only when complete) and
// the file an upload reads (an ordinary file only). Internal to net/.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "net/Result.h"

namespace net {

// Owns a file descriptor.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        adopt(other.release());
        return *this;
    }
    int get() const { return m_fd; }
    // Lets go of the descriptor without closing it.
    int release() { return std::exchange(m_fd, -1); }
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

// What identifies a server's file: a part of it continues only while these are the same.
struct ServerFileId {
    std::string server;  // "user@host:port" of the control connection
    std::string path;    // absolute on the server
    std::int64_t size = -1;   // -1: unknown
    std::int64_t mtime = -1;  // seconds since the epoch; -1: unknown
    bool known() const { return size >= 0 && mtime >= 0; }
    bool operator==(const ServerFileId&) const = default;
};

// Unnamed files (O_TMPFILE) made ahead, on a thread of their own, on the file system of the
// folder that downloads write into: a batch of small files then does not wait on the network
// while each file is allocated (on some file systems that takes longer than the file's
// transfer). An unused one vanishes with its descriptor, even when the program is killed.
class SpareFiles {
public:
    SpareFiles() = default;
    SpareFiles(const SpareFiles&) = delete;
    SpareFiles& operator=(const SpareFiles&) = delete;
    ~SpareFiles();
    // A new empty file with a new file's mode, on the file system of `folder` (a descriptor of
    // it), when one is ready; -1 otherwise. Either way more are made for that folder.
    int take(int folder);

private:
    static constexpr std::size_t kAhead = 8;
    void makeAhead();

    std::mutex m_mutex;
    std::condition_variable m_wanted;
    UniqueFd m_folder;  // where the spares are made
    dev_t m_device = 0;
    ino_t m_inode = 0;
    unsigned m_generation = 0;  // a spare made for an earlier folder is dropped
    std::vector<UniqueFd> m_ready;
    bool m_unsupported = false;  // the file system makes no unnamed files
    bool m_stop = false;
    std::thread m_maker;  // started by the first take
};

class DownloadTarget {
public:
    DownloadTarget() = default;
    DownloadTarget(const DownloadTarget&) = delete;
    DownloadTarget& operator=(const DownloadTarget&) = delete;
    ~DownloadTarget();

    // Checks the target (only an ordinary file the user may write is replaced; with
    // failIfExists none) and makes the temporary file beside it.
    // resumable: the temporary file is the part kept from an earlier cut download of this
    // name (".<name>.quillon-part", beside it the identity of the server's file in
    // ".<name>.quillon-part.info"), or one made under that name; a part older than 7 days,
    // altered since, or in use by another download is not taken.
    // spares: where a new file that keeps no part may come from.
    [[nodiscard]] Result open(const std::string& local, bool failIfExists, bool resumable = false,
                              SpareFiles* spares = nullptr);
    // Where the data goes: after the bytes of a part, if there is one.
    int fd() const { return m_temp.get(); }
    // The bytes of a part kept from before, and the server file they came from (unknown
    // fields: a part whose download was never told the server's file).
    std::uint64_t partSize() const { return m_partSize; }
    const ServerFileId& partOf() const { return m_partOf; }
    // The part does not belong to the file now downloaded: it is emptied.
    [[nodiscard]] Result startOver();
    // The server file this download's data comes from, written beside the part as the
    // first bytes arrive, so that even a killed program leaves a part that can continue.
    void remember(const ServerFileId& file);
    // The download was cut: the part and what identifies it stay for the next one. False:
    // there is nothing to keep (the part is removed as the target goes).
    bool keep();
    // What the user reads after keep(): how much of the server's file arrived, and that the
    // next download continues it.
    std::string keptNotice() const;
    // The size of the temporary file now (-1: unknown).
    std::int64_t writtenSize() const;
    // All data written: keeps an old file's owner, group and permissions, flushes the file
    // when writeThrough (through `flush`, which returns an errno, 0, or -1 when the call
    // was cancelled meanwhile) and puts it in the target's place.
    [[nodiscard]] Result commit(bool writeThrough, const std::function<int(int fd)>& flush);

private:
    void openPart();

    // Everything happens by name in this folder, even if it is renamed or its path comes to
    // lead elsewhere while the call runs. Declared before the temporary file, which goes first.
    UniqueFd m_folder;
    std::string m_base;
    bool m_failIfExists = false;
    bool m_replacing = false;
    struct stat m_old {};
    UniqueFd m_temp;
    std::string m_tempName;
    UniqueFd m_lock;         // holds the part's lock until it is renamed into place
    std::string m_infoName;  // the part's identity; empty: not resumable
    std::uint64_t m_partSize = 0;
    ServerFileId m_partOf;
    bool m_committed = false;
    bool m_kept = false;
};

class UploadSource {
public:
    // Opens the file; only an ordinary file goes.
    [[nodiscard]] Result open(const std::string& local);
    int fd() const { return m_file.get(); }
    std::uint64_t size() const { return m_size; }
    // Hex digits that change with the file's path, size and modification time.
    const std::string& key() const { return m_key; }
    // Back to the file's start, to send it again: an errno, or 0.
    int rewind();

private:
    UniqueFd m_file;
    std::uint64_t m_size = 0;
    std::string m_key;
};

}  // namespace net
