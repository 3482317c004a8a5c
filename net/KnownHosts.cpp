#include "net/KnownHosts.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace net {
namespace {

QByteArray bytes(std::string_view s) { return QByteArray(s.data(), static_cast<qsizetype>(s.size())); }

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// ssh's match_pattern: '*' any run of characters, '?' any one.
bool wildcardMatch(std::string_view text, std::string_view pattern)
{
    std::size_t t = 0, p = 0, star = std::string_view::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++t;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

QByteArray hmacSha1(const QByteArray& salt, std::string_view name)
{
    return QMessageAuthenticationCode::hash(bytes(name), salt, QCryptographicHash::Sha1);
}

// Whether the host field of a line names `name` (already in lower case).
bool hostsMatch(std::string_view field, std::string_view name)
{
    if (field.starts_with("|1|")) {
        const std::size_t bar = field.find('|', 3);
        if (bar == std::string_view::npos)
            return false;
        const auto salt = QByteArray::fromBase64Encoding(bytes(field.substr(3, bar - 3)),
                                                         QByteArray::AbortOnBase64DecodingErrors);
        const auto hash = QByteArray::fromBase64Encoding(bytes(field.substr(bar + 1)),
                                                         QByteArray::AbortOnBase64DecodingErrors);
        return salt && hash && hmacSha1(*salt, name) == *hash;
    }
    bool matched = false;
    std::size_t start = 0;
    while (start <= field.size()) {
        std::size_t end = field.find(',', start);
        if (end == std::string_view::npos)
            end = field.size();
        std::string pattern = lower(field.substr(start, end - start));
        const bool negated = pattern.starts_with('!');
        if (negated)
            pattern.erase(0, 1);
        if (wildcardMatch(name, pattern)) {
            if (negated)
                return false;  // an excluded name stays excluded whatever else matches
            matched = true;
        }
        start = end + 1;
    }
    return matched;
}

// Key types compared as ssh compares them: every ECDSA curve is one kind of key.
std::string keyKind(std::string_view type)
{
    return type.starts_with("ecdsa-sha2-") ? std::string("ecdsa") : std::string(type);
}

struct Entry {
    std::string marker;  // "", "@revoked", "@cert-authority", or another (unknown) marker
    std::string_view hosts;
    std::string type;
    std::string blob;
};

// One line's fields; false for comments, blank and malformed lines.
bool parseLine(std::string_view line, Entry& entry)
{
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (fields.size() < 4) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
        if (i >= line.size() || (fields.empty() && line[i] == '#'))
            break;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
            ++i;
        fields.push_back(line.substr(start, i - start));
    }
    std::size_t f = 0;
    entry.marker.clear();
    if (!fields.empty() && fields[0].starts_with('@'))
        entry.marker = std::string(fields[f++]);
    if (fields.size() < f + 3)
        return false;
    entry.hosts = fields[f];
    entry.type = std::string(fields[f + 1]);
    const auto blob = QByteArray::fromBase64Encoding(bytes(fields[f + 2]), QByteArray::AbortOnBase64DecodingErrors);
    if (!blob)
        return false;
    entry.blob = blob.decoded.toStdString();
    return true;
}

struct Scan {
    HostKeyVerdict revoked, known, changed;
    bool isRevoked = false, isKnown = false, isChanged = false;
    bool changedSameKind = false;  // the Changed entry holds a key of the presented key's kind
    std::vector<std::string> types;
};

void scanText(std::string_view text, const std::string& fileName, std::string_view name, std::string_view blob,
              Scan& scan)
{
    const std::string kind = keyKind(sshKeyType(blob));
    int number = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        ++number;
        Entry e;
        if (parseLine(text.substr(start, end - start), e) && hostsMatch(e.hosts, name)) {
            const HostKeyVerdict here{HostKeyStatus::Known, fileName, number};
            if (e.marker == "@revoked") {
                if (e.blob == blob && !scan.isRevoked) {
                    scan.revoked = {HostKeyStatus::Revoked, fileName, number};
                    scan.isRevoked = true;
                }
            } else if (e.marker.empty()) {
                if (std::find(scan.types.begin(), scan.types.end(), e.type) == scan.types.end())
                    scan.types.push_back(e.type);
                if (e.blob == blob && !scan.isKnown) {
                    scan.known = here;
                    scan.isKnown = true;
                } else if (e.blob != blob && (!scan.isChanged || (keyKind(e.type) == kind && !scan.changedSameKind))) {
                    scan.changed = {HostKeyStatus::Changed, fileName, number};
                    scan.isChanged = true;
                    scan.changedSameKind = keyKind(e.type) == kind;
                }
            }
        }
        start = end + 1;
    }
}

HostKeyVerdict verdict(const Scan& scan)
{
    if (scan.isRevoked)
        return scan.revoked;
    if (scan.isKnown)
        return scan.known;
    if (scan.isChanged)
        return scan.changed;
    return {};
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string homeFolder()
{
    const char* home = std::getenv("HOME");
    return home && *home ? home : "/";
}

}  // namespace

std::string sshKeyFingerprint(std::string_view blob)
{
    QByteArray digest = QCryptographicHash::hash(bytes(blob), QCryptographicHash::Sha256)
                            .toBase64(QByteArray::OmitTrailingEquals);
    return "SHA256:" + digest.toStdString();
}

