// The program as app/main.cpp wires it, downloading hello.txt from the server given as
// the first argument into the folder given as the second (with a fourth argument
// "upload": uploading t from that folder into the server's login folder). Once the
// progress window shows, the third argument says what comes: "close" (a close request
// as the window system sends it; close() itself is never blocked by a modal window),
// "exit" (File > Exit), or anything else: nothing (the test sends a signal).

#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <qpa/qwindowsysteminterface.h>

#include "app/Program.h"
#include "app/fmKESTRIX.h"
#include "net/CurlInternet.h"
#include "remote/RemoteTree.h"
#include "support/ScriptedUi.h"
#include "transfer/FileList.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc != 4 && argc != 5)
        return 2;
    const bool upload = argc == 5 && QByteArray(argv[4]) == "upload";
    net::CurlInternet internet;
    testsupport::ScriptedUi ui;
    const app::Program program(internet, {.ui = &ui, .endOnSignals = true});
    app::fmKESTRIX& w = program.window();
    const app::CallProgressPresenter& progress = program.progress();
    if (!w.Form_Load())
        return 2;
    w.show();
    const QString server = QString::fromLatin1(argv[1]);
    w.File1->setPath(QString::fromLocal8Bit(argv[2]));
    w.cmdInternetOpen_Click();
    w.txtServer->setText(server);
    w.txtUser->setText(QStringLiteral("user"));
    w.txtPassword->setText(QStringLiteral("secret"));
    w.cmdConnect_Click();
    w.TreeView1->setCurrentItem(w.TreeView1->find(upload ? server : server + QStringLiteral("/hello.txt")));
    w.File1->setFileName(QStringLiteral("t"));
    const QByteArray then = argv[3];
    QTimer ask;
    ask.setInterval(50);
    QObject::connect(&ask, &QTimer::timeout, [&] {
        if (!progress.shown())
            return;
        ask.stop();
        if (then == "exit")
            w.ext->trigger();
        else if (then == "close")
            QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(w.windowHandle());
    });
    ask.start();
    QTimer::singleShot(0, &w, upload ? &app::fmKESTRIX::cmdPut_Click : &app::fmKESTRIX::cmdGet_Click);
    return application.exec();
}
