#include "app/QtProgressView.h"

#include <QCoreApplication>
#include <QEvent>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>

namespace app {

QtProgressView::QtProgressView(QWidget* owner) : m_owner(owner)
{
    makeDialog();
    QCoreApplication::instance()->installEventFilter(this);
}

// Made and laid out ahead: built at its first show, it would hold the events of
// the running call up for a tenth of a second.
void QtProgressView::makeDialog()
{
    m_dialog = new QProgressDialog(m_owner);
    m_dialog->setWindowTitle(QStringLiteral("Quillon FTP"));
    m_dialog->setCancelButtonText(QStringLiteral("Cancel"));
    m_dialog->setWindowModality(Qt::NonModal);  // see eventFilter
    m_dialog->setAutoReset(false);
    m_dialog->setAutoClose(false);
    m_dialog->setMinimumDuration(0);
    m_dialog->setMinimumWidth(420);
    if (auto* bar = m_dialog->findChild<QProgressBar*>())
        bar->setAccessibleName(QStringLiteral("Progress"));
    // No default button: a stray Return must not cancel the call; Cancel is chosen, or Escape,
    // which also cancels when it reaches the window as the dialog's own rejection.
    if (auto* cancel = m_dialog->findChild<QPushButton*>()) {
        cancel->setAutoDefault(false);
        cancel->setDefault(false);
    }
    connect(m_dialog, &QDialog::rejected, m_dialog, &QProgressDialog::cancel);
    m_dialog->reset();  // stops the timer that would show the dialog by itself
    m_dialog->hide();
    m_dialog->ensurePolished();
    m_dialog->adjustSize();
}

QtProgressView::~QtProgressView()
{
    QCoreApplication::instance()->removeEventFilter(this);
    delete m_dialog;
}

// While the progress window shows, the owner and its menus take no input, as under a
// window-modal dialog; their close request still arrives and cancels the call.
bool QtProgressView::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        break;
    default:
        return false;
    }
    if (!m_dialog || !m_dialog->isVisible())
        return false;
    for (QObject* o = watched; o; o = o->parent()) {
        if (o == m_dialog)
            return false;
        if (o == m_owner)
            return true;
    }
    return false;
}

void QtProgressView::showProgress(const QString& text, int value, int maximum)
{
    if (!m_dialog)
        makeDialog();
    if (!m_dialog->isVisible()) {
        m_dialog->reset();
        m_dialog->show();
    }
    m_dialog->setLabelText(text);
    m_dialog->setMaximum(maximum);
    m_dialog->setValue(value);
}

void QtProgressView::hideProgress()
{
    if (m_dialog) {
        m_dialog->hide();
        m_dialog->reset();
    }
}

void QtProgressView::pumpEvents(bool progressShown)
{
    // Until the modal progress window shows, user input must wait: the handler
    // that made the call is still running.
    // The layer calls back every 20 ms, so this never holds the call up for long.
    QCoreApplication::processEvents(progressShown ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents, 20);
}

bool QtProgressView::cancelRequested() const
{
    return m_dialog && m_dialog->wasCanceled();
}

}  // namespace app
