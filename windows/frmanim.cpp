#include "windows/frmanim.h"

#include "windows/AuxTexts.h"
#include "windows/Twips.h"
#include "windows/WindowStyle.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QRandomGenerator>
#include <QTimer>

namespace windows {

QtIntervalTimer::QtIntervalTimer(std::function<void()> onTick)
    : m_timer(std::make_unique<QTimer>())
{
    m_timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(m_timer.get(), &QTimer::timeout, m_timer.get(), std::move(onTick));
}

QtIntervalTimer::~QtIntervalTimer() = default;

void QtIntervalTimer::setInterval(int ms)
{
    m_interval = ms > 0 ? ms : 0;
    if (m_interval > 0)
        m_timer->start(m_interval);
    else
        m_timer->stop();
}

double SystemRandom::next()
{
    return QRandomGenerator::global()->generateDouble();
}

// ---------------------------------------------------------------------------

AnimationSurface::AnimationSurface(IDrawSink* observer)
    : m_observer(observer)
    , m_slider(kSliderPicture)
    , m_finale(kFinalePicture)
{
    setObjectName(QStringLiteral("frmanim"));
    setWindowTitle(QStringLiteral("Korvel Animation"));
    applyFixedToolStyle(this, px(6690), px(5940), kAnimationIcon);
    // Old pixels stay where nothing asks for a repaint: that is where the
    // dots of earlier ticks remain visible.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
}

void AnimationSurface::point(int x, int y, QRgb colour)
{
    if (m_observer)
        m_observer->point(x, y, colour);
    const QPoint p(px(x), px(y));
    m_pending.push_back({p, p, colour, false});
    m_opArea += QRect(p, QSize(1, 1));
    m_requested += QRect(p, QSize(1, 1));
}

void AnimationSurface::line(int x1, int y1, int x2, int y2, QRgb colour)
{
    if (m_observer)
        m_observer->line(x1, y1, x2, y2, colour);
    const QPoint a(px(x1), px(y1));
    const QPoint b(px(x2), px(y2));
    m_pending.push_back({a, b, colour, true});
    const QRect r = QRect(a, b).normalized();
    m_opArea += r;
    m_requested += r;
}

void AnimationSurface::pictureChanged(const QRect& area)
{
    if (m_observer)
        m_observer->pictureChanged(area);
    const QRect r = pxRect(area.left(), area.top(), area.width(), area.height());
    m_uncovered += r;
    m_requested += r;
}

void AnimationSurface::flush()
{
    if (!m_requested.isEmpty())
        update(m_requested);
    m_requested = QRegion();
}

void AnimationSurface::paintEvent(QPaintEvent* event)
{
    ++m_paints;
    QPainter painter(this);

    // Everywhere except the pixels that only fresh drawing touched, the
    // window shows what it is made of: background and visible pictures. A
    // picture that moved after a dot was drawn under it wipes that dot too,
    // as a repaint of that area would.
    const QRegion drawn = m_opArea - m_uncovered;
    const QRegion scene = event->region() - drawn;
    if (!scene.isEmpty()) {
        painter.setClipRegion(scene);
        painter.fillRect(rect(), Qt::black);
        if (m_scene) {
            if (m_scene->image1Visible()) {
                const QRect r = m_scene->image1Rect();
                painter.drawImage(QPoint(px(r.left()), px(r.top())), m_slider);
            }
            if (m_scene->image2Visible()) {
                const QRect r = AnimationDisplay::image2Rect();
                painter.drawImage(QPoint(px(r.left()), px(r.top())), m_finale);
            }
        }
    }

    const QRegion fresh = event->region() & drawn;
    if (!fresh.isEmpty() && !m_pending.empty()) {
        painter.setClipRegion(fresh);
        for (const Op& op : m_pending) {
            painter.setPen(QColor::fromRgb(op.colour));
            if (op.isLine)
                painter.drawLine(op.a, op.b);
            else
                painter.drawPoint(op.a);
        }
    }

    // Drawn once; nothing of it is kept for later repaints.
    m_pending.clear();
    m_opArea = QRegion();
    m_uncovered = QRegion();
}

void AnimationSurface::closeEvent(QCloseEvent* event)
{
    emit closing();
    QWidget::closeEvent(event);
}

// ---------------------------------------------------------------------------

frmanim::frmanim(AnimationServices services, QObject* parent)
    : QObject(parent)
    , m_services(std::move(services))
{
    if (!m_services.makeTimer) {
        m_services.makeTimer = [](std::function<void()> onTick) -> std::unique_ptr<ITimer> {
            return std::make_unique<QtIntervalTimer>(std::move(onTick));
        };
    }
}

frmanim::~frmanim()
{
    QPointer<AnimationSurface> window = m_window;
    dropDisplay();
    if (window && QCoreApplication::instance())
        delete window.data();
}

void frmanim::Show()
{
    if (!m_window) {
        auto* surface = new AnimationSurface(m_services.observer);
        m_window = surface;
        connect(surface, &AnimationSurface::closing, this, &frmanim::dropDisplay);
        connect(surface, &QObject::destroyed, this, &frmanim::dropDisplay);

        auto display = std::make_unique<Display>();
        display->timer2 = m_services.makeTimer([this] { Timer2_Timer(); });
        display->timer1 = m_services.makeTimer([this] { Timer1_Timer(); });
        IRandom& random = m_services.random ? *m_services.random : m_systemRandom;
        display->logic = std::make_unique<AnimationDisplay>(*display->timer1, *display->timer2,
                                                            random, *surface, m_dotCounter);
        m_display = std::move(display);
        surface->setScene(m_display->logic.get());
    }
    m_window->show();
}

void frmanim::Timer1_Timer()
{
    if (!m_display || !m_window)
        return;
    m_display->logic->Timer1_Timer();
    m_window->flush();
}

void frmanim::Timer2_Timer()
{
    if (!m_display || !m_window)
        return;
    m_display->logic->Timer2_Timer();
    m_window->flush();
}

void frmanim::dropDisplay()
{
    // The closed window deletes itself; from now on it is no longer ours, and
    // the next Show() builds a new one even if the old one is still around.
    if (m_window) {
        disconnect(m_window, nullptr, this, nullptr);
        m_window->setScene(nullptr);
        m_window.clear();
    }
    m_display.reset();
}

}  // namespace windows
