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
    if (m_file.isOpen())
        m_file.write(line.toUtf8() + "\r\n");
}

void RunLog::close()
{
    m_file.close();
}

} // namespace salvo
