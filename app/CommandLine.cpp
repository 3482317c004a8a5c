#include "app/CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <cstdio>

namespace app {
namespace {

const QString programName = QStringLiteral("quillon-ftp");

// Options that QApplication reads itself; accepted here so they still work.
void addQtOptions(QCommandLineParser& parser)
{
    const char* withValue[] = {"platform", "platformpluginpath", "platformtheme", "plugin", "display",
                               "session",  "qwindowgeometry",    "geometry",      "qwindowtitle", "title",
                               "qwindowicon", "icon",            "style",         "stylesheet"};
    const char* flags[] = {"reverse", "widgetcount"};
    for (const char* name : withValue) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : flags) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

}  // namespace

CommandLineAnswer readCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Quillon FTP, a desktop FTP client: browse an FTP server's folders as a tree\n"
                       "and copy one file at a time down into a local folder or up to the server."));
    // Qt programs spell their own options with one dash: -platform, -style.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help and exits."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Shows the program's version and exits."));
    parser.addOption(help);
    parser.addOption(version);
    addQtOptions(parser);

    const QString tryHelp = QStringLiteral("Run \"%1 --help\" to see the options.\n").arg(programName);
    if (!parser.parse(arguments))
        return {false, 2, QStringLiteral("%1: %2\n%3").arg(programName, parser.errorText(), tryHelp)};
    if (!parser.positionalArguments().isEmpty())
        return {false, 2,
                QStringLiteral("%1: Unexpected argument '%2'.\n%3")
                    .arg(programName, parser.positionalArguments().constFirst(), tryHelp)};
    if (parser.isSet(help)) {
        // The parser names the program after its first argument, or a placeholder
        // when there is no application object: always use the installed name.
        const QString text = parser.helpText();
        return {false, 0, QStringLiteral("Usage: %1 [options]").arg(programName) + text.mid(text.indexOf(u'\n'))};
    }
    if (parser.isSet(version))
        return {false, 0, QStringLiteral("Quillon FTP %1\n").arg(QStringLiteral(QUILLON_VERSION))};
    return {};
}

std::optional<int> answerCommandLine(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLineAnswer answer = readCommandLine(arguments);
    if (answer.openWindow)
        return std::nullopt;
    std::fputs(answer.text.toLocal8Bit().constData(), answer.exitStatus == 0 ? stdout : stderr);
    return answer.exitStatus;
}

}  // namespace app
