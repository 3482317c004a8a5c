#include "settings/ConnectionFileCommands.h"

namespace settings {

QString saveFailureMessage(const FileResult& result)
{
    return QStringLiteral("Could not save the connection to %1: %2.").arg(result.path, result.reason());
}

QString openFailureMessage(const FileResult& result)
{
    return QStringLiteral("Could not open the connection file %1: %2.").arg(result.path, result.reason());
}

bool saveConnection(ui::UiInterface& ui, QWidget* parent, CommonDialog& dlg,
                    const ConnectionFields& fields)
{
    const QString path = dlg.ShowSave(ui, parent);
    if (path.isEmpty())
        return false;
    const FileResult result = saveSettingsFile(path, fields);
    if (!result.ok()) {
        ui.MsgBox(parent, saveFailureMessage(result), ui::MsgStyle::OkOnly);
        return false;
    }
    return true;
}

std::optional<ConnectionFields> openConnection(ui::UiInterface& ui, QWidget* parent,
                                               CommonDialog& dlg)
{
    const QString path = dlg.ShowOpen(ui, parent);
    if (path.isEmpty())
        return std::nullopt;
    FileResult result = loadSettingsFile(path);
    if (!result.ok()) {
        ui.MsgBox(parent, openFailureMessage(result), ui::MsgStyle::OkOnly);
        return std::nullopt;
    }
    return result.fields;
}

std::optional<ConnectionFields> openConnectionFromButton(ui::UiInterface& ui, QWidget* parent,
                                                         CommonDialog& dlg)
{
    dlg.setFilter(kOpenButtonFilter);
    return openConnection(ui, parent, dlg);
}

}  // namespace settings
