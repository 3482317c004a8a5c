// CurlInternet failures: error numbers, the server's reply text, and what is left behind.
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>

#include <QDir>
#include <chrono>

#include "LayerTestHelpers.h"

using namespace net;
using namespace layertest;

namespace {
class CurlInternetErrors : public LayerTest {};
class CurlInternetHandles : public LayerTest {};

bool elapsedUnder(std::chrono::steady_clock::time_point start, std::chrono::seconds limit)
{
    return std::chrono::steady_clock::now() - start < limit;
}
}  // namespace

TEST_F(CurlInternetErrors, WrongPasswordGives12003With530)
{
    startServer();
    open();
    EXPECT_EQ(m_api->InternetConnectA(m_session, m_server->address().c_str(), 0, "user", "wrong", 1,
                                      INTERNET_FLAG_PASSIVE, 0),
              0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    const auto [code, text] = lastResponse();
    EXPECT_EQ(code, 530u);
    EXPECT_EQ(text.rfind("530 ", 0), 0u) << text;
    EXPECT_EQ(text.find("wrong"), std::string::npos);
}

TEST_F(CurlInternetErrors, ResponseInfoTwoCallPatternAndSmallBuffer)
{
    startServer();
    open();
    EXPECT_EQ(m_api->InternetConnectA(m_session, m_server->address().c_str(), 0, "nobody", "x", 1, 0, 0), 0u);
    DWORD code = 0, length = 0;
    ASSERT_TRUE(m_api->InternetGetLastResponseInfoA(&code, nullptr, &length));
    ASSERT_GT(length, 5u);
    std::string exact(length + 1, '\0');
    DWORD len2 = length;
    ASSERT_TRUE(m_api->InternetGetLastResponseInfoA(&code, exact.data(), &len2));
    EXPECT_EQ(len2, length);
    EXPECT_EQ(std::string(exact.c_str()).size(), length);
    char small[4] = {'?', '?', '?', '?'};
    DWORD len3 = sizeof small;
    EXPECT_FALSE(m_api->InternetGetLastResponseInfoA(&code, small, &len3));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(len3, length);
    EXPECT_EQ(std::string(small), "530");
    EXPECT_FALSE(m_api->InternetGetLastResponseInfoA(nullptr, nullptr, &len3));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(CurlInternetErrors, ClosedPortGives12029)
{
    open();
    const std::string name = "127.0.0.1:" + std::to_string(closedPort());
    EXPECT_EQ(m_api->InternetConnectA(m_session, name.c_str(), 0, "u", "p", 1, 0, 0), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_CANNOT_CONNECT);
    // The reason in plain words, for the error box's details.
    EXPECT_NE(m_api->lastErrorDetail().find("Connection refused"), std::string::npos) << m_api->lastErrorDetail();
    // A call that succeeds, or fails without a reason of its own, leaves none behind.
    EXPECT_EQ(m_api->InternetCloseHandle(0), 0);
    EXPECT_EQ(m_api->lastErrorDetail(), "");
}

TEST_F(CurlInternetErrors, SilentServerTimesOutWith12002)
{
    CurlInternet::Options o = fastOptions();
    o.connectTimeout = std::chrono::milliseconds(800);
    o.stallTimeout = std::chrono::seconds(1);
    m_api = std::make_unique<CurlInternet>(o);
    FakePeer peer(FakePeer::Behaviour::Silent);
    open();
    const std::string name = "127.0.0.1:" + std::to_string(peer.port());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_api->InternetConnectA(m_session, name.c_str(), 0, "u", "p", 1, 0, 0), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_TIMEOUT);
    EXPECT_TRUE(elapsedUnder(start, std::chrono::seconds(5)));
}

TEST_F(CurlInternetErrors, NonFtpPeerGives12152)
{
    FakePeer peer(FakePeer::Behaviour::SendHttp);
    open();
    const std::string name = "127.0.0.1:" + std::to_string(peer.port());
    EXPECT_EQ(m_api->InternetConnectA(m_session, name.c_str(), 0, "u", "p", 1, 0, 0), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_HTTP_INVALID_SERVER_RESPONSE);
}

TEST_F(CurlInternetErrors, OverlongReplyLineGives12152)
{
    FakePeer peer(FakePeer::Behaviour::OverlongGreeting);
    open();
    const std::string name = "127.0.0.1:" + std::to_string(peer.port());
    EXPECT_EQ(m_api->InternetConnectA(m_session, name.c_str(), 0, "u", "p", 1, 0, 0), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_HTTP_INVALID_SERVER_RESPONSE);
}

TEST_F(CurlInternetErrors, PeerClosingAtOnceGives12030)
{
    FakePeer peer(FakePeer::Behaviour::CloseAtOnce);
    open();
    const std::string name = "127.0.0.1:" + std::to_string(peer.port());
    EXPECT_EQ(m_api->InternetConnectA(m_session, name.c_str(), 0, "u", "p", 1, 0, 0), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_CONNECTION_ABORTED);
}

TEST_F(CurlInternetErrors, LineBreaksAreRefusedAndNeverSent)
{
    startServer();
    const HINTERNET c = connect();
    const int before = static_cast<int>(m_server->commands().size());
    EXPECT_FALSE(m_api->FtpSetCurrentDirectoryA(c, "x\r\nDELE victim"));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(m_api->FtpGetFileA(c, "a\nDELE victim", localPath("a").c_str(), FALSE_, 0, 2, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_PARAMETER);
    writeFile(localPath("up"), "u");
    EXPECT_FALSE(m_api->FtpPutFileA(c, localPath("up").c_str(), "b\rRMD x", 2, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_PARAMETER);
    WIN32_FIND_DATAA record;
    EXPECT_EQ(m_api->FtpFindFirstFileA(c, "*\nDELE x", &record, 0, 0), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(m_api->InternetConnectA(m_session, m_server->address().c_str(), 0, "user\r\nDELE x", "p", 1, 0, 0), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(static_cast<int>(m_server->commands().size()), before) << m_server->commandLog();
    EXPECT_EQ(m_server->count("DELE"), 0);
}

TEST_F(CurlInternetErrors, MissingRemoteFileKeepsTheLocalFile)
{
    startServer();
    writeFile(localPath("keep.txt"), "precious");
    const HINTERNET c = connect();
    EXPECT_FALSE(m_api->FtpGetFileA(c, "absent.txt", localPath("keep.txt").c_str(), FALSE_, FILE_FLAG_WRITE_THROUGH,
                                    2, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_EQ(lastResponse().first, 550u);
    EXPECT_EQ(readFile(localPath("keep.txt")), "precious");
    EXPECT_EQ(folderEntries(m_local.path().toStdString()), std::vector<std::string>{"keep.txt"});
}

TEST_F(CurlInternetErrors, FailIfExistsGives80)
{
    startServer();
    writeFile(remotePath("f"), "server");
    writeFile(localPath("f"), "local");
    const HINTERNET c = connect();
    EXPECT_FALSE(m_api->FtpGetFileA(c, "f", localPath("f").c_str(), TRUE_, 0, 2, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(readFile(localPath("f")), "local");
    EXPECT_TRUE(m_api->FtpGetFileA(c, "f", localPath("g").c_str(), TRUE_, 0, 2, 0));
    EXPECT_EQ(readFile(localPath("g")), "server");
    EXPECT_EQ(m_server->count("RETR"), 1);

    // Nor is a file that someone makes at the target while the download runs.
    DuringCall race([&] {
        if (!exists(localPath("h")))
            writeFile(localPath("h"), "theirs");
    });
    m_api->setCallWatcher(&race);
    EXPECT_FALSE(m_api->FtpGetFileA(c, "f", localPath("h").c_str(), TRUE_, 0, 2, 0));
    m_api->setCallWatcher(nullptr);
    EXPECT_EQ(m_api->GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(readFile(localPath("h")), "theirs");
    EXPECT_EQ(folderEntries(m_local.path().toStdString()), (std::vector<std::string>{"f", "g", "h"}));
}

TEST_F(CurlInternetErrors, LocalFileErrors)
{
    startServer();
    writeFile(remotePath("f"), "x");
    const HINTERNET c = connect();
    EXPECT_FALSE(m_api->FtpGetFileA(c, "f", localPath("no/such/dir/f").c_str(), FALSE_, 0, 2, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(m_api->FtpPutFileA(c, localPath("missing.txt").c_str(), "m", 2, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(m_api->FtpPutFileA(c, localPath("nodir/missing.txt").c_str(), "m", 2, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(m_api->FtpGetFileA(c, "f", m_local.path().toStdString().c_str(), FALSE_, 0, 2, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(m_server->count("STOR"), 0);
}

TEST_F(CurlInternetErrors, ReadOnlyFolderGives5WhenNotRoot)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root ignores folder permissions";
    startServer();
    writeFile(remotePath("f"), "x");
    QDir(m_local.path()).mkpath("ro");
    ASSERT_EQ(::chmod(localPath("ro").c_str(), 0555), 0);
    const HINTERNET c = connect();
    EXPECT_FALSE(m_api->FtpGetFileA(c, "f", localPath("ro/f").c_str(), FALSE_, 0, 2, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_ACCESS_DENIED);
    ::chmod(localPath("ro").c_str(), 0755);
}

TEST_F(CurlInternetErrors, FileSizeLimitGives112AndKeepsTheOldFile)
{
    // A file-size limit makes write() fail with EFBIG, as a full disk fails with ENOSPC.
    startServer();
    writeFile(remotePath("f"), randomBytes(200000, 1));
    writeFile(localPath("f"), "old");
    const HINTERNET c = connect();
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 50000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const BOOL ok = m_api->FtpGetFileA(c, "f", localPath("f").c_str(), FALSE_, 0, 2, 0);
    const DWORD error = m_api->GetLastError();
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, ERROR_DISK_FULL);
    EXPECT_EQ(m_api->lastErrorDetail(), std::strerror(EFBIG));
    EXPECT_EQ(readFile(localPath("f")), "old");
    EXPECT_EQ(folderEntries(m_local.path().toStdString()), std::vector<std::string>{"f"});
}

TEST_F(CurlInternetErrors, OnlyOrdinaryFilesAreReplaced)
{
    startServer();
    writeFile(remotePath("f"), "x");
    ASSERT_EQ(::mkfifo(localPath("pipe").c_str(), 0600), 0);
    const HINTERNET c = connect();
    EXPECT_FALSE(m_api->FtpGetFileA(c, "f", localPath("pipe").c_str(), FALSE_, 0, 2, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_ACCESS_DENIED);
    struct stat st {};
    ASSERT_EQ(::lstat(localPath("pipe").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(m_server->count("RETR"), 0);
}

TEST_F(CurlInternetHandles, ZeroAndClosedHandlesGive6)
{
    startServer();
    WIN32_FIND_DATAA record;
    EXPECT_FALSE(m_api->InternetCloseHandle(0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(m_api->InternetConnectA(0, m_server->address().c_str(), 0, "user", "secret", 1, 0, 0), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(m_api->FtpFindFirstFileA(0, "*.*", &record, 0, 0), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(m_api->InternetFindNextFileA(0, &record));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(m_api->FtpSetCurrentDirectoryA(0, "/"));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(m_api->FtpGetFileA(0, "a", localPath("a").c_str(), FALSE_, 0, 2, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(m_api->FtpPutFileA(0, localPath("a").c_str(), "a", 2, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(m_server->count("USER"), 0);
}

TEST_F(CurlInternetHandles, WrongKindAndReuse)
{
    startServer();
    writeFile(remotePath("a"), "a");
    writeFile(remotePath("b"), "b");
    const HINTERNET c = connect();
    WIN32_FIND_DATAA record;
    const HINTERNET f = m_api->FtpFindFirstFileA(c, "*.*", &record, 0, 0);
    ASSERT_NE(f, 0u);
    // A session or find handle is no connection, a connection is no find handle.
    EXPECT_FALSE(m_api->FtpSetCurrentDirectoryA(m_session, "/"));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(m_api->FtpFindFirstFileA(f, "*.*", &record, 0, 0), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(m_api->InternetFindNextFileA(c, &record));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(m_api->InternetConnectA(c, m_server->address().c_str(), 0, "user", "secret", 1, 0, 0), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_HANDLE);
    // Closing a connection closes its find handles; closing twice harms nothing.
    EXPECT_TRUE(m_api->InternetCloseHandle(c));
    EXPECT_FALSE(m_api->InternetFindNextFileA(f, &record));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(m_api->InternetCloseHandle(c));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(m_api->FtpSetCurrentDirectoryA(c, "/"));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_HANDLE);
    // New handles are never old numbers.
    const HINTERNET again = connect();
    EXPECT_NE(again, c);
    EXPECT_NE(again, f);
    EXPECT_GT(again, f);
}

TEST_F(CurlInternetHandles, FindNextAfterTheEndKeepsGiving18)
{
    startServer();
    writeFile(remotePath("only"), "1");
    const HINTERNET c = connect();
    WIN32_FIND_DATAA record;
    const HINTERNET f = m_api->FtpFindFirstFileA(c, "", &record, 0, 0);
    ASSERT_NE(f, 0u);
    EXPECT_STREQ(record.cFileName, "only");
    EXPECT_FALSE(m_api->InternetFindNextFileA(f, &record));
    EXPECT_EQ(m_api->GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_FALSE(m_api->InternetFindNextFileA(f, &record));
    EXPECT_EQ(m_api->GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(m_api->InternetCloseHandle(f));
    EXPECT_FALSE(m_api->InternetCloseHandle(f));
}

TEST_F(CurlInternetHandles, BadArguments)
{
    EXPECT_EQ(m_api->InternetOpenA("a", 7, nullptr, nullptr, 0), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_PARAMETER);
    open();
    EXPECT_EQ(m_api->InternetConnectA(m_session, "127.0.0.1:99999", 0, "u", "p", 1, 0, 0), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(m_api->InternetConnectA(m_session, "127.0.0.1", 0, "u", "p", 3 /* HTTP */, 0, 0), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_PARAMETER);
}
