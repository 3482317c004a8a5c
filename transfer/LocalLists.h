#pragma once
// Folder helpers behind the local drive, folder and file lists, and the two
// steps that chain the lists together in the main window.
//
// The main window owns the handlers and calls:
//   Drive1_Change(): transfer::followDrive(Drive1, Dir1);
//   Dir1_Change():   transfer::followFolder(Dir1, File1);
//                    transfer::followVolume(Dir1, Drive1);
// with Drive1.Change -> Drive1_Change and Dir1.Change -> Dir1_Change.

#include <QString>
#include <QStringList>

namespace transfer {

class DriveList;
class DirList;
class FileList;

// path made absolute (against the process's current folder) and cleaned,
// with "/" separators and no trailing "/" except for the root itself.
QString normalFolder(const QString& path);

// True when path is a folder whose entries this process may read.
bool isReadableFolder(const QString& path);

// The folders from top down to path, both included: ("/", "/home/user")
// gives "/", "/home", "/home/user". A path outside top is chained from "/".
QStringList folderChain(const QString& top, const QString& path);

// Sorts names case-insensitively, names that differ only in case in a fixed
// order.
void sortNames(QStringList& names);

// Names of the subfolders of path, dot-folders left out, sorted.
QStringList subfolderNames(const QString& path);

// Names of the files of path (the "*.*" pattern: every name), dot-files left
// out, sorted.
QStringList fileNames(const QString& path);

// Drive change: move the folder list to the drive; when that volume cannot
// be read, put the drive list on "/" (which raises its Change again, nested)
// and move the folder list there.
void followDrive(DriveList& drive, DirList& dir);

// Folder change: show the folder list's folder in the file list.
void followFolder(DirList& dir, FileList& files);

// Folder change, towards the drive list: it shows the volume that holds the
// folder list's folder (the folder list may have entered another mounted file
// system), without moving anything.
void followVolume(DirList& dir, DriveList& drive);

}  // namespace transfer
