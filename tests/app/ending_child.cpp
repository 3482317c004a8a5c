// The program downloading hello.txt from the server given as the first argument into
// the folder given as the second, with the program's signal handling, for tests that
// signal it.

#include <QApplication>
#include <QTimer>

#include "DownloadingWindow.h"
#include "app/ShutdownSignals.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc != 3)
        return 2;
    DownloadingWindow d(QString::fromLatin1(argv[1]), QString::fromLocal8Bit(argv[2]));
    const app::ShutdownSignals shutdown([&d] { d.progress.cancelCalls(); });
    QTimer::singleShot(0, &d.w, &app::fmKESTRIX::cmdGet_Click);
    return application.exec();
}
