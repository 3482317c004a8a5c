#include "LayerTestHelpers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/stat.h>

using namespace net;

namespace layertest {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void rewriteKeepingTime(const std::string& path, const std::string& bytes, int shift)
{
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
    writeFile(path, bytes);
    const timespec times[2] = {st.st_atim, {st.st_mtim.tv_sec + shift, st.st_mtim.tv_nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

bool exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> folderEntries(const std::string& path)
{
    std::vector<std::string> names;
    for (const QString& n : QDir(QString::fromStdString(path))
                                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        names.push_back(n.toStdString());
    return names;
}

std::string randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(gen() & 0xFF);
    return s;
}

CurlInternet::Options fastOptions()
{
    CurlInternet::Options o;
    o.connectTimeout = std::chrono::milliseconds(3000);
    o.stallTimeout = std::chrono::seconds(5);
    return o;
}

void LayerTest::SetUp()
{
    ASSERT_TRUE(m_remote.isValid());
    ASSERT_TRUE(m_local.isValid());
    m_api = std::make_unique<CurlInternet>(fastOptions());
}

void LayerTest::startServer(testsupport::FtpServerOptions options)
{
    m_server = std::make_unique<testsupport::FtpServer>(m_remote.path().toStdString(), std::move(options));
    ASSERT_TRUE(m_server->running());
}

HINTERNET LayerTest::open()
{
    m_session = m_api->InternetOpenA("vb wininet", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    EXPECT_NE(m_session, 0u);
    return m_session;
}

HINTERNET LayerTest::connect(DWORD flags, const char* user, const char* password)
{
    if (!m_session)
        open();
    const HINTERNET c = m_api->InternetConnectA(m_session, m_server->address().c_str(), 0, user, password,
                                                INTERNET_SERVICE_FTP, flags, 0);
    EXPECT_NE(c, 0u) << "last error " << m_api->GetLastError();
    return c;
}

std::vector<WIN32_FIND_DATAA> LayerTest::listAll(HINTERNET connection, const char* pattern)
{
    std::vector<WIN32_FIND_DATAA> all;
    WIN32_FIND_DATAA record;
    const HINTERNET find = m_api->FtpFindFirstFileA(connection, pattern, &record, 0, 0);
    if (!find)
        return all;
    all.push_back(record);
    while (m_api->InternetFindNextFileA(find, &record))
        all.push_back(record);
    EXPECT_EQ(m_api->GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(m_api->InternetCloseHandle(find));
    return all;
}

std::pair<DWORD, std::string> LayerTest::lastResponse()
{
    DWORD code = 0;
    DWORD length = 0;
    m_api->InternetGetLastResponseInfoA(&code, nullptr, &length);
    std::string buffer(length + 1, '\0');
    m_api->InternetGetLastResponseInfoA(&code, buffer.data(), &length);
    return {code, std::string(buffer.c_str())};
}

namespace {

int listenLoopback(int* port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        return -1;
    }
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return fd;
}

}  // namespace

FakePeer::FakePeer(Behaviour behaviour)
{
    m_listener = listenLoopback(&m_port);
    if (m_listener < 0 || behaviour == Behaviour::Silent)
        return;  // the kernel completes the handshake; nobody ever speaks
    m_thread = std::thread([fd = m_listener, behaviour] {
        for (;;) {
            const int c = ::accept(fd, nullptr, nullptr);
            if (c < 0)
                return;
            if (behaviour == Behaviour::SendHttp) {
                const char text[] = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
                (void)!::write(c, text, sizeof text - 1);
                ::usleep(300000);
            } else if (behaviour == Behaviour::OverlongGreeting) {
                const std::string text = "220 " + std::string(200 * 1024, 'x') + "\r\n";
                (void)!::write(c, text.data(), text.size());
                ::usleep(300000);
            }
            ::close(c);
        }
    });
}

FakePeer::~FakePeer()
{
    if (m_listener >= 0) {
        ::shutdown(m_listener, SHUT_RDWR);
        ::close(m_listener);
    }
    if (m_thread.joinable())
        m_thread.join();
}

int closedPort()
{
    int port = 0;
    const int fd = listenLoopback(&port);
    ::close(fd);
    return port;
}

}  // namespace layertest
