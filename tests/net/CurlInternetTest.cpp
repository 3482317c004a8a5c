// CurlInternet against a loopback server: sessions, listings, directories, transfers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>

#include "LayerTestHelpers.h"
#include "remote/ServerWalk.h"
#include "../settings/UnprivilegedRun.h"

using namespace net;
using namespace layertest;

namespace {

class CurlInternetSession : public LayerTest {};
class CurlInternetListing : public LayerTest {
protected:
    void makeTree()
    {
        QDir root(m_remote.path());
        ASSERT_TRUE(root.mkpath("sub/deeper"));
        ASSERT_TRUE(root.mkpath("empty"));
        writeFile(remotePath("plain.txt"), "12345");
        writeFile(remotePath("with spaces.txt"), "ab");
        writeFile(remotePath(" leading"), "x");
        writeFile(remotePath("sub/inner.txt"), "inner");
        ASSERT_EQ(::symlink("plain.txt", remotePath("link").c_str()), 0);
    }
    std::map<std::string, WIN32_FIND_DATAA> byName(const std::vector<WIN32_FIND_DATAA>& all)
    {
        std::map<std::string, WIN32_FIND_DATAA> m;
        for (const auto& r : all)
            m[r.cFileName] = r;
        return m;
    }
};
class CurlInternetTransfer : public LayerTest {};

std::vector<std::string> names(const std::vector<WIN32_FIND_DATAA>& all)
{
    std::vector<std::string> n;
    for (const auto& r : all)
        n.push_back(r.cFileName);
    std::sort(n.begin(), n.end());
    return n;
}

}  // namespace

TEST_F(CurlInternetSession, OneLoginServesTheWholeSession)
{
    startServer();
    QDir(m_remote.path()).mkpath("sub");
    writeFile(remotePath("sub/f.bin"), "data");
    writeFile(localPath("up.txt"), "up");
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    EXPECT_EQ(listAll(c).size(), 1u);
    ASSERT_TRUE(m_api->FtpSetCurrentDirectoryA(c, "sub"));
    EXPECT_EQ(listAll(c).size(), 1u);
    ASSERT_TRUE(m_api->FtpGetFileA(c, "f.bin", localPath("f.bin").c_str(), FALSE_, FILE_FLAG_WRITE_THROUGH,
                                   FTP_TRANSFER_TYPE_BINARY, 0));
    ASSERT_TRUE(m_api->FtpPutFileA(c, localPath("up.txt").c_str(), "up.txt", FTP_TRANSFER_TYPE_BINARY, 0));
    ASSERT_TRUE(m_api->FtpSetCurrentDirectoryA(c, "/"));
    EXPECT_EQ(listAll(c).size(), 1u);
    EXPECT_EQ(m_server->count("USER"), 1) << m_server->commandLog();
    EXPECT_EQ(m_server->count("PASS"), 1);
    EXPECT_EQ(m_server->count("QUIT"), 0);
    EXPECT_EQ(m_server->commandLog().find("secret"), std::string::npos);
    EXPECT_TRUE(m_api->InternetCloseHandle(c));
    EXPECT_EQ(m_server->count("QUIT"), 1);
    EXPECT_TRUE(m_api->InternetCloseHandle(m_session));
}

