// Servers that answer too slowly or without end: the call fails with a clear
// error, through the short time-outs of the options or a watcher, and memory
// stays bounded.
#include <functional>
#include <string>

#include "HostileFixture.h"
#include "Wait.h"

using namespace net;
using namespace hostiletest;

namespace {

class HostileSlow : public HostileTest {
protected:
    static CurlInternet::Options shortTimeouts()
    {
        CurlInternet::Options o = layertest::fastOptions();
        o.connectTimeout = std::chrono::milliseconds(1000);
        o.stallTimeout = std::chrono::seconds(1);
        return o;
    }
};
class HostileLongLine : public HostileTest {};

constexpr long kTenMiBInKiB = 10 * 1024;

}  // namespace

// ---- one byte a second -----------------------------------------------------

TEST_F(HostileSlow, GreetingOneByteASecondTimesOut)
{
    start("slow-greeting", shortTimeouts());
    EXPECT_EQ(tryConnect(), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_TIMEOUT);
    EXPECT_EQ(m_server->count("USER"), 0);
}

TEST_F(HostileSlow, GreetingOneByteASecondCancelledByTheWatcher)
{
    CurlInternet::Options o = shortTimeouts();
    o.connectTimeout = std::chrono::milliseconds(30000);  // only the watcher can end it
    start("slow-greeting", o);
    CountingWatcher watcher(3);
    m_api->setCallWatcher(&watcher);
    EXPECT_EQ(tryConnect(), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
    EXPECT_EQ(watcher.reports, 3);
    EXPECT_EQ(watcher.started, 1);
    EXPECT_EQ(watcher.finished, 1);
}

TEST_F(HostileSlow, ReplyDrippedWithinTheStallTimeIsNeverCut)
{
    // 13 bytes, one every 0.3 s: four seconds in all, but never a second without a byte.
    start("slow-reply", shortTimeouts());
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    EXPECT_TRUE(m_api->FtpSetCurrentDirectoryA(c, "sub")) << m_api->GetLastError();
    EXPECT_EQ(m_api->currentDirectory(c), "/sub");  // the canonical path from the server's PWD
}

TEST_F(HostileSlow, ListingDrippedSlowerThanOneBytePerSecondIsNeverCut)
{
    // A byte every 1.2 s is below any speed limit of 1 byte/s but never 2 s without one.
    CurlInternet::Options o = shortTimeouts();
    o.stallTimeout = std::chrono::seconds(2);
    start("drip-list", o);
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    const auto entries = listAll(c);
    ASSERT_EQ(entries.size(), 2u) << "last error " << m_api->GetLastError();
    EXPECT_STREQ(entries[1].cFileName, "sub");
}

TEST_F(HostileSlow, ListingSilentForLongerThanTheStallFailsWith12002)
{
    start("silent-list", shortTimeouts());
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    WIN32_FIND_DATAA record{};
    EXPECT_EQ(m_api->FtpFindFirstFileA(c, "*.*", &record, 0, 0), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_TIMEOUT);
}

TEST_F(HostileSlow, LateGreetingWaitsForTheConnectTimeAndTheWatcherHearsThroughout)
{
    CurlInternet::Options o = shortTimeouts();
    o.connectTimeout = std::chrono::milliseconds(10000);
    start("late-greeting", o);  // greeting after 3 s; the stall time is 1 s
    CountingWatcher watcher;
    m_api->setCallWatcher(&watcher);
    EXPECT_NE(connect(), 0u);
    m_api->setCallWatcher(nullptr);
    // Three silent seconds: a report every 20 ms makes about 150; one every 50 ms, 60.
    EXPECT_GE(watcher.reports, 60);
}

// ---- calls made or handles closed from inside a running call ----------------

// Does something once, from inside the running call's report.
class ActingWatcher : public net::CallWatcher {
public:
    explicit ActingWatcher(std::function<void()> act) : m_act(std::move(act)) {}
    void callStarted(const net::CallProgress&) override {}
    bool callProgress(const net::CallProgress&) override
    {
        if (++reports == 2)
            m_act();
        return reports < 500;
    }
    void callFinished() override {}
    int reports = 0;

private:
    std::function<void()> m_act;
};

TEST_F(HostileSlow, CallsFromInsideARunningCallAreRefusedAndClosingCancelsIt)
{
    CurlInternet::Options o = layertest::fastOptions();
    o.stallTimeout = std::chrono::seconds(30);
    start("slow-list", o);
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    BOOL nested = TRUE_;
    DWORD nestedError = 0;
    BOOL closed = FALSE_;
    ActingWatcher watcher([&] {
        nested = m_api->FtpSetCurrentDirectoryA(c, "sub");
        nestedError = m_api->GetLastError();
        closed = m_api->InternetCloseHandle(c);  // the handle the listing still uses
    });
    m_api->setCallWatcher(&watcher);
    WIN32_FIND_DATAA record{};
    EXPECT_EQ(m_api->FtpFindFirstFileA(c, "*.*", &record, 0, 0), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
    m_api->setCallWatcher(nullptr);
    EXPECT_FALSE(nested);
    EXPECT_EQ(nestedError, ERROR_FTP_TRANSFER_IN_PROGRESS);
    EXPECT_TRUE(closed);
    EXPECT_LT(watcher.reports, 10);  // ended at the close, not by the watcher's limit
    for (const std::string& command : m_server->commands())
        EXPECT_NE(command, "CWD sub");
    EXPECT_FALSE(m_api->FtpSetCurrentDirectoryA(c, "/"));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(HostileSlow, ClosingTheSessionDuringALoginCancelsIt)
{
    CurlInternet::Options o = layertest::fastOptions();
    o.connectTimeout = std::chrono::milliseconds(10000);
    start("late-greeting", o);
    ActingWatcher watcher([&] { EXPECT_TRUE(m_api->InternetCloseHandle(m_session)); });
    m_api->setCallWatcher(&watcher);
    EXPECT_EQ(tryConnect(), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
    m_api->setCallWatcher(nullptr);
    EXPECT_LT(watcher.reports, 10);
    EXPECT_EQ(m_server->count("USER"), 0);
}

// ---- a connection the server closed while it lay idle -------------------------

TEST_F(HostileSlow, IdleCloseLogsInAgainOnceThenRunsTheCall)
{
    const struct {
        const char* scenario;
        const char* mark;  // logged when the idle time has passed
        bool connected;
        bool listed;
    } cases[] = {{"idle-421", "<idle close>", true, true},
                 {"idle-drop", "<idle>", true, true},
                 {"idle-refused", "<idle close>", true, false},
                 {"busy-421", "<busy>", false, false}};  // a fresh connection's 421 greeting is no idle close
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        start(c.scenario);
        const HINTERNET h = tryConnect();
        if (!c.connected) {  // refused, and not tried again on another connection
            EXPECT_EQ(h, 0u);
            EXPECT_EQ(m_server->commandLog(), std::string(c.mark) + "\n");
            continue;
        }
        ASSERT_NE(h, 0u);
        WAIT_FOR(m_server->commandLog().find(c.mark) != std::string::npos);
        EXPECT_EQ(listAll(h).empty(), !c.listed) << m_server->commandLog();
        EXPECT_EQ(m_server->count("USER"), 2);  // one login more, never two
        EXPECT_EQ(m_server->count("LIST"), c.listed ? 1 : 0);
        if (!c.listed) {  // the failed login is what is reported
            EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
            DWORD code = 0;
            DWORD length = 0;
            ASSERT_TRUE(m_api->InternetGetLastResponseInfoA(&code, nullptr, &length));
            EXPECT_EQ(code, 530u);
        }
    }
}

// ---- the reply that ended the command ---------------------------------------

TEST_F(HostileSlow, RefusedLoginReportsTheWholeMultiLine530NotTheReplyBefore)
{
    start("refused-login");
    EXPECT_EQ(tryConnect(), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    DWORD code = 0;
    DWORD length = 0;
    ASSERT_TRUE(m_api->InternetGetLastResponseInfoA(&code, nullptr, &length));
    std::string text(length, '\0');
    ASSERT_TRUE(m_api->InternetGetLastResponseInfoA(&code, text.data(), &length));
    EXPECT_EQ(code, 530u);
    // libcurl stops reading at the "123 " line, so the reply's closing line may not be seen.
    EXPECT_EQ(text.rfind("530-Login refused.\r\n123 is not the end of this reply\r\n", 0), 0u) << text;
    EXPECT_EQ(text.find("331"), std::string::npos) << text;
}

TEST_F(HostileSlow, ListingByteByByteCancelledByTheWatcher)
{
    // Two bytes a second is progress, so no stall time-out ends it: the watcher does.
    CurlInternet::Options o = layertest::fastOptions();
    o.stallTimeout = std::chrono::seconds(30);
    start("slow-list", o);
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    CountingWatcher watcher(4);
    m_api->setCallWatcher(&watcher);
    WIN32_FIND_DATAA record{};
    EXPECT_EQ(m_api->FtpFindFirstFileA(c, "*.*", &record, 0, 0), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
    EXPECT_EQ(watcher.reports, 4);
    EXPECT_EQ(watcher.finished, 1);
    m_api->setCallWatcher(nullptr);
    // The connection handle still works after a cancelled listing.
    EXPECT_TRUE(m_api->FtpSetCurrentDirectoryA(c, "/")) << m_api->GetLastError();
}

// ---- a reply line of 10 MiB without an end ---------------------------------

TEST_F(HostileLongLine, EndlessGreetingFailsWithBoundedMemory)
{
    start("long-greeting");
    const long before = peakMemoryKiB();
    EXPECT_EQ(tryConnect(), 0u);
    const DWORD error = m_api->GetLastError();
    // libcurl gives up after 300 KiB of reply text (12030 unless the layer tells it apart).
    EXPECT_TRUE(error == ERROR_HTTP_INVALID_SERVER_RESPONSE || error == ERROR_INTERNET_CONNECTION_ABORTED)
        << "error " << error;
    ASSERT_GT(before, 0);
    EXPECT_LT(peakMemoryKiB() - before, kTenMiBInKiB / 2);
    EXPECT_EQ(m_server->count("USER"), 0);
}

TEST_F(HostileLongLine, EndlessReplyFailsWithBoundedMemory)
{
    start("long-reply");
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    const long before = peakMemoryKiB();
    EXPECT_FALSE(m_api->FtpSetCurrentDirectoryA(c, "sub"));
    const DWORD error = m_api->GetLastError();
    EXPECT_TRUE(error == ERROR_HTTP_INVALID_SERVER_RESPONSE || error == ERROR_INTERNET_CONNECTION_ABORTED)
        << "error " << error;
    ASSERT_GT(before, 0);
    EXPECT_LT(peakMemoryKiB() - before, kTenMiBInKiB / 2);
    EXPECT_EQ(m_api->currentDirectory(c), "/");
}

TEST_F(HostileLongLine, EndlessReplyIsReportedAsNotFtp)
{
    start("long-reply");
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    EXPECT_FALSE(m_api->FtpSetCurrentDirectoryA(c, "sub"));
    EXPECT_EQ(m_api->GetLastError(), ERROR_HTTP_INVALID_SERVER_RESPONSE);
    start("long-greeting");
    EXPECT_EQ(tryConnect(), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_HTTP_INVALID_SERVER_RESPONSE);
}
