#pragma once
// The local drive list (Drive1): the mounted volumes, shown by mount point.

#include <QComboBox>
#include <QStringList>

namespace transfer {

class DriveList : public QComboBox {
    Q_OBJECT
    Q_PROPERTY(QString Drive READ Drive WRITE setDrive NOTIFY Change)

public:
    // Lists this system's volumes and starts on the one holding the
    // process's current folder.
    explicit DriveList(QWidget* parent = nullptr);
    // Lists the given mount points instead ("/" is added when missing).
    explicit DriveList(const QStringList& mountPoints, QWidget* parent = nullptr);

    // The selected volume's mount point.
    QString Drive() const { return m_drive; }
    QStringList mountPoints() const { return m_mountPoints; }

    // Selects the volume that holds path (a mount point selects itself) and
    // emits Change() when the selection differs from before. Emitting only on
    // a real change keeps a failing "/" from re-entering its own handler.
    void setDrive(const QString& path);
    // Selects the volume that holds path without emitting Change(): the list
    // then tells where the folder list is, and picking any other entry moves it.
    void showVolumeOf(const QString& path);

signals:
    // The drive changed, by setDrive or by the user picking an entry.
    void Change();

private:
    void fill(const QStringList& mountPoints);

    QStringList m_mountPoints;
    QString m_drive;
};

}  // namespace transfer
