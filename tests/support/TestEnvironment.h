#pragma once
// Every test runs in a fresh temporary folder that stands in for the program
// folder and for the user's XDG folders, so nothing touches the real home.
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace salvo::test {

class TempHome {
public:
    TempHome();
    ~TempHome();
    // The program folder ($SALVO_HOME), ending in "/".
    QString myPath() const { return m_home; }
    QString path(const QString &relative) const { return m_root.filePath(relative); }
    QString root() const { return m_root.path(); }

private:
    QTemporaryDir m_root;
    QString m_home;
    QByteArray m_saved[8];
};

// Sets an environment variable for as long as it lives, then puts it back.
class ScopedVariable {
public:
    ScopedVariable(const char *name, const QByteArray &value);
    ~ScopedVariable();

private:
    const char *m_name;
    QByteArray m_saved;
};

void writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);

// Runs the event loop until `done` holds or `ms` pass; returns `done`.
bool waitUntil(const std::function<bool()> &done, int ms = 10000);

} // namespace salvo::test

#include <QStringList>
#include <ostream>

// Readable QString values in test failure messages.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList &l, std::ostream *os)
{
    *os << '[' << l.join(QStringLiteral(", ")).toStdString() << ']';
}
