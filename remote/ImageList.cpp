#include "remote/ImageList.h"

#include <QBitmap>
#include <QImage>

namespace remote {

namespace {

QPixmap masked(const QPixmap& picture, QColor colour)
{
    if (picture.isNull())
        return picture;
    const QImage image = picture.toImage();
    if (!colour.isValid())
        colour = image.pixelColor(0, 0);
    QPixmap result = picture;
    result.setMask(QBitmap::fromImage(image.createMaskFromColor(colour.rgb(), Qt::MaskInColor)));
    return result;
}

}  // namespace

bool ImageList::Add(const QString& key, const QPixmap& given)
{
    if (m_byKey.contains(key))
        return false;
    const QPixmap picture = m_useMask ? masked(given, m_maskColour) : given;
    m_byKey.insert(key, int(m_keys.size()));
    m_keys.append(key);
    m_pixmaps.append(picture);
    m_icons.append(QIcon(picture));
    return true;
}

int ImageList::index(const QString& key) const
{
    const auto it = m_byKey.constFind(key);
    return it == m_byKey.cend() ? 0 : *it + 1;
}

QIcon ImageList::icon(const QString& key) const
{
    const auto it = m_byKey.constFind(key);
    return it == m_byKey.cend() ? QIcon() : m_icons.at(*it);
}

QPixmap ImageList::pixmap(const QString& key) const
{
    const auto it = m_byKey.constFind(key);
    return it == m_byKey.cend() ? QPixmap() : m_pixmaps.at(*it);
}

void ImageList::clear()
{
    m_keys.clear();
    m_pixmaps.clear();
    m_icons.clear();
    m_byKey.clear();
}

}  // namespace remote
