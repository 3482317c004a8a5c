#include "transfer/DriveList.h"

#include "transfer/LocalLists.h"
#include "transfer/MountTable.h"

#include <QDir>
#include <QSignalBlocker>
#include <QStyle>

namespace transfer {

DriveList::DriveList(QWidget* parent)
    : DriveList(systemDrives(), parent)
{
}

DriveList::DriveList(const QStringList& mountPoints, QWidget* parent)
    : QComboBox(parent)
{
    setEditable(false);
    fill(mountPoints);
    m_drive = volumeOf(m_mountPoints, normalFolder(QDir::currentPath()));
    setCurrentIndex(findData(m_drive));
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (index >= 0)
            setDrive(itemData(index).toString());
    });
}

void DriveList::fill(const QStringList& mountPoints)
{
    m_mountPoints.clear();
    m_mountPoints.append(QStringLiteral("/"));
    for (const QString& point : mountPoints) {
        const QString clean = normalFolder(point);
        if (!m_mountPoints.contains(clean))
            m_mountPoints.append(clean);
    }
    const QIcon icon = style()->standardIcon(QStyle::SP_DriveHDIcon);
    for (const QString& point : m_mountPoints)
        addItem(icon, point, point);
}

void DriveList::setDrive(const QString& path)
{
    const QString target = volumeOf(m_mountPoints, normalFolder(path));
    {
        const QSignalBlocker blocker(this);
        setCurrentIndex(findData(target));
    }
    if (target == m_drive)
        return;
    m_drive = target;
    emit Change();
}

void DriveList::showVolumeOf(const QString& path)
{
    m_drive = volumeOf(m_mountPoints, normalFolder(path));
    const QSignalBlocker blocker(this);
    setCurrentIndex(findData(m_drive));
}

}  // namespace transfer
