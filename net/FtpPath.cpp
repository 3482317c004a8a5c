#include "net/FtpPath.h"

#include <arpa/inet.h>
#include <fnmatch.h>
#include <locale.h>

#include <cctype>
#include <charconv>
#include <cstdio>

namespace net {
namespace {

std::optional<INTERNET_PORT> parsePort(std::string_view text)
{
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535)
        return std::nullopt;
    return static_cast<INTERNET_PORT>(value);
}

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
}

}  // namespace

std::optional<ServerAddress> parseServerName(std::string_view name, INTERNET_PORT fallbackPort)
{
    ServerAddress address;
    bool url = false;
    if (startsWithNoCase(name, "ftps://")) {
        address.tls = url = true;
        name.remove_prefix(7);
    } else if (startsWithNoCase(name, "sftp://")) {
        address.ssh = url = true;
        name.remove_prefix(7);
    } else if (startsWithNoCase(name, "ftp://")) {
        url = true;
        name.remove_prefix(6);
    }
    // Written as a URL: one closing '/' may follow the authority, nothing else.
    if (url && !name.empty() && name.back() == '/')
        name.remove_suffix(1);
    address.port = fallbackPort ? fallbackPort : address.ssh ? INTERNET_DEFAULT_SSH_PORT : INTERNET_DEFAULT_FTP_PORT;
    std::string_view host = name;
    if (!name.empty() && name.front() == '[') {
        const auto close = name.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        host = name.substr(1, close - 1);
        const std::string_view rest = name.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':')
                return std::nullopt;
            const auto port = parsePort(rest.substr(1));
            if (!port)
                return std::nullopt;
            address.port = *port;
        }
    } else if (const auto colon = name.find(':');
               colon != std::string_view::npos && name.find(':', colon + 1) == std::string_view::npos) {
        host = name.substr(0, colon);
        const auto port = parsePort(name.substr(colon + 1));
        if (!port)
            return std::nullopt;
        address.port = *port;
    }
    if (host.empty() || host.find_first_of(" /@[]") != std::string_view::npos)
        return std::nullopt;
    address.host.assign(host);
    address.ipv6 = address.host.find(':') != std::string::npos;
    return address;
}

std::string urlAuthority(const ServerAddress& address)
{
    const std::string host = address.ipv6 ? "[" + address.host + "]" : address.host;
    return host + ":" + std::to_string(address.port);
}

std::string gatewayTarget(const ServerAddress& address)
{
    if (address.port == INTERNET_DEFAULT_FTP_PORT)
        return address.host;
    return urlAuthority(address);
}

bool isAddressLiteral(std::string_view host)
{
    const std::string text(host);
    unsigned char buffer[16];
    return inet_pton(AF_INET, text.c_str(), buffer) == 1 || inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

bool hasLineBreak(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string resolvePath(std::string_view cwd, std::string_view name)
{
    if (!name.empty() && name.front() == '/')
        return std::string(name);
    std::string path(cwd.empty() ? std::string_view("/") : cwd);
    if (path.back() != '/')
        path.push_back('/');
    path.append(name);
    return path;
}

namespace {

// The segments of an absolute path, percent-escaped, without the leading and trailing '/'.
void appendEscaped(std::string_view path, std::string& out)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    while (!path.empty() && path.front() == '/')
        path.remove_prefix(1);
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    for (const char c : path) {
        const auto u = static_cast<unsigned char>(c);
        const bool plain = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') ||
                           u == '-' || u == '.' || u == '_' || u == '~' || u == '/';
        if (plain) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(hex[u >> 4]);
            out.push_back(hex[u & 15]);
        }
    }
}

}  // namespace

std::string urlPath(std::string_view absolutePath, bool folder)
{
    std::string out = "/%2F";
    out.reserve(absolutePath.size() * 3 + 5);
    appendEscaped(absolutePath, out);
    if (folder)
        out.push_back('/');
    return out;
}

std::int64_t parseSizeReply(int code, const std::string& reply)
{
    long long size = -1;
    if (code != 213 || std::sscanf(reply.c_str(), "213 %lld", &size) != 1 || size < 0)
        return -1;
    return size;
}

std::string sftpUrlPath(std::string_view absolutePath, bool folder)
{
    std::string out = "/";
    out.reserve(absolutePath.size() * 3 + 4);
    appendEscaped(absolutePath, out);
    if (folder && out.size() > 1)
        out.push_back('/');
    // libcurl reads "/~/" at the start as the login folder.
    if (out.starts_with("/~/"))
        out.insert(0, "/.");
    return out;
}

std::string sftpQuoted(std::string_view path)
{
    std::string out = "\"";
    for (const char c : path) {
        if (c == '"' || c == '\\')
            out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

std::optional<std::string> parsePwdReply(std::string_view reply)
{
    const auto open = reply.find('"');
    if (open == std::string_view::npos)
        return std::nullopt;
    std::string path;
    for (std::size_t i = open + 1; i < reply.size(); ++i) {
        if (reply[i] == '\r' || reply[i] == '\n')
            return std::nullopt;
        if (reply[i] == '"') {
            if (i + 1 < reply.size() && reply[i + 1] == '"') {
                path.push_back('"');
                ++i;
                continue;
            }
            if (path.empty())
                return std::nullopt;
            return path;
        }
        path.push_back(reply[i]);
    }
    return std::nullopt;
}

bool hasWildcard(std::string_view text) { return text.find_first_of("*?") != std::string_view::npos; }

bool wildcardMatch(std::string_view pattern, std::string_view name)
{
    if (pattern == "*.*" || pattern == "*")
        return true;
    // Only '*' and '?' are wildcards: '[' and '\\' match themselves.
    std::string glob;
    for (const char c : pattern) {
        if (c == '[' || c == '\\')
            glob.push_back('\\');
        glob.push_back(c);
    }
    // In the C locale '?' is one byte, and a name that is not valid text in
    // the user's locale still matches.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    const locale_t previous = uselocale(cLocale);
    const bool match = fnmatch(glob.c_str(), std::string(name).c_str(), 0) == 0;
    uselocale(previous);
    return match;
}

void CrlfEncoder::encode(std::string_view in, std::string& out)
{
    for (const char c : in) {
        if (c == '\n' && !m_lastWasCr)
            out.push_back('\r');
        out.push_back(c);
        m_lastWasCr = c == '\r';
    }
}

void CrlfDecoder::decode(std::string_view in, std::string& out)
{
    for (const char c : in) {
        if (m_heldCr) {
            m_heldCr = false;
            if (c == '\n') {
                out.push_back('\n');
                continue;
            }
            out.push_back('\r');
        }
        if (c == '\r')
            m_heldCr = true;  // a CR LF may be split between two buffers
        else
            out.push_back(c);
    }
}

void CrlfDecoder::finish(std::string& out)
{
    if (m_heldCr)
        out.push_back('\r');
    m_heldCr = false;
}

}  // namespace net
