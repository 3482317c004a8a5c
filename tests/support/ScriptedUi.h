#pragma once
// Answers message boxes and file dialogs by script and keeps what was shown:
// the one scripted UiInterface of the window and settings tests.

#include <QStringList>
#include <deque>
#include <vector>

#include "ui/UiInterface.h"

namespace testsupport {

class ScriptedUi : public app::UiInterface {
public:
    struct Shown {
        QString text;
        app::MsgStyle style;
        QString detail = {};
    };
    std::vector<Shown> shown;
    std::deque<app::MsgAnswer> answers;  // for Yes/No boxes; "No" when empty
    app::UiInterface* boxes = nullptr;   // when set, shows the Yes/No boxes instead (the program's own)
    std::deque<QString> fileNames;       // for file dialogs, in the order asked; "" (cancel) when empty
    std::vector<app::FileDialogRequest> dialogs;      // every file dialog, in order
    std::vector<app::FileDialogRequest> saveDialogs;  // the save dialogs alone
    std::vector<app::FileDialogRequest> openDialogs;  // the open dialogs alone

    app::MsgAnswer MsgBox(QWidget* parent, const QString& text, app::MsgStyle style) override
    {
        return MsgBox(parent, text, style, QString());
    }
    app::MsgAnswer MsgBox(QWidget*, const QString& text, app::MsgStyle style, const QString& detail) override
    {
        shown.push_back({text, style, detail});
        if (style == app::MsgStyle::OkOnly)
            return app::MsgAnswer::Ok;
        if (boxes)
            return boxes->MsgBox(nullptr, text, style, detail);
        if (answers.empty())
            return app::MsgAnswer::No;
        const app::MsgAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    QString ShowSave(QWidget*, const app::FileDialogRequest& r) override
    {
        saveDialogs.push_back(r);
        return nextFile(r);
    }
    QString ShowOpen(QWidget*, const app::FileDialogRequest& r) override
    {
        openDialogs.push_back(r);
        return nextFile(r);
    }

    QStringList texts() const
    {
        QStringList out;
        for (const auto& s : shown)
            out << s.text;
        return out;
    }

private:
    QString nextFile(const app::FileDialogRequest& r)
    {
        dialogs.push_back(r);
        if (fileNames.empty())
            return {};
        QString f = fileNames.front();
        fileNames.pop_front();
        return f;
    }
};

}  // namespace testsupport
