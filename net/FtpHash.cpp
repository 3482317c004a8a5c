#include "net/FtpHash.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <memory>
#include <string_view>
#include <vector>

#include "net/TextLines.h"

namespace net {
namespace {

struct Known {
    HashAlgorithm algorithm;
    const char* name;   // in HASH's list and replies
    const char* verbs[2];  // commands of its own
    std::size_t digits;
};
// In the order of preference.
constexpr Known kKnown[] = {{HashAlgorithm::Sha256, "SHA-256", {"XSHA256", nullptr}, 64},
                            {HashAlgorithm::Sha1, "SHA-1", {"XSHA1", nullptr}, 40},
                            {HashAlgorithm::Md5, "MD5", {"XMD5", "MD5"}, 32}};

const Known& known(HashAlgorithm algorithm)
{
    return *std::find_if(std::begin(kKnown), std::end(kKnown), [&](const Known& k) { return k.algorithm == algorithm; });
}

std::string upper(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::toupper(c); });
    return out;
}

std::vector<std::string_view> words(std::string_view line)
{
    std::vector<std::string_view> out;
    for (std::size_t at = 0; at < line.size();) {
        const std::size_t start = line.find_first_not_of(" \t\r", at);
        if (start == std::string_view::npos)
            break;
        const std::size_t end = std::min(line.find_first_of(" \t\r", start), line.size());
        out.push_back(line.substr(start, end - start));
        at = end;
    }
    return out;
}

std::optional<std::int64_t> number(std::string_view text)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

// The digest in lower case, when `text` is one of the algorithm's length in hex digits.
std::optional<std::string> digest(std::string_view text, HashAlgorithm algorithm)
{
    if (text.size() != known(algorithm).digits ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); }))
        return std::nullopt;
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

}  // namespace

const char* hashName(HashAlgorithm algorithm) { return known(algorithm).name; }

std::optional<HashCommand> hashCommandIn(const std::string& featReply)
{
    std::vector<std::string> verbs;
    std::vector<std::pair<std::string, bool>> listed;  // HASH's algorithms, with the selected mark
    for (const std::string_view line : TextLines(featReply)) {
        if (line.size() < 2 || line[0] != ' ' || line[1] == ' ')
            continue;  // features are indented by one space (RFC 2389)
        const std::vector<std::string_view> feature = words(line);
        if (feature.empty())
            continue;
        verbs.push_back(upper(feature[0]));
        if (verbs.back() != "HASH" || feature.size() < 2)
            continue;
        for (std::string_view list = feature[1]; !list.empty();) {
            const std::size_t semicolon = std::min(list.find(';'), list.size());
            std::string_view name = list.substr(0, semicolon);
            list.remove_prefix(std::min(semicolon + 1, list.size()));
            const bool selected = !name.empty() && name.back() == '*';
            if (selected)
                name.remove_suffix(1);
            listed.emplace_back(upper(name), selected);
        }
    }
    const auto offers = [&](const char* verb) { return verb && std::find(verbs.begin(), verbs.end(), verb) != verbs.end(); };
    for (const Known& k : kKnown) {
        const auto inHash = std::find_if(listed.begin(), listed.end(), [&](const auto& l) { return l.first == k.name; });
        if (offers("HASH") && inHash != listed.end())
            return HashCommand{"HASH", k.algorithm, inHash->second};
        for (const char* verb : k.verbs)
            if (offers(verb))
                return HashCommand{verb, k.algorithm, false};
    }
    return std::nullopt;
}

std::optional<ServerHash> parseHashReply(const HashCommand& command, int code, const std::string& text,
                                         std::int64_t size)
{
    if (code / 100 != 2)
        return std::nullopt;
    // The last line holds the answer (a server hashing a large file may send "213-" lines first).
    std::string_view line;
    for (const std::string_view each : TextLines(text))
        line = each;
    const std::vector<std::string_view> w = words(line);
    if (w.size() < 2)
        return std::nullopt;
    if (command.verb != "HASH") {
        // "213 <hex>", "250 <hex>"; MD5's "251 <path> <hex>".
        const auto hex = digest(code == 251 ? w.back() : w[1], command.algorithm);
        return hex ? std::optional<ServerHash>({command.algorithm, *hex}) : std::nullopt;
    }
    // "213 SHA-256 0-99 <hex> <path>": the range must be the whole file (its end is the last
    // byte; some servers name the size).
    if (code != 213 || w.size() < 4)
        return std::nullopt;
    const Known* k = nullptr;
    for (const Known& each : kKnown)
        if (upper(w[1]) == each.name)
            k = &each;
    const std::size_t dash = w[2].find('-');
    if (!k || dash == std::string_view::npos || number(w[2].substr(0, dash)) != 0)
        return std::nullopt;
    const std::optional<std::int64_t> end = number(w[2].substr(dash + 1));
    if (!end || (size >= 0 && *end != size - 1 && *end != size && !(size == 0 && *end == 0)))
        return std::nullopt;
    const auto hex = digest(w[3], k->algorithm);
    return hex ? std::optional<ServerHash>({k->algorithm, *hex}) : std::nullopt;
}

std::string hashOfFile(int fd, HashAlgorithm algorithm, const std::atomic<bool>& stop)
{
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    const EVP_MD* md = algorithm == HashAlgorithm::Sha256 ? EVP_sha256()
                       : algorithm == HashAlgorithm::Sha1 ? EVP_sha1()
                                                          : EVP_md5();
    if (!context || EVP_DigestInit_ex(context.get(), md, nullptr) != 1) {
        errno = ENOMEM;
        return {};
    }
    std::vector<unsigned char> buffer(1 << 20);
    for (off_t at = 0;;) {
        if (stop.load())
            return {};
        const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return {};
        if (n == 0)
            break;
        if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(n)) != 1) {
            errno = ENOMEM;
            return {};
        }
        at += n;
    }
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), value, &length) != 1) {
        errno = ENOMEM;
        return {};
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i)
        hex += {kDigits[value[i] >> 4], kDigits[value[i] & 15]};
    return hex;
}

}  // namespace net
