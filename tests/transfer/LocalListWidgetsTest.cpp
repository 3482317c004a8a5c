#include "support/Wait.h"
#include "TestTree.h"
#include "transfer/DirList.h"
#include "transfer/DriveList.h"
#include "transfer/FileList.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace transfer;

namespace {

QStringList texts(const QListWidget& list)
{
    QStringList out;
    for (int i = 0; i < list.count(); ++i)
        out << list.item(i)->text();
    return out;
}

QList<int> levels(const QListWidget& list)
{
    QList<int> out;
    for (int i = 0; i < list.count(); ++i)
        out << list.item(i)->data(DirList::LevelRole).toInt();
    return out;
}

QListWidgetItem* itemNamed(const QListWidget& list, const QString& text)
{
    const QList<QListWidgetItem*> found = list.findItems(text, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.first();
}

void doubleClick(QListWidget& list, QListWidgetItem* item)
{
    const QRect rect = list.visualItemRect(item);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, rect.center());
}

}  // namespace

// --- Drive list ------------------------------------------------------------

TEST(DriveList, ListsRootFirstAndStartsOnTheCurrentVolume)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    ASSERT_TRUE(testtree::makeFolders(tmp.path(), {"vol/deep/er"}));
    const QString vol = tmp.path() + "/vol";
    testtree::CurrentFolder here(vol + "/deep/er");

    DriveList drive({vol, tmp.path()});
    ASSERT_EQ(drive.count(), 3);
    EXPECT_EQ(drive.itemText(0), "/");
    EXPECT_EQ(drive.itemText(1), vol);
    EXPECT_EQ(drive.Drive(), vol);
    EXPECT_EQ(drive.currentText(), vol);
}

TEST(DriveList, SetDriveEmitsChangeOnlyWhenItChanges)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    testtree::CurrentFolder here("/");
    DriveList drive({tmp.path()});
    ASSERT_EQ(drive.Drive(), "/");
    QSignalSpy spy(&drive, &DriveList::Change);

    drive.setDrive(tmp.path());
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(drive.Drive(), tmp.path());
    EXPECT_EQ(drive.currentText(), tmp.path());

    drive.setDrive(tmp.path() + "/inside/the/volume");
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(drive.Drive(), tmp.path());

    drive.setDrive("/usr");
    EXPECT_EQ(spy.count(), 2);
    EXPECT_EQ(drive.Drive(), "/");
    EXPECT_EQ(drive.currentIndex(), 0);
}

TEST(DriveList, PickingAnEntryEmitsChange)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    testtree::CurrentFolder here("/");
    DriveList drive({tmp.path()});
    QSignalSpy spy(&drive, &DriveList::Change);

    QTest::keyClick(&drive, Qt::Key_Down);
    WAIT_FOR((spy.count()) == (1));
    EXPECT_EQ(drive.Drive(), tmp.path());

    QTest::keyClick(&drive, Qt::Key_Up);
    WAIT_FOR((spy.count()) == (2));
    EXPECT_EQ(drive.Drive(), "/");
}

// --- Folder list -----------------------------------------------------------

class DirListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        ASSERT_TRUE(testtree::makeFolders(m_tmp.path(), {"a/b/Zeta", "a/b/alpha/x", "a/b/.dot", "a/sib"}));
        ASSERT_TRUE(testtree::makeFiles(m_tmp.path(), {"a/b/file.txt"}));
        m_b = m_tmp.path() + "/a/b";
    }

    QTemporaryDir m_tmp;
    QString m_b;
};

TEST_F(DirListTest, ChainFromTheVolumeTopThenSubfolders)
{
    DirList dir({m_tmp.path()});
    ASSERT_TRUE(dir.setPath(m_b));
    EXPECT_EQ(dir.Top(), m_tmp.path());
    EXPECT_EQ(texts(dir), QStringList({m_tmp.path(), "a", "b", "alpha", "Zeta"}));
    EXPECT_EQ(levels(dir), QList<int>({0, 1, 2, 3, 3}));
    EXPECT_EQ(dir.currentRow(), 2);
    dir.setCurrentRow(3);  // highlighted, not opened: the open folder stays marked
    for (int row = 0; row < dir.count(); ++row)
        EXPECT_EQ(dir.item(row)->font().bold(), row == 2) << row;
    EXPECT_EQ(dir.item(3)->data(DirList::PathRole).toString(), m_b + "/alpha");
    EXPECT_EQ(dir.item(1)->data(DirList::PathRole).toString(), m_tmp.path() + "/a");
}

