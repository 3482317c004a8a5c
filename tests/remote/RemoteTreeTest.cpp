#include "support/Wait.h"
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "remote/ImageList.h"
#include "remote/RemoteTree.h"

using remote::RemoteTree;

namespace {

QPixmap filled(Qt::GlobalColor colour)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(colour);
    return pixmap;
}

QColor iconColour(const RemoteTree& tree, const remote::Node* item)
{
    return tree.icon(item).pixmap(16, 16).toImage().pixelColor(8, 8);
}

class RemoteTreeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_images.Add("open", filled(Qt::green));
        m_images.Add("closed", filled(Qt::yellow));
        m_images.Add("leaf", filled(Qt::white));
        m_images.Add("root", filled(Qt::blue));
        m_tree.setImageList(&m_images);
    }

    void showTree(int width = 240, int height = 160)
    {
        m_tree.resize(width, height);
        m_tree.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_tree));
    }

    // srv
    //   srv/pub      closed
    //     srv/pub/docs   closed
    //       srv/pub/docs/a.txt  leaf
    //     srv/pub/b.txt  leaf
    //   srv/readme   leaf
    void buildSample()
    {
        ASSERT_NE(m_tree.addRoot("srv", "root"), nullptr);
        ASSERT_NE(m_tree.addChild("srv", "srv/pub", "closed"), nullptr);
        ASSERT_NE(m_tree.addChild("srv/pub", "srv/pub/docs", "closed"), nullptr);
        ASSERT_NE(m_tree.addChild("srv/pub/docs", "srv/pub/docs/a.txt", "leaf"), nullptr);
        ASSERT_NE(m_tree.addChild("srv/pub", "srv/pub/b.txt", "leaf"), nullptr);
        ASSERT_NE(m_tree.addChild("srv", "srv/readme", "leaf"), nullptr);
    }

    QPoint centreOf(remote::Node* item) const { return m_tree.visualItemRect(item).center(); }

    remote::ImageList m_images;
    RemoteTree m_tree;
};

}  // namespace

// --- node model --------------------------------------------------------------

TEST_F(RemoteTreeTest, RootAndChildrenCarryKeyTextAndImage)
{
    buildSample();
    remote::Node* root = m_tree.find("srv");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->parent(), nullptr);
    EXPECT_EQ(m_tree.topLevelItemCount(), 1);
    EXPECT_EQ(RemoteTree::text(root), "srv");
    EXPECT_EQ(RemoteTree::image(root), "root");
    EXPECT_EQ(iconColour(m_tree, root), QColor(Qt::blue));

    remote::Node* pub = m_tree.find("srv/pub");
    ASSERT_NE(pub, nullptr);
    EXPECT_EQ(pub->parent(), root);
    EXPECT_EQ(RemoteTree::text(pub), "srv/pub");
    EXPECT_EQ(RemoteTree::image(pub), "closed");
    EXPECT_EQ(iconColour(m_tree, pub), QColor(Qt::yellow));

    remote::Node* a = m_tree.find("srv/pub/docs/a.txt");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->parent(), m_tree.find("srv/pub/docs"));
    EXPECT_EQ(RemoteTree::image(a), "leaf");
    EXPECT_EQ(iconColour(m_tree, a), QColor(Qt::white));

    EXPECT_EQ(m_tree.nodeCount(), 6);
    EXPECT_EQ(RemoteTree::childCount(root), 2);
    EXPECT_EQ(RemoteTree::childCount(pub), 2);
    EXPECT_EQ(RemoteTree::childCount(a), 0);
}

TEST_F(RemoteTreeTest, ChildrenKeepInsertionOrder)
{
    m_tree.addRoot("srv", "root");
    const QStringList names{"zeta", "alpha", "..", "Mid", "."};
    for (const QString& name : names)
        m_tree.addChild("srv", "srv/" + name, "leaf");
    m_tree.addChildren("srv", {{"srv/b", "leaf"}, {"srv/a", "closed"}});

    remote::Node* root = m_tree.find("srv");
    QStringList seen;
    for (int i = 0; i < root->childCount(); ++i)
        seen << RemoteTree::text(root->child(i));
    EXPECT_EQ(seen, (QStringList{"srv/zeta", "srv/alpha", "srv/..", "srv/Mid", "srv/.", "srv/b",
                                 "srv/a"}));
}

