#include "transfer/MountTable.h"

#include <QFileInfo>
#include <QSet>
#include <QStorageInfo>

#include <algorithm>

namespace transfer {

namespace {

// Trees that only the kernel and the session manager fill; removable media
// mounted by the desktop under /run/media stay visible.
bool isSystemTree(const QString& mountPoint)
{
    static const QStringList hidden = {"/proc", "/sys", "/dev", "/run"};
    if (mountPoint.startsWith(QLatin1String("/run/media/")))
        return false;
    for (const QString& top : hidden) {
        if (mountPoint == top || mountPoint.startsWith(top + QLatin1Char('/')))
            return true;
    }
    return false;
}

}  // namespace

bool isPseudoFileSystem(const QString& fsType)
{
    static const QSet<QString> pseudo = {
        "proc",       "sysfs",     "cgroup",    "cgroup2",     "devpts",     "devtmpfs",
        "tmpfs",      "ramfs",     "securityfs", "debugfs",    "tracefs",    "configfs",
        "fusectl",    "mqueue",    "hugetlbfs", "pstore",      "bpf",        "autofs",
        "binfmt_misc", "efivarfs", "rpc_pipefs", "nsfs",       "selinuxfs",  "overlay",
        "squashfs",   "nfsd",      "fuse.gvfsd-fuse", "fuse.portal", "none",
    };
    return pseudo.contains(fsType);
}

QStringList driveMountPoints(const QList<MountEntry>& mounts)
{
    QStringList points;
    for (const MountEntry& entry : mounts) {
        const QString point = entry.mountPoint;
        // A container's root is often an overlay; "/" is added below anyway.
        if (point == QLatin1String("/") || isPseudoFileSystem(entry.fsType) || isSystemTree(point))
            continue;
        if (!points.contains(point))
            points.append(point);
    }
    std::sort(points.begin(), points.end());
    points.prepend(QStringLiteral("/"));
    return points;
}

QString volumeOf(const QStringList& mountPoints, const QString& path)
{
    QString best = QStringLiteral("/");
    for (const QString& point : mountPoints) {
        if (point.size() <= best.size())
            continue;
        if (path == point || path.startsWith(point + QLatin1Char('/')))
            best = point;
    }
    return best;
}

QStringList systemDrives()
{
    QList<MountEntry> mounts;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes())
        mounts.append({volume.rootPath(), QString::fromLatin1(volume.fileSystemType())});
    QStringList drives;
    for (const QString& point : driveMountPoints(mounts)) {
        if (point == QLatin1String("/") || QFileInfo(point).isDir())
            drives.append(point);
    }
    return drives;
}

}  // namespace transfer
