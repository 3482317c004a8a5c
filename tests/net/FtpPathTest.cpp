#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "net/FtpPath.h"

using namespace net;

TEST(FtpPath, ServerNameWithoutPortUsesFallbackOr21)
{
    auto a = parseServerName("ftp.example.org", 0);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->host, "ftp.example.org");
    EXPECT_EQ(a->port, 21);
    auto b = parseServerName("127.0.0.1", 2121);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->port, 2121);
}

TEST(FtpPath, PortInNameWins)
{
    auto a = parseServerName("127.0.0.1:2121", 5000);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->host, "127.0.0.1");
    EXPECT_EQ(a->port, 2121);
    EXPECT_FALSE(a->ipv6);
}

TEST(FtpPath, Ipv6Forms)
{
    auto a = parseServerName("[::1]:2121", 0);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->host, "::1");
    EXPECT_EQ(a->port, 2121);
    EXPECT_TRUE(a->ipv6);
    EXPECT_EQ(urlAuthority(*a), "[::1]:2121");
    EXPECT_EQ(gatewayTarget(*a), "[::1]:2121");
    auto b = parseServerName("::1", 0);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->host, "::1");
    EXPECT_EQ(b->port, 21);
    auto c = parseServerName("[::1]", 0);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->host, "::1");
}

TEST(FtpPath, BadServerNames)
{
    EXPECT_FALSE(parseServerName("", 0));
    EXPECT_FALSE(parseServerName("host:", 0));
    EXPECT_FALSE(parseServerName("host:0", 0));
    EXPECT_FALSE(parseServerName("host:70000", 0));
    EXPECT_FALSE(parseServerName("host:21x", 0));
    EXPECT_FALSE(parseServerName("[::1", 0));
    EXPECT_FALSE(parseServerName("[::1]x", 0));
    EXPECT_FALSE(parseServerName("a b", 0));
    EXPECT_FALSE(parseServerName("user@host", 0));
}

TEST(FtpPath, GatewayTargetLeavesOutDefaultPort)
{
    EXPECT_EQ(gatewayTarget(*parseServerName("srv", 0)), "srv");
    EXPECT_EQ(gatewayTarget(*parseServerName("srv:2121", 0)), "srv:2121");
}

TEST(FtpPath, AddressLiterals)
{
    EXPECT_TRUE(isAddressLiteral("127.0.0.1"));
    EXPECT_TRUE(isAddressLiteral("::1"));
    EXPECT_FALSE(isAddressLiteral("localhost"));
    EXPECT_FALSE(isAddressLiteral("ftp.example.org"));
}

TEST(FtpPath, LineBreaks)
{
    EXPECT_TRUE(hasLineBreak("a\rb"));
    EXPECT_TRUE(hasLineBreak("a\nb"));
    EXPECT_TRUE(hasLineBreak(std::string_view("a\0b", 3)));
    EXPECT_FALSE(hasLineBreak("a b\t"));
}

TEST(FtpPath, ResolvePath)
{
    EXPECT_EQ(resolvePath("/pub", "file.txt"), "/pub/file.txt");
    EXPECT_EQ(resolvePath("/pub/", "a"), "/pub/a");
    EXPECT_EQ(resolvePath("/", "a"), "/a");
    EXPECT_EQ(resolvePath("", "a"), "/a");
    EXPECT_EQ(resolvePath("/pub", "/etc/x"), "/etc/x");
    EXPECT_EQ(resolvePath("/pub", ".."), "/pub/..");
}

TEST(FtpPath, UrlPathIsAbsoluteAndEscaped)
{
    EXPECT_EQ(urlPath("/", true), "/%2F/");
    EXPECT_EQ(urlPath("/pub/docs", true), "/%2Fpub/docs/");
    EXPECT_EQ(urlPath("/pub/a file.txt", false), "/%2Fpub/a%20file.txt");
    EXPECT_EQ(urlPath("/ lead/100%;#?", false), "/%2F%20lead/100%25%3B%23%3F");
    EXPECT_EQ(urlPath("/a/../b", true), "/%2Fa/../b/");
    EXPECT_EQ(urlPath("/\xC3\xA9", false), "/%2F%C3%A9");
}

TEST(FtpPath, PwdReply)
{
    EXPECT_EQ(parsePwdReply("257 \"/pub\" is the current directory.\r\n"), "/pub");
    EXPECT_EQ(parsePwdReply("257 \"/a \"\"q\"\" b\" ok\r\n"), "/a \"q\" b");
    EXPECT_FALSE(parsePwdReply("257 no quotes\r\n"));
    EXPECT_FALSE(parsePwdReply("257 \"unterminated\r\n"));
}

