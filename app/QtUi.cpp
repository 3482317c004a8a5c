#include "app/QtUi.h"

#include "app/PermissionsDialog.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace app {

using ui::FileDialogRequest;
using ui::MsgAnswer;
using ui::MsgStyle;

MsgAnswer QtUi::MsgBox(QWidget* parent, const QString& text, MsgStyle style)
{
    return MsgBox(parent, text, style, QString());
}

MsgAnswer QtUi::MsgBox(QWidget* parent, const QString& text, MsgStyle style, const QString& detail)
{
    QMessageBox box(QMessageBox::NoIcon, ui::kAppTitle, text, QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    if (!detail.isEmpty())
        box.setDetailedText(detail);
    if (style == MsgStyle::YesNo || style == MsgStyle::YesNoDefaultNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(style == MsgStyle::YesNo ? QMessageBox::Yes : QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return MsgAnswer::Ok;
}

int QtUi::Choose(QWidget* parent, const ui::Choice& choice)
{
    QMessageBox box(QMessageBox::NoIcon, ui::kAppTitle, choice.text, QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    if (!choice.detail.isEmpty())
        box.setDetailedText(choice.detail);
    QList<QPushButton*> buttons;
    for (const QString& answer : choice.answers)
        buttons << box.addButton(answer, QMessageBox::AcceptRole);
    const int escape = choice.escapeAnswer >= 0 ? choice.escapeAnswer : choice.defaultAnswer;
    if (buttons.isEmpty())
        return escape;
    box.setDefaultButton(buttons.value(choice.defaultAnswer, buttons.front()));
    box.setEscapeButton(buttons.value(escape, buttons.front()));
    box.exec();
    const int chosen = buttons.indexOf(static_cast<QPushButton*>(box.clickedButton()));
    return chosen >= 0 ? chosen : escape;
}

QString QtUi::ShowSave(QWidget* parent, const FileDialogRequest& request)
{
    // A settings file is replaced without asking, so the dialog does not ask either.
    return QFileDialog::getSaveFileName(parent, request.title, QString(), request.filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

QString QtUi::ShowOpen(QWidget* parent, const FileDialogRequest& request)
{
    return QFileDialog::getOpenFileName(parent, request.title, QString(), request.filter);
}

std::optional<QString> QtUi::AskText(QWidget* parent, const ui::TextRequest& request)
{
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent, ui::kAppTitle, request.text, QLineEdit::Normal, request.initial, &ok);
    return ok ? std::optional<QString>(text) : std::nullopt;
}

std::optional<int> QtUi::AskPermissions(QWidget* parent, const ui::PermissionsRequest& request)
{
    PermissionsDialog box(parent, request.name, request.mode);
    return box.exec() == QDialog::Accepted ? std::optional<int>(box.mode()) : std::nullopt;
}

}  // namespace app
