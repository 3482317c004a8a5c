#include <gtest/gtest.h>

#include "remote/RemotePaths.h"

using remote::serverPathFor;
using remote::splitAtLastSlash;
using remote::uploadFolderFor;

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

TEST(RemotePathsServerPath, CharactersAreDroppedByCountWhereverTheServerWasFound)
{
    // "srv" only occurs deep inside: still three leading characters go.
    EXPECT_EQ(serverPathFor("/pub/srv", "srv"), "b/srv");
    // Found twice: dropped once.
    EXPECT_EQ(serverPathFor("srv/srv/x", "srv"), "/srv/x");
    // A folder named like the server inside an already mapped path loses
    // three characters again, not the folder name.
    EXPECT_EQ(serverPathFor("/srv/x", "srv"), "v/x");
}

TEST(RemotePathsServerPath, EmptyServerOccursEverywhere)
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

TEST(RemotePathsUploadFolder, FolderNodeLosesServerText)
{
    EXPECT_EQ(uploadFolderFor("srv/pub/incoming", "srv"), QString("/pub/incoming"));
}

TEST(RemotePathsUploadFolder, RootGivesEmptyFolder)
{
    const auto folder = uploadFolderFor("srv", "srv");
    ASSERT_TRUE(folder.has_value());
    EXPECT_TRUE(folder->isEmpty());
}

TEST(RemotePathsUploadFolder, DropsByCountWithoutCheckingThePrefix)
{
    EXPECT_EQ(uploadFolderFor("abc/pub", "xyz"), QString("/pub"));
    EXPECT_EQ(uploadFolderFor("srv/pub", ""), QString("srv/pub"));
}

TEST(RemotePathsUploadFolder, LongerServerTextIsRefused)
{
    EXPECT_FALSE(uploadFolderFor("srv", "srv.example").has_value());
    EXPECT_FALSE(uploadFolderFor("", "s").has_value());
    EXPECT_TRUE(uploadFolderFor("", "").has_value());
}
