#include "ShellFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace salvo {

ShellProgram ShellProgram::current()
{
    return {QCoreApplication::applicationFilePath()};
}

QString ShellProgram::folder() const
{
    return QFileInfo(executable).absolutePath();
}

bool ShellProgram::usable() const
{
    if (executable.isEmpty() || !QDir::isAbsolutePath(executable))
        return false;
    for (const QChar c : executable) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

QString xdgDataHome()
{
    const QString fromEnv = qEnvironmentVariable("XDG_DATA_HOME");
    if (!fromEnv.isEmpty() && QDir::isAbsolutePath(fromEnv))
        return QDir::cleanPath(fromEnv);
    return QDir::homePath() + QStringLiteral("/.local/share");
}

QString desktopExecArgument(const QString &argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool quote = argument.isEmpty();
    for (const QChar c : argument)
        quote = quote || reserved.contains(c);
    QString out;
    if (quote)
        out += QLatin1Char('"');
    for (const QChar c : argument) {
        if (c == QLatin1Char('%'))
            out += QLatin1String("%%");
        else if (quote && (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$')
                           || c == QLatin1Char('\\')))
            out += QLatin1Char('\\') + QString(c);
        else
            out += c;
    }
    if (quote)
        out += QLatin1Char('"');
    // The string-value escapes apply before the quoting rule is read.
    return desktopStringValue(out);
}

QString desktopStringValue(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\': out += QLatin1String("\\\\"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\t': out += QLatin1String("\\t"); break;
        case '\r': out += QLatin1String("\\r"); break;
        default: out += c;
        }
    }
    return out;
}

QString shellQuoted(const QString &text)
{
    QString out = text;
    out.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + out + QLatin1Char('\'');
}

bool saveFileAtomically(const QString &path, const QByteArray &bytes)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

bool writeFileIfDifferent(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions,
                          bool *changed)
{
    if (changed)
        *changed = false;
    const QFileInfo info(path);
    if (info.isFile() && info.size() == bytes.size()) {
        QFile existing(path);
        if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes) {
            constexpr auto mask = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                  | QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
                                  | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
            if ((info.permissions() & mask) != permissions)
                QFile::setPermissions(path, permissions);
            return true;
        }
    }
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    if (!saveFileAtomically(path, bytes))
        return false;
    QFile::setPermissions(path, permissions);
    if (changed)
        *changed = true;
    return true;
}

bool fileHasLine(const QString &path, const QByteArray &line)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = file.read(64 * 1024).split('\n');
    for (QByteArray l : lines) {
        if (l.endsWith('\r'))
            l.chop(1);
        if (l == line)
            return true;
    }
    return false;
}

QFileDevice::Permissions executablePermissions()
{
    return QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
           | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
}

QFileDevice::Permissions plainPermissions()
{
    return QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
}

void runDesktopTool(const QString &program, const QStringList &arguments)
{
    const QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        return;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(path, arguments);
    if (!process.waitForStarted(5000))
        return;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(1000);
    }
}

bool installProgramIcon()
{
    QFile icon(QStringLiteral(":/shell/salvo-extractor.svg"));
    if (!icon.open(QIODevice::ReadOnly))
        return false;
    // No icon cache is made here: without one the theme folder is read as it is.
    return writeFileIfDifferent(xdgDataHome() + QStringLiteral("/icons/hicolor/scalable/apps/")
                                    + QLatin1String(kIconName) + QStringLiteral(".svg"),
                                icon.readAll(), plainPermissions());
}

} // namespace salvo
