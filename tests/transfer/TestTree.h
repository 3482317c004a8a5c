#pragma once
// Builds folders and files inside a temporary folder for the list tests.

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <unistd.h>

namespace testtree {

inline bool makeFolders(const QString& base, const QStringList& relative)
{
    for (const QString& path : relative) {
        if (!QDir(base).mkpath(path))
            return false;
    }
    return true;
}

inline bool makeFiles(const QString& base, const QStringList& relative)
{
    for (const QString& path : relative) {
        QFile file(base + "/" + path);
        if (!file.open(QIODevice::WriteOnly) || file.write("x") != 1)
            return false;
    }
    return true;
}

// Permission bits do not stop the superuser.
inline bool permissionsApply() { return ::geteuid() != 0; }

// Restores the process's current folder when a test changed it.
class CurrentFolder {
public:
    explicit CurrentFolder(const QString& path) : m_saved(QDir::currentPath()) { QDir::setCurrent(path); }
    ~CurrentFolder() { QDir::setCurrent(m_saved); }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

private:
    QString m_saved;
};

}  // namespace testtree
