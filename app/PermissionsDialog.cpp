#include "app/PermissionsDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "ui/UiInterface.h"

namespace app {

PermissionsDialog::PermissionsDialog(QWidget* parent, const QString& name, int mode) : QDialog(parent)
{
    setWindowTitle(ui::kAppTitle);
    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(QStringLiteral("Permissions of \"%1\":").arg(name), this);
    heading->setTextFormat(Qt::PlainText);
    layout->addWidget(heading);

    auto* grid = new QGridLayout;
    const QString columns[] = {QStringLiteral("Read"), QStringLiteral("Write"), QStringLiteral("Execute")};
    const QString rows[] = {QStringLiteral("Owner"), QStringLiteral("Group"), QStringLiteral("Others")};
    for (int c = 0; c < 3; ++c)
        grid->addWidget(new QLabel(columns[c], this), 0, c + 1);
    for (int r = 0; r < 3; ++r) {
        grid->addWidget(new QLabel(rows[r], this), r + 1, 0);
        for (int c = 0; c < 3; ++c) {
            QCheckBox* box = new QCheckBox(this);
            box->setAccessibleName(rows[r] + QLatin1Char(' ') + columns[c]);
            grid->addWidget(box, r + 1, c + 1);
            m_bits[std::size_t(r * 3 + c)] = box;
            connect(box, &QCheckBox::toggled, this, [this] { showMode(this->mode()); });
        }
    }
    layout->addLayout(grid);

    auto* octalRow = new QHBoxLayout;
    auto* octalLabel = new QLabel(QStringLiteral("&Octal:"), this);
    m_octal = new QLineEdit(this);
    m_octal->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-7]{0,3}")), m_octal));
    octalLabel->setBuddy(m_octal);
    octalRow->addWidget(octalLabel);
    octalRow->addWidget(m_octal);
    layout->addLayout(octalRow);
    connect(m_octal, &QLineEdit::textEdited, this, &PermissionsDialog::octalEdited);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    showMode(mode < 0 ? 0 : mode & 0777);
    if (mode < 0) {  // nothing known: nothing offered as if it were
        m_octal->clear();
        m_ok->setEnabled(false);
    }
}

int PermissionsDialog::mode() const
{
    int mode = 0;
    for (std::size_t i = 0; i < m_bits.size(); ++i)
        if (m_bits[i]->isChecked())
            mode |= 0400 >> i;
    return mode;
}

void PermissionsDialog::checkBits(int mode)
{
    for (std::size_t i = 0; i < m_bits.size(); ++i) {
        const QSignalBlocker quiet(m_bits[i]);
        m_bits[i]->setChecked(mode & (0400 >> i));
    }
}

void PermissionsDialog::showMode(int mode)
{
    checkBits(mode);
    m_octal->setText(QStringLiteral("%1").arg(mode, 3, 8, QLatin1Char('0')));
    m_ok->setEnabled(true);
}

void PermissionsDialog::octalEdited(const QString& text)
{
    m_ok->setEnabled(!text.isEmpty());
    if (text.isEmpty())
        return;
    checkBits(text.toInt(nullptr, 8));
}

}  // namespace app
