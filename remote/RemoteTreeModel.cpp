#include "remote/RemoteTreeModel.h"

#include <QDataStream>
#include <QIODevice>
#include <QStringList>
#include <QMimeData>

#include <algorithm>
#include <functional>
#include <new>
#include <optional>

namespace remote {

namespace {

constexpr std::uint32_t kSeed = 2166136261u;

// A node's image key is its kind; other keys are not kept.
constexpr QLatin1StringView kImages[] = {QLatin1StringView("root"), QLatin1StringView("closed"),
                                         QLatin1StringView("open"), QLatin1StringView("leaf")};
constexpr std::uint8_t kClosed = 1;
constexpr std::uint8_t kOpen = 2;

// FNV-1a over UTF-16 units, so that a path's hash is its parent's extended.
std::uint32_t extend(std::uint32_t hash, QStringView text)
{
    for (const QChar c : text)
        hash = (hash ^ c.unicode()) * 16777619u;
    return hash;
}

std::size_t home(std::uint32_t hash, std::size_t mask)
{
    std::uint32_t h = hash;
    h ^= h >> 16;
    h *= 0x85ebca6bu;
    h ^= h >> 13;
    return h & mask;
}

bool fitsLatin1(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 256; });
}

template <typename T>
int compared(T a, T b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

// ---- Node ----------------------------------------------------------------------

// A node is about a tenth of a folder's memory: what it adds must fit in here.
static_assert(sizeof(Node) <= 72);

Node::Node(Node* parent, std::uint32_t hash, QStringView name, bool wide, std::uint8_t image,
           const EntryDetails& details, std::uint32_t arrival)
    : m_parent(parent), m_size(details.size), m_lastWrite(details.lastWrite), m_hash(hash),
      m_length(std::uint32_t(name.size())), m_arrival(arrival), m_mode(details.mode), m_image(image),
      m_flags(std::uint8_t((wide ? kWide : 0) | (details.dayOnly ? kDayOnly : 0) | (details.link ? kLink : 0)))
{
    if (wide) {
        std::copy(name.utf16(), name.utf16() + name.size(), const_cast<char16_t*>(utf16()));
    } else {
        char* out = const_cast<char*>(latin1());
        for (const QChar c : name)
            *out++ = char(c.unicode());
    }
}

Node::~Node() = default;

Node* Node::create(Node* parent, std::uint32_t hash, QStringView name, std::uint8_t image,
                   const EntryDetails& details, std::uint32_t arrival)
{
    const bool wide = !fitsLatin1(name);
    void* memory = ::operator new(sizeof(Node) + std::size_t(name.size()) * (wide ? 2 : 1));
    return new (memory) Node(parent, hash, name, wide, image, details, arrival);
}

void Node::destroy(Node* node)
{
    node->~Node();
    ::operator delete(node);
}

QString Node::name() const
{
    return nameView().toString();
}

QAnyStringView Node::nameView() const
{
    return wide() ? QAnyStringView(QStringView(utf16(), qsizetype(m_length)))
                  : QAnyStringView(QLatin1StringView(latin1(), qsizetype(m_length)));
}

EntryDetails Node::details() const
{
    return {m_size, m_lastWrite, m_mode, bool(m_flags & kDayOnly), bool(m_flags & kLink)};
}

QString Node::path() const
{
    qsizetype length = 0;
    for (const Node* n = this; n; n = n->m_parent)
        length += qsizetype(n->m_length) + (n->m_parent ? 1 : 0);
    QString out(length, Qt::Uninitialized);
    QChar* end = out.data() + length;
    for (const Node* n = this; n; n = n->m_parent) {
        end -= n->m_length;
        if (n->wide()) {
            std::copy(n->utf16(), n->utf16() + n->m_length, reinterpret_cast<char16_t*>(end));
        } else {
            for (std::uint32_t i = 0; i < n->m_length; ++i)
                end[i] = QLatin1Char(n->latin1()[i]);
        }
        if (n->m_parent)
            *--end = QLatin1Char('/');
    }
    return out;
}

// What is left of `path` once this node's own name is taken off its end;
// nothing when the path does not end with the name.
std::optional<QStringView> Node::withoutOwnName(QStringView path) const
{
    if (std::size_t(path.size()) < m_length)
        return std::nullopt;
    const QStringView tail = path.right(qsizetype(m_length));
    const bool same = wide() ? tail == QStringView(utf16(), qsizetype(m_length))
                             : tail == QLatin1StringView(latin1(), qsizetype(m_length));
    if (!same)
        return std::nullopt;
    return path.chopped(qsizetype(m_length));
}

bool Node::nameEquals(QStringView name) const
{
    return std::size_t(name.size()) == m_length && withoutOwnName(name);
}

bool Node::pathEquals(QStringView path) const
{
    for (const Node* n = this;; n = n->m_parent) {
        const std::optional<QStringView> rest = n->withoutOwnName(path);
        if (!rest)
            return false;
        if (!n->m_parent)
            return rest->isEmpty();
        if (rest->isEmpty() || rest->back() != QLatin1Char('/'))
            return false;
        path = rest->chopped(1);
    }
}

// ---- Model -----------------------------------------------------------------------

RemoteTreeModel::RemoteTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

RemoteTreeModel::~RemoteTreeModel()
{
    for (Node* top : m_top.children)
        destroySubtree(top);
}

void RemoteTreeModel::setDecoration(std::function<QVariant(const QString& imageKey, bool link)> decoration)
{
    m_decoration = std::move(decoration);  // rows ask for their pictures whenever they are painted
}

std::uint8_t RemoteTreeModel::imageIndex(QStringView key)
{
    const auto at = std::find(std::begin(kImages), std::end(kImages), key);
    return std::uint8_t(at - std::begin(kImages));  // past the four: no picture
}

QString RemoteTreeModel::image(const Node* node)
{
    return node && node->m_image < std::size(kImages) ? QString(kImages[node->m_image]) : QString();
}

void RemoteTreeModel::setImage(Node* node, const QString& imageKey)
{
    if (!node)
        return;
    node->m_image = imageIndex(imageKey);
    const QModelIndex at = indexOf(node);
    emit dataChanged(at, at);
}

// ---- index -----------------------------------------------------------------------

void RemoteTreeModel::growIndex(std::size_t count)
{
    std::size_t size = std::max<std::size_t>(64, m_slots.size());
    while (size < count * 2)
        size *= 2;
    if (size == m_slots.size())
        return;
    std::vector<Node*> old(size, nullptr);
    old.swap(m_slots);
    const std::size_t mask = m_slots.size() - 1;
    for (Node* node : old) {
        if (!node)
            continue;
        std::size_t i = home(node->m_hash, mask);
        while (m_slots[i])
            i = (i + 1) & mask;
        m_slots[i] = node;
    }
}

void RemoteTreeModel::indexInsert(Node* node)
{
    if ((m_count + 1) * 2 > m_slots.size())
        growIndex(m_count + 1);
    const std::size_t mask = m_slots.size() - 1;
    std::size_t i = home(node->m_hash, mask);
    while (m_slots[i])
        i = (i + 1) & mask;
    m_slots[i] = node;
    ++m_count;
}

void RemoteTreeModel::indexErase(Node* node)
{
    const std::size_t mask = m_slots.size() - 1;
    std::size_t i = home(node->m_hash, mask);
    while (m_slots[i] != node) {
        if (!m_slots[i])
            return;
        i = (i + 1) & mask;
    }
    m_slots[i] = nullptr;
    --m_count;
    // Moves back the entries after the hole that would no longer be reached.
    for (std::size_t j = (i + 1) & mask; m_slots[j]; j = (j + 1) & mask) {
        const std::size_t k = home(m_slots[j]->m_hash, mask);
        const bool movable = i <= j ? (k <= i || k > j) : (k <= i && k > j);
        if (movable) {
            m_slots[i] = m_slots[j];
            m_slots[j] = nullptr;
            i = j;
        }
    }
}

Node* RemoteTreeModel::find(QStringView key) const
{
    if (m_slots.empty())
        return nullptr;
    const std::uint32_t hash = extend(kSeed, key);
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = home(hash, mask); m_slots[i]; i = (i + 1) & mask) {
        if (m_slots[i]->m_hash == hash && m_slots[i]->pathEquals(key))
            return m_slots[i];
    }
    return nullptr;
}