TEST_F(DirListTest, ChainFromRootWhenNoVolumeHoldsTheFolder)
{
    DirList dir(QStringList{});
    ASSERT_TRUE(dir.setPath(m_b + "/"));
    EXPECT_EQ(dir.Path(), m_b);
    EXPECT_EQ(dir.Top(), "/");
    const int depth = int(m_b.count('/'));
    ASSERT_EQ(dir.count(), depth + 1 + 2);
    EXPECT_EQ(dir.item(0)->text(), "/");
    EXPECT_EQ(dir.item(depth)->text(), "b");
    EXPECT_EQ(dir.item(depth)->data(DirList::LevelRole).toInt(), depth);
    EXPECT_EQ(dir.item(depth + 1)->data(DirList::LevelRole).toInt(), depth + 1);
}

TEST_F(DirListTest, SetPathEmitsChange)
{
    DirList dir({m_tmp.path()});
    QSignalSpy spy(&dir, &DirList::Change);
    ASSERT_TRUE(dir.setPath(m_b));
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(dir.property("Path").toString(), m_b);
}

TEST_F(DirListTest, UnreadableFolderIsRefusedAndNothingChanges)
{
    DirList dir({m_tmp.path()});
    ASSERT_TRUE(dir.setPath(m_b));
    const QStringList before = texts(dir);
    QSignalSpy spy(&dir, &DirList::Change);

    EXPECT_FALSE(dir.setPath(m_b + "/missing"));
    EXPECT_FALSE(dir.setPath(m_b + "/file.txt"));
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(dir.Path(), m_b);
    EXPECT_EQ(texts(dir), before);

    if (testtree::permissionsApply()) {
        ASSERT_TRUE(QFile::setPermissions(m_b + "/Zeta", QFileDevice::Permissions()));
        EXPECT_FALSE(dir.setPath(m_b + "/Zeta"));
        EXPECT_EQ(dir.Path(), m_b);
        QFile::setPermissions(m_b + "/Zeta", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
}

TEST_F(DirListTest, DoubleClickOpensASubfolder)
{
    DirList dir({m_tmp.path()});
    ASSERT_TRUE(dir.setPath(m_b));
    dir.resize(300, 300);
    dir.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dir));
    QSignalSpy spy(&dir, &DirList::Change);

    doubleClick(dir, itemNamed(dir, "alpha"));
    WAIT_FOR((spy.count()) == (1));
    EXPECT_EQ(dir.Path(), m_b + "/alpha");
    EXPECT_EQ(texts(dir), QStringList({m_tmp.path(), "a", "b", "alpha", "x"}));
}

TEST_F(DirListTest, EnterOnAChainItemGoesUp)
{
    DirList dir({m_tmp.path()});
    ASSERT_TRUE(dir.setPath(m_b));
    QSignalSpy spy(&dir, &DirList::Change);

    dir.setCurrentRow(1);
    QTest::keyClick(&dir, Qt::Key_Return);
    WAIT_FOR((spy.count()) == (1));
    EXPECT_EQ(dir.Path(), m_tmp.path() + "/a");
    EXPECT_EQ(texts(dir), QStringList({m_tmp.path(), "a", "b", "sib"}));
}

TEST(DirList, StartsOnTheCurrentFolder)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    testtree::CurrentFolder here(tmp.path());
    DirList dir({tmp.path()});
    EXPECT_EQ(dir.Path(), tmp.path());
    EXPECT_EQ(texts(dir), QStringList{tmp.path()});
}

// --- File list -------------------------------------------------------------

class FileListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        ASSERT_TRUE(testtree::makeFolders(m_tmp.path(), {"one", "two", "one/folder"}));
        ASSERT_TRUE(testtree::makeFiles(m_tmp.path(),
                                        {"one/b.txt", "one/A.bin", "one/.hidden", "one/readme", "two/other.txt"}));
        m_one = m_tmp.path() + "/one";
        m_two = m_tmp.path() + "/two";
    }

    QTemporaryDir m_tmp;
    QString m_one;
    QString m_two;
};

TEST_F(FileListTest, ShowsFilesSortedWithoutHiddenOrFolders)
{
    FileList files;
    ASSERT_TRUE(files.setPath(m_one));
    EXPECT_EQ(files.Path(), m_one);
    EXPECT_EQ(texts(files), QStringList({"A.bin", "b.txt", "readme"}));
    EXPECT_EQ(files.FileName(), "");
}

