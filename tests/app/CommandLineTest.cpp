#include <gtest/gtest.h>

#include "app/CommandLine.h"

namespace {

app::CommandLineAnswer read(QStringList arguments)
{
    arguments.prepend(QStringLiteral("/usr/local/bin/quillon-ftp"));
    return app::readCommandLine(arguments);
}

}  // namespace

TEST(CommandLine, NoArgumentsOrQtOptionsOpenTheWindow)
{
    for (const QStringList& arguments :
         {QStringList{}, QStringList{"-platform", "offscreen"}, QStringList{"-style", "fusion", "-reverse"},
          QStringList{"--platform=offscreen"}}) {
        const app::CommandLineAnswer answer = read(arguments);
        EXPECT_TRUE(answer.openWindow) << arguments.join(' ').toStdString();
        EXPECT_TRUE(answer.text.isEmpty()) << answer.text.toStdString();
    }
}

TEST(CommandLine, HelpListsTheOptionsUnderTheInstalledName)
{
    for (const char* option : {"--help", "-h"}) {
        const app::CommandLineAnswer answer = read({option});
        EXPECT_FALSE(answer.openWindow);
        EXPECT_EQ(answer.exitStatus, 0);
        EXPECT_TRUE(answer.text.startsWith("Usage: quillon-ftp [options]\n")) << answer.text.toStdString();
        EXPECT_TRUE(answer.text.contains("--version")) << answer.text.toStdString();
        EXPECT_FALSE(answer.text.contains("platform")) << "Qt's own options stay out of the help";
    }
}

TEST(CommandLine, VersionIsTheProjectVersion)
{
    for (const char* option : {"--version", "-v"}) {
        const app::CommandLineAnswer answer = read({option});
        EXPECT_FALSE(answer.openWindow);
        EXPECT_EQ(answer.exitStatus, 0);
        EXPECT_EQ(answer.text.toStdString(), "Quillon FTP " QUILLON_VERSION "\n");
    }
}

TEST(CommandLine, MistakesAreNamedAndEndWithStatus2)
{
    const struct {
        QStringList arguments;
        const char* named;
    } cases[] = {{{"--bogus"}, "Unknown option 'bogus'"},
                 {{"-x"}, "Unknown option 'x'"},
                 {{"-platform"}, "Missing value after '-platform'"},
                 {{"site.kvx"}, "Unexpected argument 'site.kvx'"},
                 {{"--help", "extra"}, "Unexpected argument 'extra'"}};
    for (const auto& c : cases) {
        const app::CommandLineAnswer answer = read(c.arguments);
        EXPECT_FALSE(answer.openWindow) << c.named;
        EXPECT_EQ(answer.exitStatus, 2) << c.named;
        EXPECT_TRUE(answer.text.startsWith("quillon-ftp: ")) << answer.text.toStdString();
        EXPECT_TRUE(answer.text.contains(c.named)) << answer.text.toStdString();
        EXPECT_TRUE(answer.text.contains("quillon-ftp --help")) << answer.text.toStdString();
    }
}