void RemoteTreeModel::unindexSubtree(Node* node)
{
    std::vector<Node*> pending{node};
    while (!pending.empty()) {
        Node* n = pending.back();
        pending.pop_back();
        indexErase(n);
        pending.insert(pending.end(), n->m_children.begin(), n->m_children.end());
    }
}

void RemoteTreeModel::destroySubtree(Node* node)
{
    std::vector<Node*> pending{node};
    while (!pending.empty()) {
        Node* n = pending.back();
        pending.pop_back();
        pending.insert(pending.end(), n->m_children.begin(), n->m_children.end());
        Node::destroy(n);
    }
}

// ---- changes ---------------------------------------------------------------------

Node* RemoteTreeModel::addRoot(const QString& key, const QString& image)
{
    if (find(key))
        return nullptr;
    const int row = m_top.childCount();
    beginInsertRows({}, row, row);
    Node* node = Node::create(nullptr, extend(kSeed, key), key, imageIndex(image), {}, m_arrivals++);
    node->m_row = row;
    m_top.children.push_back(node);
    indexInsert(node);
    endInsertRows();
    return node;
}

std::vector<Node*> RemoteTreeModel::addChildren(Node* parent, const QList<QPair<QString, QString>>& nodes)
{
    if (!parent)
        return {};
    const QString prefix = parent->path() + QLatin1Char('/');
    std::vector<ChildEntry> entries;
    entries.reserve(std::size_t(nodes.size()));
    for (const auto& [key, image] : nodes) {
        // A key that is not the parent's path, "/" and a name cannot be a child of it.
        if (key.startsWith(prefix))
            entries.push_back({QStringView(key).mid(prefix.size()), image});
    }
    return addChildren(parent, qsizetype(entries.size()), [&entries](qsizetype i) { return entries[std::size_t(i)]; });
}

