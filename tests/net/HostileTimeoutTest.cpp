// Servers that answer too slowly or without end: the call fails with a clear
// error, through the short time-outs of the options or a watcher, and memory
// stays bounded.
#include <string>

#include "HostileFixture.h"

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

TEST_F(HostileSlow, ReplyOneByteASecondTimesOut)
{
    start("slow-reply", shortTimeouts());
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    EXPECT_FALSE(m_api->FtpSetCurrentDirectoryA(c, "sub"));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_TIMEOUT);
    EXPECT_EQ(m_api->currentDirectory(c), "/");  // the folder did not change
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
