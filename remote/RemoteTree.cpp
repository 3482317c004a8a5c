#include "remote/RemoteTree.h"

#include <QApplication>
#include <QDateTime>
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
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragEnabled(true);  // nodes drag onto the local lists  // Ctrl- and Shift-click, Ctrl+A
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setUniformRowHeights(true);
    setAnimated(false);
    setAllColumnsShowFocus(true);
    // Names and details are never cut: the columns scroll sideways instead.
    setTextElideMode(Qt::ElideNone);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // A click on a column sorts by it, a second click the other way round, a third
    // gives back the server's order, which is where the tree starts.
    header()->setSortIndicatorClearable(true);
    header()->setSortIndicator(-1, Qt::AscendingOrder);
    setSortingEnabled(true);
}

RemoteTree::~RemoteTree()
{
    setModel(nullptr);  // the model goes before the view's base
}

void RemoteTree::setImageList(const ImageList* images)
{
    m_images = images;
    m_linkIcons.clear();
    if (images)
        m_model.setDecoration([this](const QString& key, bool link) { return QVariant(icon(key, link)); });
    else
        m_model.setDecoration({});
    viewport()->update();
}

// A link's picture carries an arrow in its lower left corner; made when first shown.
QIcon RemoteTree::icon(const QString& key, bool link) const
{
    if (!link || !m_images->contains(key))
        return m_images->icon(key);
    QIcon& marked = m_linkIcons[key];
    if (marked.isNull()) {
        QPixmap picture = m_images->pixmap(key);
        QPainter painter(&picture);
        const int side = std::max(6, picture.height() / 2);
        const QRect box(0, picture.height() - side, side, side);
        painter.fillRect(box, Qt::white);
        painter.setPen(Qt::black);
        painter.drawRect(box.adjusted(0, 0, -1, -1));
        const QPoint tip(box.right() - 1, box.top() + 1);
        painter.drawLine(QPoint(box.left() + 1, box.bottom() - 1), tip);
        painter.drawLine(tip, tip + QPoint(-side / 2 + 1, 0));
        painter.drawLine(tip, tip + QPoint(0, side / 2 - 1));
        marked = QIcon(picture);
    }
    return marked;
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

// A size, time or permission text is never wider than the widest of its kind, which
// is measured here instead of the rows themselves: a thousand rows at every change
// would double the time a large folder takes to open.
int RemoteTree::sizeHintForColumn(int column) const
{
    if (column == RemoteTreeModel::NameColumn)
        return QTreeView::sizeHintForColumn(column);
    QStringList widest;
    const QLocale locale;
    if (column == RemoteTreeModel::SizeColumn) {
        widest << locale.formattedDataSize(1023, 1);
        for (qint64 unit = 1024; unit > 0 && unit <= std::numeric_limits<qint64>::max() / 1024; unit *= 1024)
            widest << locale.formattedDataSize(unit * 1023 + unit / 10 * 9, 1);
    } else if (column == RemoteTreeModel::ModifiedColumn) {
        for (int month = 1; month <= 12; ++month) {
            EntryDetails details;  // 22:58:58 on the 28th, in each month's name
            const QDateTime when(QDate(2088, month, 28), QTime(22, 58, 58));
            details.lastWrite = (when.toMSecsSinceEpoch() + 11644473600000LL) * 10000;
            widest << modifiedText(details, locale);
        }
    } else {
        widest << permissionText(0777);
    }
    int width = 0;
    for (const QString& text : widest)
        width = std::max(width, fontMetrics().horizontalAdvance(text));
    return width + 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1);
}

Node* RemoteTree::selectedNode() const
{
    // Among several selected rows, the one the user last clicked or moved to (a right-click
    // on a selected row makes it current without changing the selection).
    if (selectionModel()->isRowSelected(currentIndex().row(), currentIndex().parent()))
        return RemoteTreeModel::nodeAt(currentIndex());
    const QModelIndexList selected = selectionModel()->selectedRows();
    return selected.isEmpty() ? nullptr : RemoteTreeModel::nodeAt(selected.constFirst());
}

void RemoteTree::setCurrentItem(Node* node)
{
    setCurrentIndex(indexOf(node));
}

void RemoteTree::focusNode(Node* node)
{
    if (!node)
        return;
    setCurrentItem(node);
    setFocus(Qt::OtherFocusReason);
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
