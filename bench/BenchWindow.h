#pragma once
// The main window as app/main.cpp builds it (real CurlInternet, app::Program), but
// with silent message boxes, connected to a bench server.

#include "BenchSupport.h"
#include "app/Program.h"
#include "app/fmKESTRIX.h"
#include "net/CurlInternet.h"
#include "remote/RemoteTree.h"

#include <QLineEdit>

namespace bench {

struct BenchWindow {
    net::CurlInternet internet;
    SilentUi ui;
    app::Program program{internet, {.ui = &ui, .quit = [] {}}};
    app::fmKESTRIX& window = program.window();

    // Loads, shows, starts the session and connects; true when connected.
    bool open(const Server& server)
    {
        if (!window.Form_Load())
            return false;
        window.show();
        settle();
        window.cmdInternetOpen_Click();
        window.txtServer->setText(server.address());
        window.txtUser->setText(QStringLiteral("user"));
        window.txtPassword->setText(QStringLiteral("secret"));
        window.cmdConnect_Click();
        settle();
        return window.bConnected;
    }

    QString nodeKey(const QString& folder) const { return window.txtServer->text() + QLatin1Char('/') + folder; }

    // Selects the node and double-clicks it as the user would (the handler).
    bool doubleClick(const QString& key)
    {
        remote::Node* node = window.TreeView1->find(key);
        if (!node)
            return false;
        window.TreeView1->setCurrentItem(node);
        window.TreeView1_DblClick();
        return true;
    }
};

}  // namespace bench
