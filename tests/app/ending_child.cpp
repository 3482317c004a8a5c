// The program as app/main.cpp builds it, downloading hello.txt from the server given
// as the first argument into the folder given as the second, for tests that signal it.

#include <QApplication>
#include <QLineEdit>
#include <QTimer>

#include "app/CallProgressPresenter.h"
#include "app/QtProgressView.h"
#include "app/ShutdownSignals.h"
#include "app/fmKESTRIX.h"
#include "net/CurlInternet.h"
#include "remote/RemoteTree.h"
#include "support/ScriptedUi.h"
#include "transfer/FileList.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc != 3)
        return 2;
    net::CurlInternet internet;
    testsupport::ScriptedUi ui;
    app::fmKESTRIX window(internet, ui);
    app::QtProgressView progressView(&window);
    app::CallProgressPresenter progress(progressView);
    internet.setCallWatcher(&progress);
    window.setCallInProgress([&progress] { return progress.running(); });
    window.setCancelCalls([&progress] { progress.cancelCalls(); });
    const app::ShutdownSignals shutdown([&progress] { progress.cancelCalls(); });
    if (!window.Form_Load())
        return 2;
    window.show();
    window.File1->setPath(QString::fromLocal8Bit(argv[2]));
    window.cmdInternetOpen_Click();
    window.txtServer->setText(QString::fromLatin1(argv[1]));
    window.txtUser->setText(QStringLiteral("user"));
    window.txtPassword->setText(QStringLiteral("secret"));
    window.cmdConnect_Click();
    window.TreeView1->setCurrentItem(window.TreeView1->find(window.txtServer->text() + QStringLiteral("/hello.txt")));
    QTimer::singleShot(0, &window, &app::fmKESTRIX::cmdGet_Click);
    const int status = application.exec();
    internet.setCallWatcher(nullptr);
    return status;
}
