#pragma once
// Tree paths are the server text as typed, then "/" and one entry name per
// level. These helpers turn them into what the server and the transfers need.

#include <QString>
#include <optional>

namespace remote {

// The server directory a tree path (or an already mapped server path) stands
// for. When `server` occurs anywhere in `sPath` its length in characters is
// dropped from the front, wherever it was found; an empty result is "/".
QString serverPathFor(const QString& sPath, const QString& server);

struct SplitPath {
    QString directory;  // up to and including the last "/", empty when there is none
    QString name;       // after the last "/", the whole text when there is none
};
SplitPath splitAtLastSlash(const QString& text);

// The folder an upload goes to: the node text less len(server) leading
// characters, "" for the root. nullopt when the server text is longer than the
// node text, which happens when the server box was edited while connected.
std::optional<QString> uploadFolderFor(const QString& nodeText, const QString& server);

}  // namespace remote
