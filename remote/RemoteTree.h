#pragma once
// The tree of the connected server's paths. Every node's key is its text (the
// tree path); its image key ("root", "closed", "open", "leaf") is its kind.
// Nodes are found by key through an index that every add and remove keeps
// current, so look-ups never scan the tree.

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QTreeWidget>

namespace remote {

class ImageList;

class RemoteTree : public QTreeWidget {
    Q_OBJECT
public:
    using NodeSpec = QPair<QString, QString>;  // key (= text), image key

    explicit RemoteTree(QWidget* parent = nullptr);
    ~RemoteTree() override;

    // Not owned; must outlive the tree. Existing nodes take their pictures from it.
    void setImageList(const ImageList* images);
    const ImageList* imageList() const { return m_images; }

    // Null when the key is taken.
    QTreeWidgetItem* addRoot(const QString& key, const QString& image);
    // Adds as last child. Null, adding nothing, when the parent is unknown or
    // the key is taken.
    QTreeWidgetItem* addChild(const QString& parentKey, const QString& key, const QString& image);
    // Adds every node whose key is free as last children, in order, in one
    // insertion, then makes the last of them visible. Returns how many were added.
    int addChildren(const QString& parentKey, const QList<NodeSpec>& nodes);

    QTreeWidgetItem* find(const QString& key) const { return m_index.value(key, nullptr); }
    // Removes the node and its whole subtree; false, removing nothing, when
    // there is no such key.
    bool remove(const QString& key);
    void removeChildren(QTreeWidgetItem* item);
    void clearNodes();

    static QString text(const QTreeWidgetItem* item);
    static QString image(const QTreeWidgetItem* item);
    void setImage(QTreeWidgetItem* item, const QString& imageKey);
    QTreeWidgetItem* selectedNode() const;
    static int childCount(const QTreeWidgetItem* item);
    int nodeCount() const { return int(m_index.size()); }

    // Expands every ancestor and scrolls the node into view.
    void makeVisible(QTreeWidgetItem* item);

signals:
    // A left double-click anywhere on the tree, on a node or not. The first
    // click has already selected the node under the mouse. Return and Enter
    // raise it too, and Right on a "closed" or Left on an "open" node.
    void DblClick();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QTreeWidgetItem* makeItem(const QString& key, const QString& image) const;
    void unindexSubtree(QTreeWidgetItem* item);

    const ImageList* m_images = nullptr;
    QHash<QString, QTreeWidgetItem*> m_index;
};

}  // namespace remote
