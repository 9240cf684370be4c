#include "MailNotice.h"

#include "settings/Settings.h"
#include "platform/TextCodec.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QLocale>

#include <curl/curl.h>

#include <cstring>

namespace salvo {
namespace {

constexpr auto kStoredPrefix = "SXE1:";
const QByteArray kStoredKey = "SalvoExtractor mail password";

// An RFC 2047 encoded word for header values that are not plain ASCII.
QByteArray headerText(const QString &text)
{
    const QString clean = singleLine(text);
    bool ascii = true;
    for (QChar c : clean)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii)
        return clean.toLatin1();
    return "=?UTF-8?B?" + clean.toUtf8().toBase64() + "?=";
}

struct Upload {
    QByteArray data;
    qsizetype offset = 0;
};

size_t readMessage(char *buffer, size_t size, size_t count, void *user)
{
    auto *up = static_cast<Upload *>(user);
    const size_t n = std::min<size_t>(size * count, static_cast<size_t>(up->data.size() - up->offset));
    std::memcpy(buffer, up->data.constData() + up->offset, n);
    up->offset += static_cast<qsizetype>(n);
    return n;
}

size_t ignoreBody(char *, size_t size, size_t count, void *)
{
    return size * count;
}

void commonOptions(CURL *curl, const MailSettings &mail, const QString &host, char *errors)
{
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errors);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(mail.timeoutSeconds > 0 ? mail.timeoutSeconds : 60));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // STARTTLS whenever the server offers it; a server elsewhere must offer it
    // before any password goes out.
    curl_easy_setopt(curl, CURLOPT_USE_SSL, isLoopbackHost(host) ? CURLUSESSL_TRY : CURLUSESSL_ALL);
}

QString failure(const char *what, CURLcode code, const char *errors)
{
    return QString::fromUtf8(what) + QString::fromUtf8(*errors ? errors : curl_easy_strerror(code));
}

QString popLogin(const MailSettings &mail)
{
    CURL *curl = curl_easy_init();
    if (!curl)
        return QStringLiteral("メールの送信を準備できません。");
    char errors[CURL_ERROR_SIZE] = {};
    const QByteArray url = "pop3://" + mail.popServer.toUtf8() + "/";
    const QByteArray user = mail.popUser.toUtf8(), password = mail.popPassword.toUtf8();
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "STAT");
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, ignoreBody);
    commonOptions(curl, mail, mail.popServer, errors);
    const CURLcode r = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    return r == CURLE_OK ? QString() : failure("POP サーバーにログインできません: ", r, errors);
}

} // namespace

bool isLoopbackHost(const QString &host)
{
    const QString h = host.trimmed().toLower();
    if (h == QLatin1String("localhost") || h.endsWith(QLatin1String(".localhost")))
        return true;
    static const QRegularExpression ipv4(QStringLiteral("^127\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}$"));
    const QString bare = h.startsWith(QLatin1Char('[')) ? h.mid(1, h.size() - 2) : h;
    return ipv4.match(bare).hasMatch() || bare == QLatin1String("::1") || bare == QLatin1String("0:0:0:0:0:0:0:1");
}

QString encodeStoredPassword(const QString &plain)
{
    if (plain.isEmpty())
        return {};
    QByteArray bytes = plain.toUtf8();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(bytes[i] ^ kStoredKey[i % kStoredKey.size()]);
    return QLatin1String(kStoredPrefix) + QString::fromLatin1(bytes.toBase64());
}

QString decodeStoredPassword(const QString &stored)
{
    if (!stored.startsWith(QLatin1String(kStoredPrefix)))
        return stored; // a value written by hand stays as it is
    QByteArray bytes = QByteArray::fromBase64(stored.mid(int(std::strlen(kStoredPrefix))).toLatin1());
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(bytes[i] ^ kStoredKey[i % kStoredKey.size()]);
    return QString::fromUtf8(bytes);
}

bool storeMailPassword(const Settings &settings, bool pop, const QString &plain)
{
    settings.file().makeOwnerOnly();
    return settings.write(pop ? ini::kMailPopPassword : ini::kMailSmtpPassword, encodeStoredPassword(plain));
}

