#include "app/CallProgressPresenter.h"

#include <QFileInfo>
#include <QLocale>

#include "net/NameCodec.h"

namespace app {

namespace {

// The locale's data size in the unit that fits it (KiB, MiB, ...), so a
// slow transfer reads "512.0 KiB/s" rather than 0.
QString dataSize(double bytes)
{
    return QLocale().formattedDataSize(static_cast<qint64>(bytes + 0.5), 1);
}

}  // namespace

CallProgressPresenter::CallProgressPresenter(ProgressView& view, Clock clock) : m_view(view), m_clock(std::move(clock))
{
}

void CallProgressPresenter::callStarted(const net::CallProgress&)
{
    if (m_batch.running)
        return;  // the batch's window goes on
    m_start = m_clock();
    m_running = true;
    m_shown = false;
}

bool CallProgressPresenter::callProgress(const net::CallProgress& now)
{
    if (!m_running)
        return true;
    if (m_cancelAll)
        return false;
    const auto clock = m_clock();
    const auto elapsed = clock - m_start;
    if (!m_shown && elapsed < kShowAfter) {
        m_view.pumpEvents(false);
        return true;
    }
    if (!m_shown || !m_batch.running || clock - m_drawn >= kBatchRedraw) {
        m_drawn = clock;
        const double seconds = std::chrono::duration<double>(elapsed).count();
        // In a batch the clock runs from its start: the rate is the whole batch's.
        const std::uint64_t moved = now.done + (m_batch.running ? m_batch.before : 0);
        const double rate = seconds > 0 ? static_cast<double>(moved) / seconds : 0.0;
        int value = 0;
        int maximum = 0;
        if (now.total > 0) {
            maximum = 1000;
            value = static_cast<int>(std::min<std::uint64_t>(now.done, now.total) * 1000 / now.total);
        }
        QString text = describe(now, rate);
        if (m_batch.running)
            text = batchLine(now, seconds, value, maximum) + text;
        m_view.showProgress(text, value, maximum);
    }
    m_shown = true;
    m_view.pumpEvents(true);
    if (m_view.cancelRequested() && m_batch.running)
        m_batchCancelled = true;
    return !m_view.cancelRequested();
}

// "File 3 of 10, 12.0 KiB of 40.0 KiB, 2 s left", and the bar for the whole batch.
QString CallProgressPresenter::batchLine(const net::CallProgress& now, double seconds, int& value, int& maximum) const
{
    const std::uint64_t done = m_batch.before + std::min<std::uint64_t>(now.done, now.total ? now.total : now.done);
    QString line = QStringLiteral("File %1 of %2, %3").arg(m_batch.index + 1).arg(m_batch.files).arg(dataSize(double(done)));
    maximum = 0;
    value = 0;
    if (m_batch.bytes > 0) {
        line += QStringLiteral(" of ") + dataSize(double(m_batch.bytes));
        maximum = 1000;
        value = static_cast<int>(std::min(done, m_batch.bytes) * 1000 / m_batch.bytes);
        if (done > 0 && seconds > 0) {
            const double left = double(m_batch.bytes - std::min(done, m_batch.bytes)) * seconds / double(done);
            line += QStringLiteral(", %1 s left").arg(static_cast<qulonglong>(left + 0.5));
        }
    }
    return line + QLatin1Char('\n');
}

void CallProgressPresenter::batchStarted(std::uint64_t files, std::uint64_t bytes)
{
    m_batch = {true, files, bytes, 0, 0};
    m_batchCancelled = false;
    m_start = m_clock();
    m_running = true;
    m_shown = false;
}

void CallProgressPresenter::batchFile(std::uint64_t index, std::uint64_t bytesBefore)
{
    m_batch.index = index;
    m_batch.before = bytesBefore;
}

void CallProgressPresenter::batchQuestion()
{
    if (m_shown)
        m_view.hideProgress();  // the question takes the input the window would hold back
    m_shown = false;
}

void CallProgressPresenter::batchEnded()
{
    m_batch.running = false;
    ended();
}

void CallProgressPresenter::callFinished()
{
    if (!m_batch.running)
        ended();
}

void CallProgressPresenter::ended()
{
    if (m_shown)
        m_view.hideProgress();
    m_running = false;
    m_shown = false;
    std::vector<std::function<void()>> waiting;
    waiting.swap(m_whenEnded);
    for (const auto& then : waiting)
        then();
}

void CallProgressPresenter::whenCallEnds(std::function<void()> then)
{
    if (!m_running)
        then();
    else
        m_whenEnded.push_back(std::move(then));
}

QString CallProgressPresenter::describe(const net::CallProgress& now, double bytesPerSecond)
{
    const QString subject = QString::fromLocal8Bit(now.subject.c_str());
    using Kind = net::CallProgress::Kind;
    auto moving = [&](const QString& verb, const QString& folder = {}) {
        QString text = verb + QLatin1Char(' ') + subject;
        if (!folder.isEmpty())
            text += QStringLiteral(" to ") + folder;
        text += QStringLiteral(": ") + dataSize(double(now.done));
        if (now.total > 0)
            text += QStringLiteral(" of ") + dataSize(double(now.total));
        if (bytesPerSecond > 0)
            text += QStringLiteral(", ") + dataSize(bytesPerSecond) + QStringLiteral("/s");
        return text;
    };
    switch (now.kind) {
    case Kind::Connecting:
        return QStringLiteral("Connecting to ") + subject + QStringLiteral("...");
    case Kind::Listing:
        return QStringLiteral("Listing ") + subject + QStringLiteral(": ") +
               QLocale(QLocale::English).toString(static_cast<qulonglong>(now.done)) + QStringLiteral(" entries");
    case Kind::ChangingDirectory:
        return QStringLiteral("Opening ") + subject + QStringLiteral("...");
    case Kind::Downloading:  // and where it goes: the open folder, which may not be the one highlighted
        return moving(QStringLiteral("Downloading"),
                      now.destination.empty() ? QString() : QFileInfo(net::textFromBytes(now.destination)).path());
    case Kind::Uploading:
        return moving(QStringLiteral("Uploading"));
    case Kind::ServerCommand:
        return QStringLiteral("Changing ") + subject + QStringLiteral("...");
    case Kind::Checking:
        return QStringLiteral("Checking ") + subject + QStringLiteral(" against the server's hash...");
    }
    return subject;
}

}  // namespace app
