#pragma once
// SIGTERM, SIGINT and SIGHUP (a logout, Ctrl+C in the terminal) end the program
// as soon as it is safe: a running call is cancelled as a killed one (a download keeps
// its part, as after a lost connection), and the event loop ends with 128 + the
// signal's number. The connections close as the program's objects go. A second such
// signal ends the program at once.

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace app {

class ShutdownSignals : public QObject {
public:
    explicit ShutdownSignals(std::function<void()> cancelCalls, QObject* parent = nullptr);
    ~ShutdownSignals() override;
    ShutdownSignals(const ShutdownSignals&) = delete;
    ShutdownSignals& operator=(const ShutdownSignals&) = delete;

private:
    void onSignal();

    std::function<void()> m_cancelCalls;
    int m_pipe[2] = {-1, -1};  // written by the handler, read in the event loop
    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace app
