// The drive, folder and file lists wired the way the main window wires them.

#include "support/Wait.h"
#include "TestTree.h"
#include "transfer/DirList.h"
#include "transfer/DriveList.h"
#include "transfer/FileList.h"
#include "transfer/LocalLists.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>

using namespace transfer;

namespace {

class LocalPane {
public:
    explicit LocalPane(const QStringList& mountPoints)
        : Drive1(mountPoints)
        , Dir1(mountPoints)
    {
        QObject::connect(&Drive1, &DriveList::Change, [this] { Drive1_Change(); });
        QObject::connect(&Dir1, &DirList::Change, [this] { Dir1_Change(); });
    }

    void Drive1_Change()
    {
        ++m_driveChanges;
        m_drivesSeen << Drive1.Drive();
        ++m_depth;
        m_deepest = std::max(m_deepest, m_depth);
        followDrive(Drive1, Dir1);
        --m_depth;
    }

    void Dir1_Change()
    {
        m_foldersSeen << Dir1.Path();
        followFolder(Dir1, File1);
        followVolume(Dir1, Drive1);
    }

    DriveList Drive1;
    DirList Dir1;
    FileList File1;
    int m_driveChanges = 0;
    int m_depth = 0;
    int m_deepest = 0;
    QStringList m_drivesSeen;
    QStringList m_foldersSeen;
};

}  // namespace

TEST(LocalListsChain, AllThreeStartOnTheCurrentFolder)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    ASSERT_TRUE(testtree::makeFolders(tmp.path(), {"vol/work"}));
    ASSERT_TRUE(testtree::makeFiles(tmp.path(), {"vol/work/f.txt"}));
    const QString vol = tmp.path() + "/vol";
    testtree::CurrentFolder here(vol + "/work");

    LocalPane pane({vol});
    EXPECT_EQ(pane.Drive1.Drive(), vol);
    EXPECT_EQ(pane.Dir1.Path(), vol + "/work");
    EXPECT_EQ(pane.File1.Path(), vol + "/work");
    EXPECT_EQ(pane.File1.count(), 1);
    EXPECT_EQ(pane.m_driveChanges, 0);
}

TEST(LocalListsChain, ChoosingADriveMovesFolderAndFileLists)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    ASSERT_TRUE(testtree::makeFolders(tmp.path(), {"disk/photos"}));
    ASSERT_TRUE(testtree::makeFiles(tmp.path(), {"disk/one.jpg", "disk/two.jpg"}));
    const QString disk = tmp.path() + "/disk";
    testtree::CurrentFolder here("/");

    LocalPane pane({disk});
    pane.File1.setFileName(pane.File1.count() > 0 ? pane.File1.item(0)->text() : QString());
    pane.Drive1.setDrive(disk);

    EXPECT_EQ(pane.m_driveChanges, 1);
    EXPECT_EQ(pane.Dir1.Path(), disk);
    EXPECT_EQ(pane.Dir1.item(0)->text(), disk);
    EXPECT_EQ(pane.File1.Path(), disk);
    EXPECT_EQ(pane.File1.count(), 2);
    EXPECT_EQ(pane.File1.FileName(), "");
}

TEST(LocalListsChain, UnreadableDriveFallsBackToRootWithANestedChange)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    ASSERT_TRUE(testtree::makeFolders(tmp.path(), {"disk"}));
    ASSERT_TRUE(testtree::makeFiles(tmp.path(), {"disk/keep.txt"}));
    const QString disk = tmp.path() + "/disk";
    const QString gone = tmp.path() + "/no-medium";
    testtree::CurrentFolder here(disk);

    LocalPane pane({disk, gone});
    ASSERT_EQ(pane.Drive1.Drive(), disk);
    QSignalSpy dirChanges(&pane.Dir1, &DirList::Change);

    pane.Drive1.setDrive(gone);

    // The first change ran for the missing volume, the second inside it for "/".
    EXPECT_EQ(pane.m_driveChanges, 2);
    EXPECT_EQ(pane.m_deepest, 2);
    EXPECT_EQ(pane.m_drivesSeen, QStringList({gone, "/"}));
    EXPECT_EQ(pane.m_depth, 0);
    EXPECT_EQ(pane.Drive1.Drive(), "/");
    EXPECT_EQ(pane.Drive1.currentText(), "/");
    EXPECT_EQ(pane.Dir1.Path(), "/");
    EXPECT_EQ(pane.File1.Path(), "/");
    EXPECT_GE(dirChanges.count(), 1);
    EXPECT_FALSE(pane.m_foldersSeen.contains(gone));
}

