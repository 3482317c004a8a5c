#include "app/TreePictures.h"

#include <QFileInfo>
#include <QImageReader>

namespace app {

TreePicture loadTreePicture(const QString& fileName, const QDir& workingFolder)
{
    const QString local = workingFolder.filePath(fileName);
    if (QFileInfo::exists(local)) {
        QImageReader reader(local);
        const QImage image = reader.read();
        if (image.isNull())
            return {{}, QStringLiteral("The tree picture \"%1\" could not be loaded: %2.")
                            .arg(QDir::toNativeSeparators(QFileInfo(local).absoluteFilePath()), reader.errorString())};
        return {QPixmap::fromImage(image), {}};
    }
    QPixmap builtIn(QStringLiteral(":/tree/") + fileName);
    if (builtIn.isNull())
        return {{}, QStringLiteral("The built-in tree picture \"%1\" is missing.").arg(fileName)};
    return {builtIn, {}};
}

}  // namespace app