std::vector<Node*> RemoteTreeModel::addChildren(Node* parent, qsizetype count,
                                                const std::function<ChildEntry(qsizetype)>& entry)
{
    std::vector<Node*> added;
    if (!parent || count <= 0)
        return added;
    const std::uint32_t parentHash = extend(parent->m_hash, u"/");
    added.reserve(std::size_t(count));
    growIndex(m_count + std::size_t(count));  // once, for the whole batch
    int row = parent->childCount();
    for (qsizetype i = 0; i < count; ++i) {
        const ChildEntry e = entry(i);
        const std::uint32_t hash = extend(parentHash, e.name);
        if (findChild(parent, hash, e.name))
            continue;  // taken, in the tree or earlier in this batch
        Node* node = Node::create(parent, hash, e.name, imageIndex(e.image), e.details, m_arrivals++);
        node->m_row = row++;
        indexInsert(node);
        added.push_back(node);
    }
    if (added.empty())
        return added;
    beginInsertRows(indexOf(parent), parent->childCount(), parent->childCount() + int(added.size()) - 1);
    parent->m_children.insert(parent->m_children.end(), added.begin(), added.end());
    endInsertRows();
    if (m_sortColumn >= 0)
        reorder({parent});
    return added;
}

Node* RemoteTreeModel::findChild(const Node* parent, std::uint32_t hash, QStringView name) const
{
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = home(hash, mask); m_slots[i]; i = (i + 1) & mask) {
        Node* n = m_slots[i];
        if (n->m_hash == hash && n->m_parent == parent && n->nameEquals(name))
            return n;
    }
    return nullptr;
}