TEST_F(CurlInternetSession, ServerNameForms)
{
    startServer();
    open();
    const std::string name = m_server->address();
    HINTERNET a = m_api->InternetConnectA(m_session, name.c_str(), 0, "user", "secret", INTERNET_SERVICE_FTP, 0, 0);
    EXPECT_NE(a, 0u);
    HINTERNET b = m_api->InternetConnectA(m_session, "127.0.0.1", static_cast<INTERNET_PORT>(m_server->port()),
                                          "user", "secret", INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
    EXPECT_NE(b, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(m_server->count("USER"), 2);
    // Closing the session closes both connections.
    EXPECT_TRUE(m_api->InternetCloseHandle(m_session));
    EXPECT_EQ(m_server->count("QUIT"), 2);
    EXPECT_FALSE(m_api->InternetCloseHandle(a));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(CurlInternetSession, NamesResolveThroughTheSeam)
{
    startServer();
    std::vector<std::string> asked;
    auto options = fastOptions();
    options.resolveHost = [&asked](const std::string& host) -> std::optional<std::string> {
        asked.push_back(host);
        if (host == "files.quillon.test")
            return std::string("127.0.0.1");
        return std::nullopt;
    };
    m_api = std::make_unique<CurlInternet>(options);
    open();
    const std::string good = "files.quillon.test:" + std::to_string(m_server->port());
    EXPECT_NE(m_api->InternetConnectA(m_session, good.c_str(), 0, "user", "secret", 1, INTERNET_FLAG_PASSIVE, 0), 0u);
    EXPECT_EQ(m_api->InternetConnectA(m_session, "nowhere.quillon.test", 0, "user", "secret", 1, 0, 0), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_NAME_NOT_RESOLVED);
    EXPECT_EQ(asked, (std::vector<std::string>{"files.quillon.test", "nowhere.quillon.test"}));
    EXPECT_EQ(m_server->count("USER"), 1);
}

TEST_F(CurlInternetSession, EmptyUserLogsInAnonymously)
{
    testsupport::FtpServerOptions o;
    o.anonymous = true;
    startServer(o);
    writeFile(remotePath("pub.txt"), "p");
    const HINTERNET c = connect(INTERNET_FLAG_PASSIVE, "", "");
    ASSERT_NE(c, 0u);
    EXPECT_EQ(names(listAll(c)), std::vector<std::string>{"pub.txt"});
    const auto cmds = m_server->commands();
    EXPECT_NE(std::find(cmds.begin(), cmds.end(), "USER anonymous"), cmds.end()) << m_server->commandLog();
}

TEST_F(CurlInternetSession, PassiveModeUsesEpsvOrPasv)
{
    startServer();
    writeFile(remotePath("a"), "a");
    const HINTERNET c = connect(INTERNET_FLAG_PASSIVE);
    ASSERT_EQ(listAll(c).size(), 1u);
    EXPECT_GE(m_server->count("EPSV") + m_server->count("PASV"), 1);
    EXPECT_EQ(m_server->count("EPRT") + m_server->count("PORT"), 0);
}

TEST_F(CurlInternetSession, ActiveModeUsesEprtOrPort)
{
    startServer();
    writeFile(remotePath("a"), "active");
    const HINTERNET c = connect(0);
    ASSERT_EQ(listAll(c).size(), 1u);
    ASSERT_TRUE(m_api->FtpGetFileA(c, "a", localPath("a").c_str(), FALSE_, 0, FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(readFile(localPath("a")), "active");
    EXPECT_GE(m_server->count("EPRT") + m_server->count("PORT"), 1);
    EXPECT_EQ(m_server->count("EPSV") + m_server->count("PASV"), 0);
}

TEST_F(CurlInternetSession, ThroughTisGateway)
{
    startServer();
    writeFile(remotePath("via.txt"), "through the gateway");
    testsupport::FtpGateway gateway;
    ASSERT_TRUE(gateway.running());
    const HINTERNET s =
        m_api->InternetOpenA("vb wininet", INTERNET_OPEN_TYPE_PROXY, gateway.address().c_str(), nullptr, 0);
    ASSERT_NE(s, 0u);
    const HINTERNET c = m_api->InternetConnectA(s, m_server->address().c_str(), 0, "user", "secret", 1,
                                                INTERNET_FLAG_PASSIVE, 0);
    ASSERT_NE(c, 0u) << m_api->GetLastError();
    m_session = s;
    EXPECT_EQ(names(listAll(c)), std::vector<std::string>{"via.txt"});
    ASSERT_TRUE(m_api->FtpGetFileA(c, "via.txt", localPath("via.txt").c_str(), FALSE_, 0, 2, 0));
    EXPECT_EQ(readFile(localPath("via.txt")), "through the gateway");
    EXPECT_NE(gateway.log().find("USER user@" + m_server->address()), std::string::npos) << gateway.log();
    EXPECT_EQ(m_server->count("USER"), 1);
}

namespace {

// Sets (or, with nullptr, removes) environment variables until it goes.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::initializer_list<std::pair<const char*, const char*>> values)
    {
        for (const auto& [name, value] : values) {
            const char* old = std::getenv(name);
            m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            if (value)
                ::setenv(name, value, 1);
            else
                ::unsetenv(name);
        }
    }
    ~ScopedEnvironment()
    {
        for (const auto& [name, value] : m_saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

}  // namespace

TEST_F(CurlInternetSession, ProxiesFromTheEnvironmentAreNeverUsed)
{
    startServer();
    writeFile(remotePath("f.txt"), "direct");
    // A listener that only counts: the kernel completes connections, nobody answers.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 8), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
    const std::string proxy = "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    {
        const ScopedEnvironment env{{"all_proxy", proxy.c_str()}, {"ALL_PROXY", proxy.c_str()},
                                    {"ftp_proxy", proxy.c_str()}, {"FTP_PROXY", proxy.c_str()},
                                    {"http_proxy", proxy.c_str()}, {"no_proxy", nullptr},
                                    {"NO_PROXY", nullptr}};
        const HINTERNET c = connect();
        ASSERT_NE(c, 0u);
        EXPECT_EQ(names(listAll(c)), std::vector<std::string>{"f.txt"});
        ASSERT_TRUE(m_api->FtpGetFileA(c, "f.txt", localPath("f.txt").c_str(), FALSE_, 0, 2, 0));
        EXPECT_EQ(readFile(localPath("f.txt")), "direct");
        EXPECT_TRUE(m_api->InternetCloseHandle(c));
    }
    const int peer = ::accept(listener, nullptr, nullptr);
    EXPECT_LT(peer, 0) << "something connected to the proxy from the environment";
    if (peer >= 0)
        ::close(peer);
    ::close(listener);
    EXPECT_EQ(m_server->count("USER"), 1);
}

TEST(CurlInternetEnvironment, NoKeyLogFileFromTheEnvironment)
{
    // libcurl reads SSLKEYLOGFILE once, when it starts: run in a fresh process.
    // The child runs this test again from the start: it takes the parent's path.
    const char* inherited = std::getenv("QUILLON_TEST_KEYLOG");
    std::optional<QTemporaryDir> dir;  // the parent's only: the child ends by exit()
    if (!inherited)
        ASSERT_TRUE(dir.emplace().isValid());
    const std::string keys = inherited ? inherited : dir->path().toStdString() + "/keys.log";
    ::setenv("QUILLON_TEST_KEYLOG", keys.c_str(), 1);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::setenv("SSLKEYLOGFILE", keys.c_str(), 1);
            CurlInternet api;
            std::exit(api.InternetOpenA("a", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0) != 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_FALSE(exists(keys));
    ::unsetenv("QUILLON_TEST_KEYLOG");
}

TEST_F(CurlInternetSession, UnreachableGatewayFailsTheConnect)
{
    startServer();
    const std::string proxy = "127.0.0.1:" + std::to_string(closedPort());
    const HINTERNET s = m_api->InternetOpenA("a", INTERNET_OPEN_TYPE_PROXY, proxy.c_str(), nullptr, 0);
    ASSERT_NE(s, 0u);  // not checked at open
    EXPECT_EQ(m_api->InternetConnectA(s, m_server->address().c_str(), 0, "user", "secret", 1, 0, 0), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_CANNOT_CONNECT);
    EXPECT_EQ(m_server->count("USER"), 0);
}

TEST_F(CurlInternetListing, KnownTreeWithMlsd)
{
    startServer();
    makeTree();
    const HINTERNET c = connect();
    auto all = listAll(c);
    EXPECT_EQ(names(all), (std::vector<std::string>{" leading", "empty", "link", "plain.txt", "sub",
                                                    "with spaces.txt"}));
    auto m = byName(all);
    EXPECT_EQ(m["sub"].dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(m["plain.txt"].dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(m["plain.txt"].nFileSizeLow, 5u);
    EXPECT_EQ(m["plain.txt"].nFileSizeHigh, 0u);
    EXPECT_NE(m["plain.txt"].ftLastWriteTime.dwHighDateTime, 0u);
    EXPECT_EQ(m["with spaces.txt"].nFileSizeLow, 2u);
    EXPECT_GE(m_server->count("MLSD"), 1);
    EXPECT_EQ(m_server->count("LIST"), 0);
}

TEST_F(CurlInternetListing, KnownTreeWithList)
{
    testsupport::FtpServerOptions o;
    o.mlsd = false;
    startServer(o);
    makeTree();
    const HINTERNET c = connect();
    auto all = listAll(c, nullptr);
    EXPECT_EQ(names(all), (std::vector<std::string>{" leading", "empty", "link", "plain.txt", "sub",
                                                    "with spaces.txt"}));
    auto m = byName(all);
    EXPECT_EQ(m["sub"].dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(m["plain.txt"].dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(m["link"].dwFileAttributes, FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(m["plain.txt"].nFileSizeLow, 5u);
    EXPECT_GE(m_server->count("LIST"), 1);
    EXPECT_EQ(m_server->count("MLSD"), 0);
}

TEST_F(CurlInternetListing, EmptyFolderGives18)
{
    startServer();
    makeTree();
    const HINTERNET c = connect();
    ASSERT_TRUE(m_api->FtpSetCurrentDirectoryA(c, "empty"));
    WIN32_FIND_DATAA record;
    EXPECT_EQ(m_api->FtpFindFirstFileA(c, "*.*", &record, 0, 0), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_NO_MORE_FILES);
}

TEST_F(CurlInternetListing, MlsdLeavesOutTheFolderAndItsParentListKeepsThem)
{
    testsupport::FtpServerOptions o;
    o.dots = true;  // MLSD sends type=cdir and type=pdir lines, LIST "." and ".."
    startServer(o);
    makeTree();
    const HINTERNET c = connect();
    EXPECT_EQ(names(listAll(c)), (std::vector<std::string>{" leading", "empty", "link", "plain.txt", "sub",
                                                           "with spaces.txt"}));
    ASSERT_TRUE(m_api->FtpSetCurrentDirectoryA(c, "empty"));
    WIN32_FIND_DATAA record;
    EXPECT_EQ(m_api->FtpFindFirstFileA(c, "*.*", &record, 0, 0), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_GE(m_server->count("MLSD"), 2);

    o.mlsd = false;
    startServer(o);
    const HINTERNET l = connect();
    EXPECT_EQ(names(listAll(l)), (std::vector<std::string>{" leading", ".", "..", "empty", "link", "plain.txt",
                                                           "sub", "with spaces.txt"}));
    ASSERT_TRUE(m_api->FtpSetCurrentDirectoryA(l, "empty"));
    EXPECT_EQ(names(listAll(l)), (std::vector<std::string>{".", ".."}));
}

TEST_F(CurlInternetListing, NamesWithLineBreaksAreLeftOutWhole)
{
    for (const bool mlsd : {true, false}) {
        SCOPED_TRACE(mlsd ? "MLSD" : "LIST");
        testsupport::FtpServerOptions o;
        o.mlsd = mlsd;
        startServer(o);
        writeFile(remotePath("crlf\r\nDELE ok.txt"), "x");
        writeFile(remotePath("lf\nname"), "x");
        writeFile(remotePath("cr\rname"), "x");
        writeFile(remotePath("ok.txt"), "ok");
        const HINTERNET c = connect();
        EXPECT_EQ(names(listAll(c)), std::vector<std::string>{"ok.txt"});
        EXPECT_EQ(m_server->count("DELE"), 0);
        EXPECT_TRUE(m_api->InternetCloseHandle(c));
    }
}

TEST_F(CurlInternetListing, RelativeNamesFollowTheLastChange)
{
    startServer();
    makeTree();
    const HINTERNET c = connect();
    EXPECT_EQ(m_api->currentDirectory(c), "/");
    ASSERT_TRUE(m_api->FtpSetCurrentDirectoryA(c, "sub"));
    EXPECT_EQ(m_api->currentDirectory(c), "/sub");
    EXPECT_EQ(names(listAll(c)), (std::vector<std::string>{"deeper", "inner.txt"}));
    ASSERT_TRUE(m_api->FtpSetCurrentDirectoryA(c, "deeper/.."));
    EXPECT_EQ(m_api->currentDirectory(c), "/sub");  // the server's canonical path
    ASSERT_TRUE(m_api->FtpGetFileA(c, "inner.txt", localPath("i").c_str(), FALSE_, 0, 2, 0));
    EXPECT_EQ(readFile(localPath("i")), "inner");
    ASSERT_TRUE(m_api->FtpSetCurrentDirectoryA(c, "/"));
    EXPECT_EQ(listAll(c).size(), 6u);
}

TEST_F(CurlInternetListing, CwdRefusalGives12003WithTheReply)
{
    startServer();
    makeTree();
    const HINTERNET c = connect();
    ASSERT_TRUE(m_api->FtpSetCurrentDirectoryA(c, "sub"));
    EXPECT_FALSE(m_api->FtpSetCurrentDirectoryA(c, "missing"));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    const auto [code, text] = lastResponse();
    EXPECT_EQ(code, 550u);
    EXPECT_EQ(text.rfind("550 ", 0), 0u) << text;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_EQ(m_api->currentDirectory(c), "/sub");  // unchanged
    EXPECT_EQ(names(listAll(c)), (std::vector<std::string>{"deeper", "inner.txt"}));
}

TEST_F(CurlInternetListing, PatternsFilterAndLongNamesAreCut)
{
    startServer();
    makeTree();
    const std::string longName(300, 'n');
    QDir(m_remote.path()).mkpath("long");
    writeFile(remotePath("long/" + longName.substr(0, 255)), "z");
    const HINTERNET c = connect();
    EXPECT_EQ(names(listAll(c, "*.txt")), (std::vector<std::string>{"plain.txt", "with spaces.txt"}));
    EXPECT_EQ(names(listAll(c, "sub/*")), (std::vector<std::string>{"deeper", "inner.txt"}));
    ASSERT_TRUE(m_api->FtpSetCurrentDirectoryA(c, "long"));
    auto all = listAll(c);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(std::strlen(all[0].cFileName), 255u);
}

TEST_F(CurlInternetListing, FiveThousandEntriesAllArrive)
{
    startServer();
    QDir(m_remote.path()).mkpath("many");
    for (int i = 0; i < 5000; ++i) {
        QFile f(QString::fromStdString(remotePath("many/f" + std::to_string(i))));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const HINTERNET c = connect();
    ASSERT_TRUE(m_api->FtpSetCurrentDirectoryA(c, "many"));
    auto all = listAll(c);
    EXPECT_EQ(all.size(), 5000u);
}

TEST_F(CurlInternetTransfer, BinaryBothWaysByteExact)
{
    startServer();
    const std::string bytes = randomBytes(3 * 1024 * 1024 + 17, 7);
    writeFile(remotePath("r.bin"), bytes);
    writeFile(localPath("l.bin"), bytes);
    const HINTERNET c = connect();
    ASSERT_TRUE(m_api->FtpGetFileA(c, "r.bin", localPath("r.bin").c_str(), FALSE_, FILE_FLAG_WRITE_THROUGH,
                                   FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_TRUE(readFile(localPath("r.bin")) == bytes);
    ASSERT_TRUE(m_api->FtpPutFileA(c, localPath("l.bin").c_str(), "up.bin", FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_TRUE(readFile(remotePath("up.bin")) == bytes);
    EXPECT_GE(m_server->count("TYPE I"), 1);
}

// The server stores and sends ASCII transfers as they are, so its disk shows the wire.
TEST_F(CurlInternetTransfer, AsciiLineEndsAreExactOnTheWireBothWays)
{
    testsupport::FtpServerOptions raw;
    raw.rawAscii = true;
    startServer(raw);
    writeFile(remotePath("dos.txt"), "one\r\ntwo\r\n\r\nthree");
    writeFile(remotePath("mixed.txt"), "a\rb\nc\r\r\nd\r");
    writeFile(localPath("unix.txt"), "a\nb\r\nc\n");
    writeFile(localPath("crs.txt"), "x\ry\r\r\nz\r");
    const HINTERNET c = connect();
    ASSERT_TRUE(m_api->FtpGetFileA(c, "dos.txt", localPath("dos.txt").c_str(), FALSE_, 0, FTP_TRANSFER_TYPE_ASCII, 0));
    EXPECT_EQ(readFile(localPath("dos.txt")), "one\ntwo\n\nthree");
    // Only CR LF pairs become LF; lone CRs (the last one too) and lone LFs stay.
    ASSERT_TRUE(m_api->FtpGetFileA(c, "mixed.txt", localPath("mixed.txt").c_str(), FALSE_, 0, FTP_TRANSFER_TYPE_ASCII, 0));
    EXPECT_EQ(readFile(localPath("mixed.txt")), "a\rb\nc\r\nd\r");
    // Every line end goes out as exactly one CR LF, whether the file had LF or CR LF.
    ASSERT_TRUE(m_api->FtpPutFileA(c, localPath("unix.txt").c_str(), "unix.txt", FTP_TRANSFER_TYPE_ASCII, 0));
    EXPECT_EQ(readFile(remotePath("unix.txt")), "a\r\nb\r\nc\r\n");
    ASSERT_TRUE(m_api->FtpPutFileA(c, localPath("crs.txt").c_str(), "crs.txt", FTP_TRANSFER_TYPE_ASCII, 0));
    EXPECT_EQ(readFile(remotePath("crs.txt")), "x\ry\r\r\nz\r");
    EXPECT_EQ(m_server->count("TYPE A"), 4) << m_server->commandLog();
}

TEST_F(CurlInternetTransfer, AsciiUploadOfManyLines)
{
    testsupport::FtpServerOptions raw;
    raw.rawAscii = true;
    startServer(raw);
    std::string text, expected;
    for (int i = 0; i < 200000; ++i) {
        text += "line " + std::to_string(i) + "\n";
        expected += "line " + std::to_string(i) + "\r\n";
    }
    writeFile(localPath("big.txt"), text);
    writeFile(localPath("big-dos.txt"), expected);
    const HINTERNET c = connect();
    ASSERT_TRUE(m_api->FtpPutFileA(c, localPath("big.txt").c_str(), "big.txt", FTP_TRANSFER_TYPE_ASCII, 0));
    EXPECT_TRUE(readFile(remotePath("big.txt")) == expected);
    // CR LF pairs split between two buffers stay one CR LF both ways.
    ASSERT_TRUE(m_api->FtpPutFileA(c, localPath("big-dos.txt").c_str(), "big-dos.txt", FTP_TRANSFER_TYPE_ASCII, 0));
    EXPECT_TRUE(readFile(remotePath("big-dos.txt")) == expected);
    ASSERT_TRUE(m_api->FtpGetFileA(c, "big-dos.txt", localPath("back.txt").c_str(), FALSE_, 0,
                                   FTP_TRANSFER_TYPE_ASCII, 0));
    EXPECT_TRUE(readFile(localPath("back.txt")) == text);
}

// On a server that converts in TYPE A, a binary transfer after an ASCII one is still binary.
TEST_F(CurlInternetTransfer, BinaryAfterAsciiIsByteExactOnAConvertingServer)
{
    startServer();
    const std::string bytes = "bin\nary\r\n" + randomBytes(64 * 1024, 3);
    writeFile(remotePath("text.txt"), "t\n");
    writeFile(remotePath("r.bin"), bytes);
    writeFile(localPath("l.txt"), "u\n");
    writeFile(localPath("l.bin"), bytes);
    const HINTERNET c = connect();
    ASSERT_TRUE(m_api->FtpGetFileA(c, "text.txt", localPath("text.txt").c_str(), FALSE_, 0, FTP_TRANSFER_TYPE_ASCII, 0));
    EXPECT_EQ(readFile(localPath("text.txt")), "t\n");
    ASSERT_TRUE(m_api->FtpGetFileA(c, "r.bin", localPath("r.bin").c_str(), FALSE_, 0, FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_TRUE(readFile(localPath("r.bin")) == bytes);
    ASSERT_TRUE(m_api->FtpPutFileA(c, localPath("l.txt").c_str(), "l.txt", FTP_TRANSFER_TYPE_ASCII, 0));
    EXPECT_EQ(readFile(remotePath("l.txt")), "u\n");  // the server stores its own line ends
    ASSERT_TRUE(m_api->FtpPutFileA(c, localPath("l.bin").c_str(), "l.bin", FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_TRUE(readFile(remotePath("l.bin")) == bytes);
    EXPECT_EQ(m_server->count("USER"), 1);  // all on one control connection
}

TEST_F(CurlInternetListing, CurrentDirectoryStartsAtTheLoginFolder)
{
    testsupport::FtpServerOptions home;
    home.loginFolder = "/home/user";
    startServer(home);
    ASSERT_TRUE(QDir(m_remote.path()).mkpath("home/user/pub"));
    const HINTERNET c = connect();
    char buffer[MAX_PATH];
    DWORD length = sizeof buffer;
    ASSERT_TRUE(m_api->FtpGetCurrentDirectoryA(c, buffer, &length)) << m_api->GetLastError();
    EXPECT_STREQ(buffer, "/home/user");
    EXPECT_EQ(length, 10u);
    const std::size_t sent = m_server->commands().size();
    // Too small, or no buffer: 122 and the size needed, NUL included.
    length = 10;
    EXPECT_FALSE(m_api->FtpGetCurrentDirectoryA(c, buffer, &length));
    EXPECT_EQ(m_api->GetLastError(), 122u);
    EXPECT_EQ(length, 11u);
    length = 0;
    EXPECT_FALSE(m_api->FtpGetCurrentDirectoryA(c, nullptr, &length));
    EXPECT_EQ(length, 11u);
    EXPECT_FALSE(m_api->FtpGetCurrentDirectoryA(c, buffer, nullptr));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(m_api->FtpGetCurrentDirectoryA(c + 1000, buffer, &length));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(m_server->commands().size(), sent);  // the layer knows it: nothing is asked

    ASSERT_TRUE(m_api->FtpSetCurrentDirectoryA(c, "pub"));
    length = sizeof buffer;
    ASSERT_TRUE(m_api->FtpGetCurrentDirectoryA(c, buffer, &length));
    EXPECT_STREQ(buffer, "/home/user/pub");
    EXPECT_EQ(m_api->GetLastError(), ERROR_SUCCESS);
}

TEST_F(CurlInternetTransfer, NamesWithSpacesAndNewFileMode)
{
    startServer();
    QDir(m_remote.path()).mkpath("my dir");
    writeFile(remotePath("my dir/a b.txt"), "spaced");
    const HINTERNET c = connect();
    ASSERT_TRUE(m_api->FtpSetCurrentDirectoryA(c, "my dir"));
    EXPECT_EQ(m_api->currentDirectory(c), "/my dir");
    const mode_t old = ::umask(022);
    ASSERT_TRUE(m_api->FtpGetFileA(c, "a b.txt", localPath("a b.txt").c_str(), FALSE_, 0, 2, 0));
    ::umask(old);
    EXPECT_EQ(readFile(localPath("a b.txt")), "spaced");
    struct stat st {};
    ASSERT_EQ(::stat(localPath("a b.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(folderEntries(m_local.path().toStdString()), std::vector<std::string>{"a b.txt"});
}

namespace {

mode_t modeOf(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

}  // namespace

TEST_F(CurlInternetTransfer, DownloadReplacesAnExistingFileAndKeepsItsMode)
{
    startServer();
    writeFile(remotePath("f"), "new");
    for (const char* name : {"f", "private", "tool", "owned"})
        writeFile(localPath(name), "old contents");
    ASSERT_EQ(::chmod(localPath("private").c_str(), 0600), 0);
    ASSERT_EQ(::chmod(localPath("tool").c_str(), 04751), 0);
    const bool root = ::geteuid() == 0;
    if (root)
        ASSERT_EQ(::chown(localPath("owned").c_str(), 65534, 65534), 0);
    const HINTERNET c = connect();
    const mode_t old = ::umask(077);
    for (const char* name : {"f", "private", "tool", "owned"})
        EXPECT_TRUE(m_api->FtpGetFileA(c, "f", localPath(name).c_str(), FALSE_, 0, 2, 0)) << name;
    ASSERT_TRUE(m_api->FtpGetFileA(c, "f", localPath("fresh").c_str(), FALSE_, 0, 2, 0));
    ::umask(old);
    for (const char* name : {"f", "private", "tool", "owned", "fresh"})
        EXPECT_EQ(readFile(localPath(name)), "new") << name;
    EXPECT_EQ(modeOf(localPath("f")), 0644u);
    EXPECT_EQ(modeOf(localPath("private")), 0600u);  // never readable by others, not even for a moment
    EXPECT_EQ(modeOf(localPath("tool")), 0751u);     // no set-id bit on downloaded contents
    EXPECT_EQ(modeOf(localPath("fresh")), 0600u);    // a new file: the umask's mode
    if (root) {
        struct stat st {};
        ASSERT_EQ(::stat(localPath("owned").c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 65534u);
        EXPECT_EQ(st.st_gid, 65534u);
    }
    EXPECT_EQ(folderEntries(m_local.path().toStdString()).size(), 5u);

    // While it fills, the temporary file over a private one is private too, whatever the umask.
    std::vector<mode_t> tempModes;
    DuringCall look([&] {
        for (const std::string& name : folderEntries(m_local.path().toStdString()))
            if (name.find(".quillon-") != std::string::npos)
                tempModes.push_back(modeOf(localPath(name)));
    });
    m_api->setCallWatcher(&look);
    const mode_t usual = ::umask(022);
    EXPECT_TRUE(m_api->FtpGetFileA(c, "f", localPath("private").c_str(), FALSE_, 0, 2, 0));
    ::umask(usual);
    m_api->setCallWatcher(nullptr);
    ASSERT_FALSE(tempModes.empty());
    for (const mode_t mode : tempModes)
        EXPECT_EQ(mode & 077, 0u) << std::oct << mode;

    // Its owner replaces a file of a group the owner is not in: that group's rights go to no other.
    if (root) {
        const std::string grouped = localPath("grouped");
        ASSERT_EQ(::chmod(m_local.path().toLocal8Bit().constData(), 0777), 0);
        writeFile(grouped, "old contents");
        ASSERT_TRUE(::chown(grouped.c_str(), 65534, 0) == 0 && ::chmod(grouped.c_str(), 0664) == 0);
        EXPECT_TRUE(testsupport::runUnprivileged([&] {
            return m_api->FtpGetFileA(c, "f", grouped.c_str(), FALSE_, 0, 2, 0) && modeOf(grouped) == 0604;
        })) << std::oct << modeOf(grouped);
        EXPECT_EQ(readFile(grouped), "new");
    }
}

TEST_F(CurlInternetTransfer, ReadOnlyLocalFileIsRefusedWith5AndKept)
{
    startServer();
    writeFile(remotePath("f"), "new");
    writeFile(localPath("ro"), "keep me");
    ASSERT_EQ(::chmod(localPath("ro").c_str(), 0444), 0);  // root too: the bits decide, not access()
    const HINTERNET c = connect();
    EXPECT_FALSE(m_api->FtpGetFileA(c, "f", localPath("ro").c_str(), FALSE_, 0, 2, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(readFile(localPath("ro")), "keep me");
    EXPECT_EQ(modeOf(localPath("ro")), 0444u);
    EXPECT_EQ(m_server->count("RETR"), 0);
    EXPECT_EQ(folderEntries(m_local.path().toStdString()), std::vector<std::string>{"ro"});
    // Someone else's file (0644, root's) in a folder everyone may write: not this user's to replace.
    ASSERT_EQ(::chmod(m_local.path().toLocal8Bit().constData(), 0711), 0);
    ASSERT_TRUE(QDir(m_local.path()).mkdir("shared"));
    ASSERT_EQ(::chmod(localPath("shared").c_str(), 0777), 0);
    writeFile(localPath("shared/theirs"), "keep me");
    ASSERT_EQ(::chmod(localPath("shared/theirs").c_str(), 0644), 0);
    if (::geteuid() == 0)  // else the file is the user's own
        EXPECT_TRUE(testsupport::runUnprivileged([&] {
            return !m_api->FtpGetFileA(c, "f", localPath("shared/theirs").c_str(), FALSE_, 0, 2, 0) &&
                   m_api->GetLastError() == ERROR_ACCESS_DENIED;
        }));
    EXPECT_EQ(readFile(localPath("shared/theirs")), "keep me");
    EXPECT_EQ(m_server->count("RETR"), 0);

    ASSERT_EQ(::chmod(localPath("ro").c_str(), 0644), 0);  // writable again: replaced
    EXPECT_TRUE(m_api->FtpGetFileA(c, "f", localPath("ro").c_str(), FALSE_, 0, 2, 0));
    EXPECT_EQ(readFile(localPath("ro")), "new");
}

namespace {

// The file commands of a log, a temporary upload name shown as "<temp>".
std::vector<std::string> fileCommands(const std::vector<std::string>& log)
{
    std::vector<std::string> out;
    for (const std::string& line : log) {
        const std::string verb = line.substr(0, line.find(' '));
        if (verb != "STOR" && verb != "RNFR" && verb != "RNTO" && verb != "DELE")
            continue;
        const std::string arg = line.substr(verb.size() + 1);
        const bool temp = arg.rfind(".up.bin.quillon-", 0) == 0 || arg.rfind("/.up.bin.quillon-", 0) == 0;
        const bool backup = temp && arg.ends_with("-old");
        out.push_back(verb + " " + (backup ? std::string("<backup>") : temp ? std::string("<temp>") : arg));
    }
    return out;
}

}  // namespace

TEST_F(CurlInternetTransfer, UploadReplacesTheServerFileOnlyWhenCompleteOnEveryKindOfServer)
{
    struct Kind {
        const char* name;
        testsupport::FtpServerOptions options;
        std::vector<std::string> commands;
    };
    // The first four commands test renaming on an empty file, once for the connection.
    const std::vector<std::string> probe{"STOR <temp>", "RNFR <temp>", "RNTO <temp>", "DELE <temp>"};
    std::vector<Kind> kinds(4);
    kinds[0] = {"renames", {}, {"STOR <temp>", "RNFR <temp>", "RNTO /up.bin"}};
    kinds[0].commands.insert(kinds[0].commands.begin(), probe.begin(), probe.end());
    kinds[1] = {"no rename right", {}, {"STOR <temp>", "RNFR <temp>", "DELE <temp>", "STOR up.bin"}};
    kinds[1].options.permissions = "elradmwMT";
    kinds[2] = {"renames onto free names only",
                {},
                {"STOR <temp>", "RNFR <temp>", "RNTO /up.bin", "RNFR /up.bin", "RNTO <backup>", "RNFR <temp>",
                 "RNTO /up.bin", "DELE <backup>"}};
    kinds[2].commands.insert(kinds[2].commands.begin(), probe.begin(), probe.end());
    kinds[2].options.renameOntoExisting = false;
    kinds[3] = {"no dot files", {}, {"STOR <temp>", "STOR up.bin"}};
    kinds[3].options.dotFiles = false;
    const std::string bytes = randomBytes(300 * 1024, 11);
    writeFile(localPath("up.bin"), bytes);
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        startServer(kind.options);
        writeFile(remotePath("up.bin"), "the old file");
        ASSERT_EQ(::chmod(remotePath("up.bin").c_str(), 0750), 0);
        const HINTERNET c = connect();
        ASSERT_TRUE(m_api->FtpPutFileA(c, localPath("up.bin").c_str(), "up.bin", FTP_TRANSFER_TYPE_BINARY, 0))
            << m_api->GetLastError() << "\n" << m_server->commandLog();
        EXPECT_TRUE(readFile(remotePath("up.bin")) == bytes);
        EXPECT_EQ(modeOf(remotePath("up.bin")), 0750u);  // STAT told it, SITE CHMOD gave it back
        EXPECT_EQ(folderEntries(m_remote.path().toStdString()), std::vector<std::string>{"up.bin"});
        EXPECT_EQ(fileCommands(m_server->commands()), kind.commands) << m_server->commandLog();
        EXPECT_TRUE(m_api->InternetCloseHandle(c));
    }
    // A new file: nothing to replace, the same steps.
    startServer();
    const HINTERNET c = connect();
    ASSERT_TRUE(m_api->FtpPutFileA(c, localPath("up.bin").c_str(), "up.bin", FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_TRUE(readFile(remotePath("up.bin")) == bytes);
    EXPECT_EQ(folderEntries(m_remote.path().toStdString()), std::vector<std::string>{"up.bin"});
    // A long name: the temporary one is cut before a whole UTF-8 character.
    std::string name = "a";
    for (int i = 0; i < 60; ++i)
        name += "\xc3\xa9";
    m_server->clearLog();
    ASSERT_TRUE(m_api->FtpPutFileA(c, localPath("up.bin").c_str(), name.c_str(), FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_TRUE(readFile(remotePath(name)) == bytes);
    const auto log = m_server->commands();
    const auto stor = std::find_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("STOR ", 0) == 0; });
    ASSERT_NE(stor, log.end());
    EXPECT_EQ(stor->rfind("STOR ." + name.substr(0, 99) + ".quillon-", 0), 0u) << *stor;
}

TEST_F(CurlInternetTransfer, RefusedUploadGives12003WithTheServerReply)
{
    testsupport::FtpServerOptions o;
    o.permissions = "elr";  // read-only account
    startServer(o);
    writeFile(localPath("up.bin"), "new");
    writeFile(remotePath("up.bin"), "the old file");
    const HINTERNET c = connect();
    EXPECT_FALSE(m_api->FtpPutFileA(c, localPath("up.bin").c_str(), "up.bin", FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    const auto [code, text] = lastResponse();
    EXPECT_EQ(code, 550u);
    EXPECT_EQ(text.rfind("550 ", 0), 0u) << text;
    EXPECT_EQ(readFile(remotePath("up.bin")), "the old file");
    EXPECT_EQ(folderEntries(m_remote.path().toStdString()), std::vector<std::string>{"up.bin"});
}

// Each server command changes the server's disk as asked, or refuses with the server's
// words (12003) and changes nothing; relative names follow the current folder.
TEST_F(CurlInternetSession, ServerCommandsChangeTheDiskOrNothing)
{
    struct Row {
        const char* what;
        std::function<BOOL(InternetApi&, HINTERNET)> call;
        bool ok;
        DWORD code;                                   // the server's reply after a refusal
        std::vector<std::string> left;                // what the root holds afterwards, below "dir"
    };
    const std::vector<std::string> start{"dir", "dir/a.txt", "dir/empty", "dir/full", "dir/full/f.txt"};
    const Row rows[] = {
        {"new folder", [](InternetApi& a, HINTERNET c) { return a.FtpCreateDirectoryA(c, "new folder"); }, true, 0,
         {"dir", "dir/a.txt", "dir/empty", "dir/full", "dir/full/f.txt", "dir/new folder"}},
        {"existing folder", [](InternetApi& a, HINTERNET c) { return a.FtpCreateDirectoryA(c, "empty"); }, false, 550,
         start},
        {"remove empty", [](InternetApi& a, HINTERNET c) { return a.FtpRemoveDirectoryA(c, "/dir/empty"); }, true, 0,
         {"dir", "dir/a.txt", "dir/full", "dir/full/f.txt"}},
        {"remove full", [](InternetApi& a, HINTERNET c) { return a.FtpRemoveDirectoryA(c, "full"); }, false, 550,
         start},
        {"delete", [](InternetApi& a, HINTERNET c) { return a.FtpDeleteFileA(c, "a.txt"); }, true, 0,
         {"dir", "dir/empty", "dir/full", "dir/full/f.txt"}},
        {"delete missing", [](InternetApi& a, HINTERNET c) { return a.FtpDeleteFileA(c, "gone.txt"); }, false, 550,
         start},
        {"rename into folder", [](InternetApi& a, HINTERNET c) { return a.FtpRenameFileA(c, "a.txt", "full/b c.txt"); },
         true, 0, {"dir", "dir/empty", "dir/full", "dir/full/b c.txt", "dir/full/f.txt"}},
        {"rename missing", [](InternetApi& a, HINTERNET c) { return a.FtpRenameFileA(c, "gone.txt", "x"); }, false,
         550, start},
    };
    startServer();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QDir(m_remote.path()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(m_remote.path() + "/dir/full") && QDir().mkpath(m_remote.path() + "/dir/empty"));
        writeFile(remotePath("dir/full/f.txt"), "f");
        writeFile(remotePath("dir/a.txt"), "a");
        const HINTERNET c = connect();
        ASSERT_TRUE(m_api->FtpSetCurrentDirectoryA(c, "dir"));
        EXPECT_EQ(row.call(*m_api, c), row.ok ? TRUE_ : FALSE_);
        EXPECT_EQ(m_api->GetLastError(), row.ok ? ERROR_SUCCESS : ERROR_INTERNET_EXTENDED_ERROR);
        if (!row.ok)
            EXPECT_EQ(lastResponse().first, row.code);
        std::vector<std::string> left;
        for (QDirIterator it(m_remote.path(), QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
             it.hasNext();)
            left.push_back(QDir(m_remote.path()).relativeFilePath(it.next()).toStdString());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, row.left);
        // The connection serves the next call after a refusal as after a success.
        EXPECT_TRUE(m_api->FtpSetCurrentDirectoryA(c, "/dir/full"));
        m_api->InternetCloseHandle(c);
    }
    EXPECT_EQ(m_server->count("USER"), static_cast<int>(std::size(rows)));  // no refusal costs a login
    // Permissions: the mode the server's disk shows; a mode past 07777 is refused before anything is sent.
    const HINTERNET c = connect();
    ASSERT_TRUE(m_api->FtpSetPermissionsA(c, "/dir/a.txt", 0750));
    struct stat st {};
    ASSERT_EQ(::stat(remotePath("dir/a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    EXPECT_FALSE(m_api->FtpSetPermissionsA(c, "/dir/a.txt", 010000));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_PARAMETER);
}

// A walk lists every folder below the start once, each folder before what it holds, and
// lists a link to a folder without following it.
TEST_F(CurlInternetListing, WalkListsEveryFolderBelowAndFollowsNoLink)
{
    for (const bool mlsd : {true, false}) {
        SCOPED_TRACE(mlsd ? "MLSD" : "LIST");
        testsupport::FtpServerOptions o;
        o.mlsd = mlsd;
        startServer(o);
        QDir(m_remote.path()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(m_remote.path() + "/top/a/b") && QDir().mkpath(m_remote.path() + "/top/empty"));
        writeFile(remotePath("top/a/b/deep.txt"), "deep");
        writeFile(remotePath("top/one.txt"), "1");
        ASSERT_EQ(::symlink("..", remotePath("top/a/up").c_str()), 0);
        const HINTERNET c = connect();
        m_server->clearLog();
        const remote::ServerWalk walk = remote::walkServerFolder(*m_api, c, "/top");
        EXPECT_EQ(walk.error, 0u);
        std::vector<std::string> seen;
        for (const auto& e : walk.entries)
            seen.push_back(e.path + (e.folder() ? "/" : ""));
        const auto at = [&](const std::string& p) { return std::find(seen.begin(), seen.end(), p) - seen.begin(); };
        EXPECT_EQ(seen.size(), 6u) << testing::PrintToString(seen);
        EXPECT_LT(at("/top/a/"), at("/top/a/b/"));
        EXPECT_LT(at("/top/a/b/"), at("/top/a/b/deep.txt"));
        EXPECT_LT(at("/top/a/up"), seen.size());  // the link is listed, as a file
        EXPECT_LT(at("/top/empty/"), seen.size());
        EXPECT_EQ(walk.folders(), 3u);
        // top, a, a/b, empty: once each, in `ls -l` lines, where the MLSD server would have shown
        // the link as the folder it leads to.
        EXPECT_EQ(m_server->count("LIST"), 4);
        EXPECT_EQ(m_server->count("MLSD"), 0);
        // A folder that cannot be listed ends the walk with its error and its name.
        const remote::ServerWalk missing = remote::walkServerFolder(*m_api, c, "/top/none");
        EXPECT_EQ(missing.error, ERROR_INTERNET_EXTENDED_ERROR);
        EXPECT_EQ(missing.failedFolder, "/top/none");
        m_api->InternetCloseHandle(c);
    }
}

namespace {

struct RecordingWatcher : CallWatcher {
    int started = 0, progress = 0, finished = 0;
    int cancelAfter = -1;  // cancel at this progress report
    std::vector<CallProgress::Kind> kinds;
    std::string destination;
    std::uint64_t lastDone = 0;
    void callStarted(const CallProgress& w) override
    {
        ++started;
        kinds.push_back(w.kind);
        destination = w.destination;
    }
    bool callProgress(const CallProgress& now) override
    {
        lastDone = now.done;
        return cancelAfter < 0 || ++progress <= cancelAfter;
    }
    void callFinished() override { ++finished; }
};

}  // namespace

TEST_F(CurlInternetTransfer, WatcherIsToldAboutEveryCall)
{
    startServer();
    writeFile(remotePath("w"), randomBytes(100000, 3));
    RecordingWatcher w;
    m_api->setCallWatcher(&w);
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    EXPECT_EQ(listAll(c).size(), 1u);
    ASSERT_TRUE(m_api->FtpGetFileA(c, "w", localPath("w").c_str(), FALSE_, 0, 2, 0));
    EXPECT_EQ(w.started, 3);
    EXPECT_EQ(w.finished, 3);
    EXPECT_EQ(w.kinds, (std::vector<CallProgress::Kind>{CallProgress::Kind::Connecting, CallProgress::Kind::Listing,
                                                          CallProgress::Kind::Downloading}));
    EXPECT_EQ(w.destination, localPath("w"));  // the download names the file it writes
    m_api->setCallWatcher(nullptr);
}

TEST_F(CurlInternetTransfer, CancelledDownloadLeavesNoFileAndTheConnectionRecovers)
{
    startServer();
    writeFile(remotePath("big"), randomBytes(64 * 1024 * 1024, 5));
    writeFile(remotePath("small"), "small");
    const HINTERNET c = connect();
    RecordingWatcher w;
    w.cancelAfter = 0;
    m_api->setCallWatcher(&w);
    EXPECT_FALSE(m_api->FtpGetFileA(c, "big", localPath("big").c_str(), FALSE_, 0, 2, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
    EXPECT_EQ(w.finished, 1);
    EXPECT_TRUE(folderEntries(m_local.path().toStdString()).empty());

    // Over an existing file: the old contents stay, and nothing else is left.
    writeFile(localPath("big"), "the old big file");
    EXPECT_FALSE(m_api->FtpGetFileA(c, "big", localPath("big").c_str(), FALSE_, 0, 2, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
    EXPECT_EQ(readFile(localPath("big")), "the old big file");
    EXPECT_EQ(folderEntries(m_local.path().toStdString()), std::vector<std::string>{"big"});
    m_api->setCallWatcher(nullptr);
    ASSERT_TRUE(m_api->FtpGetFileA(c, "small", localPath("small").c_str(), FALSE_, 0, 2, 0));
    EXPECT_EQ(readFile(localPath("small")), "small");
}

// The server stops half-way (a lost connection): the part stays, and the next download, from
// the server started again, continues it (REST) to the byte-exact whole.
TEST_F(CurlInternetTransfer, DownloadCutByAStoppedServerContinuesWhereItStopped)
{
    startServer();
    const std::string bytes = randomBytes(96 * 1024 * 1024, 6);  // more than arrives between two reports
    writeFile(remotePath("big"), bytes);
    const HINTERNET c = connect();
    struct StopsServer : CallWatcher {
        std::function<void()> stop;
        void callStarted(const CallProgress&) override {}
        bool callProgress(const CallProgress& now) override
        {
            if (now.done > 0 && stop)
                std::exchange(stop, nullptr)();
            return true;
        }
        void callFinished() override {}
    } w;
    testsupport::FtpServerOptions again;
    again.port = m_server->port();
    w.stop = [this] { m_server.reset(); };
    m_api->setCallWatcher(&w);
    EXPECT_FALSE(m_api->FtpGetFileA(c, "big", localPath("big").c_str(), FALSE_, 0, 2, 0));
    m_api->setCallWatcher(nullptr);
    const std::size_t part = readFile(localPath(".big.quillon-part")).size();
    ASSERT_GT(part, 0u);
    ASSERT_LT(part, bytes.size());
    startServer(again);
    ASSERT_TRUE(m_api->FtpGetFileA(c, "big", localPath("big").c_str(), FALSE_, 0, 2, 0)) << m_api->lastErrorDetail();
    EXPECT_TRUE(readFile(localPath("big")) == bytes);
    EXPECT_NE(m_server->commandLog().find("REST " + std::to_string(part)), std::string::npos) << m_server->commandLog();
    EXPECT_EQ(folderEntries(m_local.path().toStdString()), std::vector<std::string>{"big"});
}

namespace {

struct DataCancel : CallWatcher {
    std::uint64_t sent = 0;
    void callStarted(const CallProgress&) override {}
    bool callProgress(const CallProgress& now) override
    {
        sent = std::max(sent, now.done);  // the clean-up after the cancel reports 0
        return now.done == 0;
    }
    void callFinished() override {}
};

}  // namespace

TEST_F(CurlInternetTransfer, CancelledUploadKeepsTheServerFileAndLeavesNoPart)
{
    const std::string bytes = randomBytes(8 * 1024 * 1024, 9);
    writeFile(localPath("up.bin"), bytes);
    for (const bool rename : {true, false}) {
        SCOPED_TRACE(rename ? "renames" : "no rename right");
        testsupport::FtpServerOptions o;
        if (!rename)
            o.permissions = "elradmwMT";
        o.uploadRate = 2 * 1024 * 1024;  // the cancel comes while data flows
        startServer(o);
        writeFile(remotePath("up.bin"), "the old file");
        const HINTERNET c = connect();
        DataCancel w;  // cancels once data has gone out
        m_api->setCallWatcher(&w);
        EXPECT_FALSE(m_api->FtpPutFileA(c, localPath("up.bin").c_str(), "up.bin", FTP_TRANSFER_TYPE_BINARY, 0));
        EXPECT_GT(w.sent, 0u);
        EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
        m_api->setCallWatcher(nullptr);
        EXPECT_EQ(folderEntries(m_remote.path().toStdString()), std::vector<std::string>{"up.bin"});
        if (rename) {
            EXPECT_EQ(readFile(remotePath("up.bin")), "the old file");
            EXPECT_EQ(fileCommands(m_server->commands()),
                      (std::vector<std::string>{"STOR <temp>", "RNFR <temp>", "RNTO <temp>", "DELE <temp>",
                                                "STOR <temp>", "DELE <temp>"}))
                << m_server->commandLog();
        } else {  // the one copy was going in place: the user is told the file holds a part
            EXPECT_EQ(bytes.rfind(readFile(remotePath("up.bin")), 0), 0u);
            EXPECT_NE(m_api->lastNotice().find("only part of the new file"), std::string::npos);
        }
        // The connection goes on working.
        writeFile(localPath("small"), "small");
        ASSERT_TRUE(m_api->FtpPutFileA(c, localPath("small").c_str(), "up.bin", FTP_TRANSFER_TYPE_BINARY, 0));
        EXPECT_EQ(readFile(remotePath("up.bin")), "small");
        EXPECT_TRUE(m_api->InternetCloseHandle(c));
    }
}
