#pragma once
// A UiInterface that answers file dialogs from a script and records what it
// was asked.

#include "app/UiInterface.h"

#include <QStringList>
#include <QList>

namespace testsupport {

class ScriptedUi : public app::UiInterface {
public:
    QStringList saveAnswers;   // taken from the front; "" when exhausted
    QStringList openAnswers;
    QList<app::FileDialogRequest> saveRequests;
    QList<app::FileDialogRequest> openRequests;
    QStringList messages;
    QList<app::MsgStyle> styles;

    app::MsgAnswer MsgBox(QWidget*, const QString& text, app::MsgStyle style) override
    {
        messages << text;
        styles << style;
        return style == app::MsgStyle::YesNo ? app::MsgAnswer::No : app::MsgAnswer::Ok;
    }
    QString ShowSave(QWidget*, const app::FileDialogRequest& request) override
    {
        saveRequests << request;
        return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
    }
    QString ShowOpen(QWidget*, const app::FileDialogRequest& request) override
    {
        openRequests << request;
        return openAnswers.isEmpty() ? QString() : openAnswers.takeFirst();
    }
};

}  // namespace testsupport
