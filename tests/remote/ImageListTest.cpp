#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QPixmap>

#include "remote/ImageList.h"

namespace {

QPixmap filled(Qt::GlobalColor colour)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(colour);
    return pixmap;
}

}  // namespace

TEST(RemoteImageList, KeepsOrderAndOneBasedIndexes)
{
    remote::ImageList images;
    EXPECT_EQ(images.count(), 0);
    EXPECT_TRUE(images.Add("open", filled(Qt::green)));
    EXPECT_TRUE(images.Add("closed", filled(Qt::yellow)));
    EXPECT_TRUE(images.Add("leaf", filled(Qt::white)));
    EXPECT_TRUE(images.Add("root", filled(Qt::blue)));

    EXPECT_EQ(images.count(), 4);
    EXPECT_EQ(images.keys(), (QStringList{"open", "closed", "leaf", "root"}));
    EXPECT_EQ(images.index("open"), 1);
    EXPECT_EQ(images.index("root"), 4);
    EXPECT_EQ(images.index("Root"), 0);
}

TEST(RemoteImageList, IconsComeFromTheirOwnPicture)
{
    remote::ImageList images;
    images.Add("open", filled(Qt::green));
    images.Add("root", filled(Qt::blue));

    const QImage open = images.icon("open").pixmap(16, 16).toImage();
    const QImage root = images.icon("root").pixmap(16, 16).toImage();
    EXPECT_EQ(open.pixelColor(4, 4), QColor(Qt::green));
    EXPECT_EQ(root.pixelColor(4, 4), QColor(Qt::blue));
    EXPECT_EQ(images.pixmap("root").toImage().pixelColor(0, 0), QColor(Qt::blue));
}

TEST(RemoteImageList, UnknownKeyGivesNullIcon)
{
    remote::ImageList images;
    images.Add("leaf", filled(Qt::white));
    EXPECT_TRUE(images.icon("closed").isNull());
    EXPECT_TRUE(images.pixmap("closed").isNull());
    EXPECT_FALSE(images.contains("closed"));
}

TEST(RemoteImageList, DuplicateKeyIsRefused)
{
    remote::ImageList images;
    images.Add("leaf", filled(Qt::white));
    EXPECT_FALSE(images.Add("leaf", filled(Qt::red)));
    EXPECT_EQ(images.count(), 1);
    EXPECT_EQ(images.pixmap("leaf").toImage().pixelColor(0, 0), QColor(Qt::white));
}

TEST(RemoteImageList, MaskColourMakesThePictureBackgroundTransparent)
{
    QImage picture(16, 16, QImage::Format_RGB32);
    picture.fill(Qt::white);
    for (int y = 4; y < 12; ++y)
        for (int x = 4; x < 12; ++x)
            picture.setPixelColor(x, y, Qt::darkYellow);
    QImage magenta = picture;
    magenta.fill(Qt::magenta);
    magenta.setPixelColor(0, 0, Qt::white);

    remote::ImageList images;
    images.setUseMaskColor(true);
    images.Add("closed", QPixmap::fromImage(picture));  // background: its top-left pixel
    images.setMaskColor(Qt::magenta);
    images.Add("open", QPixmap::fromImage(magenta));  // background: the colour set

    // Drawn on a dark background, the background shows through and the picture stays.
    for (const char* key : {"closed", "open"}) {
        QImage onDark(16, 16, QImage::Format_ARGB32);
        onDark.fill(Qt::black);
        QPainter painter(&onDark);
        images.icon(key).paint(&painter, QRect(0, 0, 16, 16));
        painter.end();
        EXPECT_EQ(onDark.pixelColor(1, 14), QColor(Qt::black)) << key;
    }
    QImage onDark(16, 16, QImage::Format_ARGB32);
    onDark.fill(Qt::black);
    QPainter painter(&onDark);
    images.icon("closed").paint(&painter, QRect(0, 0, 16, 16));
    painter.end();
    EXPECT_EQ(onDark.pixelColor(0, 0), QColor(Qt::black));
    EXPECT_EQ(onDark.pixelColor(8, 8), QColor(Qt::darkYellow));
}