void RemoteTreeModel::remove(Node* node)
{
    if (!node)
        return;
    std::vector<Node*>& siblings = node->m_parent ? node->m_parent->m_children : m_top.children;
    const int row = node->m_row;
    beginRemoveRows(node->m_parent ? indexOf(node->m_parent) : QModelIndex(), row, row);
    unindexSubtree(node);
    siblings.erase(siblings.begin() + row);
    for (std::size_t i = std::size_t(row); i < siblings.size(); ++i)
        siblings[i]->m_row = int(i);
    destroySubtree(node);
    endRemoveRows();
}

void RemoteTreeModel::removeChildren(Node* node)
{
    if (!node || node->m_children.empty())
        return;
    beginRemoveRows(indexOf(node), 0, node->childCount() - 1);
    std::vector<Node*> children;
    children.swap(node->m_children);
    for (Node* child : children) {
        unindexSubtree(child);
        destroySubtree(child);
    }
    endRemoveRows();
}

void RemoteTreeModel::clear()
{
    beginResetModel();
    for (Node* top : m_top.children)
        destroySubtree(top);
    m_top.children.clear();
    m_slots.clear();
    m_count = 0;
    endResetModel();
}

// ---- order -------------------------------------------------------------------------

bool RemoteTreeModel::shownBefore(const Node* a, const Node* b) const
{
    int c = 0;
    switch (m_sortColumn) {
    case NameColumn:
        c = QAnyStringView::compare(a->nameView(), b->nameView(), Qt::CaseInsensitive);
        if (c == 0)
            c = QAnyStringView::compare(a->nameView(), b->nameView(), Qt::CaseSensitive);
        break;
    case SizeColumn:  // folders, which show no size, come before files
        c = compared(std::pair(a->m_image != kClosed && a->m_image != kOpen, a->m_size),
                     std::pair(b->m_image != kClosed && b->m_image != kOpen, b->m_size));
        break;
    case ModifiedColumn:
        c = compared(a->m_lastWrite, b->m_lastWrite);
        break;
    case PermissionsColumn:
        c = compared(a->m_mode, b->m_mode);
        break;
    default:
        break;
    }
    if (c == 0)
        return a->m_arrival < b->m_arrival;  // equals keep the server's order
    return m_sortOrder == Qt::AscendingOrder ? c < 0 : c > 0;
}

void RemoteTreeModel::order(std::vector<Node*>& siblings) const
{
    std::sort(siblings.begin(), siblings.end(), [this](const Node* a, const Node* b) { return shownBefore(a, b); });
    for (std::size_t i = 0; i < siblings.size(); ++i)
        siblings[i]->m_row = int(i);
}

void RemoteTreeModel::reorder(const std::vector<Node*>& parents)
{
    QList<QPersistentModelIndex> hint;
    for (const Node* parent : parents)
        hint.append(indexOf(parent));
    emit layoutAboutToBeChanged(hint, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    if (parents.empty()) {
        std::vector<std::vector<Node*>*> pending{&m_top.children};
        while (!pending.empty()) {
            std::vector<Node*>& siblings = *pending.back();
            pending.pop_back();
            order(siblings);
            for (Node* n : siblings) {
                if (!n->m_children.empty())
                    pending.push_back(&n->m_children);
            }
        }
    }
    for (Node* parent : parents)
        order(parent->m_children);
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& at : before)
        after.append(createIndex(nodeAt(at)->m_row, at.column(), nodeAt(at)));
    changePersistentIndexList(before, after);
    emit layoutChanged(hint, QAbstractItemModel::VerticalSortHint);
}

void RemoteTreeModel::sort(int column, Qt::SortOrder order)
{
    m_sortColumn = column >= 0 && column < ColumnCount ? column : -1;
    m_sortOrder = order;
    reorder({});
}

