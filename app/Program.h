#pragma once
// The program put together: the main window with its call control, the progress
// presenter and its window, the message boxes and file dialogs, and (when asked) the
// signals that end it. main(), the program the tests end by signals, the window tests
// and the benchmarks all make their window here.

#include <functional>
#include <memory>

#include "app/CallControl.h"
#include "app/CallProgressPresenter.h"

namespace net { class InternetApi; }
namespace ui { class UiInterface; }
namespace windows { class AuxWindows; }

namespace app {

class fmKESTRIX;
class QtProgressView;
class QtUi;
class ShutdownSignals;

// What may differ from the program as it runs; each part left empty is the program's own.
struct ProgramParts {
    ui::UiInterface* ui = nullptr;         // message boxes and file dialogs; null: Qt's (QtUi)
    windows::AuxWindows* aux = nullptr;    // the help, licence and about windows; null: none
    std::function<void()> quit;            // File > Exit; empty: the application quits
    ProgressView* progressView = nullptr;  // null: the progress window over the main window
    bool endOnSignals = false;             // SIGTERM, SIGINT and SIGHUP end it (ShutdownSignals)
};

// The window's call control is the program's: it answers through the progress presenter,
// the watcher of the Internet calls, which knows when a call starts and ends.
class Program final : public CallControl {
public:
    explicit Program(net::InternetApi& internet, ProgramParts parts = {});
    ~Program() override;  // the calls lose their watcher first
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    fmKESTRIX& window() const { return *m_window; }
    CallProgressPresenter& progress() const { return *m_presenter; }

    bool callRunning() const override;
    void cancelCalls() override;
    bool ending() const override;
    void whenCallEnds(std::function<void()> then) override;

private:
    net::InternetApi& m_internet;
    std::unique_ptr<QtUi> m_ownUi;
    std::unique_ptr<fmKESTRIX> m_window;
    std::unique_ptr<QtProgressView> m_ownView;  // goes before the window it belongs to
    std::unique_ptr<CallProgressPresenter> m_presenter;
    std::unique_ptr<ShutdownSignals> m_signals;
};

}  // namespace app
