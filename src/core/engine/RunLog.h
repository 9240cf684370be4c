#pragma once
// "Log.txt" in the program folder: each pre-scan appends a block of findings,
// lines ended by CR LF, that begins with the start line.
#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>

namespace salvo {

class RunLog {
public:
    explicit RunLog(const QString &myPath);
    // Opens for appending and writes "...Extract Start on " with the date and time.
    bool open(const QDateTime &now = QDateTime::currentDateTime());
    void writeLine(const QString &line);
    void close();

    // Appends lines outside a run's block (no start line).
    static bool append(const QString &myPath, const QStringList &lines);

    static QString startLine(const QDateTime &now);

private:
    QFile m_file;
};

} // namespace salvo
