#include "ConsoleExtractors.h"

#include "platform/ChildProcess.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace salvo {
namespace {

// Longest line read from a console program's output; longer ones are cut.
constexpr qint64 kMaxLine = 4096;
constexpr qint64 kMaxCapture = 64 * 1024 * 1024;

QStringList readLines(const QString &path)
{
    QStringList lines;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() > kMaxCapture)
        return lines;
    while (!f.atEnd()) {
        QByteArray line = f.readLine(kMaxLine);
        if (!line.endsWith('\n') && !f.atEnd()) {
            // The rest of an overlong line is skipped.
            while (!f.atEnd() && !f.readLine(kMaxLine).endsWith('\n')) {
            }
        }
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        lines << QString::fromLocal8Bit(line);
    }
    return lines;
}

QString versionText(QString text, const QString &alpha, const QString &beta)
{
    text.remove(QLatin1Char(' '));
    text.replace(alpha, QStringLiteral("a"));
    text.replace(beta, QStringLiteral("b"));
    return text;
}

// Copies the listing part of a capture into "FileList.tmp": the first seven
// lines are skipped, then lines are copied until `stop` (not copied) or until
// an empty line has been copied.
QString copyListing(const QStringList &lines, const QString &stop, const QString &fileList)
{
    QFile out(fileList);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    for (qsizetype i = 7; i < lines.size(); ++i) {
        if (lines[i] == stop)
            break;
        out.write(lines[i].toLocal8Bit() + "\r\n");
        if (lines[i].isEmpty())
            break;
    }
    return fileList;
}

} // namespace

ConsoleExtractors::ConsoleExtractors(QString myPath, QString rkFolder, QString yz2Folder)
    : m_myPath(std::move(myPath)), m_rkFolder(std::move(rkFolder)), m_yz2Folder(std::move(yz2Folder))
{
}

QString ConsoleExtractors::capture(const QString &program, const QStringList &arguments, const QString &captureName)
{
    const QString output = m_myPath + captureName;
    QFile::remove(output);
    if (!runCaptured(program, arguments, output, m_cancel)) {
        QFile::remove(output);
        return {};
    }
    return QFileInfo::exists(output) ? output : QString();
}

QString ConsoleExtractors::rkVersion()
{
    const QString file = capture(rkProgram(), {}, QStringLiteral("rk.ver"));
    if (file.isEmpty())
        return QStringLiteral("Failed");
    const QStringList lines = readLines(file);
    QFile::remove(file);
    const QString first = lines.value(0);
    // From the 31st character up to, not including, the last one.
    return versionText(first.mid(30, first.size() - 31), QStringLiteral("(alpha)"), QStringLiteral("(beta)"));
}

QString ConsoleExtractors::yz2Version()
{
    const QString file = capture(yz2Program(), {}, QStringLiteral("yz2dec.ver"));
    if (file.isEmpty())
        return QStringLiteral("Failed");
    const QStringList lines = readLines(file);
    QFile::remove(file);
    const QString first = lines.value(0);
    // From the 10th character up to the first "(".
    const qsizetype paren = first.indexOf(QLatin1Char('('));
    return versionText(first.mid(9, paren < 0 ? -1 : paren - 9), QStringLiteral("alpha"), QStringLiteral("beta"));
}

int ConsoleExtractors::test(const QString &program, const QStringList &arguments, const QString &archive,
                            const QString &captureName, const QString &okLine)
{
    const QString file = capture(program, arguments, captureName);
    const QStringList lines = readLines(file);
    if (!file.isEmpty())
        QFile::remove(file);
    if (!QFileInfo::exists(archive))
        return 3;
    return lines.contains(okLine) ? 1 : 2;
}

int ConsoleExtractors::rkTest(const QString &archive)
{
    // The archive goes as one argument: no quoting is needed without a shell.
    return test(rkProgram(), {QStringLiteral("-i"), archive}, archive, QStringLiteral("rk.chk"),
                QStringLiteral("Integrity check OK."));
}

int ConsoleExtractors::yz2Test(const QString &archive)
{
    return test(yz2Program(), {QStringLiteral("-t"), archive}, archive, QStringLiteral("yz2.chk"),
                QStringLiteral("--- Normal end ---"));
}

QString ConsoleExtractors::rkListing(const QString &archive)
{
    const QString file = capture(rkProgram(), {QStringLiteral("-va"), archive}, QStringLiteral("rk.list"));
    const QStringList lines = readLines(file);
    if (!file.isEmpty())
        QFile::remove(file);
    const bool complete = std::any_of(lines.begin(), lines.end(), [](const QString &l) {
        return l.size() >= 11 && l.startsWith(QLatin1String("Finished."));
    });
    if (!complete)
        return {};
    return copyListing(lines, QStringLiteral("  -------                    -------"), m_myPath + QStringLiteral("FileList.tmp"));
}

QString ConsoleExtractors::yz2Listing(const QString &archive)
{
    const QString file = capture(yz2Program(), {QStringLiteral("-l"), archive}, QStringLiteral("yz2.list"));
    const QStringList lines = readLines(file);
    if (!file.isEmpty())
        QFile::remove(file);
    const QString end = QStringLiteral("--- Normal end ---");
    if (!lines.contains(end))
        return {};
    return copyListing(lines, end, m_myPath + QStringLiteral("FileList.tmp"));
}

QVector<ComponentEntry> ConsoleExtractors::readFileList(const QString &fileListPath)
{
    QVector<ComponentEntry> entries;
    for (const QString &line : readLines(fileListPath)) {
        QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (!fields.isEmpty() && fields.last().endsWith(QLatin1Char('%')))
            fields.removeLast();
        if (fields.size() < 3)
            continue;
        bool okPacked = false, okOriginal = false;
        const qint64 packed = fields.takeLast().toLongLong(&okPacked);
        const qint64 original = fields.takeLast().toLongLong(&okOriginal);
        if (!okPacked || !okOriginal)
            continue;
        ComponentEntry e;
        e.name = fields.join(QLatin1Char(' '));
        e.originalSize64 = original;
        e.originalSize = static_cast<quint32>(std::clamp<qint64>(original, 0, 0xFFFFFFFFLL));
        e.compressedSize = static_cast<quint32>(std::clamp<qint64>(packed, 0, 0xFFFFFFFFLL));
        if (original > 0)
            e.ratio = static_cast<quint16>(std::min<qint64>(packed * 1000 / original, 65535));
        entries << e;
    }
    return entries;
}

} // namespace salvo
