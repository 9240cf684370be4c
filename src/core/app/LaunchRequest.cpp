#include "LaunchRequest.h"

namespace salvo {

LaunchRequest classifyArguments(const QStringList &arguments)
{
    QStringList args;
    for (const QString &arg : arguments) {
        if (!arg.isEmpty())
            args << arg;
    }
    LaunchRequest request;
    if (!args.isEmpty() && args.first() == QLatin1String(kDdModeSwitch)) {
        args.removeFirst();
        request.mode = args.isEmpty() ? LaunchMode::DdModeSetting : LaunchMode::DdMode;
    }
    request.files = args;
    return request;
}

} // namespace salvo