TEST_F(FileListTest, StartsOnTheCurrentFolder)
{
    testtree::CurrentFolder here(m_two);
    FileList files;
    EXPECT_EQ(files.Path(), m_two);
    EXPECT_EQ(texts(files), QStringList{"other.txt"});
}

TEST_F(FileListTest, SelectionIsOneFileAndClearedByAFolderChange)
{
    FileList files;
    ASSERT_TRUE(files.setPath(m_one));
    EXPECT_TRUE(files.setFileName("b.txt"));
    EXPECT_EQ(files.FileName(), "b.txt");
    EXPECT_TRUE(files.setFileName("readme"));
    EXPECT_EQ(files.FileName(), "readme");
    EXPECT_EQ(files.selectedItems().size(), 1);

    ASSERT_TRUE(files.setPath(m_two));
    EXPECT_EQ(files.FileName(), "");
    EXPECT_TRUE(files.selectedItems().isEmpty());

    // The same folder again still starts with nothing selected.
    ASSERT_TRUE(files.setFileName("other.txt"));
    ASSERT_TRUE(files.setPath(m_two));
    EXPECT_EQ(files.FileName(), "");
}

TEST_F(FileListTest, UnknownNameClearsTheSelection)
{
    FileList files;
    ASSERT_TRUE(files.setPath(m_one));
    ASSERT_TRUE(files.setFileName("b.txt"));
    EXPECT_FALSE(files.setFileName("B.TXT"));
    EXPECT_EQ(files.FileName(), "");
    ASSERT_TRUE(files.setFileName("b.txt"));
    EXPECT_FALSE(files.setFileName(""));
    EXPECT_EQ(files.FileName(), "");
}

TEST_F(FileListTest, RefreshShowsANewFileAndKeepsTheSelection)
{
    FileList files;
    ASSERT_TRUE(files.setPath(m_one));
    ASSERT_TRUE(files.setFileName("readme"));
    ASSERT_TRUE(testtree::makeFiles(m_one, {"New.dat"}));
    EXPECT_EQ(texts(files), QStringList({"A.bin", "b.txt", "readme"}));

    files.Refresh();
    EXPECT_EQ(texts(files), QStringList({"A.bin", "b.txt", "New.dat", "readme"}));
    EXPECT_EQ(files.FileName(), "readme");
}

TEST_F(FileListTest, RefreshDropsTheSelectionOfAVanishedFile)
{
    FileList files;
    ASSERT_TRUE(files.setPath(m_one));
    ASSERT_TRUE(files.setFileName("b.txt"));
    ASSERT_TRUE(QFile::remove(m_one + "/b.txt"));
    files.Refresh();
    EXPECT_EQ(texts(files), QStringList({"A.bin", "readme"}));
    EXPECT_EQ(files.FileName(), "");
}

TEST_F(FileListTest, RefreshOfAVanishedFolderShowsNothing)
{
    FileList files;
    ASSERT_TRUE(files.setPath(m_two));
    ASSERT_TRUE(QDir(m_two).removeRecursively());
    files.Refresh();
    EXPECT_EQ(files.count(), 0);
    EXPECT_EQ(files.Path(), m_two);
}

TEST_F(FileListTest, UnreadableFolderIsRefused)
{
    FileList files;
    ASSERT_TRUE(files.setPath(m_one));
    ASSERT_TRUE(files.setFileName("A.bin"));
    EXPECT_FALSE(files.setPath(m_tmp.path() + "/missing"));
    EXPECT_FALSE(files.setPath(m_one + "/b.txt"));
    EXPECT_EQ(files.Path(), m_one);
    EXPECT_EQ(files.count(), 3);
    EXPECT_EQ(files.FileName(), "A.bin");
}

TEST_F(FileListTest, DoubleClickAndEnterRaiseDblClick)
{
    FileList files;
    ASSERT_TRUE(files.setPath(m_one));
    files.resize(300, 300);
    files.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&files));
    QSignalSpy spy(&files, &FileList::DblClick);

    // Enter with nothing selected does nothing.
    QTest::keyClick(&files, Qt::Key_Return);
    EXPECT_EQ(spy.count(), 0);

    doubleClick(files, itemNamed(files, "b.txt"));
    WAIT_FOR((spy.count()) == (1));
    EXPECT_EQ(files.FileName(), "b.txt");

    ASSERT_TRUE(files.setFileName("readme"));
    QTest::keyClick(&files, Qt::Key_Enter);
    WAIT_FOR((spy.count()) == (2));
    EXPECT_EQ(files.FileName(), "readme");
}
