#pragma once
// Answers message boxes and file dialogs by script and keeps what was shown.

#include <QStringList>
#include <deque>

#include "app/UiInterface.h"

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
    std::deque<QString> fileNames;       // for file dialogs; "" (cancel) when empty
    std::vector<app::FileDialogRequest> dialogs;

    app::MsgAnswer MsgBox(QWidget* parent, const QString& text, app::MsgStyle style) override
    {
        return MsgBox(parent, text, style, QString());
    }
    app::MsgAnswer MsgBox(QWidget*, const QString& text, app::MsgStyle style, const QString& detail) override
    {
        shown.push_back({text, style, detail});
        if (style == app::MsgStyle::OkOnly)
            return app::MsgAnswer::Ok;
        if (answers.empty())
            return app::MsgAnswer::No;
        const app::MsgAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    QString ShowSave(QWidget*, const app::FileDialogRequest& r) override { return nextFile(r); }
    QString ShowOpen(QWidget*, const app::FileDialogRequest& r) override { return nextFile(r); }

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