std::string sshKeyType(std::string_view blob)
{
    if (blob.size() < 4)
        return {};
    const std::uint32_t n = (std::uint32_t(std::uint8_t(blob[0])) << 24) | (std::uint32_t(std::uint8_t(blob[1])) << 16) |
                            (std::uint32_t(std::uint8_t(blob[2])) << 8) | std::uint8_t(blob[3]);
    if (n == 0 || n > 64 || blob.size() - 4 < n)
        return {};
    return std::string(blob.substr(4, n));
}

std::string sshKeyLabel(std::string_view type)
{
    if (type == "ssh-ed25519")
        return "ED25519";
    if (type.starts_with("ecdsa-sha2-"))
        return "ECDSA";
    if (type == "ssh-rsa")
        return "RSA";
    if (type == "ssh-dss")
        return "DSA";
    return std::string(type);
}

std::string sshKeyDescription(std::string_view blob)
{
    return sshKeyLabel(sshKeyType(blob)) + " key fingerprint is " + sshKeyFingerprint(blob);
}

std::string hostKeyWarning(std::string_view server, std::string_view blob, const HostKeyVerdict& verdict)
{
    const std::string host = "\"" + std::string(server) + "\"";
    const std::string where = verdict.file + ", line " + std::to_string(verdict.line);
    if (verdict.status == HostKeyStatus::Revoked)
        return "The host key of " + host + " is marked as revoked in " + where + ".\r\n" + sshKeyDescription(blob) +
               ".\r\n\r\nSomeone may be pretending to be this server. No connection was made.";
    return "The host key of " + host + " has changed: it differs from the one known in " + where + ".\r\n" +
           sshKeyDescription(blob) +
           ".\r\n\r\nSomeone may be pretending to be this server, or its key was replaced. No connection was "
           "made; if the server's administrator confirms the new key, remove that line.";
}

std::string knownHostsName(std::string_view host, int port)
{
    if (port == 22 || port <= 0)
        return lower(host);
    return "[" + lower(host) + "]:" + std::to_string(port);
}

std::string knownHostsLine(std::string_view name, std::string_view blob, std::string_view salt)
{
    std::string hosts(name);
    if (!salt.empty())
        hosts = "|1|" + bytes(salt).toBase64().toStdString() + "|" + hmacSha1(bytes(salt), name).toBase64().toStdString();
    return hosts + " " + sshKeyType(blob) + " " + bytes(blob).toBase64().toStdString() + "\n";
}

HostKeyVerdict checkKnownHostsText(std::string_view text, const std::string& fileName, std::string_view name,
                                   std::string_view blob)
{
    Scan scan;
    scanText(text, fileName, name, blob, scan);
    return verdict(scan);
}

KnownHosts KnownHosts::forUser()
{
    const std::string ssh = homeFolder() + "/.ssh/";
    return KnownHosts({ssh + "known_hosts", ssh + "known_hosts2", "/etc/ssh/ssh_known_hosts",
                       "/etc/ssh/ssh_known_hosts2"});
}

HostKeyVerdict KnownHosts::check(std::string_view host, int port, std::string_view blob) const
{
    Scan scan;
    for (const std::string& file : m_files)
        scanText(readFile(file), file, knownHostsName(host, port), blob, scan);
    HostKeyVerdict found = verdict(scan);
    // As ssh does: a host new on this port is known when its entry for port 22 holds this key.
    if (found.status == HostKeyStatus::Unknown && knownHostsName(host, port) != knownHostsName(host, 22)) {
        const HostKeyVerdict plain = check(host, 22, blob);
        if (plain.status == HostKeyStatus::Known)
            return plain;
    }
    return found;
}

std::vector<std::string> KnownHosts::knownTypes(std::string_view host, int port) const
{
    Scan scan;
    for (const std::string& file : m_files)
        scanText(readFile(file), file, knownHostsName(host, port), {}, scan);
    return scan.types;
}

Result KnownHosts::add(std::string_view host, int port, std::string_view blob, bool hashed) const
{
    if (m_files.empty() || sshKeyType(blob).empty())
        return Result::failure(ERROR_INVALID_PARAMETER, "no file or no key to add");
    const std::string& file = m_files.front();
    const std::size_t slash = file.rfind('/');
    if (slash != std::string::npos && slash > 0 && ::mkdir(file.substr(0, slash).c_str(), 0700) != 0 &&
        errno != EEXIST)
        return Result::failure(errorFromErrno(errno), file.substr(0, slash) + ": " + std::strerror(errno));
    const int fd = ::open(file.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return Result::failure(errorFromErrno(errno), file + ": " + std::strerror(errno));
    std::string salt;
    if (hashed)
        for (int i = 0; i < 20; ++i)
            salt += static_cast<char>(QRandomGenerator::system()->bounded(256));
    std::string line = knownHostsLine(knownHostsName(host, port), blob, salt);
    struct stat st {};
    char last = '\n';
    if (::fstat(fd, &st) == 0 && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
        line.insert(0, "\n");
    const ssize_t written = ::write(fd, line.data(), line.size());
    const int err = errno;
    const bool closed = ::close(fd) == 0;
    if (written != static_cast<ssize_t>(line.size()) || !closed)
        return Result::failure(errorFromErrno(written < 0 ? err : ENOSPC), file + ": the entry was not written whole");
    return Result::success();
}

}  // namespace net
