#include "LaunchRequest.h"

namespace salvo {

QString joinCommandLine(const QStringList &arguments)
{
    QStringList parts;
    for (const QString &arg : arguments) {
        if (arg.contains(QLatin1Char(' ')))
            parts << QLatin1Char('"') + arg + QLatin1Char('"');
        else
            parts << arg;
    }
    return parts.join(QLatin1Char(' ')).trimmed();
}

LaunchRequest classifyCommandLine(const QString &commandLine, bool otherInstanceRunning)
{
    const QString line = commandLine.trimmed();
    static const QString kSwitch = QStringLiteral("/DDMODE");
    LaunchRequest request;
    if (line.isEmpty())
        return request;
    if (line.startsWith(kSwitch, Qt::CaseSensitive)) {
        if (line.size() > kSwitch.size()) {
            request.mode = otherInstanceRunning ? LaunchMode::Normal : LaunchMode::DdMode;
            request.fileList = line.mid(kSwitch.size() + 1);
        } else {
            request.mode = LaunchMode::DdModeSetting;
        }
        return request;
    }
    request.fileList = line;
    return request;
}

} // namespace salvo
