#include "app/QtUi.h"

#include <QFileDialog>
#include <QMessageBox>

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

}  // namespace app
