#pragma once
// Before the application object exists: is there a display for the window?
// Without one, Qt would abort with its own advice ("Reinstalling the application
// may fix this problem"); the program says instead what is missing.

#include <QString>
#include <QStringList>

#include <optional>

namespace app {

// What decides where the window goes: the QT_QPA_PLATFORM, DISPLAY and
// WAYLAND_DISPLAY variables (the command line's -platform and -display win).
struct DisplayEnvironment {
    QString platform;
    QString display;
    QString waylandDisplay;
};

// False only when every platform asked for (none: the desktop's own, X11 or
// Wayland) needs a display that is not there. Other platforms (offscreen,
// a frame buffer, ...) are left to Qt.
bool displayFound(const QStringList& arguments, const DisplayEnvironment& environment);

// main()'s step before the application object: prints why and how to get a
// display and gives the exit status 2 when there is none.
std::optional<int> refuseWithoutDisplay(int argc, char** argv);

}  // namespace app
