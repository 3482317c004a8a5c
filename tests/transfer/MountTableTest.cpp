#include "transfer/MountTable.h"

#include <QFileInfo>
#include <gtest/gtest.h>

using namespace transfer;

namespace {

const QByteArray kDesktopTable =
    "proc /proc proc rw,nosuid,nodev,noexec,relatime 0 0\n"
    "sysfs /sys sysfs rw,nosuid,nodev,noexec,relatime 0 0\n"
    "udev /dev devtmpfs rw,nosuid,relatime 0 0\n"
    "devpts /dev/pts devpts rw,nosuid,noexec,relatime 0 0\n"
    "tmpfs /run tmpfs rw,nosuid,nodev,noexec 0 0\n"
    "/dev/nvme0n1p2 / ext4 rw,relatime 0 0\n"
    "cgroup2 /sys/fs/cgroup cgroup2 rw 0 0\n"
    "tmpfs /tmp tmpfs rw,nosuid,nodev 0 0\n"
    "/dev/nvme0n1p1 /boot/efi vfat rw,relatime 0 0\n"
    "/dev/nvme0n1p3 /home ext4 rw,relatime 0 0\n"
    "/dev/loop3 /snap/core22/1380 squashfs ro,nodev,relatime 0 0\n"
    "/dev/sdb1 /media/ann/My\\040Disk vfat rw,nosuid 0 0\n"
    "/dev/sdc1 /run/media/ann/STICK exfat rw,nosuid 0 0\n"
    "portal /run/user/1000/doc fuse.portal rw 0 0\n"
    "server:/export /mnt/data nfs4 rw,relatime 0 0\n"
    "/dev/nvme0n1p3 /home ext4 rw,relatime 0 0\n";

}  // namespace

TEST(MountTable, DecodesOctalEscapes)
{
    EXPECT_EQ(decodeMountField("/media/My\\040Disk"), "/media/My Disk");
    EXPECT_EQ(decodeMountField("/mnt/a\\011b"), "/mnt/a\tb");
    EXPECT_EQ(decodeMountField("/mnt/back\\134slash"), "/mnt/back\\slash");
    EXPECT_EQ(decodeMountField("/mnt/two\\040\\040spaces"), "/mnt/two  spaces");
}

TEST(MountTable, LeavesIncompleteEscapesAlone)
{
    EXPECT_EQ(decodeMountField("/mnt/x\\04"), "/mnt/x\\04");
    EXPECT_EQ(decodeMountField("/mnt/x\\09y"), "/mnt/x\\09y");
    EXPECT_EQ(decodeMountField("/mnt/end\\"), "/mnt/end\\");
}

TEST(MountTable, DecodesUtf8Names)
{
    EXPECT_EQ(decodeMountField("/media/Fotos\\040M\xc3\xbcller"), QString::fromUtf8("/media/Fotos M\xc3\xbcller"));
}

TEST(MountTable, ParsesFieldsAndSkipsBrokenLines)
{
    const QList<MountEntry> entries = parseMountTable(
        "/dev/sda1 / ext4 rw 0 0\n"
        "\n"
        "garbage\n"
        "only two\n"
        "nodev relative ext4 rw 0 0\n"
        "/dev/sdb1   /media/My\\040Disk   vfat rw 0 0\n");
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0].device, "/dev/sda1");
    EXPECT_EQ(entries[0].mountPoint, "/");
    EXPECT_EQ(entries[0].fsType, "ext4");
    EXPECT_EQ(entries[1].mountPoint, "/media/My Disk");
    EXPECT_EQ(entries[1].fsType, "vfat");
}

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
    EXPECT_EQ(driveMountPoints(kDesktopTable), expected);
}

TEST(MountTable, RootComesFirstWhateverTheOrder)
{
    const QStringList drives = driveMountPoints(
        "/dev/sdb1 /-early ext4 rw 0 0\n"
        "/dev/sdc1 /.hidden ext4 rw 0 0\n"
        "/dev/sda1 / ext4 rw 0 0\n");
    ASSERT_FALSE(drives.isEmpty());
    EXPECT_EQ(drives.first(), "/");
    EXPECT_EQ(drives.size(), 3);
    EXPECT_EQ(drives.count("/"), 1);
}

TEST(MountTable, ContainerOverlayRootIsKept)
{
    const QStringList drives = driveMountPoints(
        "overlay / overlay rw,lowerdir=/a,upperdir=/b 0 0\n"
        "proc /proc proc rw 0 0\n"
        "overlay /var/lib/docker/overlay2/x/merged overlay rw 0 0\n"
        "/dev/vda /work ext4 rw 0 0\n");
    EXPECT_EQ(drives, QStringList({"/", "/work"}));
}

TEST(MountTable, RootIsAddedWhenTheTableIsEmpty)
{
    EXPECT_EQ(driveMountPoints(""), QStringList{"/"});
    EXPECT_EQ(driveMountPoints("proc /proc proc rw 0 0\n"), QStringList{"/"});
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
    }
}
