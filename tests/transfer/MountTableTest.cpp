#include "transfer/MountTable.h"

#include <QFileInfo>
#include <QStorageInfo>
#include <gtest/gtest.h>

using namespace transfer;

namespace {

// A desktop's mounted volumes as the system reports them, escapes decoded.
const QList<MountEntry> kDesktopMounts = {
    {"/proc", "proc"},
    {"/sys", "sysfs"},
    {"/dev", "devtmpfs"},
    {"/dev/pts", "devpts"},
    {"/run", "tmpfs"},
    {"/", "ext4"},
    {"/sys/fs/cgroup", "cgroup2"},
    {"/tmp", "tmpfs"},
    {"/boot/efi", "vfat"},
    {"/home", "ext4"},
    {"/snap/core22/1380", "squashfs"},
    {"/media/ann/My Disk", "vfat"},
    {"/run/media/ann/STICK", "exfat"},
    {"/run/user/1000/doc", "fuse.portal"},
    {"/mnt/data", "nfs4"},
    {"/home", "ext4"},
};

}  // namespace

TEST(MountTable, PseudoFileSystems)
{
    for (const char* fs : {"proc", "sysfs", "cgroup", "cgroup2", "devpts", "devtmpfs", "tmpfs", "overlay", "squashfs"})
        EXPECT_TRUE(isPseudoFileSystem(QString::fromLatin1(fs))) << fs;
    for (const char* fs : {"ext4", "btrfs", "xfs", "vfat", "exfat", "ntfs3", "nfs4", "fuse.sshfs"})
        EXPECT_FALSE(isPseudoFileSystem(QString::fromLatin1(fs))) << fs;
}

TEST(MountTable, DrivesOfADesktopTable)
{
    const QStringList expected = {"/", "/boot/efi", "/home", "/media/ann/My Disk", "/mnt/data",
                                  "/run/media/ann/STICK"};
    EXPECT_EQ(driveMountPoints(kDesktopMounts), expected);
}

TEST(MountTable, RootComesFirstWhateverTheOrder)
{
    const QStringList drives = driveMountPoints({{"/-early", "ext4"}, {"/.hidden", "ext4"}, {"/", "ext4"}});
    ASSERT_FALSE(drives.isEmpty());
    EXPECT_EQ(drives.first(), "/");
    EXPECT_EQ(drives.size(), 3);
    EXPECT_EQ(drives.count("/"), 1);
}

TEST(MountTable, ContainerOverlayRootIsKept)
{
    const QStringList drives = driveMountPoints({{"/", "overlay"},
                                                 {"/proc", "proc"},
                                                 {"/var/lib/docker/overlay2/x/merged", "overlay"},
                                                 {"/work", "ext4"}});
    EXPECT_EQ(drives, QStringList({"/", "/work"}));
}

TEST(MountTable, RootIsAddedWhenTheTableIsEmpty)
{
    EXPECT_EQ(driveMountPoints({}), QStringList{"/"});
    EXPECT_EQ(driveMountPoints({{"/proc", "proc"}}), QStringList{"/"});
}

TEST(MountTable, VolumeIsTheLongestHoldingMountPoint)
{
    const QStringList drives = {"/", "/home", "/home/ann/nas", "/media/My Disk"};
    EXPECT_EQ(volumeOf(drives, "/"), "/");
    EXPECT_EQ(volumeOf(drives, "/etc"), "/");
    EXPECT_EQ(volumeOf(drives, "/home"), "/home");
    EXPECT_EQ(volumeOf(drives, "/home/ann"), "/home");
    EXPECT_EQ(volumeOf(drives, "/home/ann/nas/photos"), "/home/ann/nas");
    EXPECT_EQ(volumeOf(drives, "/homeless"), "/");
    EXPECT_EQ(volumeOf(drives, "/media/My Disk/x"), "/media/My Disk");
    EXPECT_EQ(volumeOf({}, "/anything"), "/");
}

TEST(MountTable, SystemDrivesAreFoldersWithRootFirst)
{
    const QStringList drives = systemDrives();
    ASSERT_FALSE(drives.isEmpty());
    EXPECT_EQ(drives.first(), "/");
    for (const QString& drive : drives) {
        EXPECT_TRUE(QFileInfo(drive).isDir()) << drive.toStdString();
        EXPECT_FALSE(drive.startsWith("/proc")) << drive.toStdString();
        EXPECT_EQ(QStorageInfo(drive).rootPath(), drive);  // each one is a volume's own root
    }
}
