#include "transfer/FileList.h"

#include "transfer/LocalLists.h"

#include <QDir>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>

namespace transfer {

FileList::FileList(QWidget* parent)
    : QListWidget(parent)
{
    setDragEnabled(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);  // Ctrl- and Shift-click, Ctrl+A
    connect(this, &QListWidget::itemDoubleClicked, this, [this] { emit DblClick(); });
    if (!setPath(QDir::currentPath()))
        m_path = normalFolder(QDir::currentPath());
}

bool FileList::setPath(const QString& path)
{
    const QString folder = normalFolder(path);
    if (!isReadableFolder(folder))
        return false;
    m_path = folder;
    fill(fileNames(folder));
    return true;
}

void FileList::fill(const QStringList& names)
{
    clear();
    addItems(names);
    setCurrentRow(-1);
    clearSelection();
}

QString FileList::FileName() const
{
    const QList<QListWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

bool FileList::setFileName(const QString& name)
{
    if (!name.isEmpty()) {
        const QList<QListWidgetItem*> found = findItems(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (!found.isEmpty()) {
            clearSelection();  // the named file alone, whatever was selected with it
            setCurrentItem(found.first());
            found.first()->setSelected(true);
            return true;
        }
    }
    setCurrentRow(-1);
    clearSelection();
    return false;
}

void FileList::Refresh()
{
    const QString selected = FileName();
    // A folder that vanished shows empty rather than its stale files.
    fill(isReadableFolder(m_path) ? fileNames(m_path) : QStringList());
    if (!selected.isEmpty())
        setFileName(selected);
}

QMimeData* FileList::mimeData(const QList<QListWidgetItem*>& items) const
{
    QList<QUrl> urls;
    for (const QListWidgetItem* item : items)
        urls << QUrl::fromLocalFile(QDir(m_path).filePath(item->text()));
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}

void FileList::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !FileName().isEmpty()) {
        event->accept();
        emit DblClick();
        return;
    }
    QListWidget::keyPressEvent(event);
}

}  // namespace transfer
