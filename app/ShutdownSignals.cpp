#include "app/ShutdownSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace app {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// A signal handler can reach nothing else: the one write end, set while a watcher lives.
std::atomic<int> g_writeEnd{-1};

extern "C" void onShutdownSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    if (const int fd = g_writeEnd.load(); fd >= 0)
        (void)!::write(fd, &byte, 1);
    errno = saved;
}

}  // namespace

ShutdownSignals::ShutdownSignals(std::function<void()> cancelCalls, QObject* parent)
    : QObject(parent), m_cancelCalls(std::move(cancelCalls))
{
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_writeEnd = m_pipe[1];
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ShutdownSignals::onSignal);
    struct sigaction action {};
    action.sa_handler = &onShutdownSignal;
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int number : kSignals)
        ::sigaction(number, &action, nullptr);
}

ShutdownSignals::~ShutdownSignals()
{
    if (m_pipe[0] < 0)
        return;
    for (const int number : kSignals)
        ::signal(number, SIG_DFL);
    g_writeEnd = -1;
    delete m_notifier;
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}

void ShutdownSignals::onSignal()
{
    unsigned char number = 0;
    if (::read(m_pipe[0], &number, 1) != 1)
        return;
    if (m_cancelCalls)
        m_cancelCalls();
    // Ends the event loop once the handler of a running call has returned.
    QCoreApplication::exit(128 + number);
}

}  // namespace app
