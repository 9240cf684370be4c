// The general options dialog under the offscreen platform: every control loads
// and writes its key, Cancel leaves everything as it was, OK applies the
// desktop side, "すべて選択" follows the archivers, the number boxes refuse
// letters, and the font size reaches the main window.
#include "app/shell/FileAssociations.h"
#include "app/shell/KeyFileEditor.h"
#include "app/shell/ShellEntries.h"
#include "engine/MailNotice.h"
#include "settings/Settings.h"
#include "support/ModalWatcher.h"
#include "support/TestEnvironment.h"
#include "ui/main/MainWindow.h"
#include "ui/options/GeneralOptionsDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTabWidget>

using namespace salvo;
using namespace salvo::test;

namespace {

QString queryDefault(const QString &type)
{
    if (QStandardPaths::findExecutable("xdg-mime").isEmpty())
        return QStringLiteral("(no xdg-mime)");
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "XDG_MENU_PREFIX"})
        env.remove(QLatin1String(name));
    p.setProcessEnvironment(env);
    p.start("xdg-mime", {"query", "default", type});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Each check box and option button with the state it must show, and each text box with its text.
using Checks = std::vector<std::pair<const char *, bool>>;
using Texts = std::vector<std::pair<const char *, QString>>;

void expectControls(const QDialog &dialog, const Checks &checks, const Texts &texts)
{
    for (const auto &[name, checked] : checks) {
        const auto *button = dialog.findChild<QAbstractButton *>(QLatin1String(name));
        ASSERT_TRUE(button) << name;
        EXPECT_EQ(button->isChecked(), checked) << name;
    }
    for (const auto &[name, text] : texts) {
        const auto *box = dialog.findChild<QLineEdit *>(QLatin1String(name));
        ASSERT_TRUE(box) << name;
        EXPECT_EQ(box->text(), text) << name;
    }
}

void setControls(QDialog &dialog, const Checks &checks, const Texts &texts)
{
    for (const auto &[name, checked] : checks)
        dialog.findChild<QAbstractButton *>(QLatin1String(name))->setChecked(checked);
    for (const auto &[name, text] : texts)
        dialog.findChild<QLineEdit *>(QLatin1String(name))->setText(text);
}

QStringList checkedLinks(const QDialog &dialog)
{
    QStringList names;
    for (const QCheckBox *box : dialog.findChildren<QCheckBox *>()) {
        if (box->objectName().startsWith("Link_") && box->isChecked())
            names << box->objectName();
    }
    names.sort();
    return names;
}

class GeneralOptionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // xdg-mime names a default only when the entry's program exists.
        writeFile(kProgram.executable, "#!/bin/sh\n");
        QFile::setPermissions(kProgram.executable, executablePermissions());
        writeFile(xdgDataHome() + "/applications/other.desktop",
                  "[Desktop Entry]\nType=Application\nName=Other\nExec=true %F\nMimeType=application/zip;\n");
    }

    TempHome home;
    QString ini = home.myPath() + "Salvo.ini";
    Availability none;
    const ShellProgram kProgram{home.path("bin/SalvoExtractor")};
};

