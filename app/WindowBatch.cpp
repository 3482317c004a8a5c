#include "app/WindowBatch.h"

#include <QDir>
#include <QFileInfo>
#include <QItemSelectionModel>

#include <algorithm>

#include "app/fmKESTRIX.h"
#include "net/NameCodec.h"
#include "remote/RemotePaths.h"
#include "remote/RemoteTree.h"
#include "transfer/Batch.h"
#include "transfer/DirList.h"
#include "transfer/FileList.h"
#include "ui/UiInterface.h"

namespace app {

std::vector<remote::Node*> WindowBatch::selectedNodes() const
{
    std::vector<remote::Node*> all;
    for (const QModelIndex& index : m_window.TreeView1->selectionModel()->selectedRows())
        all.push_back(remote::RemoteTreeModel::nodeAt(index));
    return topmost(all);
}

std::vector<remote::Node*> WindowBatch::nodesAt(const QStringList& paths) const
{
    std::vector<remote::Node*> all;
    for (const QString& path : paths)
        all.push_back(m_window.TreeView1->find(path));
    return topmost(all);
}

std::vector<remote::Node*> WindowBatch::topmost(const std::vector<remote::Node*>& all)
{
    std::vector<remote::Node*> kept;
    for (remote::Node* node : all) {
        bool below = !node || !node->parent();  // gone, or the root
        for (const remote::Node* up = node ? node->parent() : nullptr; up && !below; up = up->parent())
            below = std::find(all.begin(), all.end(), up) != all.end();
        if (!below)
            kept.push_back(node);
    }
    return kept;
}

bool WindowBatch::wantsBatch(const std::vector<remote::Node*>& nodes) const
{
    return nodes.size() > 1 ||
           (nodes.size() == 1 && remote::RemoteTree::image(nodes.front()) != QLatin1String("leaf"));
}

QStringList WindowBatch::selectedLocal() const
{
    QStringList paths;
    const QDir folder(m_window.File1->Path());
    for (const QListWidgetItem* item : m_window.File1->selectedItems())
        paths << folder.filePath(item->text());
    if (!paths.isEmpty())
        return paths;
    const transfer::DirList& dirs = *m_window.Dir1;
    for (const QListWidgetItem* item : dirs.selectedItems()) {
        const QString path = item->data(transfer::DirList::PathRole).toString();
        if (path != dirs.Path() && QFileInfo(path).path() == dirs.Path())  // highlighted, not opened
            paths << path;
    }
    return paths;
}

void WindowBatch::download(const std::vector<remote::Node*>& nodes, const QString& localFolder)
{
    fmKESTRIX& w = m_window;
    std::vector<transfer::ServerItem> items;
    for (const remote::Node* node : nodes) {
        const QString path = remote::serverPathFor(remote::RemoteTree::text(node), w.m_rootKey, w.m_loginFolder);
        items.push_back({net::bytesFromText(path).toStdString(),
                         remote::RemoteTree::image(node) != QLatin1String("leaf"), node->details()});
    }
    transfer::Batch batch(w.m_internet, w.hConnection, w.m_ui, &w, w.m_calls.batchWatcher(), w.dwType);
    const transfer::BatchResult result = batch.download(items, net::bytesFromText(localFolder).toStdString());
    w.Dir1->setPath(w.Dir1->Path());  // new folders and files show; the file list follows
    tell(result);
}

void WindowBatch::upload(const QStringList& localPaths, const QString& nodeText)
{
    fmKESTRIX& w = m_window;
    std::vector<std::filesystem::path> local;
    for (const QString& path : localPaths)
        local.emplace_back(net::bytesFromText(QDir::cleanPath(path)).toStdString());
    const QString folder = remote::serverPathFor(nodeText, w.m_rootKey, w.m_loginFolder);
    transfer::Batch batch(w.m_internet, w.hConnection, w.m_ui, &w, w.m_calls.batchWatcher(), w.dwType);
    const transfer::BatchResult result = batch.upload(local, net::bytesFromText(folder).toStdString());
    w.relistFolder(nodeText);
    tell(result);
}

// The whole list goes in the box's details; a program that is ending shows no box.
void WindowBatch::tell(const transfer::BatchResult& result)
{
    const QString notice = result.notice();
    if (notice.isEmpty())
        return;
    if (m_window.m_calls.ending())
        m_window.tellUser(notice);
    else
        m_window.m_ui.MsgBox(&m_window, notice, ui::MsgStyle::OkOnly, result.problems.join(QLatin1Char('\n')));
}

}  // namespace app
