#pragma once
// The local file list (File1): the files of one folder; several may be selected
// at once.

#include <QListWidget>

namespace transfer {

class FileList : public QListWidget {
    Q_OBJECT
    Q_PROPERTY(QString Path READ Path WRITE setPath)
    Q_PROPERTY(QString FileName READ FileName WRITE setFileName)

public:
    // Starts on the process's current folder.
    explicit FileList(QWidget* parent = nullptr);

    QString Path() const { return m_path; }
    // Shows the folder's files with none selected. Returns false and leaves
    // the list as it was when the folder cannot be read.
    bool setPath(const QString& path);

    // The selected file's name without folder; empty when none is selected.
    QString FileName() const;
    // Selects the named file; an empty or unknown name clears the selection
    // and returns false.
    bool setFileName(const QString& name);

    // Re-reads the folder; the selection stays when its file still exists.
    void Refresh();

signals:
    // Double-click on a file, or Enter on the selected one.
    void DblClick();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // Dragged items travel as file URLs (text/uri-list), as a file manager's do.
    QStringList mimeTypes() const override { return {QStringLiteral("text/uri-list")}; }
    QMimeData* mimeData(const QList<QListWidgetItem*>& items) const override;

private:
    void fill(const QStringList& names);

    QString m_path;
};

}  // namespace transfer
