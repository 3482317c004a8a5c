#include <gtest/gtest.h>

#include "remote/RemotePaths.h"

using remote::serverPathFor;
using remote::splitAtLastSlash;

TEST(RemotePathsServerPath, RootNodeMapsToSlash)
{
    EXPECT_EQ(serverPathFor("srv", "srv"), "/");
    EXPECT_EQ(serverPathFor("srv/", "srv"), "/");
}

TEST(RemotePathsServerPath, FolderBelowRootBecomesAbsolute)
{
    EXPECT_EQ(serverPathFor("srv/pub/docs", "srv"), "/pub/docs");
    EXPECT_EQ(serverPathFor("srv/pub/", "srv"), "/pub/");
}

TEST(RemotePathsServerPath, PathWithoutServerIsUnchanged)
{
    EXPECT_EQ(serverPathFor("/pub", "srv"), "/pub");
    EXPECT_EQ(serverPathFor("\\", "srv"), "\\");
}

TEST(RemotePathsServerPath, MatchIsCaseSensitive)
{
    EXPECT_EQ(serverPathFor("SRV/pub", "srv"), "SRV/pub");
    EXPECT_EQ(serverPathFor("Srv/pub", "Srv"), "/pub");
}

TEST(RemotePathsServerPath, ServerIsRemovedOnlyAsTheLeadingPartAndOnlyOnce)
{
    // A folder named like the server keeps its name, wherever it is.
    EXPECT_EQ(serverPathFor("srv/pub/srv", "srv"), "/pub/srv");
    EXPECT_EQ(serverPathFor("srv/srv/x", "srv"), "/srv/x");
    EXPECT_EQ(serverPathFor("/pub/srv", "srv"), "/pub/srv");
    EXPECT_EQ(serverPathFor("/srv/x", "srv"), "/srv/x");
    // Mapping a mapped path again changes nothing.
    EXPECT_EQ(serverPathFor(serverPathFor("127.0.0.1:2402/pub/127.0.0.1:2402", "127.0.0.1:2402"), "127.0.0.1:2402"),
              "/pub/127.0.0.1:2402");
    // The key must end where a name ends: "srv2" is not below the root "srv".
    EXPECT_EQ(serverPathFor("srv2/pub", "srv"), "srv2/pub");
}

TEST(RemotePathsServerPath, EmptyKeyMapsNothing)
{
    EXPECT_EQ(serverPathFor("/pub", ""), "/pub");
    EXPECT_EQ(serverPathFor("pub", QString()), "pub");
    EXPECT_EQ(serverPathFor("", ""), "/");
}

TEST(RemotePathsServerPath, EmptyResultBecomesSlash)
{
    EXPECT_EQ(serverPathFor("", "srv"), "/");
    EXPECT_EQ(serverPathFor("ftp.example.org", "ftp.example.org"), "/");
}

TEST(RemotePathsServerPath, RootStandsForTheLoginFolder)
{
    const QString home = QStringLiteral("/home/user");
    EXPECT_EQ(serverPathFor("srv", "srv", home), "/home/user");
    EXPECT_EQ(serverPathFor("srv/", "srv", home), "/home/user");
    EXPECT_EQ(serverPathFor("srv/pub", "srv", home), "/home/user/pub");
    EXPECT_EQ(serverPathFor("srv/pub/docs/", "srv", home), "/home/user/pub/docs/");
    EXPECT_EQ(serverPathFor("srv/pub", "srv", "/home/user/"), "/home/user/pub");
    // A server path typed without the server name is sent as it is.
    EXPECT_EQ(serverPathFor("/pub", "srv", home), "/pub");
    // An unknown login folder counts as "/".
    EXPECT_EQ(serverPathFor("srv/pub", "srv", ""), "/pub");
    EXPECT_EQ(serverPathFor("srv", "srv", ""), "/");
}

TEST(RemotePathsServerPath, KeysWrittenAsUrlsMapToo)
{
    // "ftp://host/" is a valid server name; its children hold "//" after the scheme's host.
    EXPECT_EQ(serverPathFor("ftp://h/", "ftp://h/"), "/");
    EXPECT_EQ(serverPathFor("ftp://h//pub", "ftp://h/"), "/pub");
}

TEST(RemotePathsSplit, SplitsAtTheLastSlashOnly)
{
    const auto split = splitAtLastSlash("srv/pub/docs/a.txt");
    EXPECT_EQ(split.directory, "srv/pub/docs/");
    EXPECT_EQ(split.name, "a.txt");
}

TEST(RemotePathsSplit, FileBelowRootKeepsTrailingSlash)
{
    const auto split = splitAtLastSlash("srv/readme");
    EXPECT_EQ(split.directory, "srv/");
    EXPECT_EQ(split.name, "readme");
    EXPECT_EQ(serverPathFor(split.directory, "srv"), "/");
}

TEST(RemotePathsSplit, NoSlashGivesEmptyDirectoryAndWholeName)
{
    const auto split = splitAtLastSlash("srv");
    EXPECT_TRUE(split.directory.isEmpty());
    EXPECT_EQ(split.name, "srv");
}

TEST(RemotePathsSplit, TrailingAndLeadingSlash)
{
    auto split = splitAtLastSlash("srv/pub/");
    EXPECT_EQ(split.directory, "srv/pub/");
    EXPECT_TRUE(split.name.isEmpty());

    split = splitAtLastSlash("/a");
    EXPECT_EQ(split.directory, "/");
    EXPECT_EQ(split.name, "a");

    split = splitAtLastSlash("");
    EXPECT_TRUE(split.directory.isEmpty());
    EXPECT_TRUE(split.name.isEmpty());
}

TEST(RemotePathsSplit, DotEntriesAreNamesLikeAnyOther)
{
    const auto split = splitAtLastSlash("srv/..");
    EXPECT_EQ(split.directory, "srv/");
    EXPECT_EQ(split.name, "..");
}
