#include "DesktopNotification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

namespace salvo {

bool notifyDesktop(const QString &summary, const QString &body, bool failures)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("salvo-extractor"));
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(failures ? 2 : 1));
    call << QStringLiteral("SalvoExtractor") << 0u << QStringLiteral("salvo-extractor") << summary << body
         << QStringList() << hints << -1;
    // The program may end right after a run of its own: the notice is handed
    // over before that, or given up after a moment.
    const QDBusMessage reply = bus.call(call, QDBus::Block, 3000);
    return reply.type() == QDBusMessage::ReplyMessage;
}

QString runEndSummary(int failed, bool stopped)
{
    if (stopped)
        return QStringLiteral("解凍を中止しました");
    return failed > 0 ? QStringLiteral("解凍が終わりました (失敗あり)") : QStringLiteral("解凍が終わりました");
}

QString runEndBody(int extracted, int failed, bool stopped)
{
    QString text = QString::number(extracted) + QStringLiteral("個の書庫を解凍しました。");
    if (failed > 0)
        text += QLatin1Char('\n') + QString::number(failed) + QStringLiteral("個の書庫は解凍できませんでした (理由は Log.txt に記録しました)。");
    if (stopped)
        text += QStringLiteral("\n残りの書庫は解凍していません。");
    return text;
}

} // namespace salvo
