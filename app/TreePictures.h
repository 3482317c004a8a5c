#pragma once

#include <QDir>
#include <QPixmap>
#include <QString>

namespace app {

struct TreePicture {
    QPixmap pixmap;
    QString error;  // empty when the picture loaded
};

// A tree picture from the working folder when the user put one there, else the
// built-in copy. A file that is there but cannot be read as a picture is an error.
TreePicture loadTreePicture(const QString& fileName, const QDir& workingFolder = QDir::current());

}  // namespace app
