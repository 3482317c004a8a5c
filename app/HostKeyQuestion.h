#pragma once
// What the user is told about an SSH server's host key: the question for a host not known
// yet, and the refusal of a key that differs from the known one.

#include <QString>

#include <string>

#include "net/KnownHosts.h"

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
    // The warning for a Changed or Revoked verdict, naming the entry's file and line.
    static QString refusal(const QString& server, std::string_view blob, const net::HostKeyVerdict& verdict);
};

}  // namespace app
