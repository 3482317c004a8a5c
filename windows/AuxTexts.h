#pragma once
// The fixed contents of the help, licence and about windows.

#include <QString>
#include <QStringList>

namespace windows {

// The help text as stored: lines separated by CR LF.
QString helpText();
// One list item per line of the licence the program is distributed under (LICENSE); "" for blank lines.
QStringList licenceLines();

inline const QString kMakerName = QStringLiteral("Orrin Vale Software");
inline const QString kAboutLabel1 = QStringLiteral("KorvelFTP 2000 v1.0");
inline const QString kAboutLabel2 = QStringLiteral("Copyright \u00A9 2000 Orrin Vale Software");
inline const QString kAboutLabel3 = QStringLiteral("Programmed by Tamsin Ashdown");
inline const QString kAboutLabel4 =
    QStringLiteral("Beta tested by the staff and friends\nof Orrin Vale Software");

inline const QString kHelpIcon = QStringLiteral(":/windows/help-icon.png");
inline const QString kAboutIcon = QStringLiteral(":/windows/about-icon.png");
inline const QString kAnimationIcon = QStringLiteral(":/windows/anim-icon.png");
inline const QString kLogoPicture = QStringLiteral(":/windows/logo.png");
inline const QString kSliderPicture = QStringLiteral(":/windows/slider.png");
inline const QString kFinalePicture = QStringLiteral(":/windows/finale.png");

}  // namespace windows
