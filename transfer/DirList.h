#pragma once
// The local folder list (Dir1): the chain of folders from the volume's top
// down to the current folder, one indent step per level, then the current
// folder's subfolders.

#include <QListWidget>
#include <QStringList>

namespace transfer {

class DirList : public QListWidget {
    Q_OBJECT
    Q_PROPERTY(QString Path READ Path WRITE setPath NOTIFY Change)

public:
    // Item data: the folder's full path and its indent level.
    static constexpr int PathRole = Qt::UserRole;
    static constexpr int LevelRole = Qt::UserRole + 1;

    // Uses this system's volumes and starts on the process's current folder.
    explicit DirList(QWidget* parent = nullptr);
    // Uses the given mount points as volume tops.
    explicit DirList(const QStringList& mountPoints, QWidget* parent = nullptr);

    QString Path() const { return m_path; }
    // The top of the chain: the mount point of the volume holding Path().
    QString Top() const { return m_top; }

    // Makes path the current folder and emits Change(). When the folder
    // cannot be read (missing, not a folder, no permission) returns false
    // and leaves the list as it was.
    bool setPath(const QString& path);

    // Opens the folder of an item, as a double-click or Enter does.
    bool openItem(QListWidgetItem* item);

signals:
    void Change();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // Dragged items travel as file URLs (text/uri-list), as a file manager's do.
    QStringList mimeTypes() const override { return {QStringLiteral("text/uri-list")}; }
    QMimeData* mimeData(const QList<QListWidgetItem*>& items) const override;

private:
    void addFolder(const QString& text, const QString& path, int level, bool open);

    QStringList m_mountPoints;
    QString m_path;
    QString m_top;
};

}  // namespace transfer
