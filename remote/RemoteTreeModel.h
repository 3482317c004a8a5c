#pragma once
// The nodes of the remote tree, stored compactly: a node holds its own name once
// (one byte a character when it can, two otherwise), its parent and what the listing
// said of it; its path, the key and text of the tree, and the texts of its columns
// are composed when asked for. The index holds only node pointers: a node's hash
// follows from its parent's and its own name, so a path is found without any path
// being stored.

#include <QAbstractItemModel>
#include <QAnyStringView>
#include <QStringList>

#include "remote/EntryDetails.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace remote {

class RemoteTreeModel;

class Node {
public:
    Node* parent() const { return m_parent; }  // null for a top-level node
    int childCount() const { return int(m_children.size()); }
    Node* child(int i) const { return i >= 0 && i < childCount() ? m_children[std::size_t(i)] : nullptr; }
    int row() const { return m_row; }
    QString name() const;  // the entry's own name; the server text for a root
    QString path() const;  // the tree path: key and text
    EntryDetails details() const;

private:
    friend class RemoteTreeModel;
    enum Flag : std::uint8_t { kWide = 1, kDayOnly = 2, kLink = 4 };
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    Node(Node* parent, std::uint32_t hash, QStringView name, bool wide, std::uint8_t image,
         const EntryDetails& details, std::uint32_t arrival);
    ~Node();
    static Node* create(Node* parent, std::uint32_t hash, QStringView name, std::uint8_t image,
                        const EntryDetails& details, std::uint32_t arrival);
    static void destroy(Node* node);
    bool pathEquals(QStringView path) const;
    bool nameEquals(QStringView name) const;
    bool wide() const { return m_flags & kWide; }
    const char* latin1() const { return reinterpret_cast<const char*>(this + 1); }
    const char16_t* utf16() const { return reinterpret_cast<const char16_t*>(this + 1); }
    QAnyStringView nameView() const;
    std::optional<QStringView> withoutOwnName(QStringView path) const;

    Node* m_parent;
    std::vector<Node*> m_children;  // owned, in the order shown
    std::uint64_t m_size;
    std::int64_t m_lastWrite;
    std::uint32_t m_hash;           // of the whole path
    std::int32_t m_row = 0;         // among its siblings, as shown
    std::uint32_t m_length;         // of the name, in characters
    std::uint32_t m_arrival;        // when it was added: among siblings, the server's order
    std::uint16_t m_mode;
    std::uint8_t m_image;
    std::uint8_t m_flags;
    // The name's characters follow the node in the same allocation.
};

// One new child: its own name, its image key and what the listing said of it.
struct ChildEntry {
    QStringView name;
    QStringView image;
    EntryDetails details;
};

class RemoteTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    // A node's image key: its kind.
    static constexpr int ImageRole = Qt::UserRole;
    // The entry's own name (a root's: the server text); also the accessible name,
    // while the tooltip and the accessible description tell the path and the details.
    static constexpr int NameRole = Qt::UserRole + 1;

    // The columns; the tree's own (the first) shows the names.
    enum Column { NameColumn, SizeColumn, ModifiedColumn, PermissionsColumn, ColumnCount };

    explicit RemoteTreeModel(QObject* parent = nullptr);
    ~RemoteTreeModel() override;

    // What a row shows beside its name (DecorationRole) for each image key, marked or not
    // as a link's; the view's pictures. Unset: nothing.
    void setDecoration(std::function<QVariant(const QString& imageKey, bool link)> decoration);

    Node* find(QStringView key) const;
    // Null when the key is taken.
    Node* addRoot(const QString& key, const QString& image);
    // Adds the (key, image) pairs as the last children of `parent`, in one insertion,
    // skipping keys that are taken (in the tree or earlier in the batch) and keys that
    // are not the parent's path, "/" and a name. The added nodes.
    std::vector<Node*> addChildren(Node* parent, const QList<QPair<QString, QString>>& nodes);
    // The same for `count` children given by name, without composing their keys.
    std::vector<Node*> addChildren(Node* parent, qsizetype count, const std::function<ChildEntry(qsizetype)>& entry);
    void remove(Node* node);
    void removeChildren(Node* node);
    void clear();

    // "root", "closed", "open" or "leaf"; the tree keeps no other image key.
    static QString image(const Node* node);
    void setImage(Node* node, const QString& imageKey);
    int nodeCount() const { return int(m_count); }
    int topLevelCount() const { return m_top.childCount(); }

    QModelIndex indexOf(const Node* node) const;
    static Node* nodeAt(const QModelIndex& index);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Dragged nodes travel as their tree paths (a QStringList in kNodesMimeType), for the
    // local lists of this program to take.
    static inline const QString kNodesMimeType = QStringLiteral("application/x-quillon-server-nodes");
    QStringList mimeTypes() const override { return {kNodesMimeType}; }
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    static QStringList nodePaths(const QMimeData* data);
    // Orders every node's children by a column, and children added later with them;
    // column -1 gives back the order in which they were added: the server's.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int sortColumn() const { return m_sortColumn; }

private:
    // Open addressing, linear probing; slots hold node pointers only.
    Node* findChild(const Node* parent, std::uint32_t hash, QStringView name) const;
    void indexInsert(Node* node);
    void indexErase(Node* node);
    void unindexSubtree(Node* node);
    void destroySubtree(Node* node);
    void growIndex(std::size_t count);
    static std::uint8_t imageIndex(QStringView key);
    bool shownBefore(const Node* a, const Node* b) const;
    void order(std::vector<Node*>& siblings) const;
    // Orders the children of `parents` (all nodes when empty) as a change of layout.
    void reorder(const std::vector<Node*>& parents);

    struct Top {
        std::vector<Node*> children;
        int childCount() const { return int(children.size()); }
        Node* child(int i) const { return i >= 0 && i < childCount() ? children[std::size_t(i)] : nullptr; }
    };
    Top m_top;
    std::vector<Node*> m_slots;
    std::size_t m_count = 0;
    std::uint32_t m_arrivals = 0;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    std::function<QVariant(const QString& imageKey, bool link)> m_decoration;
};

}  // namespace remote
