#include "TestTree.h"
#include "transfer/LocalLists.h"
#include "net/NameCodec.h"
#include "support/RawTempDir.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace transfer;

TEST(FolderHelpers, ChainFromRoot)
{
    EXPECT_EQ(folderChain("/", "/"), QStringList{"/"});
    EXPECT_EQ(folderChain("/", "/home"), QStringList({"/", "/home"}));
    EXPECT_EQ(folderChain("/", "/home/ann/docs"), QStringList({"/", "/home", "/home/ann", "/home/ann/docs"}));
}

TEST(FolderHelpers, ChainFromAVolumeTop)
{
    EXPECT_EQ(folderChain("/media/My Disk", "/media/My Disk"), QStringList{"/media/My Disk"});
    EXPECT_EQ(folderChain("/media/My Disk", "/media/My Disk/a b/c"),
              QStringList({"/media/My Disk", "/media/My Disk/a b", "/media/My Disk/a b/c"}));
}

TEST(FolderHelpers, ChainOutsideTopStartsAtRoot)
{
    EXPECT_EQ(folderChain("/home", "/homeless/x"), QStringList({"/", "/homeless", "/homeless/x"}));
    EXPECT_EQ(folderChain("/mnt/data", "/etc"), QStringList({"/", "/etc"}));
}

TEST(FolderHelpers, NormalFolder)
{
    EXPECT_EQ(normalFolder("/home/ann/"), "/home/ann");
    EXPECT_EQ(normalFolder("/home//ann/../bob/."), "/home/bob");
    EXPECT_EQ(normalFolder("/"), "/");
    testtree::CurrentFolder here("/");
    EXPECT_EQ(normalFolder("usr"), "/usr");
}

TEST(FolderHelpers, SortNamesIgnoresCase)
{
    QStringList names = {"beta", "Alpha", "gamma", "Beta", "alpha2", "ALPHA1"};
    sortNames(names);
    EXPECT_EQ(names, QStringList({"Alpha", "ALPHA1", "alpha2", "Beta", "beta", "gamma"}));
}

TEST(FolderHelpers, SubfoldersSortedWithoutHidden)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    ASSERT_TRUE(testtree::makeFolders(tmp.path(), {"beta", "Alpha", ".hidden", "gamma/inner", "with space"}));
    ASSERT_TRUE(testtree::makeFiles(tmp.path(), {"afile", ".dotfile"}));
    EXPECT_EQ(subfolderNames(tmp.path()), QStringList({"Alpha", "beta", "gamma", "with space"}));
    EXPECT_EQ(subfolderNames(tmp.path() + "/gamma/inner"), QStringList());
}

TEST(FolderHelpers, FilesSortedWithoutHiddenOrFolders)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    ASSERT_TRUE(testtree::makeFolders(tmp.path(), {"sub", ".git"}));
    ASSERT_TRUE(testtree::makeFiles(tmp.path(), {"b.txt", "A.TXT", ".secret", "noext", "sub/inner.txt"}));
    EXPECT_EQ(fileNames(tmp.path()), QStringList({"A.TXT", "b.txt", "noext"}));
}

TEST(FolderHelpers, NamesOfAnyBytesListAndComeBackExactly)
{
    testsupport::RawTempDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QByteArray root = QFile::encodeName(tmp.path());
    ASSERT_EQ(::mkdir((root + "/dir\xff").constData(), 0755), 0);
    const int fd = ::open((root + "/dir\xff/caf\xe9.txt").constData(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ASSERT_TRUE(testtree::makeFiles(tmp.path(), {"caf\u00e9.txt"}));
    const QString folder = tmp.path() + "/" + net::textFromBytes("dir\xff");
    EXPECT_EQ(subfolderNames(tmp.path()), QStringList{net::textFromBytes("dir\xff")});
    EXPECT_TRUE(isReadableFolder(folder));
    const QStringList files = fileNames(folder);
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(net::bytesFromText(folder + "/" + files[0]), root + "/dir\xff/caf\xe9.txt");
    EXPECT_EQ(fileNames(tmp.path()), QStringList{QStringLiteral("caf\u00e9.txt")});  // UTF-8 shows as text
}

TEST(FolderHelpers, ReadableFolder)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    ASSERT_TRUE(testtree::makeFiles(tmp.path(), {"plain"}));
    EXPECT_TRUE(isReadableFolder(tmp.path()));
    EXPECT_FALSE(isReadableFolder(tmp.path() + "/missing"));
    EXPECT_FALSE(isReadableFolder(tmp.path() + "/plain"));
}

TEST(FolderHelpers, FolderWithoutPermissionIsNotReadable)
{
    if (!testtree::permissionsApply())
        GTEST_SKIP() << "running as the superuser";
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    ASSERT_TRUE(testtree::makeFolders(tmp.path(), {"locked"}));
    const QString locked = tmp.path() + "/locked";
    ASSERT_TRUE(QFile::setPermissions(locked, QFileDevice::Permissions()));
    EXPECT_FALSE(isReadableFolder(locked));
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}
