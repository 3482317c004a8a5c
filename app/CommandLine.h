#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace app {

// What the command line asks for: open the window, or print a text and end.
struct CommandLineAnswer {
    bool openWindow = true;
    int exitStatus = 0;  // 0 after --help or --version, 2 after a mistake
    QString text;        // for standard output when exitStatus is 0, else for standard error
};

// Reads the arguments (the program's name first). Needs no application object,
// so that --help, --version and mistakes are answered without a display. The
// standard options of Qt programs (-platform, -style, ...) open the window and
// are left to the application object.
CommandLineAnswer readCommandLine(const QStringList& arguments);

// main()'s first step: the exit status when the command line is answered
// without opening the window, after printing the answer.
std::optional<int> answerCommandLine(int argc, char** argv);

}  // namespace app
