#include "remote/RemotePaths.h"

namespace remote {

QString serverPathFor(const QString& sPath, const QString& server)
{
    // An empty server text occurs in every path, the empty one included.
    QString path = server.isEmpty() || sPath.contains(server, Qt::CaseSensitive)
        ? sPath.mid(server.size())
        : sPath;
    if (path.isEmpty())
        path = QStringLiteral("/");
    return path;
}

SplitPath splitAtLastSlash(const QString& text)
{
    const qsizetype cut = text.lastIndexOf(QLatin1Char('/')) + 1;
    return {text.left(cut), text.mid(cut)};
}

std::optional<QString> uploadFolderFor(const QString& nodeText, const QString& server)
{
    if (server.size() > nodeText.size())
        return std::nullopt;
    return nodeText.mid(server.size());
}

}  // namespace remote
