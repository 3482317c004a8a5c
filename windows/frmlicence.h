#pragma once
// The licence window: the program's licence shown line by line in a list.

#include <QWidget>

class QListWidget;

namespace windows {

class frmlicence : public QWidget {
    Q_OBJECT
public:
    explicit frmlicence(QWidget* parent = nullptr);

    QListWidget* List1() const { return m_List1; }

private:
    QListWidget* m_List1;
};

}  // namespace windows
