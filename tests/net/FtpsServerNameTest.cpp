// Server names that choose explicit TLS ("ftps://") or plain FTP ("ftp://", bare).
#include <gtest/gtest.h>

#include "net/FtpPath.h"
#include "net/Result.h"

using namespace net;

TEST(FtpsServerName, FtpsSchemeAsksForTlsOnPort21ByDefault)
{
    const auto a = parseServerName("ftps://ftp.example.org", 0);
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->tls);
    EXPECT_EQ(a->host, "ftp.example.org");
    EXPECT_EQ(a->port, 21);
    const auto b = parseServerName("ftps://ftp.example.org", 990);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->port, 990);
    EXPECT_EQ(urlAuthority(*b), "ftp.example.org:990");
}

TEST(FtpsServerName, PortsIpv6CaseAndOneTrailingSlash)
{
    const auto a = parseServerName("FTPS://[::1]:2121/", 0);
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->tls);
    EXPECT_TRUE(a->ipv6);
    EXPECT_EQ(a->host, "::1");
    EXPECT_EQ(a->port, 2121);
    const auto b = parseServerName("ftps://127.0.0.1:2121", 5000);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->host, "127.0.0.1");
    EXPECT_EQ(b->port, 2121);
}

TEST(FtpsServerName, FtpSchemeAndBareNamesStayPlain)
{
    const auto a = parseServerName("ftp://host:2121/", 0);
    ASSERT_TRUE(a);
    EXPECT_FALSE(a->tls);
    EXPECT_EQ(a->host, "host");
    EXPECT_EQ(a->port, 2121);
    const auto b = parseServerName("host", 0);
    ASSERT_TRUE(b);
    EXPECT_FALSE(b->tls);
    const auto c = parseServerName("Ftp://host", 0);
    ASSERT_TRUE(c);
    EXPECT_FALSE(c->tls);
}

TEST(FtpsServerName, BadUrlForms)
{
    EXPECT_FALSE(parseServerName("ftps://", 0));
    EXPECT_FALSE(parseServerName("ftps:///", 0));
    EXPECT_FALSE(parseServerName("ftps://host//", 0));
    EXPECT_FALSE(parseServerName("ftps://host/dir", 0));
    EXPECT_FALSE(parseServerName("ftps://user@host", 0));
    EXPECT_FALSE(parseServerName("ftps://host:0", 0));
    EXPECT_FALSE(parseServerName("scp://host", 0));
    EXPECT_FALSE(parseServerName("https://host", 0));
    EXPECT_FALSE(parseServerName("ftps:host", 0));
    EXPECT_FALSE(parseServerName("host/", 0));  // a bare name never takes a slash
}

TEST(FtpsServerName, TlsFailuresMapToCertificateAndChannelErrors)
{
    EXPECT_EQ(errorFromCurl(CURLE_PEER_FAILED_VERIFICATION), ERROR_INTERNET_INVALID_CA);
    EXPECT_EQ(errorFromCurl(CURLE_SSL_CACERT_BADFILE), ERROR_INTERNET_INVALID_CA);
    EXPECT_EQ(errorFromCurl(CURLE_USE_SSL_FAILED), ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_EQ(errorFromCurl(CURLE_SSL_CONNECT_ERROR), ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
}