// Load shows every key, Cancel changes nothing, OK writes every key in its
// stored form and applies the associations, shortcut, Send To and folder entry;
// unticking them all takes the desktop back to where it was.
TEST_F(GeneralOptionsTest, EveryControlRoundTrips)
{
    const QByteArray stored = "; my settings\n[EXTENSION]\nMode=1\n[GENERAL]\nUseSendTo=1\nUseDeskTopNormal=0\n"
                              "FONTSIZE=1\nUseSound=1\nSoundFilePath=/snd/ding.wav\nEndNotice=1\nSORT=2\nOther=keep\n"
                              "[E-Mail]\nUse=1\nSMTPServer=smtp.example.org\nPort=40025\nTimeOut=30\nUseSMTPAUTH=1\n"
                              "SMTPAUTH=2\nSMTPUserName=user\nSMTPPassword=" + encodeStoredPassword("pa ss").toUtf8() +
                              "\nMailTo=to@example.org\nMailFrom=from@example.org\nSubject=件名\nUsePOPBSMTP=1\n"
                              "POPServer=pop.example.org\nPOPUserName=popuser\nPOPPassword=pop-plain\n"
                              "[RightClick]\nUseFolderSlvoAdd=1\n";
    writeFile(ini, stored);
    const QByteArray defaults = "[Default Applications]\napplication/x-lha=salvo-extractor-open.desktop\n"
                                "application/zip=other.desktop\n";
    writeFile(FileAssociations::mimeAppsPath(), defaults);

    const Checks loaded{{"Link_LZH", true}, {"Link_ZIP", false}, {"Link_PQA", false}, {"optExtMODE_Easy", true},
                        {"optExtMODE_Normal", false}, {"chkUseSendTo", true}, {"chkUseDeskTopNormal", false},
                        {"chkUseRCFolderSlvoAdd", true}, {"optFontSize_Large", true}, {"optFontSize_Normal", false},
                        {"chkUseSound", true}, {"chkEndNotice", true}, {"optSort_FileName", true},
                        {"optSort_FullPath", false}, {"chkUseEMail", true}, {"chkSMTPAUTHUse", true},
                        {"optSMTPA_CRAM", true}, {"optSMTPA_LOGIN", false}, {"chkPOPBSMTPUse", true}};
    const Texts loadedTexts{{"txtSoundFilePath", "/snd/ding.wav"}, {"txtSMTPServer", "smtp.example.org"},
                            {"txtPort", "40025"}, {"txtTimeOut", "30"}, {"txtSMTPUserName", "user"},
                            {"txtSMTPPassword", "pa ss"}, {"txtMailTo", "to@example.org"},
                            {"txtMailFrom", "from@example.org"}, {"txtSubject", QStringLiteral("件名")},
                            {"txtPOPServer", "pop.example.org"}, {"txtPOPUserName", "popuser"},
                            {"txtPOPPassword", "pop-plain"}};
    {
        GeneralOptionsDialog dialog(home.myPath(), none, nullptr, kProgram);
        EXPECT_EQ(dialog.windowTitle(), "Option");
        const auto *tabs = dialog.findChild<QTabWidget *>("TabStrip1");
        ASSERT_TRUE(tabs);
        EXPECT_EQ(tabs->tabText(2), QStringLiteral("メール通知"));
        EXPECT_EQ(tabs->tabToolTip(0), QStringLiteral("関連づけの設定を行います。"));
        expectControls(dialog, loaded, loadedTexts);
        setControls(dialog, {{"Link_ZIP", true}, {"chkUseDeskTopNormal", true}}, {{"txtSubject", "x"}});
        dialog.findChild<QPushButton *>("Btn_Cancel")->click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    EXPECT_EQ(readFile(ini), stored);
    EXPECT_EQ(readFile(FileAssociations::mimeAppsPath()), defaults);
    EXPECT_FALSE(QFileInfo::exists(desktopShortcutPath(ShortcutKind::Normal)));

    // Every control changed, then OK.
    const Checks changed{{"Link_ZIP", true}, {"Link_GCA", true}, {"optExtMODE_Normal", true},
                         {"chkUseSendTo", true}, {"chkUseDeskTopNormal", true}, {"chkUseRCFolderSlvoAdd", true},
                         {"optFontSize_Normal", true}, {"chkUseSound", false}, {"chkEndNotice", false},
                         {"optSort_Path", true}, {"chkUseEMail", false}, {"chkSMTPAUTHUse", false},
                         {"optSMTPA_PLAIN", true}, {"chkPOPBSMTPUse", false}};
    const Texts changedTexts{{"txtSoundFilePath", "/snd/end.ogg"}, {"txtSMTPServer", "mail.example.net"},
                             {"txtPort", "587"}, {"txtTimeOut", "60"}, {"txtSMTPUserName", "me"},
                             {"txtSMTPPassword", QStringLiteral("新しい pw")}, {"txtMailTo", "a@example.net"},
                             {"txtMailFrom", "b@example.net"}, {"txtSubject", QStringLiteral("終わり")},
                             {"txtPOPServer", "pop.example.net"}, {"txtPOPUserName", "popme"},
                             {"txtPOPPassword", "p0p"}};
    {
        GeneralOptionsDialog dialog(home.myPath(), none, nullptr, kProgram);
        setControls(dialog, changed, changedTexts);
        dialog.findChild<QPushButton *>("Btn_OK")->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    const ProfileFile file(ini);
    const std::vector<std::tuple<const char *, const char *, QString>> keys{
        {"EXTENSION", "Mode", "0"}, {"GENERAL", "UseSendTo", "1"}, {"GENERAL", "UseDeskTopNormal", "1"},
        {"GENERAL", "FONTSIZE", "0"}, {"GENERAL", "UseSound", "0"}, {"GENERAL", "SoundFilePath", "/snd/end.ogg"},
        {"GENERAL", "EndNotice", "0"}, {"GENERAL", "SORT", "1"}, {"GENERAL", "Other", "keep"},
        {"E-Mail", "Use", "0"}, {"E-Mail", "SMTPServer", "mail.example.net"}, {"E-Mail", "Port", "587"},
        {"E-Mail", "TimeOut", "60"}, {"E-Mail", "UseSMTPAUTH", "0"}, {"E-Mail", "SMTPAUTH", "1"},
        {"E-Mail", "SMTPUserName", "me"}, {"E-Mail", "MailTo", "a@example.net"},
        {"E-Mail", "MailFrom", "b@example.net"}, {"E-Mail", "Subject", QStringLiteral("終わり")},
        {"E-Mail", "UsePOPBSMTP", "0"}, {"E-Mail", "POPServer", "pop.example.net"},
        {"E-Mail", "POPUserName", "popme"}, {"RightClick", "UseFolderSlvoAdd", "1"}};
    for (const auto &[section, key, value] : keys)
        EXPECT_EQ(file.readText(section, key), value) << section << "/" << key;
    // The passwords are not in clear text, and the file is its owner's only.
    const QString smtp = file.readText("E-Mail", "SMTPPassword"), pop = file.readText("E-Mail", "POPPassword");
    EXPECT_TRUE(smtp.startsWith("SXE1:")) << smtp.toStdString();
    EXPECT_EQ(decodeStoredPassword(smtp), QStringLiteral("新しい pw"));
    EXPECT_EQ(decodeStoredPassword(pop), "p0p");
    EXPECT_FALSE(readFile(ini).contains("p0p"));
    EXPECT_TRUE(readFile(ini).startsWith("; my settings\n"));
    EXPECT_EQ(QFileInfo(ini).permissions() & 0x0077, QFileDevice::Permissions());
    Settings(home.myPath()).write(ini::kSort, 1); // later writes keep it so
    EXPECT_EQ(QFileInfo(ini).permissions() & 0x0077, QFileDevice::Permissions());
    // The mail notice reads the port in full.
    EXPECT_EQ(readMailSettings(Settings(home.myPath())).port, 587);

    EXPECT_EQ(queryDefault("application/zip"), QLatin1String(kOpenEntryId));
    EXPECT_EQ(queryDefault("application/x-gca-compressed"), QLatin1String(kOpenEntryId));
    EXPECT_TRUE(QFileInfo::exists(desktopShortcutPath(ShortcutKind::Normal)));
    EXPECT_FALSE(QFileInfo::exists(desktopShortcutPath(ShortcutKind::DdMode)));
    for (const FileManagerEntry &e : sendToEntries(kProgram) + folderMenuEntries(kProgram))
        EXPECT_TRUE(QFileInfo::exists(e.path)) << e.path.toStdString();

    // Loading again shows what OK wrote; unticking everything undoes the desktop side.
    {
        GeneralOptionsDialog dialog(home.myPath(), none, nullptr, kProgram);
        expectControls(dialog, changed, changedTexts);
        EXPECT_EQ(checkedLinks(dialog), (QStringList{"Link_GCA", "Link_LZH", "Link_ZIP"}));
        dialog.findChild<QPushButton *>("Btn_Ext_All_Delete")->click();
        setControls(dialog, {{"chkUseSendTo", false}, {"chkUseDeskTopNormal", false}, {"chkUseRCFolderSlvoAdd", false}}, {});
        dialog.accept();
    }
    EXPECT_EQ(readFile(FileAssociations::mimeAppsPath()), "[Default Applications]\napplication/zip=other.desktop\n");
    EXPECT_EQ(queryDefault("application/zip"), "other.desktop");
    EXPECT_FALSE(QFileInfo::exists(desktopShortcutPath(ShortcutKind::Normal)));
    for (const FileManagerEntry &e : sendToEntries(kProgram) + folderMenuEntries(kProgram))
        EXPECT_FALSE(QFileInfo::exists(e.path)) << e.path.toStdString();
}

// "すべて選択" ticks the formats whose archiver is there (the zip archives follow
// the 7-zip component under "Use7Zip", the console formats their program);
// "すべて解除" clears every box.
TEST_F(GeneralOptionsTest, SelectAllFollowsTheArchivers)
{
    Availability lhaAndZip;
    lhaAndZip.present[int(Component::UnLha32)] = lhaAndZip.present[int(Component::UnZip32)] = true;
    GeneralOptionsDialog dialog(home.myPath(), lhaAndZip, nullptr, kProgram);
    dialog.findChild<QPushButton *>("Btn_Ext_All_Add")->click();
    EXPECT_EQ(checkedLinks(dialog), (QStringList{"Link_LZH", "Link_ZIP"}));
    dialog.findChild<QPushButton *>("Btn_Ext_All_Delete")->click();
    EXPECT_EQ(checkedLinks(dialog), QStringList{});

    Settings(home.myPath()).write(ini::kUse7Zip, 1);
    EXPECT_EQ(QFileInfo(ini).permissions() & 0x0077, QFileDevice::Permissions()); // created owner-only
    Availability others;
    for (Component c : {Component::SevenZip32, Component::RkExe, Component::Tar32, Component::UnAce32, Component::Yz2Dec})
        others.present[int(c)] = true;
    GeneralOptionsDialog second(home.myPath(), others, nullptr, kProgram);
    second.findChild<QPushButton *>("Btn_Ext_All_Add")->click();
    EXPECT_EQ(checkedLinks(second),
              (QStringList{"Link_7ZIP", "Link_BZ2", "Link_CPIO", "Link_DEB", "Link_GZ", "Link_ISO", "Link_LZ4",
                           "Link_LZO", "Link_RK", "Link_RPM", "Link_TAR", "Link_XAR", "Link_YZ2", "Link_YZ2A6",
                           "Link_Z", "Link_ZIP"}));
}

// A letter in the port or timeout box is refused with the message and the box
// keeps its number; the sound chooser offers the sound filters and a chosen
// file replaces the path, a cancelled choice leaves it.
TEST_F(GeneralOptionsTest, NumberBoxesAndSoundChooser)
{
    GeneralOptionsDialog dialog(home.myPath(), none, nullptr, kProgram);
    QStringList messages;
    dialog.showMessage = [&](const QString &text, MessageIcon icon) {
        EXPECT_EQ(icon, MessageIcon::Warning);
        messages << text;
    };
    for (const char *name : {"txtPort", "txtTimeOut"}) {
        auto *box = dialog.findChild<QLineEdit *>(name);
        box->setText("25");
        box->setText("25a");
        EXPECT_EQ(box->text(), "25") << name;
        box->setText("");
        EXPECT_EQ(box->text(), "") << name;
    }
    EXPECT_EQ(messages, (QStringList{QStringLiteral("不正な値が入力されています。"), QStringLiteral("不正な値が入力されています。")}));

    auto *sound = dialog.findChild<QLineEdit *>("txtSoundFilePath");
    sound->setText("/a.wav");
    ModalWatcher chooser;
    chooser.arm([](QWidget *w) {
        if (auto *files = qobject_cast<QFileDialog *>(w))
            files->reject();
    });
    dialog.findChild<QPushButton *>("BtnOpenSoundFile")->click();
    EXPECT_EQ(chooser.title, QStringLiteral("ファイルを開く"));
    const QStringList filters = chooser.filters;
    ASSERT_EQ(filters.size(), 4);
    EXPECT_TRUE(filters[0].contains("*.ogg") && filters[0].contains("*.mid")) << filters[0].toStdString();
    EXPECT_EQ(filters[3], "ALL Files(*.*) (*)");
    EXPECT_EQ(sound->text(), "/a.wav");
    dialog.chooseSoundFile = [] { return QStringLiteral("/b.flac"); };
    dialog.findChild<QPushButton *>("BtnOpenSoundFile")->click();
    EXPECT_EQ(sound->text(), "/b.flac");
}

// "Large" enlarges the main window's text; "Normal" puts it back.
TEST_F(GeneralOptionsTest, FontSizeReachesTheMainWindow)
{
    MainWindow window(home.myPath(), LaunchMode::Normal);
    const qreal normal = QApplication::font().pointSizeF();
    Settings(home.myPath()).write(ini::kFontSize, 1);
    window.applyFontSize();
    EXPECT_GT(window.font().pointSizeF(), normal);
    Settings(home.myPath()).write(ini::kFontSize, 0);
    window.applyFontSize();
    EXPECT_EQ(window.font().pointSizeF(), normal);
}

} // namespace

int main(int argc, char **argv)
{
    // gio would mark desktop shortcuts trusted through the session's metadata
    // service, which keeps its records in the real home.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
