#pragma once
// The mounted volumes that the drive list offers.

#include <QList>
#include <QString>
#include <QStringList>

namespace transfer {

struct MountEntry {
    QString mountPoint;
    QString fsType;
};

// True for file systems that hold no user files (proc, sysfs, tmpfs, ...).
bool isPseudoFileSystem(const QString& fsType);

// The mount points worth offering as drives: pseudo file systems and the
// kernel's own trees left out, duplicates merged, "/" always present and
// first, the rest sorted by mount point.
QStringList driveMountPoints(const QList<MountEntry>& mounts);

// The longest mount point that holds path ("/" when none does). path must be
// absolute and clean.
QString volumeOf(const QStringList& mountPoints, const QString& path);

// driveMountPoints() of this system's mounted volumes, keeping only mount
// points that are folders (containers bind-mount single files such as /etc/hosts).
QStringList systemDrives();

}  // namespace transfer
