#include "remote/RemoteTree.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>

#include "remote/ImageList.h"

namespace remote {

namespace {

constexpr int kImageRole = Qt::UserRole;

// Folder state shows only through the node pictures: the branch area gets
// dotted connecting lines, drawn here so that every style shows them, and
// never an expand button. Everything else is left to the application style.
class BranchLineStyle : public QProxyStyle {
public:
    BranchLineStyle()
        : QProxyStyle(QStyleFactory::create(QApplication::style()->name()))
    {
    }

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        if (element != PE_IndicatorBranch || !option) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        const QRect& r = option->rect;
        const int midH = r.x() + r.width() / 2;
        const int midV = r.y() + r.height() / 2;
        const QBrush dots(option->palette.dark().color(), Qt::Dense4Pattern);
        if (option->state & State_Item) {
            if (option->direction == Qt::RightToLeft)
                painter->fillRect(r.left(), midV, midH - r.left(), 1, dots);
            else
                painter->fillRect(midH, midV, r.right() - midH + 1, 1, dots);
        }
        if (option->state & State_Sibling)
            painter->fillRect(midH, midV, 1, r.bottom() - midV + 1, dots);
        if (option->state & (State_Item | State_Sibling))
            painter->fillRect(midH, r.y(), 1, midV - r.y(), dots);
    }
};

}  // namespace

RemoteTree::RemoteTree(QWidget* parent)
    : QTreeWidget(parent)
{
    auto* style = new BranchLineStyle;
    style->setParent(this);
    setStyle(style);

    setColumnCount(1);
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setUniformRowHeights(true);
    setSortingEnabled(false);
    setAnimated(false);
    setAllColumnsShowFocus(true);
    // A node's text is its whole path: never cut, scrolled sideways instead.
    setTextElideMode(Qt::ElideNone);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
}

RemoteTree::~RemoteTree() = default;

void RemoteTree::setImageList(const ImageList* images)
{
    m_images = images;
    for (QTreeWidgetItem* item : std::as_const(m_index))
        item->setIcon(0, m_images ? m_images->icon(image(item)) : QIcon());
}

QTreeWidgetItem* RemoteTree::makeItem(const QString& key, const QString& image) const
{
    auto* item = new QTreeWidgetItem;
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    item->setText(0, key);
    item->setData(0, kImageRole, image);
    if (m_images)
        item->setIcon(0, m_images->icon(image));
    return item;
}

QTreeWidgetItem* RemoteTree::addRoot(const QString& key, const QString& image)
{
    if (m_index.contains(key))
        return nullptr;
    QTreeWidgetItem* item = makeItem(key, image);
    addTopLevelItem(item);
    m_index.insert(key, item);
    return item;
}

QTreeWidgetItem* RemoteTree::addChild(const QString& parentKey, const QString& key,
                                      const QString& image)
{
    QTreeWidgetItem* parent = find(parentKey);
    if (!parent || m_index.contains(key))
        return nullptr;
    QTreeWidgetItem* item = makeItem(key, image);
    parent->addChild(item);
    m_index.insert(key, item);
    return item;
}

int RemoteTree::addChildren(const QString& parentKey, const QList<NodeSpec>& nodes)
{
    QTreeWidgetItem* parent = find(parentKey);
    if (!parent || nodes.isEmpty())
        return 0;

    QList<QTreeWidgetItem*> items;
    items.reserve(nodes.size());
    m_index.reserve(m_index.size() + nodes.size());
    for (const NodeSpec& node : nodes) {
        if (m_index.contains(node.first))
            continue;
        QTreeWidgetItem* item = makeItem(node.first, node.second);
        m_index.insert(node.first, item);
        items.append(item);
    }
    if (items.isEmpty())
        return 0;
    parent->addChildren(items);
    makeVisible(items.constLast());
    return int(items.size());
}

void RemoteTree::makeVisible(QTreeWidgetItem* item)
{
    if (!item)
        return;
    for (QTreeWidgetItem* up = item->parent(); up; up = up->parent())
        up->setExpanded(true);
    scrollToItem(item);
}

void RemoteTree::unindexSubtree(QTreeWidgetItem* item)
{
    QList<QTreeWidgetItem*> pending{item};
    while (!pending.isEmpty()) {
        QTreeWidgetItem* node = pending.takeLast();
        m_index.remove(node->text(0));
        for (int i = 0, n = node->childCount(); i < n; ++i)
            pending.append(node->child(i));
    }
}

bool RemoteTree::remove(const QString& key)
{
    QTreeWidgetItem* item = find(key);
    if (!item)
        return false;
    unindexSubtree(item);
    delete item;  // takes its subtree with it
    return true;
}

void RemoteTree::removeChildren(QTreeWidgetItem* item)
{
    if (!item)
        return;
    // One model removal for all children; deleting them after taking them is cheap.
    const QList<QTreeWidgetItem*> children = item->takeChildren();
    for (QTreeWidgetItem* child : children) {
        unindexSubtree(child);
        delete child;
    }
}

void RemoteTree::clearNodes()
{
    m_index.clear();
    clear();
}

QString RemoteTree::text(const QTreeWidgetItem* item)
{
    return item ? item->text(0) : QString();
}

QString RemoteTree::image(const QTreeWidgetItem* item)
{
    return item ? item->data(0, kImageRole).toString() : QString();
}

void RemoteTree::setImage(QTreeWidgetItem* item, const QString& imageKey)
{
    if (!item)
        return;
    item->setData(0, kImageRole, imageKey);
    item->setIcon(0, m_images ? m_images->icon(imageKey) : QIcon());
}

QTreeWidgetItem* RemoteTree::selectedNode() const
{
    const QList<QTreeWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? nullptr : selected.constFirst();
}

int RemoteTree::childCount(const QTreeWidgetItem* item)
{
    return item ? item->childCount() : 0;
}

void RemoteTree::keyPressEvent(QKeyEvent* event)
{
    // Return and Enter act as a double-click on the selected node; Right
    // opens a closed folder and Left closes an open one, as a double-click would.
    const QString kind = image(selectedNode());
    const int key = event->key();
    const bool acts = key == Qt::Key_Return || key == Qt::Key_Enter
                      || (key == Qt::Key_Right && kind == QLatin1String("closed"))
                      || (key == Qt::Key_Left && kind == QLatin1String("open"));
    if (acts && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        event->accept();
        emit DblClick();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void RemoteTree::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTreeWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit DblClick();
}

}  // namespace remote
