#pragma once
// The mounted volumes that the drive list offers, read from the kernel's
// mount table (/proc/self/mounts).

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace transfer {

struct MountEntry {
    QString device;
    QString mountPoint;
    QString fsType;
};

// Undoes the octal escapes the kernel writes for blanks and backslashes
// ("\040" for a space, "\011" tab, "\012" newline, "\134" backslash).
QString decodeMountField(const QByteArray& field);

// Every well-formed line of a mount table, in the table's order.
QList<MountEntry> parseMountTable(const QByteArray& text);

// True for file systems that hold no user files (proc, sysfs, tmpfs, ...).
bool isPseudoFileSystem(const QString& fsType);

// The mount points worth offering as drives: pseudo file systems and the
// kernel's own trees left out, duplicates merged, "/" always present and
// first, the rest sorted by mount point.
QStringList driveMountPoints(const QByteArray& mountTable);

// The longest mount point that holds path ("/" when none does). path must be
// absolute and clean.
QString volumeOf(const QStringList& mountPoints, const QString& path);

// driveMountPoints() of this system, keeping only mount points that are
// folders (containers bind-mount single files such as /etc/hosts).
QStringList systemDrives();

}  // namespace transfer
