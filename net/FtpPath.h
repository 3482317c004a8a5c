#pragma once
// Server names, server paths and URLs of the FTP layer, and the line-end
// conversions of ASCII transfers. Pure functions: no I/O.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "net/WinInet.h"

namespace net {

struct ServerAddress {
    std::string host;    // without brackets
    INTERNET_PORT port = INTERNET_DEFAULT_FTP_PORT;
    bool ipv6 = false;   // host holds ':'
    bool tls = false;    // "ftps://": explicit TLS (AUTH TLS), required
    bool ssh = false;    // "sftp://": SFTP over SSH, port 22 by default
};

// "host", "host:2121", "[::1]:2121", "[::1]", "::1", each optionally behind
// "ftp://" (plain), "ftps://" (explicit TLS on the same port, 21 by default) or
// "sftp://" (SSH, 22 by default) and followed by one '/'. A port in the name wins;
// otherwise a nonzero fallbackPort, otherwise the scheme's. nullopt: empty, bad port
// or another scheme.
std::optional<ServerAddress> parseServerName(std::string_view name, INTERNET_PORT fallbackPort);

// "host:port" for a URL ("[::1]:21" for IPv6).
std::string urlAuthority(const ServerAddress& address);
// "host" or "host:port" (port left out when 21), as a gateway login names a server.
std::string gatewayTarget(const ServerAddress& address);

bool isAddressLiteral(std::string_view host);

// CR, LF or NUL inside: such text must never reach a command.
bool hasLineBreak(std::string_view text);

// An absolute server path: `name` itself when it starts with '/', else cwd + '/' + name.
std::string resolvePath(std::string_view cwd, std::string_view name);

// The path part of an ftp URL for an absolute server path: "/%2F" then the
// segments percent-escaped, and a trailing '/' for a folder. The "%2F" makes
// the path absolute; without it it is taken from the login directory.
std::string urlPath(std::string_view absolutePath, bool folder);

// The path part of an sftp URL for an absolute server path: the segments percent-escaped,
// and a trailing '/' for a folder. A path that libcurl would take for the login folder's
// ("/~/...") goes as "/./~/...", which names the same file.
std::string sftpUrlPath(std::string_view absolutePath, bool folder);
// A path as an SFTP command's argument: in double quotes, '"' and '\\' escaped.
std::string sftpQuoted(std::string_view path);

// The path in a 257 reply ("257 \"/a \"\"b\"\"\" is current"), quotes undoubled.
std::optional<std::string> parsePwdReply(std::string_view reply);
// The size in a "213 1000000" reply to SIZE; -1 for any other reply.
std::int64_t parseSizeReply(int code, const std::string& reply);

// Matches a find pattern: '*' any run, '?' one byte; "*.*" matches everything.
bool wildcardMatch(std::string_view pattern, std::string_view name);
bool hasWildcard(std::string_view text);

// LF to CR LF for ASCII uploads, across buffer boundaries; an existing CR LF stays as is
// and a lone CR goes as it is.
class CrlfEncoder {
public:
    void encode(std::string_view in, std::string& out);

private:
    bool m_lastWasCr = false;
};

// CR LF to LF for ASCII downloads, across buffer boundaries; a lone CR and everything
// else stay as they are.
class CrlfDecoder {
public:
    void decode(std::string_view in, std::string& out);
    // The end of the data: a CR held back from the end of the last buffer goes out.
    void finish(std::string& out);

private:
    bool m_heldCr = false;
};

}  // namespace net