TEST_F(RemoteTreeTest, KeysAreCaseSensitive)
{
    m_tree.addRoot("Srv", "root");
    EXPECT_EQ(m_tree.find("srv"), nullptr);
    EXPECT_NE(m_tree.addChild("Srv", "Srv/A", "leaf"), nullptr);
    EXPECT_NE(m_tree.addChild("Srv", "Srv/a", "leaf"), nullptr);
    EXPECT_EQ(m_tree.nodeCount(), 3);
}

TEST_F(RemoteTreeTest, AddChildUnderUnknownParentAddsNothing)
{
    m_tree.addRoot("srv", "root");
    EXPECT_EQ(m_tree.addChild("other", "other/x", "leaf"), nullptr);
    EXPECT_EQ(m_tree.addChild("", "/x", "leaf"), nullptr);
    EXPECT_EQ(m_tree.find("other/x"), nullptr);
    EXPECT_EQ(m_tree.nodeCount(), 1);
    EXPECT_EQ(m_tree.topLevelItemCount(), 1);
    EXPECT_EQ(m_tree.find("srv")->childCount(), 0);
}

TEST_F(RemoteTreeTest, DuplicateKeysAreRefused)
{
    buildSample();
    remote::Node* pub = m_tree.find("srv/pub");
    EXPECT_EQ(m_tree.addRoot("srv", "root"), nullptr);
    EXPECT_EQ(m_tree.addChild("srv", "srv/pub", "leaf"), nullptr);
    EXPECT_EQ(m_tree.find("srv/pub"), pub);
    EXPECT_EQ(RemoteTree::image(pub), "closed");
    EXPECT_EQ(m_tree.topLevelItemCount(), 1);
    EXPECT_EQ(m_tree.find("srv")->childCount(), 2);
    EXPECT_EQ(m_tree.nodeCount(), 6);
}

TEST_F(RemoteTreeTest, BatchSkipsTakenKeysAndUnknownParent)
{
    m_tree.addRoot("srv", "root");
    m_tree.addChild("srv", "srv/a", "leaf");
    EXPECT_EQ(m_tree.addChildren("nowhere", {{"nowhere/x", "leaf"}}), 0);
    EXPECT_EQ(m_tree.find("nowhere/x"), nullptr);

    const int added =
        m_tree.addChildren("srv", {{"srv/a", "closed"}, {"srv/b", "leaf"}, {"srv/b", "closed"}});
    EXPECT_EQ(added, 1);
    EXPECT_EQ(m_tree.find("srv")->childCount(), 2);
    EXPECT_EQ(RemoteTree::image(m_tree.find("srv/a")), "leaf");
    EXPECT_EQ(RemoteTree::image(m_tree.find("srv/b")), "leaf");
    EXPECT_EQ(m_tree.addChildren("srv", {}), 0);
    EXPECT_EQ(m_tree.nodeCount(), 3);
}

TEST_F(RemoteTreeTest, BatchInsertsInOneModelInsertion)
{
    m_tree.addRoot("srv", "root");
    QSignalSpy inserted(m_tree.model(), &QAbstractItemModel::rowsInserted);
    QList<RemoteTree::NodeSpec> nodes;
    for (int i = 0; i < 50; ++i)
        nodes.append({QStringLiteral("srv/e%1").arg(i), i % 2 ? "leaf" : "closed"});
    EXPECT_EQ(m_tree.addChildren("srv", nodes), 50);
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted.at(0).at(1).toInt(), 0);
    EXPECT_EQ(inserted.at(0).at(2).toInt(), 49);
    EXPECT_EQ(RemoteTree::image(m_tree.find("srv/e0")), "closed");
    EXPECT_EQ(iconColour(m_tree, m_tree.find("srv/e1")), QColor(Qt::white));
}

