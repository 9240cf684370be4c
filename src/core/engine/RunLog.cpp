#include "RunLog.h"

#include <QLocale>

namespace salvo {

RunLog::RunLog(const QString &myPath) : m_file(myPath + QStringLiteral("Log.txt")) {}

QString RunLog::startLine(const QDateTime &now)
{
    const QLocale locale = QLocale::system();
    return QStringLiteral("...Extract Start on ") + locale.toString(now.date(), QLocale::ShortFormat)
        + QLatin1Char(' ') + locale.toString(now.time(), QLocale::LongFormat);
}

bool RunLog::open(const QDateTime &now)
{
    // The log names the archives of the user's runs: its owner's only, an
    // older one made so too.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    m_file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    writeLine(startLine(now));
    return true;
}

void RunLog::writeLine(const QString &line)
{
    // Each line reaches the file at once: the questions of a run point the
    // user to the log while they wait, and a killed program keeps what it found.
    if (m_file.isOpen()) {
        m_file.write(line.toUtf8() + "\r\n");
        m_file.flush();
    }
}

void RunLog::close()
{
    m_file.close();
}

bool RunLog::append(const QString &myPath, const QStringList &lines)
{
    RunLog log(myPath);
    if (!log.m_file.open(QIODevice::WriteOnly | QIODevice::Append, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    log.m_file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    for (const QString &line : lines)
        log.writeLine(line);
    return true;
}

} // namespace salvo
