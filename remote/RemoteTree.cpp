#include "remote/RemoteTree.h"

#include <QApplication>
#include <QElapsedTimer>
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
    : QTreeView(parent)
{
    auto* style = new BranchLineStyle;
    style->setParent(this);
    setStyle(style);

    setModel(&m_model);
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

RemoteTree::~RemoteTree()
{
    setModel(nullptr);  // the model goes before the view's base
}

void RemoteTree::setImageList(const ImageList* images)
{
    m_images = images;
    if (images)
        m_model.setDecoration([images](const QString& key) { return QVariant(images->icon(key)); });
    else
        m_model.setDecoration({});
    viewport()->update();
}

Node* RemoteTree::addRoot(const QString& key, const QString& image)
{
    return m_model.addRoot(key, image);
}

Node* RemoteTree::addChild(const QString& parentKey, const QString& key, const QString& image)
{
    const std::vector<Node*> added = m_model.addChildren(find(parentKey), {{key, image}});
    return added.empty() ? nullptr : added.front();
}

int RemoteTree::addChildren(const QString& parentKey, const QList<NodeSpec>& nodes)
{
    return madeVisible(m_model.addChildren(find(parentKey), nodes));
}

int RemoteTree::addChildren(const QString& parentKey, qsizetype count,
                            const std::function<ChildEntry(qsizetype)>& entry)
{
    return madeVisible(m_model.addChildren(find(parentKey), count, entry));
}

int RemoteTree::madeVisible(const std::vector<Node*>& added)
{
    if (!added.empty())
        makeVisible(added.back());
    return int(added.size());
}

void RemoteTree::makeVisible(Node* node)
{
    if (!node)
        return;
    for (Node* up = node->parent(); up; up = up->parent())
        expand(indexOf(up));
    scrollTo(indexOf(node));
}

bool RemoteTree::remove(const QString& key)
{
    Node* node = find(key);
    if (!node)
        return false;
    m_model.remove(node);
    return true;
}

void RemoteTree::removeChildren(Node* node)
{
    m_model.removeChildren(node);
}

void RemoteTree::clearNodes()
{
    m_model.clear();
}

void RemoteTree::setImage(Node* node, const QString& imageKey)
{
    m_model.setImage(node, imageKey);
    if (imageKey == QLatin1String("open"))
        expand(indexOf(node));
    else if (imageKey == QLatin1String("closed"))
        collapse(indexOf(node));
}

void RemoteTree::keyboardSearch(const QString& search)
{
    if (search.isEmpty() || m_model.topLevelCount() == 0)
        return;
    if (!m_typedAt.isValid() || m_typedAt.elapsed() > QApplication::keyboardInputInterval())
        m_typed.clear();
    m_typedAt.start();
    m_typed += search;
    const bool sameLetter = m_typed.count(m_typed.front()) == m_typed.size();
    const QString prefix = sameLetter ? m_typed.left(1) : m_typed;

    QModelIndex at = currentIndex().isValid() ? currentIndex() : m_model.index(0, 0);
    const auto next = [this](const QModelIndex& i) {
        const QModelIndex below = indexBelow(i);
        return below.isValid() ? below : m_model.index(0, 0);  // wraps round
    };
    if (sameLetter && currentIndex().isValid())
        at = next(at);  // a fresh letter, or the same again: starts after the current node
    for (int seen = 0; seen <= m_model.nodeCount() && at.isValid(); ++seen, at = next(at)) {
        if (RemoteTreeModel::nodeAt(at)->name().startsWith(prefix, Qt::CaseInsensitive)) {
            setCurrentIndex(at);
            return;
        }
    }
}

Node* RemoteTree::selectedNode() const
{
    const QModelIndexList selected = selectionModel()->selectedRows();
    return selected.isEmpty() ? nullptr : RemoteTreeModel::nodeAt(selected.constFirst());
}

void RemoteTree::setCurrentItem(Node* node)
{
    setCurrentIndex(indexOf(node));
}

void RemoteTree::setSelected(Node* node, bool selected)
{
    selectionModel()->select(indexOf(node), (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect)
                                                | QItemSelectionModel::Rows);
}

QIcon RemoteTree::icon(const Node* node) const
{
    return m_model.data(indexOf(node), Qt::DecorationRole).value<QIcon>();
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
    QTreeView::keyPressEvent(event);
}

void RemoteTree::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTreeView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit DblClick();
}

}  // namespace remote
