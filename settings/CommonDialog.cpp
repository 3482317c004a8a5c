#include "settings/CommonDialog.h"

namespace settings {

QString CommonDialog::ShowSave(ui::UiInterface& ui, QWidget* parent)
{
    const QString path = ui.ShowSave(parent, request());
    if (!path.isEmpty())
        m_fileName = path;
    return path;
}

QString CommonDialog::ShowOpen(ui::UiInterface& ui, QWidget* parent)
{
    const QString path = ui.ShowOpen(parent, request());
    if (!path.isEmpty())
        m_fileName = path;
    return path;
}

}  // namespace settings
