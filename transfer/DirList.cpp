#include "transfer/DirList.h"

#include "transfer/LocalLists.h"
#include "transfer/MountTable.h"

#include <QDir>
#include <QKeyEvent>
#include <QMimeData>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QUrl>

namespace transfer {

namespace {

// Shifts each row right by its level, so the chain reads like a path.
class IndentDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    static constexpr int Step = 12;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        QStyleOptionViewItem shifted(option);
        shifted.rect.setLeft(shifted.rect.left() + index.data(DirList::LevelRole).toInt() * Step);
        QStyledItemDelegate::paint(painter, shifted, index);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.rwidth() += index.data(DirList::LevelRole).toInt() * Step;
        return size;
    }
};

}  // namespace

DirList::DirList(QWidget* parent)
    : DirList(systemDrives(), parent)
{
}

DirList::DirList(const QStringList& mountPoints, QWidget* parent)
    : QListWidget(parent)
{
    for (const QString& point : mountPoints)
        m_mountPoints.append(normalFolder(point));
    setDragEnabled(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setItemDelegate(new IndentDelegate(this));
    connect(this, &QListWidget::itemDoubleClicked, this, &DirList::openItem);
    // No Change at construction: nothing is connected yet.
    const QString start = normalFolder(QDir::currentPath());
    if (!setPath(start))
        setPath(QStringLiteral("/"));
}

bool DirList::setPath(const QString& path)
{
    const QString folder = normalFolder(path);
    if (!isReadableFolder(folder))
        return false;
    m_path = folder;
    m_top = volumeOf(m_mountPoints, folder);

    clear();
    const QStringList chain = folderChain(m_top, folder);
    for (int level = 0; level < chain.size(); ++level) {
        const QString& step = chain.at(level);
        addFolder(level == 0 ? step : QDir(step).dirName(), step, level, true);
    }
    setCurrentRow(chain.size() - 1);
    if (QListWidgetItem* open = item(int(chain.size()) - 1)) {
        // The open folder stays marked when a click highlights another one.
        QFont bold;  // sets the weight alone: the list's own font gives the rest
        bold.setBold(true);
        open->setFont(bold);
    }
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    for (const QString& name : subfolderNames(folder))
        addFolder(name, prefix + name, int(chain.size()), false);

    emit Change();
    return true;
}

void DirList::addFolder(const QString& text, const QString& path, int level, bool open)
{
    auto* item = new QListWidgetItem(
        style()->standardIcon(open ? QStyle::SP_DirOpenIcon : QStyle::SP_DirClosedIcon), text, this);
    item->setData(PathRole, path);
    item->setData(LevelRole, level);
    item->setToolTip(path);
}

bool DirList::openItem(QListWidgetItem* item)
{
    if (!item)
        return false;
    return setPath(item->data(PathRole).toString());
}

QMimeData* DirList::mimeData(const QList<QListWidgetItem*>& items) const
{
    QList<QUrl> urls;
    for (const QListWidgetItem* item : items)
        urls << QUrl::fromLocalFile(item->data(PathRole).toString());
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}

void DirList::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        openItem(currentItem());
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

}  // namespace transfer
