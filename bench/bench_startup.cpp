// 3. Start-up to a shown main window: from the fork of a fresh process to its
// "SHOWN" line, written when the top-level window has finished its first paint.
// The window is built as app/main.cpp builds it; the peer is a bare QWidget of
// the same size in the same kind of process, measured the same way.
//
//   bench_startup                 runs both children, alternately, and prints the figures
//   bench_startup --child window  the main window
//   bench_startup --child bare    the peer

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "BenchSupport.h"
#include "app/Program.h"
#include "app/fmKESTRIX.h"
#include "net/CurlInternet.h"
#include "windows/AuxWindows.h"

namespace {

constexpr const char* kBench = "startup";
constexpr int kRuns = 11;

// Reports the end of the watched window's first paint, then quits.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(QWidget* window) : m_window(window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_window && event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            // Queued: runs once this paint (and the flush it belongs to) is over.
            QTimer::singleShot(0, [] {
                const char line[] = "SHOWN\n";
                (void)::write(1, line, sizeof line - 1);
                QCoreApplication::exit(0);
            });
        }
        return false;
    }

private:
    QWidget* m_window;
    bool m_done = false;
};

int runWindow(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillon FTP"));
    QApplication::setDesktopFileName(QStringLiteral("quillon-ftp"));

    net::CurlInternet internet;
    windows::AuxWindows aux;
    const app::Program program(internet, {.aux = &aux, .endOnSignals = true});
    app::fmKESTRIX& window = program.window();
    if (!window.Form_Load())
        return 1;
    FirstPaint watch(&window);
    window.show();
    return application.exec();
}

int runBare(int argc, char** argv)
{
    QApplication application(argc, argv);
    QWidget window;
    window.resize(614, 378);  // about the main window's size (9210 x 5340 twips plus the menu bar)
    FirstPaint watch(&window);
    window.show();
    return application.exec();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) {
        if (std::strcmp(argv[2], "window") == 0)
            return runWindow(argc, argv);
        if (std::strcmp(argv[2], "bare") == 0)
            return runBare(argc, argv);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return 2;
    const std::string platform = qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("(default)")).toStdString();
    bench::note(kBench, "platform " + platform);

    std::vector<double> window, bare;
    // One warm-up of each (libraries and fonts into the page cache), then alternate.
    for (int run = -1; run < kRuns; ++run) {
        for (const char* kind : {"window", "bare"}) {
            std::string output;
            const double seconds = bench::timeUntilLine({self, "--child", kind}, "SHOWN", 30000, &output, true);
            if (seconds < 0) {
                std::fprintf(stderr, "the %s child did not show (output: %s)\n", kind, output.c_str());
                return 2;
            }
            if (run >= 0)
                (std::strcmp(kind, "window") == 0 ? window : bare).push_back(seconds);
        }
    }
    const double w = bench::median(window) * 1000;
    const double b = bench::median(bare) * 1000;
    bench::figure(kBench, "bare_qwidget_shown_median", b, "ms");
    bench::figure(kBench, "main_window_shown_median", w, "ms");
    bench::figure(kBench, "ratio_window_to_bare", w / b, "x");
    bench::figure(kBench, "window_extra_over_bare", w - b, "ms");
    return 0;
}