TEST_F(RemoteTreeTest, KeysOfAnyCharactersAreFoundAndStayFoundAfterRemovals)
{
    const QString root = "ftps://[::1]:2121";
    ASSERT_NE(m_tree.addRoot(root, "root"), nullptr);
    const QStringList names{"plain", "caf\u00e9", "\u65e5\u672c", "a b", "\U0001F600", "x/y", "",
                            QString(QChar(0xDC80)) + "raw", "\u00ff\u0100"};
    QList<RemoteTree::NodeSpec> nodes;
    for (const QString& name : names)
        nodes.append({root + "/" + name, "leaf"});
    ASSERT_EQ(m_tree.addChildren(root, nodes), names.size());
    for (int i = 0; i < 2000; ++i)  // enough to share probe runs in the index
        m_tree.addChild(root, root + "/n" + QString::number(i), "leaf");
    for (int i = 0; i < 2000; i += 3)
        ASSERT_TRUE(m_tree.remove(root + "/n" + QString::number(i)));
    remote::Node* top = m_tree.find(root);
    for (const QString& name : names) {
        remote::Node* node = m_tree.find(root + "/" + name);
        ASSERT_NE(node, nullptr) << name.toStdString();
        EXPECT_EQ(RemoteTree::text(node), root + "/" + name);
        EXPECT_EQ(top->child(node->row()), node);
    }
    for (int i = 0; i < 2000; ++i) {
        remote::Node* node = m_tree.find(root + "/n" + QString::number(i));
        ASSERT_EQ(node == nullptr, i % 3 == 0) << i;
        if (node)
            EXPECT_EQ(m_tree.model()->index(node->row(), 0, m_tree.indexOf(top)).data().toString(), node->name());
    }
    EXPECT_EQ(m_tree.find(root + "/caf\u00c9"), nullptr);
    EXPECT_EQ(m_tree.find(root + "/"), m_tree.find(root + "/" + names[6]));
}

// --- removal ---------------------------------------------------------------

TEST_F(RemoteTreeTest, FindFailsAfterRemove)
{
    buildSample();
    EXPECT_TRUE(m_tree.remove("srv/readme"));
    EXPECT_EQ(m_tree.find("srv/readme"), nullptr);
    EXPECT_EQ(m_tree.find("srv")->childCount(), 1);
    EXPECT_EQ(m_tree.nodeCount(), 5);
    EXPECT_FALSE(m_tree.remove("srv/readme"));
}

TEST_F(RemoteTreeTest, RemovingUnknownKeyRemovesNothing)
{
    buildSample();
    EXPECT_FALSE(m_tree.remove("srv/nothing"));
    EXPECT_FALSE(m_tree.remove("SRV"));
    EXPECT_FALSE(m_tree.remove(""));
    EXPECT_EQ(m_tree.nodeCount(), 6);
    EXPECT_EQ(m_tree.topLevelItemCount(), 1);
    EXPECT_NE(m_tree.find("srv/pub/docs/a.txt"), nullptr);
}

TEST_F(RemoteTreeTest, RemovingFolderTakesGrandchildrenAndTheirIndexEntries)
{
    buildSample();
    QSignalSpy removed(m_tree.model(), &QAbstractItemModel::rowsRemoved);
    EXPECT_TRUE(m_tree.remove("srv/pub"));
    EXPECT_EQ(m_tree.find("srv/pub"), nullptr);
    EXPECT_EQ(m_tree.find("srv/pub/docs"), nullptr);
    EXPECT_EQ(m_tree.find("srv/pub/docs/a.txt"), nullptr);
    EXPECT_EQ(m_tree.find("srv/pub/b.txt"), nullptr);
    EXPECT_EQ(m_tree.nodeCount(), 2);
    EXPECT_EQ(m_tree.find("srv")->childCount(), 1);
    EXPECT_EQ(removed.count(), 1);
}

