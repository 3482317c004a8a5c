#pragma once
// The permissions of a server entry: read, write and execute for its owner, its group
// and others, and the same as an octal number; each follows the other as it changes.

#include <QDialog>

#include <array>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace app {

class PermissionsDialog : public QDialog {
    Q_OBJECT
public:
    // `mode` -1: not known; the boxes start empty and OK waits for a choice.
    PermissionsDialog(QWidget* parent, const QString& name, int mode);
    int mode() const;  // the nine bits shown

private:
    void checkBits(int mode);
    void showMode(int mode);
    void octalEdited(const QString& text);

    std::array<QCheckBox*, 9> m_bits{};  // owner r w x, group r w x, others r w x
    QLineEdit* m_octal = nullptr;
    QPushButton* m_ok = nullptr;
};

}  // namespace app
