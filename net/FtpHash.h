#pragma once
// A finished download checked against the server's hash of the file: the command the
// server's FEAT reply offers (HASH with OPTS HASH, or XSHA256, XSHA1, XMD5, MD5), what
// its reply says, and the same hash of the local file. Internal to net/.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace net {

enum class HashAlgorithm { Sha256, Sha1, Md5 };

// "SHA-256", "SHA-1", "MD5".
const char* hashName(HashAlgorithm algorithm);

// How the server is asked for a file's hash.
struct HashCommand {
    std::string verb;  // "HASH", "XSHA256", "XSHA1", "XMD5" or "MD5"
    HashAlgorithm algorithm = HashAlgorithm::Sha256;
    bool selected = false;  // HASH: the server's current algorithm already (no OPTS HASH)
};

// The best the FEAT reply offers: SHA-256, then SHA-1, then MD5; HASH before a command of
// one algorithm's own. None: the server offers no hash we know.
std::optional<HashCommand> hashCommandIn(const std::string& featReply);

struct ServerHash {
    HashAlgorithm algorithm;
    std::string hex;  // lower case
};

// The hash a reply to `command` gives for a file of `size` bytes (-1: unknown); none when the
// reply is a refusal, cannot be read, or covers less than the whole file.
std::optional<ServerHash> parseHashReply(const HashCommand& command, int code, const std::string& text,
                                         std::int64_t size);

// The hash of everything in the file, read by pread from its start (lower-case hex); empty
// when it cannot be read (errno set) or `stop` became true meanwhile.
std::string hashOfFile(int fd, HashAlgorithm algorithm, const std::atomic<bool>& stop);

}  // namespace net
