#pragma once
// The main window wired as app/main.cpp wires it, connected to `server` with
// hello.txt selected, to download into `folder`. Exit only sets `quit`.

#include <QLineEdit>

#include "app/CallProgressPresenter.h"
#include "app/QtProgressView.h"
#include "app/fmKESTRIX.h"
#include "net/CurlInternet.h"
#include "remote/RemoteTree.h"
#include "support/ScriptedUi.h"
#include "transfer/FileList.h"

struct DownloadingWindow {
    net::CurlInternet internet;
    testsupport::ScriptedUi ui;
    bool quit = false;
    app::fmKESTRIX w{internet, ui, nullptr, [this] { quit = true; }};
    app::QtProgressView view{&w};
    app::CallProgressPresenter progress{view};

    DownloadingWindow(const QString& server, const QString& folder)
    {
        internet.setCallWatcher(&progress);
        w.setCallInProgress([this] { return progress.running(); });
        w.setCancelCalls([this] { progress.cancelCalls(); });
        if (!w.Form_Load())
            return;
        w.show();
        w.File1->setPath(folder);
        w.cmdInternetOpen_Click();
        w.txtServer->setText(server);
        w.txtUser->setText(QStringLiteral("user"));
        w.txtPassword->setText(QStringLiteral("secret"));
        w.cmdConnect_Click();
        w.TreeView1->setCurrentItem(w.TreeView1->find(server + QStringLiteral("/hello.txt")));
    }
    ~DownloadingWindow() { internet.setCallWatcher(nullptr); }
};
