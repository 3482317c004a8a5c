#pragma once
// The main window's one file dialog object, CommonDialog1. It only holds the
// title and the filter that every save and open dialog of the run uses; the
// dialogs themselves are shown through ui::UiInterface.

#include "ui/UiInterface.h"

#include <QString>

namespace settings {

inline const QString kDialogTitle = QStringLiteral("Save Session");
inline const QString kInitialFilter = QStringLiteral("Korvel FTP Files (*.kvx)");
// Set by the "Open Connection" button and kept for the rest of the run.
inline const QString kOpenButtonFilter = QStringLiteral("KorvelFTP Settings (*.kvx)");

class CommonDialog {
public:
    QString DialogTitle() const { return m_dialogTitle; }
    QString Filter() const { return m_filter; }
    void setFilter(const QString& filter) { m_filter = filter; }
    // The file chosen by the last dialog that was not cancelled.
    QString FileName() const { return m_fileName; }

    ui::FileDialogRequest request() const { return {m_dialogTitle, m_filter}; }

    // Empty when the user cancelled; FileName() then keeps its old value.
    QString ShowSave(ui::UiInterface& ui, QWidget* parent);
    QString ShowOpen(ui::UiInterface& ui, QWidget* parent);

private:
    QString m_dialogTitle = kDialogTitle;
    QString m_filter = kInitialFilter;
    QString m_fileName;
};

}  // namespace settings
