#include <QApplication>

#include "app/CallProgressPresenter.h"
#include "app/CommandLine.h"
#include "app/DisplayCheck.h"
#include "app/QtProgressView.h"
#include "app/QtUi.h"
#include "app/ShutdownSignals.h"
#include "app/fmKESTRIX.h"
#include "net/CurlInternet.h"
#include "windows/AuxWindows.h"

int main(int argc, char** argv)
{
    // --help, --version and mistakes are answered before anything needs a display.
    if (const std::optional<int> status = app::answerCommandLine(argc, argv))
        return *status;
    if (const std::optional<int> status = app::refuseWithoutDisplay(argc, argv))
        return *status;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillon FTP"));
    QApplication::setDesktopFileName(QStringLiteral("quillon-ftp"));
    // Every window's standard font: the desktop's sans-serif at 8.25 points.
    QFont standard = QApplication::font();
    standard.setPointSizeF(8.25);
    QApplication::setFont(standard);

    net::CurlInternet internet;
    app::QtUi ui;
    windows::AuxWindows aux;
    app::fmKESTRIX window(internet, ui, &aux);
    app::QtProgressView progressView(&window);
    app::CallProgressPresenter progress(progressView);
    internet.setCallWatcher(&progress);
    window.setCallInProgress([&progress] { return progress.running(); });
    window.setCancelCalls([&progress] { progress.cancelCalls(); });
    const app::ShutdownSignals shutdown([&progress] { progress.cancelCalls(); });
    if (!window.Form_Load())
        return 1;
    window.show();
    const int status = application.exec();
    internet.setCallWatcher(nullptr);
    return status;
}
