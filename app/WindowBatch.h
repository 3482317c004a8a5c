#pragma once
// The main window's side of a batch of transfers: what the selection or a drop
// asks for, the batch run over the window's connection, then the lists refreshed
// and one notice of what was not copied. A single selected file never comes here.

#include <QStringList>
#include <vector>

namespace remote { class Node; }
namespace transfer { struct BatchResult; }

namespace app {

class fmKESTRIX;

class WindowBatch {
public:
    explicit WindowBatch(fmKESTRIX& window) : m_window(window) {}

    // The selected tree nodes, a node below another selected one left out (its folder
    // brings it), the root left out (it stands for the whole login folder).
    std::vector<remote::Node*> selectedNodes() const;
    // The same for the nodes of these tree paths (a drag's), those gone left out.
    std::vector<remote::Node*> nodesAt(const QStringList& paths) const;
    // Several nodes, or one folder node: a batch. One file node (or none): the single-file path.
    bool wantsBatch(const std::vector<remote::Node*>& nodes) const;
    // The selected local files, else the subfolder highlighted (not opened) in the folder list.
    QStringList selectedLocal() const;

    void download(const std::vector<remote::Node*>& nodes, const QString& localFolder);
    // `localPaths`: files and folders; `nodeText`: the tree path of a folder node.
    void upload(const QStringList& localPaths, const QString& nodeText);

private:
    static std::vector<remote::Node*> topmost(const std::vector<remote::Node*>& all);
    void tell(const transfer::BatchResult& result);
    fmKESTRIX& m_window;
};

}  // namespace app