MailSettings readMailSettings(const Settings &s)
{
    MailSettings m;
    m.popBeforeSmtp = s.read(ini::kMailUsePopBeforeSmtp) != 0;
    m.popServer = s.read(ini::kMailPopServer);
    m.popUser = s.read(ini::kMailPopUserName);
    m.popPassword = decodeStoredPassword(s.read(ini::kMailPopPassword));
    m.smtpServer = s.read(ini::kMailSmtpServer);
    // A port is read in full: the classic 16-bit reading would cut ports above 32767.
    bool portOk = false;
    const int port = s.file()
                         .readText(QLatin1String(ini::kMailPort.section), QLatin1String(ini::kMailPort.name))
                         .trimmed()
                         .toInt(&portOk);
    m.port = portOk && port >= 0 && port <= 65535 ? port : s.read(ini::kMailPort);
    m.timeoutSeconds = s.read(ini::kMailTimeOut);
    m.to = s.read(ini::kMailTo);
    m.from = s.read(ini::kMailFrom);
    m.useAuth = s.read(ini::kMailUseSmtpAuth) != 0;
    m.user = s.read(ini::kMailSmtpUserName);
    m.password = decodeStoredPassword(s.read(ini::kMailSmtpPassword));
    m.authMethod = s.read(ini::kMailSmtpAuth);
    m.subject = s.read(ini::kMailSubject);
    return m;
}

QString noticeSubject(const MailSettings &mail)
{
    return mail.subject.isEmpty() ? QStringLiteral("完了通知(SalvoExtractor)") : mail.subject;
}

QString noticeBody(const QString &word, const QString &dateTime, bool stopped)
{
    return (word == QLatin1String("Extract") ? QStringLiteral("解凍") : QStringLiteral("圧縮"))
        + (stopped ? QStringLiteral("を中止しました。\r\n") : QStringLiteral("が完了しました。\r\n")) + dateTime;
}

QString sendNotice(const MailSettings &mail, const QString &word, bool success, bool stopped)
{
    if (mail.popBeforeSmtp) {
        const QString pop = popLogin(mail);
        if (!pop.isEmpty())
            return pop;
    }
    if (mail.smtpServer.isEmpty() || mail.to.isEmpty() || mail.from.isEmpty())
        return {};
    CURL *curl = curl_easy_init();
    if (!curl)
        return QStringLiteral("メールの送信を準備できません。");
    char errors[CURL_ERROR_SIZE] = {};
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::currentDateTime();
    const QString dateTime = locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ')
        + locale.toString(now.time(), QLocale::LongFormat);

    const QByteArray from = singleLine(mail.from).toUtf8(), to = singleLine(mail.to).toUtf8();
    Upload upload;
    upload.data = "From: " + from + "\r\nTo: " + to + "\r\nSubject: " + headerText(noticeSubject(mail))
        + "\r\nDate: " + QLocale::c().toString(now, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss t")).toLatin1()
        + "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n"
        + "X-Salvo-Outcome: " + (success ? "SUCCESS" : "FAIL") + "\r\n\r\n" + noticeBody(word, dateTime, stopped).toUtf8()
        + "\r\n";
    const QByteArray url = "smtp://" + mail.smtpServer.toUtf8() + ":" + QByteArray::number(mail.port > 0 ? mail.port : 25);
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, ("<" + from + ">").constData());
    curl_slist *recipients = curl_slist_append(nullptr, ("<" + to + ">").constData());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, readMessage);
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    const QByteArray user = mail.user.toUtf8(), password = mail.password.toUtf8();
    if (mail.useAuth) {
        static const char *const kMethods[] = {"AUTH=LOGIN", "AUTH=PLAIN", "AUTH=CRAM-MD5"};
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
        curl_easy_setopt(curl, CURLOPT_LOGIN_OPTIONS, kMethods[std::clamp(mail.authMethod, 0, 2)]);
    }
    commonOptions(curl, mail, mail.smtpServer, errors);
    const CURLcode r = curl_easy_perform(curl);
    curl_slist_free_all(recipients);
    curl_easy_cleanup(curl);
    return r == CURLE_OK ? QString() : failure("メールを送信できません: ", r, errors);
}

} // namespace salvo
