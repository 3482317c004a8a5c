#pragma once
// The tree of the connected server's paths. Every node's key is its text (the
// tree path), which the program's steps use; a row shows the entry's own name with
// its size, time and permissions beside it. Its image key ("root", "closed",
// "open", "leaf") is its kind.
// Nodes live in a compact model of their own (RemoteTreeModel) and are found by
// key through its index, so look-ups never scan the tree.

#include <QElapsedTimer>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QPair>
#include <QString>
#include <QTreeView>

#include "remote/RemoteTreeModel.h"

namespace remote {

class ImageList;

class RemoteTree : public QTreeView {
    Q_OBJECT
public:
    using NodeSpec = QPair<QString, QString>;  // key (= text), image key

    explicit RemoteTree(QWidget* parent = nullptr);
    ~RemoteTree() override;

    // Not owned; must outlive the tree. Existing nodes take their pictures from it.
    void setImageList(const ImageList* images);
    const ImageList* imageList() const { return m_images; }

    // Null when the key is taken.
    Node* addRoot(const QString& key, const QString& image);
    // Adds as last child. Null, adding nothing, when the parent is unknown or
    // the key is taken.
    Node* addChild(const QString& parentKey, const QString& key, const QString& image);
    // Adds every node whose key is free as last children, in order, in one
    // insertion, then makes the last of them visible. Returns how many were added.
    int addChildren(const QString& parentKey, const QList<NodeSpec>& nodes);
    // The same for `count` children given by their own names.
    int addChildren(const QString& parentKey, qsizetype count, const std::function<ChildEntry(qsizetype)>& entry);

    Node* find(const QString& key) const { return m_model.find(key); }
    // Removes the node and its whole subtree; false, removing nothing, when
    // there is no such key.
    bool remove(const QString& key);
    void removeChildren(Node* node);
    void clearNodes();

    static QString text(const Node* node) { return node ? node->path() : QString(); }
    static QString image(const Node* node) { return RemoteTreeModel::image(node); }
    // "open" also expands the node and "closed" collapses it, so that a screen
    // reader tells a folder's state.
    void setImage(Node* node, const QString& imageKey);
    // The current row when it is selected, else the first selected one; null when none is.
    Node* selectedNode() const;
    static int childCount(const Node* node) { return node ? node->childCount() : 0; }
    int nodeCount() const { return m_model.nodeCount(); }
    int topLevelItemCount() const { return m_model.topLevelCount(); }

    // Expands every ancestor and scrolls the node into view.
    void makeVisible(Node* node);

    // The view's side of a node.
    QModelIndex indexOf(const Node* node) const { return m_model.indexOf(node); }
    void setCurrentItem(Node* node);  // null: no current node and no selection
    // Makes the node current and selected, and gives the tree the keyboard focus; null: nothing.
    void focusNode(Node* node);
    void setSelected(Node* node, bool selected);
    QIcon icon(const Node* node) const;
    QRect visualItemRect(const Node* node) const { return visualRect(indexOf(node)); }
    Node* itemAt(const QPoint& point) const { return RemoteTreeModel::nodeAt(indexAt(point)); }
    using QTreeView::isExpanded;
    using QTreeView::setExpanded;
    bool isExpanded(const Node* node) const { return isExpanded(indexOf(node)); }
    void setExpanded(const Node* node, bool expanded) { setExpanded(indexOf(node), expanded); }

    // Type-ahead: the typed letters select the next shown node whose own name
    // (not its path) starts with them; the same letter again moves on.
    void keyboardSearch(const QString& search) override;
    // The name column fits the names shown; the others fit the widest text of their kind.
    int sizeHintForColumn(int column) const override;

signals:
    // A left double-click anywhere on the tree, on a node or not. The first
    // click has already selected the node under the mouse. Return and Enter
    // raise it too, and Right on a "closed" or Left on an "open" node.
    void DblClick();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    int madeVisible(const std::vector<Node*>& added);

    RemoteTreeModel m_model;
    QIcon icon(const QString& imageKey, bool link) const;

    const ImageList* m_images = nullptr;
    mutable QHash<QString, QIcon> m_linkIcons;
    QString m_typed;
    QElapsedTimer m_typedAt;
};

}  // namespace remote
