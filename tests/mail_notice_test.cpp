// The mail notice against a real SMTP server on 127.0.0.1 that requires AUTH.
#include "settings/Settings.h"
#include "engine/MailNotice.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

using namespace salvo;
using namespace salvo::test;

namespace {

class MailTest : public ::testing::Test {
protected:
    TempHome home;
    QProcess server;
    int port = 0;

    void SetUp() override
    {
        QDir().mkpath(home.path("mail"));
        // The Debian interpreter, which has python3-aiosmtpd.
        server.start("/usr/bin/python3", {SALVO_SOURCE_DIR "/tests/support/smtp_server.py", home.path("mail"), "salvo", "secret"});
        ASSERT_TRUE(server.waitForStarted(10000));
        ASSERT_TRUE(server.waitForReadyRead(20000)) << server.readAllStandardError().toStdString();
        port = server.readLine().trimmed().toInt();
        ASSERT_GT(port, 0);
    }
    void TearDown() override
    {
        server.closeWriteChannel();
        if (!server.waitForFinished(5000))
            server.kill();
    }
    MailSettings settings(const QString &password, int method)
    {
        MailSettings m;
        m.smtpServer = "127.0.0.1";
        m.port = port;
        m.timeoutSeconds = 10;
        m.to = "user@example.org";
        m.from = "salvo@example.org";
        m.useAuth = true;
        m.user = "salvo";
        m.password = password;
        m.authMethod = method;
        return m;
    }
    // The server stores a message before it accepts it: once a send has
    // succeeded, its file is there.
    QByteArray message(int n) { return readFile(home.path(QStringLiteral("mail/%1.eml").arg(n))); }
};

TEST_F(MailTest, SubjectAndBodyWithLoginAndPlain)
{
    MailSettings m = settings("secret", 0);
    EXPECT_EQ(sendNotice(m, "Extract", true), "");
    const QByteArray first = message(1);
    EXPECT_TRUE(first.contains("Subject: =?UTF-8?B?" + QStringLiteral("完了通知(SalvoExtractor)").toUtf8().toBase64() + "?="))
        << first.toStdString();
    EXPECT_TRUE(first.contains(QStringLiteral("解凍が完了しました。\r\n").toUtf8())) << first.toStdString();
    EXPECT_TRUE(first.contains("X-Salvo-Outcome: SUCCESS"));

    m.authMethod = 1;
    m.subject = "Done\r\nBcc: victim@example.org";
    EXPECT_EQ(sendNotice(m, "Archive", false), "");
    const QByteArray second = message(2);
    EXPECT_TRUE(second.contains("Subject: Done  Bcc: victim@example.org\r\n")) << second.toStdString();
    EXPECT_FALSE(second.contains("\r\nBcc:"));
    EXPECT_TRUE(second.contains(QStringLiteral("圧縮が完了しました。").toUtf8()));
    EXPECT_TRUE(second.contains("X-Salvo-Outcome: FAIL"));

    // A run the user stopped is not called complete.
    EXPECT_EQ(sendNotice(m, "Extract", true, true), "");
    const QByteArray third = message(3);
    EXPECT_TRUE(third.contains(QStringLiteral("解凍を中止しました。\r\n").toUtf8())) << third.toStdString();
    EXPECT_FALSE(third.contains(QStringLiteral("完了しました").toUtf8()));
}

TEST_F(MailTest, RejectedLoginAndAServerThatIsDown)
{
    MailSettings wrong = settings("wrong", 0);
    wrong.timeoutSeconds = 3;
    EXPECT_TRUE(sendNotice(wrong, "Extract", true).startsWith(QStringLiteral("メールを送信できません")));
    MailSettings down = settings("secret", 0);
    down.port = 1; // nothing listens there
    EXPECT_FALSE(sendNotice(down, "Extract", true).isEmpty());
    // Without server, recipient or sender nothing is sent and nothing is said.
    MailSettings none = settings("secret", 0);
    none.to.clear();
    EXPECT_EQ(sendNotice(none, "Extract", true), "");
}

TEST(MailPasswords, StoredReversiblyInAFileOnlyTheOwnerReads)
{
    TempHome home;
    const Settings s(home.myPath());
    s.write(ini::kMailSmtpServer, "127.0.0.1");
    ASSERT_TRUE(storeMailPassword(s, false, QStringLiteral("pässwörd")));
    ASSERT_TRUE(storeMailPassword(s, true, "pop"));
    EXPECT_FALSE(readFile(s.file().path()).contains("pässwörd"));
    EXPECT_EQ(QFile::permissions(s.file().path()) & (QFile::ReadGroup | QFile::ReadOther), 0);
    const MailSettings m = readMailSettings(s);
    EXPECT_EQ(m.password, QStringLiteral("pässwörd"));
    EXPECT_EQ(m.popPassword, "pop");
    // Later writes keep the file private.
    s.write(ini::kSort, 1);
    EXPECT_EQ(QFile::permissions(s.file().path()) & (QFile::ReadGroup | QFile::ReadOther), 0);
    EXPECT_TRUE(isLoopbackHost("127.0.0.1"));
    EXPECT_TRUE(isLoopbackHost("localhost"));
    EXPECT_TRUE(isLoopbackHost("[::1]"));
    EXPECT_FALSE(isLoopbackHost("mail.example.org"));
    EXPECT_FALSE(isLoopbackHost("10.0.0.1"));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
