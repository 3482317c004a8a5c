#include "app/DisplayCheck.h"

#include <cstdio>
#include <cstdlib>

namespace app {
namespace {

// The value of a Qt option given as "-name value", "--name value" or "-name=value".
std::optional<QString> optionValue(const QStringList& arguments, const QString& name)
{
    std::optional<QString> value;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString argument = arguments.at(i);
        if (argument.startsWith(QLatin1String("--")))
            argument.remove(0, 1);
        if (argument == u'-' + name && i + 1 < arguments.size())
            value = arguments.at(++i);
        else if (argument.startsWith(u'-' + name + u'='))
            value = argument.mid(name.size() + 2);
    }
    return value;
}

QString variable(const char* name) { return QString::fromLocal8Bit(std::getenv(name)); }

}  // namespace

bool displayFound(const QStringList& arguments, const DisplayEnvironment& environment)
{
    const QString platforms = optionValue(arguments, QStringLiteral("platform")).value_or(environment.platform);
    const QString display = optionValue(arguments, QStringLiteral("display")).value_or(environment.display);
    const bool x11 = !display.isEmpty();
    const bool wayland = !environment.waylandDisplay.isEmpty();
    if (platforms.trimmed().isEmpty())
        return x11 || wayland;
    // "xcb;wayland", each possibly with options: "xcb:nogl".
    for (const QString& entry : platforms.split(u';', Qt::SkipEmptyParts)) {
        const QString name = entry.section(u':', 0, 0).trimmed();
        if (name == QLatin1String("xcb") ? x11 : name.startsWith(QLatin1String("wayland")) ? wayland : true)
            return true;
    }
    return false;
}

std::optional<int> refuseWithoutDisplay(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (displayFound(arguments, {variable("QT_QPA_PLATFORM"), variable("DISPLAY"), variable("WAYLAND_DISPLAY")}))
        return std::nullopt;
    std::fputs("quillon-ftp: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
               "Quillon FTP is a desktop program: start it in a graphical session, or on a virtual\n"
               "display, e.g.:\n"
               "  apt-get install -y xvfb && xvfb-run -a quillon-ftp\n",
               stderr);
    return 2;
}

}  // namespace app
