#pragma once
// The program-wide references to the auxiliary windows, one per kind. Each
// window is created on its first request and shown modeless, without an
// owner. A request while it is open makes no second copy and resets nothing;
// after the user has closed it the next request builds it afresh.
//
// Keep one AuxWindows for the whole run, outside the main window, so that
// these windows outlive it:
//   hlp_Click     -> showHelp()
//   license_Click -> showLicence()
//   about_Click   -> showAbout()

#include "windows/Form4.h"
#include "windows/fmhelp.h"
#include "windows/frmanim.h"
#include "windows/frmlicence.h"

#include <QPointer>

#include <memory>

namespace windows {

class AuxWindows {
public:
    explicit AuxWindows(AnimationServices animationServices = {});
    ~AuxWindows();
    AuxWindows(const AuxWindows&) = delete;
    AuxWindows& operator=(const AuxWindows&) = delete;

    fmhelp* showHelp();
    frmlicence* showLicence();
    Form4* showAbout();
    // What the about window's logo double-click does.
    frmanim& showAnimation();

    // The open windows, or null when not open.
    fmhelp* help() const { return m_help; }
    frmlicence* licence() const { return m_licence; }
    Form4* about() const { return m_about; }
    // The animation instance, null before its first request.
    frmanim* animation() const { return m_animation.get(); }

private:
    AnimationServices m_animationServices;
    QPointer<fmhelp> m_help;
    QPointer<frmlicence> m_licence;
    QPointer<Form4> m_about;
    std::unique_ptr<frmanim> m_animation;
};

}  // namespace windows
