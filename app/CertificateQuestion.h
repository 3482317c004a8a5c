#pragma once
// The question asked before a secure server's own certificate is trusted for this run.

#include <QString>

#include "net/InternetApi.h"

class QWidget;

namespace ui { class UiInterface; }

namespace app {

class CertificateQuestion {
public:
    // What the certificate is, its fingerprint, the risk, and the question.
    static QString text(const net::ServerCertificate& certificate);

    // After a failed connect: when it failed only because no trusted authority issued the
    // server's certificate, shows it and asks ("No" the default); "Yes" trusts its key for
    // this run. True: connect again.
    static bool askToTrust(net::InternetApi& internet, ui::UiInterface& ui, QWidget* parent);
};

}  // namespace app