TEST_F(RemoteTreeTest, RemovingRootEmptiesTree)
{
    buildSample();
    EXPECT_TRUE(m_tree.remove("srv"));
    EXPECT_EQ(m_tree.nodeCount(), 0);
    EXPECT_EQ(m_tree.topLevelItemCount(), 0);
    EXPECT_EQ(m_tree.find("srv/pub/docs/a.txt"), nullptr);
    EXPECT_EQ(m_tree.selectedNode(), nullptr);
}

TEST_F(RemoteTreeTest, RemoveChildrenKeepsTheFolder)
{
    buildSample();
    remote::Node* pub = m_tree.find("srv/pub");
    m_tree.removeChildren(pub);
    EXPECT_EQ(m_tree.find("srv/pub"), pub);
    EXPECT_EQ(pub->childCount(), 0);
    EXPECT_EQ(m_tree.find("srv/pub/docs"), nullptr);
    EXPECT_EQ(m_tree.find("srv/pub/docs/a.txt"), nullptr);
    EXPECT_EQ(m_tree.find("srv/pub/b.txt"), nullptr);
    EXPECT_NE(m_tree.find("srv/readme"), nullptr);
    EXPECT_EQ(m_tree.nodeCount(), 3);

    m_tree.removeChildren(pub);  // none left: nothing happens
    m_tree.removeChildren(nullptr);
    EXPECT_EQ(m_tree.nodeCount(), 3);
}

TEST_F(RemoteTreeTest, SameKeysCanBeAddedAgainAfterRemoval)
{
    buildSample();
    remote::Node* pub = m_tree.find("srv/pub");
    m_tree.removeChildren(pub);
    const int added = m_tree.addChildren(
        "srv/pub", {{"srv/pub/docs", "closed"}, {"srv/pub/b.txt", "leaf"}});
    EXPECT_EQ(added, 2);
    EXPECT_EQ(pub->childCount(), 2);
    EXPECT_EQ(m_tree.find("srv/pub/docs")->parent(), pub);
    // Reopened folders show only their first level.
    EXPECT_EQ(m_tree.find("srv/pub/docs")->childCount(), 0);
    EXPECT_EQ(m_tree.find("srv/pub/docs/a.txt"), nullptr);

    EXPECT_TRUE(m_tree.remove("srv"));
    EXPECT_NE(m_tree.addRoot("srv", "root"), nullptr);
    EXPECT_NE(m_tree.addChild("srv", "srv/pub", "closed"), nullptr);
    EXPECT_EQ(m_tree.nodeCount(), 2);
}

TEST_F(RemoteTreeTest, ClearNodesEmptiesTheIndex)
{
    buildSample();
    m_tree.clearNodes();
    EXPECT_EQ(m_tree.nodeCount(), 0);
    EXPECT_EQ(m_tree.find("srv"), nullptr);
    EXPECT_NE(m_tree.addRoot("srv", "root"), nullptr);
}

// --- images ----------------------------------------------------------------

TEST_F(RemoteTreeTest, SetImageChangesKeyAndPicture)
{
    buildSample();
    remote::Node* pub = m_tree.find("srv/pub");
    m_tree.setImage(pub, "open");
    EXPECT_EQ(RemoteTree::image(pub), "open");
    EXPECT_EQ(iconColour(m_tree, pub), QColor(Qt::green));
    m_tree.setImage(pub, "closed");
    EXPECT_EQ(RemoteTree::image(pub), "closed");
    EXPECT_EQ(iconColour(m_tree, pub), QColor(Qt::yellow));
}

TEST_F(RemoteTreeTest, ImageListAttachedLaterPaintsExistingNodes)
{
    RemoteTree tree;
    tree.addRoot("srv", "root");
    tree.addChild("srv", "srv/x", "leaf");
    EXPECT_TRUE(tree.icon(tree.find("srv")).isNull());
    tree.setImageList(&m_images);
    EXPECT_EQ(iconColour(tree, tree.find("srv")), QColor(Qt::blue));
    EXPECT_EQ(iconColour(tree, tree.find("srv/x")), QColor(Qt::white));
}

// --- looks and behaviour -----------------------------------------------------

