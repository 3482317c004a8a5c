#include "app/Program.h"

#include "app/QtProgressView.h"
#include "app/QtUi.h"
#include "app/ShutdownSignals.h"
#include "app/fmKESTRIX.h"
#include "net/InternetApi.h"

namespace app {

Program::Program(net::InternetApi& internet, ProgramParts parts) : m_internet(internet)
{
    if (!parts.ui) {
        m_ownUi = std::make_unique<QtUi>();
        parts.ui = m_ownUi.get();
    }
    m_window = std::make_unique<fmKESTRIX>(internet, *parts.ui, *this, parts.aux, std::move(parts.quit));
    if (!parts.progressView) {
        m_ownView = std::make_unique<QtProgressView>(m_window.get());
        parts.progressView = m_ownView.get();
    }
    m_presenter = std::make_unique<CallProgressPresenter>(*parts.progressView);
    internet.setCallWatcher(m_presenter.get());
    if (parts.endOnSignals)
        m_signals = std::make_unique<ShutdownSignals>([this] { m_presenter->cancelCallsKilled(); });
}

Program::~Program() { m_internet.setCallWatcher(nullptr); }

bool Program::callRunning() const { return m_presenter && m_presenter->running(); }

void Program::cancelCalls()
{
    if (m_presenter)
        m_presenter->cancelCalls();
}

bool Program::ending() const { return m_presenter && m_presenter->cancellingAll(); }

void Program::whenCallEnds(std::function<void()> then)
{
    if (m_presenter)
        m_presenter->whenCallEnds(std::move(then));
    else
        then();
}

}  // namespace app
