#include "remote/RemotePaths.h"

namespace remote {

QString serverPathFor(const QString& sPath, const QString& rootKey, const QString& loginFolder)
{
    const bool underRoot = !rootKey.isEmpty() && sPath.startsWith(rootKey, Qt::CaseSensitive) &&
                           (sPath.size() == rootKey.size() || sPath.at(rootKey.size()) == QLatin1Char('/'));
    if (!underRoot)
        return sPath.isEmpty() ? QStringLiteral("/") : sPath;
    const QString login = loginFolder.isEmpty() ? QStringLiteral("/") : loginFolder;
    const QString rest = sPath.mid(rootKey.size());  // "" or "/..."
    if (rest.isEmpty() || rest == QLatin1String("/"))
        return login;
    // "/" + "/pub" would be "//pub": join without doubling the separator.
    return login.endsWith(QLatin1Char('/')) ? login.chopped(1) + rest : login + rest;
}

SplitPath splitAtLastSlash(const QString& text)
{
    const qsizetype cut = text.lastIndexOf(QLatin1Char('/')) + 1;
    return {text.left(cut), text.mid(cut)};
}

SplitPath splitTreePath(const QString& text, const QString& rootKey)
{
    if (!rootKey.isEmpty() && text == rootKey)
        return {QString(), text};
    return splitAtLastSlash(text);
}

}  // namespace remote
