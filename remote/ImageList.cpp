#include "remote/ImageList.h"

namespace remote {

bool ImageList::Add(const QString& key, const QPixmap& picture)
{
    if (m_byKey.contains(key))
        return false;
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
