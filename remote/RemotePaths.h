#pragma once
// Tree paths are the server text the connection was made with (the root's key),
// then "/" and one entry name per level. These helpers turn them into what the
// server and the transfers need.

#include <QString>

namespace remote {

// The server folder that `sPath` stands for. `rootKey` is the root node's key and
// `loginFolder` the server folder the root stands for (where the login placed the
// user). The key is removed only as the leading part of the path, followed by its
// end or "/", and only once: the root and "key/" give the login folder, "key/pub"
// gives the login folder and "/pub". Any other path is a server path already and is
// returned unchanged. An empty result is "/".
QString serverPathFor(const QString& sPath, const QString& rootKey, const QString& loginFolder = QStringLiteral("/"));

struct SplitPath {
    QString directory;  // up to and including the last "/", empty when there is none
    QString name;       // after the last "/", the whole text when there is none
};
SplitPath splitAtLastSlash(const QString& text);

// The same for a node's tree path, but the root node (`text` equal to `rootKey`)
// is no file below a folder, whatever the server name holds ("ftps://host",
// "ftp://host/"): it gives an empty directory and the whole text as its name.
SplitPath splitTreePath(const QString& text, const QString& rootKey);

}  // namespace remote
