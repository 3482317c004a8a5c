#include "windows/AuxTexts.h"

#include <QFile>

namespace windows {

namespace {

QString readResource(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

}  // namespace

QString helpText()
{
    static const QString text = readResource(QStringLiteral(":/windows/help.txt"));
    return text;
}

QStringList licenceLines()
{
    static const QStringList lines = [] {
        QString text = readResource(QStringLiteral(":/windows/LICENSE"));
        text.remove(u'\r');
        if (text.endsWith(u'\n'))
            text.chop(1);
        return text.split(u'\n');
    }();
    return lines;
}

}  // namespace windows