TEST(FtpPath, Wildcards)
{
    EXPECT_TRUE(wildcardMatch("*.*", "noext"));
    EXPECT_TRUE(wildcardMatch("*", ".hidden"));
    EXPECT_TRUE(wildcardMatch("*.txt", "a.b.txt"));
    EXPECT_FALSE(wildcardMatch("*.txt", "a.txt.gz"));
    EXPECT_TRUE(wildcardMatch("a?c", "abc"));
    EXPECT_FALSE(wildcardMatch("a?c", "ac"));
    EXPECT_TRUE(wildcardMatch("exact", "exact"));
    EXPECT_FALSE(wildcardMatch("exact", "exact2"));
    // Only '*' and '?' are wildcards; '[' and '\\' stand for themselves.
    EXPECT_TRUE(wildcardMatch("[ab]*", "[ab]x"));
    EXPECT_FALSE(wildcardMatch("[ab]*", "ax"));
    EXPECT_TRUE(wildcardMatch("a\\*", "a\\b"));
    EXPECT_FALSE(wildcardMatch("a\\*", "a*"));
    // '?' is one byte and a name need not be valid text, whatever the user's locale.
    const std::string saved = setlocale(LC_CTYPE, nullptr);
    setlocale(LC_CTYPE, "C.UTF-8");
    EXPECT_FALSE(wildcardMatch("?.txt", "\xc3\xa9.txt"));
    EXPECT_TRUE(wildcardMatch("??.txt", "\xc3\xa9.txt"));
    EXPECT_TRUE(wildcardMatch("*.txt", "\xff\xfe.txt"));
    setlocale(LC_CTYPE, saved.c_str());
    EXPECT_TRUE(hasWildcard("*.x"));
    EXPECT_FALSE(hasWildcard("name"));
}

TEST(FtpPath, CrlfEncoderAddsCrOnlyWhereMissing)
{
    CrlfEncoder e;
    std::string out;
    e.encode("a\nb\r\nc\n\n", out);
    EXPECT_EQ(out, "a\r\nb\r\nc\r\n\r\n");
}

TEST(FtpPath, CrlfEncoderAcrossChunkBoundary)
{
    CrlfEncoder e;
    std::string out;
    e.encode("line\r", out);
    e.encode("\nnext\n", out);
    e.encode("\r", out);
    e.encode("x\n", out);
    EXPECT_EQ(out, "line\r\nnext\r\n\rx\r\n");
}

TEST(FtpPath, CrlfDecoderTurnsOnlyCrLfIntoLf)
{
    CrlfDecoder d;
    std::string out;
    d.decode("a\r\nb\rc\nd\r\r\n\n", out);
    d.finish(out);
    EXPECT_EQ(out, "a\nb\rc\nd\r\n\n");
}

TEST(FtpPath, CrlfDecoderAcrossChunkBoundaryAndAtTheEnd)
{
    CrlfDecoder d;
    std::string out;
    d.decode("line\r", out);
    EXPECT_EQ(out, "line");  // held until the next byte tells
    d.decode("\nnext\r", out);
    d.decode("x\r", out);
    d.decode("\r", out);
    d.finish(out);
    EXPECT_EQ(out, "line\nnext\rx\r\r");
    std::string again;
    d.decode("\n", again);  // finish forgot the held CR
    EXPECT_EQ(again, "\n");
}

TEST(FtpPath, SftpServerNamesUrlsAndCommandArguments)
{
    const struct { const char* name; INTERNET_PORT fallback; const char* host; INTERNET_PORT port; } names[] = {
        {"sftp://host", 0, "host", 22},
        {"SFTP://host:2222/", 0, "host", 2222},
        {"sftp://[::1]", 2200, "::1", 2200},
    };
    for (const auto& row : names) {
        const auto a = parseServerName(row.name, row.fallback);
        ASSERT_TRUE(a) << row.name;
        EXPECT_TRUE(a->ssh && !a->tls) << row.name;
        EXPECT_EQ(a->host, row.host);
        EXPECT_EQ(a->port, row.port);
    }
    EXPECT_FALSE(parseServerName("sftp://host/dir", 0));
    // libcurl reads a leading "/~/" as the login folder: such a path goes as "/./~/".
    const struct { const char* path; bool folder; const char* url; } paths[] = {
        {"/", true, "/"},
        {"/pub/a b", false, "/pub/a%20b"},
        {"/pub/", true, "/pub/"},
        {"/~/x", false, "/./~/x"},
        {"/~", true, "/./~/"},
        {"/100%", false, "/100%25"},
    };
    for (const auto& row : paths)
        EXPECT_EQ(sftpUrlPath(row.path, row.folder), row.url) << row.path;
    EXPECT_EQ(sftpQuoted("/a \"b\"\\c"), "\"/a \\\"b\\\"\\\\c\"");
}