TEST(LocalListsChain, DriveThatLostItsMediumAfterStartFallsBack)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    ASSERT_TRUE(testtree::makeFolders(tmp.path(), {"stick"}));
    const QString stick = tmp.path() + "/stick";
    testtree::CurrentFolder here("/");

    LocalPane pane({stick});
    ASSERT_TRUE(QDir(stick).removeRecursively());
    QTest::keyClick(&pane.Drive1, Qt::Key_Down);  // the user picks the stick

    WAIT_FOR((pane.m_driveChanges) == (2));
    EXPECT_EQ(pane.Drive1.Drive(), "/");
    EXPECT_EQ(pane.Dir1.Path(), "/");
    EXPECT_EQ(pane.File1.Path(), "/");
}

TEST(LocalListsChain, OpeningAFolderMovesTheFileListAndClearsItsSelection)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    ASSERT_TRUE(testtree::makeFolders(tmp.path(), {"sub"}));
    ASSERT_TRUE(testtree::makeFiles(tmp.path(), {"top.txt", "sub/inner.txt", "sub/.hidden"}));
    testtree::CurrentFolder here(tmp.path());

    LocalPane pane({tmp.path()});
    ASSERT_TRUE(pane.File1.setFileName("top.txt"));

    QListWidgetItem* sub = pane.Dir1.findItems("sub", Qt::MatchExactly).value(0);
    ASSERT_NE(sub, nullptr);
    pane.Dir1.setCurrentItem(sub);
    QTest::keyClick(&pane.Dir1, Qt::Key_Return);

    WAIT_FOR((pane.File1.Path()) == (tmp.path() + "/sub"));
    EXPECT_EQ(pane.File1.FileName(), "");
    EXPECT_EQ(pane.File1.count(), 1);
    EXPECT_EQ(pane.File1.item(0)->text(), "inner.txt");
    EXPECT_EQ(pane.m_driveChanges, 0);
}

TEST(LocalListsChain, DriveListFollowsTheFolderListOntoAnotherVolume)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    ASSERT_TRUE(testtree::makeFolders(tmp.path(), {"home/me", "plain"}));
    ASSERT_TRUE(testtree::makeFiles(tmp.path(), {"home/me/notes.txt"}));
    const QString home = tmp.path() + "/home";  // mounted on its own volume
    testtree::CurrentFolder here(tmp.path() + "/plain");

    LocalPane pane({home});
    ASSERT_EQ(pane.Drive1.Drive(), "/");
    ASSERT_TRUE(pane.Dir1.setPath(home + "/me"));  // as opening it in the folder list does
    EXPECT_EQ(pane.Drive1.Drive(), home);
    EXPECT_EQ(pane.Drive1.currentText(), home);
    EXPECT_EQ(pane.m_driveChanges, 0) << "showing the volume moves nothing";
    EXPECT_EQ(pane.Dir1.Path(), home + "/me");
    EXPECT_EQ(pane.File1.count(), 1);

    // Choosing "/" now moves the folder and file lists there.
    pane.Drive1.setDrive("/");
    EXPECT_EQ(pane.m_driveChanges, 1);
    EXPECT_EQ(pane.Dir1.Path(), "/");
    EXPECT_EQ(pane.File1.Path(), "/");

    // And back out of it: leaving the volume shows "/" again.
    ASSERT_TRUE(pane.Dir1.setPath(home));
    EXPECT_EQ(pane.Drive1.Drive(), home);
    ASSERT_TRUE(pane.Dir1.setPath(tmp.path()));
    EXPECT_EQ(pane.Drive1.Drive(), "/");
    EXPECT_EQ(pane.Drive1.currentIndex(), 0);
}
