#pragma once
// Drops on the main window's lists, handed to its drop handlers: local files and
// folders (text/uri-list, from the local lists or a file manager) onto a server
// folder node, server nodes onto the local file list (its open folder) or the
// folder list (the folder under the pointer, else the open one).

#include <QObject>

namespace app {

class fmKESTRIX;

class DropTargets : public QObject {
public:
    explicit DropTargets(fmKESTRIX& window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    fmKESTRIX& m_window;
};

}  // namespace app
