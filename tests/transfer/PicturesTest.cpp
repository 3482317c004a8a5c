#include <QImage>
#include <gtest/gtest.h>

// The pictures the main window loads: tree pictures and button icons.

namespace {

QString resource(const char* name)
{
    return QStringLiteral(QUILLON_TESTS_DIR "/../resources/") + QString::fromLatin1(name);
}

}  // namespace

TEST(Pictures, TreePicturesAre16By16Bitmaps)
{
    for (const char* name : {"open.bmp", "closed.bmp", "leaf.bmp", "root.bmp"}) {
        QImage image;
        ASSERT_TRUE(image.load(resource(name), "BMP")) << name;
        EXPECT_EQ(image.size(), QSize(16, 16)) << name;
    }
}

TEST(Pictures, TreePicturesDiffer)
{
    const QImage open(resource("open.bmp"));
    const QImage closed(resource("closed.bmp"));
    const QImage leaf(resource("leaf.bmp"));
    const QImage root(resource("root.bmp"));
    EXPECT_NE(open, closed);
    EXPECT_NE(open, leaf);
    EXPECT_NE(closed, leaf);
    EXPECT_NE(leaf, root);
    EXPECT_NE(closed, root);
}

TEST(Pictures, IconsHaveTheirSizes)
{
    EXPECT_EQ(QImage(resource("icons/app.png")).size(), QSize(32, 32));
    EXPECT_EQ(QImage(resource("icons/app16.png")).size(), QSize(16, 16));
    QList<QImage> buttons;
    for (const char* name :
         {"icons/open-connection.png", "icons/save-connection.png", "icons/connect.png", "icons/disconnect.png"}) {
        const QImage image(resource(name));
        EXPECT_EQ(image.size(), QSize(32, 32)) << name;
        for (const QImage& other : buttons)
            EXPECT_NE(image, other) << name;
        buttons << image;
    }
}
