#include <QApplication>

#include "app/CommandLine.h"
#include "app/DisplayCheck.h"
#include "app/Program.h"
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
    windows::AuxWindows aux;
    const app::Program program(internet, {.aux = &aux, .endOnSignals = true});
    if (!program.window().Form_Load())
        return 1;
    program.window().show();
    return application.exec();
}
