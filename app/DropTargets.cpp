#include "app/DropTargets.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "app/fmKESTRIX.h"
#include "remote/RemoteTree.h"
#include "transfer/DirList.h"
#include "transfer/FileList.h"

namespace app {

DropTargets::DropTargets(fmKESTRIX& window) : m_window(window)
{
    for (QAbstractItemView* view : std::initializer_list<QAbstractItemView*>{window.TreeView1, window.File1, window.Dir1}) {
        view->viewport()->setAcceptDrops(true);
        view->viewport()->installEventFilter(this);
    }
}

bool DropTargets::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::DragEnter && event->type() != QEvent::DragMove && event->type() != QEvent::Drop)
        return false;
    auto* drop = static_cast<QDropEvent*>(event);
    const QPoint at = drop->position().toPoint();
    QString target;  // the server node or local folder the drop goes to; empty: refused
    QStringList what;
    if (watched == m_window.TreeView1->viewport()) {
        const remote::Node* node = m_window.TreeView1->itemAt(at);
        if (node && remote::RemoteTree::image(node) != QLatin1String("leaf"))
            target = remote::RemoteTree::text(node);
        for (const QUrl& url : drop->mimeData()->urls())
            if (url.isLocalFile())
                what << url.toLocalFile();
    } else {
        what = remote::RemoteTreeModel::nodePaths(drop->mimeData());
        target = m_window.File1->Path();
        if (watched == m_window.Dir1->viewport())
            if (const QListWidgetItem* item = m_window.Dir1->itemAt(at))
                target = item->data(transfer::DirList::PathRole).toString();
    }
    if (target.isEmpty() || what.isEmpty() || !m_window.bConnected) {
        drop->ignore();
        return true;
    }
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (event->type() == QEvent::Drop) {
        if (watched == m_window.TreeView1->viewport())
            m_window.TreeView1_Drop(what, target);
        else
            m_window.LocalList_Drop(what, target);
    }
    return true;
}

}  // namespace app
