#pragma once
// Shared set-up of the CurlInternet tests: a loopback server on a temporary
// root, a local folder, and short time-outs.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "FtpServer.h"
#include "net/CurlInternet.h"

namespace layertest {

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
// Writes `bytes` to the file, which keeps its modification time moved by `shift` seconds.
void rewriteKeepingTime(const std::string& path, const std::string& bytes, int shift = 0);
bool exists(const std::string& path);
std::vector<std::string> folderEntries(const std::string& path);
std::string randomBytes(std::size_t n, unsigned seed);

net::CurlInternet::Options fastOptions();

// A watcher that runs `step` at each progress report of a call: a way to act
// while a transfer runs.
class DuringCall : public net::CallWatcher {
public:
    explicit DuringCall(std::function<void()> step) : m_step(std::move(step)) {}
    void callStarted(const net::CallProgress&) override {}
    bool callProgress(const net::CallProgress&) override
    {
        m_step();
        return true;
    }
    void callFinished() override {}

private:
    std::function<void()> m_step;
};

// Kills the call as a signal does once its bytes have stopped moving for 300 ms; `killing`
// runs just before.
class KilledWhenStalled : public net::CallWatcher {
public:
    std::function<void()> killing;
    void callStarted(const net::CallProgress&) override {}
    bool callProgress(const net::CallProgress& now) override
    {
        if (now.done != m_done || now.done == 0)
            m_since.restart(), m_done = now.done;
        const bool goOn = now.done == 0 || m_since.elapsed() < 300;
        if (!goOn && killing)
            std::exchange(killing, nullptr)();
        return goOn;
    }
    void callFinished() override {}
    bool programKilled() const override { return true; }

private:
    std::uint64_t m_done = 0;
    QElapsedTimer m_since;
};

class LayerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void startServer(testsupport::FtpServerOptions options = {});

    std::string remotePath(const std::string& rel) const { return m_remote.path().toStdString() + "/" + rel; }
    std::string localPath(const std::string& rel) const { return m_local.path().toStdString() + "/" + rel; }

    net::HINTERNET open();
    net::HINTERNET connect(net::DWORD flags = net::INTERNET_FLAG_PASSIVE, const char* user = "user",
                           const char* password = "secret");
    // Every entry of a listing of the current directory (FindFirst then FindNext until 18).
    std::vector<net::WIN32_FIND_DATAA> listAll(net::HINTERNET connection, const char* pattern = "*.*");
    // The caller's two-call pattern.
    std::pair<net::DWORD, std::string> lastResponse();

    QTemporaryDir m_remote;
    QTemporaryDir m_local;
    std::unique_ptr<testsupport::FtpServer> m_server;
    std::unique_ptr<net::CurlInternet> m_api;
    net::HINTERNET m_session = 0;
};

// A TCP listener on 127.0.0.1 that does something fixed with each connection.
class FakePeer {
public:
    enum class Behaviour { Silent, SendHttp, CloseAtOnce, OverlongGreeting };
    explicit FakePeer(Behaviour behaviour);
    ~FakePeer();
    int port() const { return m_port; }

private:
    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
};

// A port on 127.0.0.1 where nothing listens.
int closedPort();

}  // namespace layertest
