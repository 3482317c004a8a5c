#pragma once
// Shared set-up of the tests against the misbehaving server: one scenario per
// test, a local folder, short time-outs, and a few checks used by several groups.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "HostileServer.h"
#include "LayerTestHelpers.h"
#include "net/CurlInternet.h"

namespace hostiletest {

// Peak resident memory of this process so far, in KiB (0 when unknown).
inline long peakMemoryKiB()
{
    std::ifstream in("/proc/self/status");
    std::string key;
    while (in >> key) {
        if (key == "VmHWM:") {
            long kib = 0;
            in >> kib;
            return kib;
        }
        in.ignore(1 << 16, '\n');
    }
    return 0;
}

// Counts progress reports and cancels at the n-th one (0: never).
class CountingWatcher : public net::CallWatcher {
public:
    explicit CountingWatcher(int cancelAt = 0) : m_cancelAt(cancelAt) {}
    void callStarted(const net::CallProgress&) override { ++started; }
    bool callProgress(const net::CallProgress& now) override
    {
        ++reports;
        lastDone = now.done;
        return m_cancelAt == 0 || reports < m_cancelAt;
    }
    void callFinished() override { ++finished; }
    int started = 0;
    int reports = 0;
    int finished = 0;
    std::uint64_t lastDone = 0;

private:
    int m_cancelAt;
};

class HostileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_local.isValid()); }

    void start(const std::string& scenario, net::CurlInternet::Options options = layertest::fastOptions())
    {
        m_server = std::make_unique<testsupport::HostileServer>(scenario);
        ASSERT_TRUE(m_server->running()) << scenario;
        m_api = std::make_unique<net::CurlInternet>(std::move(options));
        m_session = m_api->InternetOpenA("hostile", net::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        ASSERT_NE(m_session, 0u);
    }

    // Connects without checking the outcome.
    net::HINTERNET tryConnect()
    {
        return m_api->InternetConnectA(m_session, m_server->address().c_str(), 0, "user", "secret",
                                       net::INTERNET_SERVICE_FTP, net::INTERNET_FLAG_PASSIVE, 0);
    }

    net::HINTERNET connect()
    {
        const net::HINTERNET c = tryConnect();
        EXPECT_NE(c, 0u) << "last error " << m_api->GetLastError() << "\n" << m_server->commandLog();
        return c;
    }

    std::vector<net::WIN32_FIND_DATAA> listAll(net::HINTERNET c)
    {
        std::vector<net::WIN32_FIND_DATAA> all;
        net::WIN32_FIND_DATAA record{};
        const net::HINTERNET find = m_api->FtpFindFirstFileA(c, "*.*", &record, 0, 0);
        if (!find)
            return all;
        all.push_back(record);
        while (m_api->InternetFindNextFileA(find, &record))
            all.push_back(record);
        EXPECT_EQ(m_api->GetLastError(), net::ERROR_NO_MORE_FILES);
        EXPECT_TRUE(m_api->InternetCloseHandle(find));
        return all;
    }

    std::string localPath(const std::string& rel) const { return m_local.path().toStdString() + "/" + rel; }

    QTemporaryDir m_local;
    std::unique_ptr<testsupport::HostileServer> m_server;
    std::unique_ptr<net::CurlInternet> m_api;
    net::HINTERNET m_session = 0;
};

}  // namespace hostiletest
