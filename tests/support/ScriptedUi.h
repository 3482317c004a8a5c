#pragma once
// Answers message boxes and file dialogs by script and keeps what was shown:
// the one scripted UiInterface of the window and settings tests.

#include <QStringList>
#include <deque>
#include <vector>

#include "ui/UiInterface.h"

namespace testsupport {

class ScriptedUi : public ui::UiInterface {
public:
    struct Shown {
        QString text;
        ui::MsgStyle style;
        QString detail = {};
    };
    std::vector<Shown> shown;
    std::deque<ui::MsgAnswer> answers;  // for Yes/No boxes; "No" when empty
    ui::UiInterface* boxes = nullptr;   // when set, shows the Yes/No boxes instead (the program's own)
    std::deque<QString> fileNames;       // for file dialogs, in the order asked; "" (cancel) when empty
    std::vector<ui::Choice> choices;     // every question with answers of its own, in order
    std::deque<int> chosen;              // the answers to them; the default one when empty
    std::vector<ui::FileDialogRequest> dialogs;      // every file dialog, in order
    std::vector<ui::FileDialogRequest> saveDialogs;  // the save dialogs alone
    std::vector<ui::FileDialogRequest> openDialogs;  // the open dialogs alone
    std::vector<ui::TextRequest> textRequests;        // every text asked for, in order
    std::deque<std::optional<QString>> typed;         // the texts typed; cancelled when empty
    std::vector<ui::PermissionsRequest> permissionRequests;
    std::deque<std::optional<int>> modes;             // the permissions chosen; cancelled when empty

    ui::MsgAnswer MsgBox(QWidget* parent, const QString& text, ui::MsgStyle style) override
    {
        return MsgBox(parent, text, style, QString());
    }
    ui::MsgAnswer MsgBox(QWidget*, const QString& text, ui::MsgStyle style, const QString& detail) override
    {
        shown.push_back({text, style, detail});
        if (style == ui::MsgStyle::OkOnly)
            return ui::MsgAnswer::Ok;
        if (boxes)
            return boxes->MsgBox(nullptr, text, style, detail);
        if (answers.empty())
            return ui::MsgAnswer::No;
        const ui::MsgAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    int Choose(QWidget*, const ui::Choice& c) override
    {
        choices.push_back(c);
        if (chosen.empty())
            return c.defaultAnswer;
        const int a = chosen.front();
        chosen.pop_front();
        return a;
    }
    QString ShowSave(QWidget*, const ui::FileDialogRequest& r) override
    {
        saveDialogs.push_back(r);
        return nextFile(r);
    }
    QString ShowOpen(QWidget*, const ui::FileDialogRequest& r) override
    {
        openDialogs.push_back(r);
        return nextFile(r);
    }

    std::optional<QString> AskText(QWidget*, const ui::TextRequest& r) override
    {
        textRequests.push_back(r);
        return next(typed);
    }
    std::optional<int> AskPermissions(QWidget*, const ui::PermissionsRequest& r) override
    {
        permissionRequests.push_back(r);
        return next(modes);
    }

    QStringList texts() const
    {
        QStringList out;
        for (const auto& s : shown)
            out << s.text;
        return out;
    }

private:
    template <typename T>
    static std::optional<T> next(std::deque<std::optional<T>>& script)
    {
        if (script.empty())
            return std::nullopt;
        std::optional<T> answer = script.front();
        script.pop_front();
        return answer;
    }
    QString nextFile(const ui::FileDialogRequest& r)
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
