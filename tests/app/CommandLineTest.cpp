#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "app/DisplayCheck.h"

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

TEST(CommandLine, NoDisplayIsFoundBeforeTheApplicationStarts)
{
    const struct {
        QStringList arguments;
        app::DisplayEnvironment environment;  // QT_QPA_PLATFORM, DISPLAY, WAYLAND_DISPLAY
        bool found;
    } cases[] = {
        {{}, {}, false},
        {{}, {"xcb", "", ""}, false},
        {{}, {"wayland;xcb:nogl", "", ""}, false},
        {{}, {"", ":0", ""}, true},
        {{}, {"", "", "wayland-0"}, true},
        {{}, {"xcb", "", "wayland-0"}, false},
        {{}, {"wayland", "", "wayland-0"}, true},
        {{}, {"offscreen", "", ""}, true},
        {{"-platform", "offscreen"}, {"xcb", "", ""}, true},
        {{"--platform=xcb"}, {"offscreen", "", ""}, false},
        {{"-display", ":1"}, {"xcb", "", ""}, true},
    };
    for (const auto& c : cases) {
        QStringList arguments = c.arguments;
        arguments.prepend(QStringLiteral("quillon-ftp"));
        EXPECT_EQ(app::displayFound(arguments, c.environment), c.found)
            << arguments.join(' ').toStdString() << " / " << c.environment.platform.toStdString() << ","
            << c.environment.display.toStdString() << "," << c.environment.waylandDisplay.toStdString();
    }
}
