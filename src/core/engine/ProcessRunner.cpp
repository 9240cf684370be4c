#include "ProcessRunner.h"

#include "CommandLineSplitter.h"
#include "platform/ChildProcess.h"
#include "settings/ProfileFile.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace salvo {
namespace {

std::function<bool(const QString &)> &desktopOpener()
{
    static std::function<bool(const QString &)> opener = [](const QString &path) {
        return QProcess::startDetached(QStringLiteral("xdg-open"), {path});
    };
    return opener;
}

QString unquoted(QString text)
{
    text = text.trimmed();
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        text = text.mid(1, text.size() - 2);
    return text;
}

} // namespace

void ProcessRunner::setDesktopOpener(std::function<bool(const QString &)> opener)
{
    desktopOpener() = std::move(opener);
}

bool ProcessRunner::openFolder(const QString &folder)
{
    const QFileInfo info(folder);
    return !folder.isEmpty() && info.isDir() && desktopOpener()(info.absoluteFilePath());
}

bool ProcessRunner::openDocument(const QString &file)
{
    const QFileInfo info(file);
    return !file.isEmpty() && info.isFile() && desktopOpener()(info.absoluteFilePath());
}

bool isFileOrProgram(const QString &name)
{
    const QString n = unquoted(name);
    if (n.isEmpty())
        return false;
    if (n.contains(QLatin1Char('/')))
        return QFileInfo::exists(n);
    return !QStandardPaths::findExecutable(n).isEmpty();
}

QString quoteIfBlank(const QString &path)
{
    const QString cut = cutAtNul(path.left(260));
    return cut.contains(QLatin1Char(' ')) ? QLatin1Char('"') + cut + QLatin1Char('"') : cut;
}

QStringList splitArguments(const QString &parameters)
{
    QStringList arguments;
    const std::u16string_view line(reinterpret_cast<const char16_t *>(parameters.utf16()), parameters.size());
    for (const std::u16string &argument : splitCommandLine(line))
        arguments << QString::fromStdU16String(argument);
    return arguments;
}

bool ProcessRunner::start(const QString &commandLine)
{
    return launch(commandLine, false);
}

bool ProcessRunner::runAndWait(const QString &commandLine)
{
    return launch(commandLine, true);
}

bool ProcessRunner::launch(const QString &commandLine, bool wait)
{
    m_exitCode = -1;
    QString program = commandLine, parameters;
    for (qsizetype blank = commandLine.indexOf(QLatin1Char(' '), 1); blank > 0;
         blank = commandLine.indexOf(QLatin1Char(' '), blank + 1)) {
        if (isFileOrProgram(commandLine.left(blank))) {
            program = commandLine.left(blank);
            parameters = commandLine.mid(blank + 1);
            break;
        }
    }
    program = unquoted(program);
    const QFileInfo info(program);
    const bool executable = info.isFile() ? info.isExecutable() : !QStandardPaths::findExecutable(program).isEmpty();
    if (!executable) {
        // A folder or a document: the desktop opens it; nothing to wait for.
        return (info.exists()) && desktopOpener()(info.absoluteFilePath());
    }
    const QStringList args = splitArguments(parameters);
    if (!wait)
        return QProcess::startDetached(program, args);
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    runInOwnProcessGroup(process);
    process.start(program, args);
    if (!process.waitForStarted(10000))
        return false;
    waitForChild(process, [this] { return cancelled(); });
    if (process.state() == QProcess::NotRunning && process.exitStatus() == QProcess::NormalExit && !cancelled())
        m_exitCode = process.exitCode();
    return true;
}

} // namespace salvo