TEST_F(RemoteTreeTest, LabelsAreNotEditableAndSeveralNodesSelect)
{
    buildSample();
    EXPECT_FALSE(m_tree.isHeaderHidden());  // the columns' names
    EXPECT_FALSE(m_tree.expandsOnDoubleClick());
    EXPECT_FALSE(m_tree.rootIsDecorated());
    EXPECT_TRUE(m_tree.uniformRowHeights());
    EXPECT_EQ(m_tree.editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(m_tree.selectionMode(), QAbstractItemView::ExtendedSelection);  // Ctrl- and Shift-click
    EXPECT_FALSE(m_tree.model()->flags(m_tree.indexOf(m_tree.find("srv/pub"))) & Qt::ItemIsEditable);
    EXPECT_TRUE(m_tree.model()->flags(m_tree.indexOf(m_tree.find("srv/pub"))) & Qt::ItemIsSelectable);
}

TEST_F(RemoteTreeTest, BranchesShowDottedLinesAndNoExpandButton)
{
    buildSample();
    m_tree.setExpanded(m_tree.find("srv"), true);
    m_tree.setExpanded(m_tree.find("srv/pub"), true);
    showTree();
    const QImage shot = m_tree.viewport()->grab().toImage();
    const QRgb base = m_tree.palette().color(QPalette::Base).rgb();
    const QRgb dark = m_tree.palette().color(QPalette::Dark).rgb();

    // srv/pub has children and is open: a style would put its expand button here.
    const QRect row = m_tree.visualItemRect(m_tree.find("srv/pub"));
    const QRect branch(row.left() - m_tree.indentation(), row.top(), m_tree.indentation(),
                       row.height());
    ASSERT_GE(branch.left(), 0);
    int dotted = 0;
    for (int y = branch.top(); y <= branch.bottom(); ++y) {
        for (int x = branch.left(); x <= branch.right(); ++x) {
            const QRgb c = shot.pixel(x, y);
            ASSERT_TRUE(c == base || c == dark) << x << "," << y << " " << std::hex << c;
            dotted += c == dark;
        }
    }
    EXPECT_GT(dotted, m_tree.indentation() / 4);
}

TEST_F(RemoteTreeTest, SelectedNodeFollowsSelection)
{
    buildSample();
    EXPECT_EQ(m_tree.selectedNode(), nullptr);
    m_tree.setSelected(m_tree.find("srv/readme"), true);
    EXPECT_EQ(m_tree.selectedNode(), m_tree.find("srv/readme"));
    m_tree.setCurrentItem(m_tree.find("srv/pub"));
    EXPECT_EQ(m_tree.selectedNode(), m_tree.find("srv/pub"));
    // Of several selected, the current one (a command's target after a right-click on it).
    m_tree.setSelected(m_tree.find("srv/readme"), true);
    for (const char* current : {"srv/readme", "srv/pub"}) {
        m_tree.selectionModel()->setCurrentIndex(m_tree.indexOf(m_tree.find(current)), QItemSelectionModel::NoUpdate);
        EXPECT_EQ(m_tree.selectedNode(), m_tree.find(current));
    }
    m_tree.setCurrentItem(m_tree.find("srv/pub"));
    // Removing the selected node leaves either no selection or a live node.
    m_tree.remove("srv/pub");
    remote::Node* after = m_tree.selectedNode();
    if (after)
        EXPECT_EQ(m_tree.find(RemoteTree::text(after)), after);
    m_tree.clearSelection();
    EXPECT_EQ(m_tree.selectedNode(), nullptr);
}

TEST_F(RemoteTreeTest, LastAddedNodeIsMadeVisible)
{
    m_tree.addRoot("srv", "root");
    m_tree.addChild("srv", "srv/pub", "closed");
    showTree();
    EXPECT_FALSE(m_tree.isExpanded(m_tree.find("srv")));

    QList<RemoteTree::NodeSpec> nodes;
    for (int i = 0; i < 400; ++i)
        nodes.append({QStringLiteral("srv/pub/f%1").arg(i), "leaf"});
    ASSERT_EQ(m_tree.addChildren("srv/pub", nodes), 400);

    remote::Node* last = m_tree.find("srv/pub/f399");
    EXPECT_TRUE(m_tree.isExpanded(m_tree.find("srv")));
    EXPECT_TRUE(m_tree.isExpanded(m_tree.find("srv/pub")));
    WAIT_FOR(m_tree.viewport()->rect().contains(m_tree.visualItemRect(last)));
    EXPECT_GT(m_tree.verticalScrollBar()->value(), 0);
    EXPECT_FALSE(m_tree.visualItemRect(m_tree.find("srv")).intersects(m_tree.viewport()->rect()));
}

TEST_F(RemoteTreeTest, SingleAddsDoNotExpand)
{
    buildSample();
    EXPECT_FALSE(m_tree.isExpanded(m_tree.find("srv")));
    EXPECT_FALSE(m_tree.isExpanded(m_tree.find("srv/pub")));
}

TEST_F(RemoteTreeTest, DoubleClickOnEmptyAreaEmitsDblClick)
{
    m_tree.addRoot("srv", "root");
    showTree();
    QSignalSpy spy(&m_tree, &RemoteTree::DblClick);
    const QPoint empty(m_tree.viewport()->width() / 2, m_tree.viewport()->height() - 4);
    ASSERT_EQ(m_tree.itemAt(empty), nullptr);
    QTest::mouseDClick(m_tree.viewport(), Qt::LeftButton, {}, empty);
    WAIT_FOR((spy.count()) == (1));
}

TEST_F(RemoteTreeTest, DoubleClickOnNodeSelectsItThenEmits)
{
    buildSample();
    m_tree.setExpanded(m_tree.find("srv"), true);
    showTree();
    remote::Node* pub = m_tree.find("srv/pub");
    remote::Node* selectedAtSignal = nullptr;
    QObject::connect(&m_tree, &RemoteTree::DblClick,
                     [&] { selectedAtSignal = m_tree.selectedNode(); });
    QSignalSpy spy(&m_tree, &RemoteTree::DblClick);

    QTest::mouseDClick(m_tree.viewport(), Qt::LeftButton, {}, centreOf(pub));
    WAIT_FOR((spy.count()) == (1));
    EXPECT_EQ(selectedAtSignal, pub);
    // The tree itself neither expands nor edits on a double-click.
    EXPECT_FALSE(m_tree.isExpanded(pub));
    EXPECT_TRUE(m_tree.viewport()->findChildren<QLineEdit*>().isEmpty());
}

TEST_F(RemoteTreeTest, RightDoubleClickIsNotADblClick)
{
    m_tree.addRoot("srv", "root");
    showTree();
    QSignalSpy spy(&m_tree, &RemoteTree::DblClick);
    QTest::mouseDClick(m_tree.viewport(), Qt::RightButton, {}, centreOf(m_tree.find("srv")));
    QTest::mouseDClick(m_tree.viewport(), Qt::LeftButton, {}, centreOf(m_tree.find("srv")));
    WAIT_FOR((spy.count()) == (1));
    EXPECT_EQ(spy.count(), 1);
}

TEST_F(RemoteTreeTest, LongPathsShowWholeAndScrollSideways)
{
    const QString deep = "srv/" + QString("a-rather-long-folder-name/").repeated(4) + "end";
    m_tree.addRoot("srv", "root");
    m_tree.addChild("srv", deep + "1", "leaf");
    m_tree.addChild("srv", deep + "2", "leaf");
    showTree(240, 160);
    remote::Node* first = m_tree.find(deep + "1");
    m_tree.makeVisible(first);
    const QRect row = m_tree.visualItemRect(first);
    // The name's column is as wide as the whole name, wider than the tree, and the tree scrolls to it.
    EXPECT_GT(row.width(), m_tree.fontMetrics().horizontalAdvance(deep.mid(4) + "1"));
    WAIT_FOR(m_tree.horizontalScrollBar()->isVisible());
    EXPECT_GT(m_tree.horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(m_tree.textElideMode(), Qt::ElideNone);
}

TEST_F(RemoteTreeTest, ReturnEnterRightAndLeftActAsADoubleClick)
{
    buildSample();
    showTree();
    QSignalSpy spy(&m_tree, &RemoteTree::DblClick);
    m_tree.setFocus();
    m_tree.setCurrentItem(m_tree.find("srv/readme"));
    QTest::keyClick(&m_tree, Qt::Key_Return);
    QTest::keyClick(&m_tree, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(spy.count(), 2);
    QTest::keyClick(&m_tree, Qt::Key_Right);  // a leaf: no double-click
    QTest::keyClick(&m_tree, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(spy.count(), 2);
    m_tree.setCurrentItem(m_tree.find("srv/pub"));
    QTest::keyClick(&m_tree, Qt::Key_Left);  // closed: no double-click
    EXPECT_EQ(spy.count(), 2);
    m_tree.setCurrentItem(m_tree.find("srv/pub"));
    QTest::keyClick(&m_tree, Qt::Key_Right);
    EXPECT_EQ(spy.count(), 3);
    m_tree.setImage(m_tree.find("srv/pub"), "open");
    m_tree.setCurrentItem(m_tree.find("srv/pub"));
    QTest::keyClick(&m_tree, Qt::Key_Left);
    EXPECT_EQ(spy.count(), 4);
}

TEST_F(RemoteTreeTest, TypedLettersFindTheNextNodeByItsOwnName)
{
    m_tree.addRoot("srv", "root");
    m_tree.addChildren("srv", {{"srv/alpha", "leaf"}, {"srv/Beta", "closed"}, {"srv/bravo", "leaf"}, {"srv/sub", "leaf"}});
    showTree();
    m_tree.setFocus();
    m_tree.setCurrentItem(m_tree.find("srv"));
    const struct {
        QString typed;
        QString current;
    } steps[] = {{"b", "srv/Beta"}, {"b", "srv/bravo"}, {"b", "srv/Beta"}, {"s", "srv/sub"}, {"s", "srv"}, {"su", "srv/sub"}};
    for (const auto& step : steps) {
        QTest::qWait(QApplication::keyboardInputInterval() + 50);  // each step a fresh search
        QTest::keyClicks(&m_tree, step.typed);
        EXPECT_EQ(RemoteTree::text(m_tree.selectedNode()), step.current) << step.typed.toStdString();
    }
}

// --- scale -------------------------------------------------------------------

TEST_F(RemoteTreeTest, HundredThousandChildrenAreAddedAndFound)
{
    constexpr int kCount = 100000;
    m_tree.addRoot("srv", "root");
    showTree();
    QList<RemoteTree::NodeSpec> nodes;
    nodes.reserve(kCount);
    for (int i = 0; i < kCount; ++i)
        nodes.append({QStringLiteral("srv/file%1").arg(i), i % 10 ? "leaf" : "closed"});

    QSignalSpy inserted(m_tree.model(), &QAbstractItemModel::rowsInserted);
    ASSERT_EQ(m_tree.addChildren("srv", nodes), kCount);
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_EQ(m_tree.nodeCount(), kCount + 1);
    remote::Node* root = m_tree.find("srv");
    ASSERT_EQ(root->childCount(), kCount);
    for (int i : {0, 1, 4242, 77777, kCount - 1}) {
        remote::Node* item = m_tree.find(QStringLiteral("srv/file%1").arg(i));
        ASSERT_NE(item, nullptr) << i;
        EXPECT_EQ(root->child(i), item);
        EXPECT_EQ(RemoteTree::image(item), i % 10 ? "leaf" : "closed");
    }
    remote::Node* last = root->child(kCount - 1);
    WAIT_FOR(m_tree.viewport()->rect().contains(m_tree.visualItemRect(last)));

    m_tree.removeChildren(root);
    EXPECT_EQ(m_tree.nodeCount(), 1);
    EXPECT_EQ(m_tree.find("srv/file77777"), nullptr);
}
