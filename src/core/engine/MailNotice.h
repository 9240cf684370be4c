#pragma once
// The mail that tells the end of a run, sent with libcurl: SMTP with AUTH LOGIN,
// PLAIN or CRAM-MD5, STARTTLS when the server offers it, and POP before SMTP.
// A password never goes in clear text to a server that is not this machine.
#include <QString>

namespace salvo {

class Settings;

struct MailSettings {
    bool popBeforeSmtp = false;
    QString popServer, popUser, popPassword;
    QString smtpServer;
    int port = 0;
    int timeoutSeconds = 0;
    QString to, from;
    bool useAuth = false;
    QString user, password;
    int authMethod = 0; // 0 LOGIN, 1 PLAIN, 2 CRAM-MD5
    QString subject;
};

MailSettings readMailSettings(const Settings &settings);

// The reversible form in which the two mail passwords are kept in "Salvo.ini".
QString encodeStoredPassword(const QString &plain);
QString decodeStoredPassword(const QString &stored);
// Writes a password key in its stored form; the settings file is then readable
// by its owner only.
bool storeMailPassword(const Settings &settings, bool pop, const QString &plain);

// The subject and body of the notice for `word` ("Extract" or another); the
// body of a run the user stopped says so instead of calling it complete.
QString noticeSubject(const MailSettings &mail);
QString noticeBody(const QString &word, const QString &dateTime, bool stopped = false);

// Sends the notice; returns the text to show (empty when all went well).
QString sendNotice(const MailSettings &mail, const QString &word, bool success, bool stopped = false);

// True for this machine's own addresses (no password may leave it in clear).
bool isLoopbackHost(const QString &host);

} // namespace salvo
