#include "transfer/MountTable.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace transfer {

namespace {

bool isOctal(char c) { return c >= '0' && c <= '7'; }

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

QString decodeMountField(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field.at(i);
        if (c == '\\' && i + 3 < field.size() && isOctal(field.at(i + 1)) && isOctal(field.at(i + 2))
            && isOctal(field.at(i + 3))) {
            out.append(char(((field.at(i + 1) - '0') << 6) | ((field.at(i + 2) - '0') << 3)
                            | (field.at(i + 3) - '0')));
            i += 3;
        } else {
            out.append(c);
        }
    }
    return QFile::decodeName(out);
}

QList<MountEntry> parseMountTable(const QByteArray& text)
{
    QList<MountEntry> entries;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 3 || fields.at(0).startsWith('#'))
            continue;
        MountEntry entry{decodeMountField(fields.at(0)), decodeMountField(fields.at(1)),
                         QString::fromLatin1(fields.at(2))};
        if (!entry.mountPoint.startsWith(QLatin1Char('/')))
            continue;
        entries.append(entry);
    }
    return entries;
}

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

QStringList driveMountPoints(const QByteArray& mountTable)
{
    QStringList points;
    for (const MountEntry& entry : parseMountTable(mountTable)) {
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
    QFile file(QStringLiteral("/proc/self/mounts"));
    if (!file.open(QIODevice::ReadOnly))
        return {QStringLiteral("/")};
    // /proc files report size 0, so read until the end rather than by size.
    const QByteArray table = file.readAll();
    QStringList drives;
    for (const QString& point : driveMountPoints(table)) {
        if (point == QLatin1String("/") || QFileInfo(point).isDir())
            drives.append(point);
    }
    return drives;
}

}  // namespace transfer
