#include "transfer/LocalLists.h"

#include "transfer/DirList.h"
#include "transfer/DriveList.h"
#include "transfer/FileList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "net/NameCodec.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

namespace transfer {

QString normalFolder(const QString& path)
{
    const QString absolute = QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path);
    return QDir::cleanPath(QDir::fromNativeSeparators(absolute));
}

bool isReadableFolder(const QString& path)
{
    // Opening the folder is the only test that agrees with what listing it
    // will do (access() would need both read and search rights checked).
    DIR* dir = ::opendir(net::bytesFromText(path).constData());
    if (!dir)
        return false;
    ::closedir(dir);
    return true;
}

QStringList folderChain(const QString& top, const QString& path)
{
    QString start = top;
    if (!(path == top || top == QLatin1String("/") || path.startsWith(top + QLatin1Char('/'))))
        start = QStringLiteral("/");
    QStringList chain{start};
    if (path == start)
        return chain;
    const QString rest = path.mid(start == QLatin1String("/") ? 1 : start.size() + 1);
    QString current = start;
    for (const QString& part : rest.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (!current.endsWith(QLatin1Char('/')))
            current += QLatin1Char('/');
        current += part;
        chain.append(current);
    }
    return chain;
}

void sortNames(QStringList& names)
{
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int folded = QString::compare(a, b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
}

namespace {

// The names of the folders (or of the ordinary files) in path, links followed, dot-entries
// left out. Names are read as bytes: any byte string turns into text and back unchanged.
QStringList visibleEntries(const QString& path, bool folders)
{
    QStringList names;
    const QByteArray folder = net::bytesFromText(path);
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.empty() || name.front() == '.')
            continue;
        struct stat st {};
        const QByteArray full = folder + (folder.endsWith('/') ? "" : "/") + entry->d_name;
        if (::stat(full.constData(), &st) != 0)
            continue;
        if (folders ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode))
            names.append(net::textFromBytes(name));
    }
    ::closedir(dir);
    sortNames(names);
    return names;
}

}  // namespace

QStringList subfolderNames(const QString& path)
{
    return visibleEntries(path, true);
}

QStringList fileNames(const QString& path)
{
    return visibleEntries(path, false);
}

void followDrive(DriveList& drive, DirList& dir)
{
    if (!dir.setPath(drive.Drive())) {
        drive.setDrive(QStringLiteral("/"));
        dir.setPath(drive.Drive());
    }
}

void followFolder(DirList& dir, FileList& files)
{
    files.setPath(dir.Path());
}

void followVolume(DirList& dir, DriveList& drive)
{
    drive.showVolumeOf(dir.Path());
}

}  // namespace transfer
