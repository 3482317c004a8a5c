#pragma once
// Shows a progress window for an Internet call that has run for half a second,
// and turns its "Cancel" into a cancelled call. Time and the window are
// injected so that tests run without a clock or a screen.

#include <QString>
#include <chrono>
#include <functional>
#include <vector>

#include "net/InternetApi.h"
#include "transfer/Batch.h"

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

// While a batch runs, its calls share one window: it stays up between files, tells the
// file's place in the batch and the bytes of the whole, and its Cancel ends the batch.
class CallProgressPresenter : public net::CallWatcher, public transfer::BatchWatcher {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::milliseconds kShowAfter{500};
    // In a batch the calls of small files follow each other closely: drawn at most this often.
    static constexpr std::chrono::milliseconds kBatchRedraw{50};

    CallProgressPresenter(ProgressView& view, Clock clock = &std::chrono::steady_clock::now);

    void callStarted(const net::CallProgress& what) override;
    bool callProgress(const net::CallProgress& now) override;
    void callFinished() override;

    void batchStarted(std::uint64_t files, std::uint64_t bytes) override;
    void batchFile(std::uint64_t index, std::uint64_t bytesBefore) override;
    void batchQuestion() override;
    void batchEnded() override;
    bool batchCancelled() const override { return m_cancelAll || m_batchCancelled; }

    // Every call from now on ends, cancelled, at its first report (the window is closing).
    void cancelCalls() { m_cancelAll = true; }
    // The same for a program being killed (a signal): a cut transfer keeps what a lost
    // connection keeps, for the next run to continue.
    void cancelCallsKilled() { m_cancelAll = m_killed = true; }
    bool programKilled() const override { return m_killed; }
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
    std::chrono::steady_clock::time_point m_drawn;  // when the window's text last changed
    bool m_running = false;
    bool m_shown = false;
    bool m_cancelAll = false;
    bool m_killed = false;
    std::vector<std::function<void()>> m_whenEnded;
    struct BatchState {
        bool running = false;
        std::uint64_t files = 0, bytes = 0, index = 0, before = 0;
    } m_batch;
    bool m_batchCancelled = false;
    QString batchLine(const net::CallProgress& now, double seconds, int& value, int& maximum) const;
    void ended();
};

}  // namespace app
