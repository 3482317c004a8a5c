#pragma once

#include <QObject>
#include <QPointer>

#include "app/CallProgressPresenter.h"

class QProgressDialog;
class QWidget;

namespace app {

// The progress window, with "Cancel". It takes the owner's input as a modal window
// would, but lets a close request from the window system through to the owner (the
// toolkit drops one for a window blocked by a modal window).
class QtProgressView : public QObject, public ProgressView {
public:
    explicit QtProgressView(QWidget* owner);
    ~QtProgressView() override;

    void showProgress(const QString& text, int value, int maximum) override;
    void hideProgress() override;
    void pumpEvents(bool progressShown) override;
    bool cancelRequested() const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void makeDialog();

    QWidget* m_owner;
    QPointer<QProgressDialog> m_dialog;
};

}  // namespace app
