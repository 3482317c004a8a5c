#pragma once
// The question asked about an SSH server whose host is not known yet. (A key that differs
// from the known one is refused without a question: the layer's report names the entry.)

#include <QString>

#include <string>

#include "net/InternetApi.h"

class QWidget;

namespace ui { class UiInterface; }

namespace app {

enum class HostKeyAnswer { Remember, ThisTime, No };

class HostKeyQuestion {
public:
    // `server` as typed; `blob` the key the server showed.
    static QString text(const QString& server, std::string_view blob);
    // Asks about an unknown host's key, "No" the default (and the answer to Escape).
    static HostKeyAnswer ask(ui::UiInterface& ui, QWidget* parent, const QString& server, std::string_view blob);

    // After a failed connect: when it failed only because the host is not known, shows its
    // key and asks. Remember adds it to ~/.ssh/known_hosts (where that fails, the user is
    // told and it is trusted until the program ends); Only this time trusts it until the
    // program ends. True: connect again.
    static bool askToTrust(net::InternetApi& internet, ui::UiInterface& ui, QWidget* parent);
};

}  // namespace app
