#pragma once
// Keyed pictures for the remote tree, kept in the order they were added
// (index 1 is the first added).

#include <QColor>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QString>

namespace remote {

class ImageList {
public:
    // With a mask colour in use, every picture added afterwards shows that
    // colour as transparent, so it sits on any background. Without an
    // explicit colour, each picture's top-left pixel gives it.
    void setUseMaskColor(bool use) { m_useMask = use; }
    void setMaskColor(const QColor& colour) { m_maskColour = colour; }
    bool useMaskColor() const { return m_useMask; }

    // Appends the picture under `key`. A key that is already present is
    // refused (false) and the list stays as it was.
    bool Add(const QString& key, const QPixmap& picture);

    int count() const { return int(m_keys.size()); }
    QStringList keys() const { return m_keys; }
    bool contains(const QString& key) const { return m_byKey.contains(key); }
    // 1-based position of `key`, 0 when absent.
    int index(const QString& key) const;
    // A null icon when absent. Every call for one key returns the same shared icon.
    QIcon icon(const QString& key) const;
    QPixmap pixmap(const QString& key) const;
    void clear();

private:
    QStringList m_keys;
    QList<QPixmap> m_pixmaps;
    QList<QIcon> m_icons;
    QHash<QString, int> m_byKey;  // key -> 0-based position
    bool m_useMask = false;
    QColor m_maskColour;  // invalid: each picture's top-left pixel
};

}  // namespace remote
