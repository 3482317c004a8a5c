#include "remote/NameList.h"

namespace remote {

NameList& NameList::operator=(std::initializer_list<QString> names)
{
    clear();
    for (const QString& name : names)
        append(name);
    return *this;
}

void NameList::append(QStringView name)
{
    m_chars.append(name);
    m_ends.append(quint32(m_chars.size()));
}

void NameList::clear()
{
    m_chars = QString();
    m_ends = QList<quint32>();
}

QStringView NameList::at(qsizetype i) const
{
    if (i < 0 || i >= m_ends.size())
        return {};
    const qsizetype begin = i == 0 ? 0 : qsizetype(m_ends[i - 1]);
    return QStringView(m_chars).mid(begin, qsizetype(m_ends[i]) - begin);
}

QStringList NameList::toList() const
{
    QStringList out;
    out.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        out.append(at(i).toString());
    return out;
}

bool operator==(const NameList& a, const QStringList& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a.at(i) != b[i])
            return false;
    }
    return true;
}

}  // namespace remote
