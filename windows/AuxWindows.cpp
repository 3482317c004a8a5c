#include "windows/AuxWindows.h"

#include <QCoreApplication>

namespace windows {

namespace {

template <typename W>
W* present(W* window)
{
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

template <typename W>
void destroy(QPointer<W>& window)
{
    if (window && QCoreApplication::instance())
        delete window.data();
}

}  // namespace

AuxWindows::AuxWindows(AnimationServices animationServices)
    : m_animationServices(std::move(animationServices))
{
}

AuxWindows::~AuxWindows()
{
    destroy(m_about);  // before m_animation, which its logo refers to
    destroy(m_licence);
    destroy(m_help);
}

fmhelp* AuxWindows::showHelp()
{
    if (!m_help)
        m_help = new fmhelp();
    return present(m_help.data());
}

frmlicence* AuxWindows::showLicence()
{
    if (!m_licence)
        m_licence = new frmlicence();
    return present(m_licence.data());
}

Form4* AuxWindows::showAbout()
{
    if (!m_about)
        m_about = new Form4([this] { showAnimation(); });
    return present(m_about.data());
}

frmanim& AuxWindows::showAnimation()
{
    if (!m_animation)
        m_animation = std::make_unique<frmanim>(m_animationServices);
    m_animation->Show();
    return *m_animation;
}

}  // namespace windows
