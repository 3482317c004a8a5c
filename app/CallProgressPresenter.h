#pragma once
// Shows a progress window for an Internet call that has run for half a second,
// and turns its "Cancel" into a cancelled call. Time and the window are
// injected so that tests run without a clock or a screen.

#include <QString>
#include <chrono>
#include <functional>
#include <vector>

#include "net/InternetApi.h"

namespace app {

class ProgressView {
public:
    virtual ~ProgressView() = default;
    // maximum 0: no known total (a busy bar).
    virtual void showProgress(const QString& text, int value, int maximum) = 0;
    virtual void hideProgress() = 0;
    // Lets the windows repaint (and, once the progress window shows, take its Cancel).
    virtual void pumpEvents(bool progressShown) = 0;
    virtual bool cancelRequested() const = 0;
};

class CallProgressPresenter : public net::CallWatcher {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::milliseconds kShowAfter{500};

    CallProgressPresenter(ProgressView& view, Clock clock = &std::chrono::steady_clock::now);

    void callStarted(const net::CallProgress& what) override;
    bool callProgress(const net::CallProgress& now) override;
    void callFinished() override;

    // Every call from now on ends, cancelled, at its first report (the window is closing).
    void cancelCalls() { m_cancelAll = true; }
    bool cancellingAll() const { return m_cancelAll; }
    // `then` runs once, as the running call finishes (at once when none runs).
    void whenCallEnds(std::function<void()> then);

    bool shown() const { return m_shown; }
    bool running() const { return m_running; }
    static QString describe(const net::CallProgress& now, double bytesPerSecond);

private:
    ProgressView& m_view;
    Clock m_clock;
    std::chrono::steady_clock::time_point m_start;
    bool m_running = false;
    bool m_shown = false;
    bool m_cancelAll = false;
    std::vector<std::function<void()>> m_whenEnded;
};

}  // namespace app
