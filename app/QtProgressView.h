#pragma once

#include <QPointer>

#include "app/CallProgressPresenter.h"

class QProgressDialog;
class QWidget;

namespace app {

// The progress window: modal to the main window, with "Cancel".
class QtProgressView : public ProgressView {
public:
    explicit QtProgressView(QWidget* owner);
    ~QtProgressView() override;

    void showProgress(const QString& text, int value, int maximum) override;
    void hideProgress() override;
    void pumpEvents(bool progressShown) override;
    bool cancelRequested() const override;

private:
    void makeDialog();

    QWidget* m_owner;
    QPointer<QProgressDialog> m_dialog;
};

}  // namespace app
