#pragma once
// An ordered list of entry names kept in one block of characters: the listing
// buffer of names, which may hold a million entries at a time.

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <initializer_list>

namespace remote {

class NameList {
public:
    NameList() = default;
    NameList(std::initializer_list<QString> names) { *this = names; }
    NameList& operator=(std::initializer_list<QString> names);

    void append(QStringView name);
    NameList& operator<<(const QString& name)
    {
        append(name);
        return *this;
    }

    qsizetype size() const { return m_ends.size(); }
    bool isEmpty() const { return m_ends.isEmpty(); }
    // Gives the memory back too.
    void clear();
    // 0-based; valid until the list changes.
    QStringView at(qsizetype i) const;
    QString operator[](qsizetype i) const { return at(i).toString(); }
    QStringList toList() const;

    friend bool operator==(const NameList& a, const NameList& b)
    {
        return a.m_ends == b.m_ends && a.m_chars == b.m_chars;
    }
    friend bool operator==(const NameList& a, const QStringList& b);

private:
    QString m_chars;
    QList<quint32> m_ends;  // where each name ends in m_chars
};

}  // namespace remote
