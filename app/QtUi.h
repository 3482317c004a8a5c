#pragma once

#include "ui/UiInterface.h"

namespace app {

// Message boxes and file dialogs shown with Qt's own dialogs.
class QtUi : public UiInterface {
public:
    MsgAnswer MsgBox(QWidget* parent, const QString& text, MsgStyle style) override;
    MsgAnswer MsgBox(QWidget* parent, const QString& text, MsgStyle style, const QString& detail) override;
    int Choose(QWidget* parent, const Choice& choice) override;
    QString ShowSave(QWidget* parent, const FileDialogRequest& request) override;
    QString ShowOpen(QWidget* parent, const FileDialogRequest& request) override;
};

}  // namespace app