// ---- the item model ----------------------------------------------------------------

QModelIndex RemoteTreeModel::indexOf(const Node* node) const
{
    return node ? createIndex(node->m_row, 0, const_cast<Node*>(node)) : QModelIndex();
}

Node* RemoteTreeModel::nodeAt(const QModelIndex& index)
{
    return index.isValid() ? static_cast<Node*>(index.internalPointer()) : nullptr;
}

QModelIndex RemoteTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column < 0 || column >= ColumnCount || parent.column() > 0)
        return {};
    Node* child = parent.isValid() ? nodeAt(parent)->child(row) : m_top.child(row);
    return child ? createIndex(row, column, child) : QModelIndex();
}

QModelIndex RemoteTreeModel::parent(const QModelIndex& child) const
{
    const Node* node = nodeAt(child);
    return node ? indexOf(node->m_parent) : QModelIndex();
}

int RemoteTreeModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return m_top.childCount();
    return parent.column() == 0 ? nodeAt(parent)->childCount() : 0;
}

int RemoteTreeModel::columnCount(const QModelIndex&) const
{
    return ColumnCount;
}

bool RemoteTreeModel::hasChildren(const QModelIndex& parent) const
{
    // A folder has entries to show even while closed: a screen reader says it can be expanded.
    const Node* node = nodeAt(parent);
    return rowCount(parent) > 0 ||
           (node && parent.column() == 0 && (node->m_image == kClosed || node->m_image == kOpen));
}

QVariant RemoteTreeModel::data(const QModelIndex& index, int role) const
{
    const Node* node = nodeAt(index);
    if (!node)
        return {};
    const bool folder = node->m_image == kClosed || node->m_image == kOpen;
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        if (column == NameColumn)
            return node->name();
        if (!node->m_parent)
            return {};  // the server: nothing listed it
        if (column == SizeColumn)
            return folder ? QVariant() : sizeText(node->details());
        if (column == ModifiedColumn)
            return modifiedText(node->details());
        return node->m_mode & EntryDetails::kModeGiven ? permissionText(node->m_mode) : QVariant();
    case Qt::DecorationRole:
        return column == NameColumn && m_decoration ? m_decoration(image(node), node->m_flags & Node::kLink)
                                                    : QVariant();
    case Qt::TextAlignmentRole:
        return column == SizeColumn ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    case ImageRole:
        return image(node);
    case NameRole:
        return node->name();
    case Qt::AccessibleTextRole:  // the other cells are read as they show
        return column == NameColumn ? QVariant(node->name()) : QVariant();
    case Qt::AccessibleDescriptionRole:
        if (column != NameColumn)
            return {};
        [[fallthrough]];
    case Qt::ToolTipRole:
        return describeEntry(node->path(), !node->m_parent, folder, node->details());
    default:
        return {};
    }
}

QVariant RemoteTreeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const QString names[] = {QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Modified"),
                                    QStringLiteral("Permissions")};
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return names[section];
    if (role == Qt::TextAlignmentRole && section == SizeColumn)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags RemoteTreeModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDragEnabled : Qt::NoItemFlags;
}

QMimeData* RemoteTreeModel::mimeData(const QModelIndexList& indexes) const
{
    QStringList paths;
    for (const QModelIndex& index : indexes)
        if (const Node* node = nodeAt(index); node && index.column() == 0)
            paths << node->path();
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << paths;  // UTF-16 as it is: any name survives
    auto* data = new QMimeData;
    data->setData(kNodesMimeType, bytes);
    return data;
}

QStringList RemoteTreeModel::nodePaths(const QMimeData* data)
{
    QStringList paths;
    if (data && data->hasFormat(kNodesMimeType)) {
        QDataStream in(data->data(kNodesMimeType));
        in >> paths;
    }
    return paths;
}

}  // namespace remote
