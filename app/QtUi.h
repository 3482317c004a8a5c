#pragma once

#include "ui/UiInterface.h"

namespace app {

// Message boxes and file dialogs shown with Qt's own dialogs.
class QtUi : public ui::UiInterface {
public:
    ui::MsgAnswer MsgBox(QWidget* parent, const QString& text, ui::MsgStyle style) override;
    ui::MsgAnswer MsgBox(QWidget* parent, const QString& text, ui::MsgStyle style, const QString& detail) override;
    int Choose(QWidget* parent, const ui::Choice& choice) override;
    QString ShowSave(QWidget* parent, const ui::FileDialogRequest& request) override;
    QString ShowOpen(QWidget* parent, const ui::FileDialogRequest& request) override;
    std::optional<QString> AskText(QWidget* parent, const ui::TextRequest& request) override;
    std::optional<int> AskPermissions(QWidget* parent, const ui::PermissionsRequest& request) override;
};

}  // namespace app
