// The extraction and archiver options dialogs and the about box under the
// offscreen platform: every control against a real settings file, Cancel,
// the rules that act while a dialog is open and the refusals at OK.
#include "app/shell/ShellEntries.h"
#include "settings/OptionForms.h"
#include "settings/ProfileFile.h"
#include "settings/Settings.h"
#include "support/ModalWatcher.h"
#include "support/TestEnvironment.h"
#include "ui/about/AboutDialog.h"
#include "ui/options/ArchiverOptionsDialog.h"
#include "ui/options/ExtractionOptionsDialog.h"
#include "ui/options/GeneralOptionsDialog.h"
#include "ui/options/SettingsOnlyButtons.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QUrl>

#include <unistd.h>

using namespace salvo;
using namespace salvo::test;

namespace {

class OptionsTest : public ::testing::Test {
protected:
    TempHome home;
    QString iniPath = home.myPath() + "Salvo.ini";
    ProfileFile ini{iniPath};
    std::vector<std::pair<QString, MessageIcon>> messages;

    QString folder(const QString &name)
    {
        const QString path = home.path(name);
        QDir().mkpath(path);
        return path;
    }
    template <typename Dialog>
    void record(Dialog &dialog)
    {
        dialog.notify = [this](const QString &text, MessageIcon icon) { messages.emplace_back(text, icon); };
    }
    template <typename T>
    static T *child(QWidget &dialog, const QString &name)
    {
        T *w = dialog.findChild<T *>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    // Every key of a table as the file holds it now, by "SECTION/Key".
    QMap<QString, QString> stored(const QList<OptionField> &fields)
    {
        QMap<QString, QString> out;
        for (const OptionField &f : fields)
            out.insert(f.section + "/" + f.key, ini.readText(f.section, f.key, "<absent>"));
        return out;
    }
};

// A settings file as a user of the program may have it, with a comment and a
// key no dialog knows.
QByteArray extractionFile(const QString &always, const QString &ddTarget)
{
    return ("; kept as it is\r\n[GENERAL]\r\nShowListViewer=1\r\nErrorSkip=0\r\nPreScan=1\r\nUse7ZIP=1\r\n"
            "OpenFolder=0\r\nAlwaysPath=" + always + "\r\nDirectory=1\r\nMakeFolder4ListView=0\r\nOther=keep\r\n"
            "[EXTRACT_NORMAL]\r\nDeleteArchive=0\r\nOverWrite=1\r\nFileNameFolder=2\r\n"
            "[EXTRACT_DDMODE]\r\nDeleteArchive=1\r\nFileNameFolder=1\r\n"
            "[DDMODE]\r\nExtractMode=2\r\nTargetPath=" + ddTarget + "\r\nUseDesktop=0\r\nOverWrite=0\r\n"
            "[EXTRACT_ARCVIEW]\r\nAction=0\r\nTargetPlace=1\r\nAlwaysFolder=\r\nTemplate=デスクトップ\r\nOverWrite=1\r\n")
        .toUtf8();
}

TEST_F(OptionsTest, ExtractionOptionsLoadAndWriteEveryControl)
{
    writeFile(iniPath, extractionFile(folder("always"), folder("dd")));
    ExtractionOptionsDialog dialog(home.myPath());
    record(dialog);
    std::vector<bool> shortcut;
    dialog.applyDdModeShortcut = [&](bool make) {
        shortcut.push_back(make);
        return true;
    };
    auto box = [&](const char *name) { return child<QCheckBox>(dialog, name); };
    auto radio = [&](const char *name) { return child<QRadioButton>(dialog, name); };
    auto edit = [&](const char *name) { return child<QLineEdit>(dialog, name); };

    // Load: every control shows its key; "turn the pre-scan off" is clear
    // because PreScan = 1 turns the pre-scan on.
    EXPECT_EQ(dialog.windowTitle(), "Option-Extract-");
    EXPECT_TRUE(box("chkShowListViewer")->isChecked());
    EXPECT_FALSE(box("chkErrorSkip")->isChecked());
    EXPECT_FALSE(box("chkPreScan")->isChecked());
    EXPECT_TRUE(box("chkUseSevenZip")->isChecked());
    EXPECT_FALSE(box("chkOpenFolder")->isChecked());
    EXPECT_FALSE(box("chkDeleteArchiveNormal")->isChecked());
    EXPECT_EQ(edit("txtAlwaysFolder")->text(), home.path("always"));
    EXPECT_TRUE(box("chkDirectory")->isChecked());
    EXPECT_TRUE(box("chkOverWriteNormal")->isChecked());
    EXPECT_TRUE(radio("ExNormal_FileNameFolder_NoUse")->isChecked());
    EXPECT_TRUE(box("chkDeleteArchiveDDMODE")->isChecked());
    EXPECT_TRUE(radio("optDDMODE_ExtSelfDecide")->isChecked());
    EXPECT_EQ(edit("txtDDMODE_SelfDecide")->text(), home.path("dd"));
    EXPECT_FALSE(box("chkUseDesktop")->isChecked());
    EXPECT_FALSE(box("chkOverWriteDDMODE")->isChecked());
    EXPECT_TRUE(radio("ExDDMODE_FileNameFolder_Use")->isChecked());
    EXPECT_TRUE(box("chkOverWriteArcView")->isChecked());
    EXPECT_FALSE(box("chkMakeFolder4ListView")->isChecked());
    EXPECT_TRUE(radio("optArcViewAction_Open")->isChecked());
    EXPECT_TRUE(radio("optArcViewPlace_OnDemand")->isChecked());
    EXPECT_EQ(edit("txtArcViewPlace_AlwaysFolder")->text(), "");
    EXPECT_EQ(child<QComboBox>(dialog, "cmbArcViewPlace_Template")->currentText(), "デスクトップ");
    // yz2dec is the only YZ2 extractor here: there is nothing to choose.
    EXPECT_EQ(dialog.findChild<QWidget *>("chkUseYZ2DEC"), nullptr);
    const QStringList tabs{"解凍", "通常解凍", "簡易解凍", "書庫閲覧"};
    ASSERT_EQ(dialog.tabs()->count(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(dialog.tabs()->tabText(i), tabs[i]);
    EXPECT_EQ(dialog.tabs()->tabToolTip(2), "簡易解凍モードの設定を行います。");

    // Every control changed, then OK.
    for (const char *name : {"chkShowListViewer", "chkErrorSkip", "chkPreScan", "chkUseSevenZip", "chkOpenFolder",
                             "chkDeleteArchiveNormal", "chkDirectory", "chkOverWriteNormal", "chkDeleteArchiveDDMODE",
                             "chkUseDesktop", "chkOverWriteDDMODE", "chkOverWriteArcView", "chkMakeFolder4ListView"})
        box(name)->setChecked(!box(name)->isChecked());
    edit("txtAlwaysFolder")->setText(folder("always2"));
    radio("ExNormal_FileNameFolder_Auto")->setChecked(true);
    radio("optDDMODE_ExtFileExist")->setChecked(true);
    edit("txtDDMODE_SelfDecide")->setText(folder("dd2"));
    radio("ExDDMODE_FileNameFolder_NoUse")->setChecked(true);
    radio("optArcViewAction_Extract")->setChecked(true);
    radio("optArcViewPlace_Template")->setChecked(true);
    edit("txtArcViewPlace_AlwaysFolder")->setText(folder("view"));
    child<QComboBox>(dialog, "cmbArcViewPlace_Template")->setCurrentText("Windows");
    child<QPushButton>(dialog, "Btn_OK")->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(shortcut, std::vector<bool>{true});

    const QMap<QString, QString> expected{
        {"GENERAL/ShowListViewer", "0"}, {"GENERAL/ErrorSkip", "1"}, {"GENERAL/PreScan", "0"},
        {"GENERAL/Use7Zip", "0"}, {"GENERAL/OpenFolder", "1"}, {"EXTRACT_NORMAL/DeleteArchive", "1"},
        {"GENERAL/AlwaysPath", home.path("always2")}, {"GENERAL/Directory", "0"}, {"EXTRACT_NORMAL/OverWrite", "0"},
        {"EXTRACT_NORMAL/FileNameFolder", "0"}, {"EXTRACT_DDMODE/DeleteArchive", "0"}, {"DDMODE/ExtractMode", "1"},
        {"DDMODE/TargetPath", home.path("dd2")}, {"DDMODE/UseDesktop", "1"}, {"DDMODE/OverWrite", "1"},
        {"EXTRACT_DDMODE/FileNameFolder", "2"}, {"EXTRACT_ARCVIEW/OverWrite", "0"},
        {"GENERAL/MakeFolder4ListView", "1"}, {"EXTRACT_ARCVIEW/Action", "1"}, {"EXTRACT_ARCVIEW/TargetPlace", "3"},
        {"EXTRACT_ARCVIEW/AlwaysFolder", home.path("view")}, {"EXTRACT_ARCVIEW/Template", "Windows"},
    };
    EXPECT_EQ(stored(extractionOptionFields()), expected);
    const QByteArray bytes = readFile(iniPath);
    EXPECT_TRUE(bytes.startsWith("; kept as it is\r\n[GENERAL]\r\n"));
    EXPECT_TRUE(bytes.contains("Use7ZIP=0\r\n")); // the stored spelling of a key stays
    EXPECT_TRUE(bytes.contains("Other=keep\r\n"));

    // A second dialog shows what the first wrote.
    ExtractionOptionsDialog again(home.myPath());
    EXPECT_EQ(again.controls().collect(), loadOptions(Settings(home.myPath()), extractionOptionFields()));
    EXPECT_TRUE(again.findChild<QCheckBox *>("chkPreScan")->isChecked());
    EXPECT_TRUE(again.findChild<QRadioButton *>("optArcViewPlace_Template")->isChecked());

    // Ticking "turn the pre-scan off" again writes PreScan = 0; unticking it 1.
    again.findChild<QCheckBox *>("chkPreScan")->setChecked(false);
    again.applyDdModeShortcut = [&](bool make) {
        shortcut.push_back(make);
        return true;
    };
    again.accept();
    EXPECT_EQ(ini.readText("GENERAL", "PreScan"), "1");

    // Without a stand-in, OK makes and removes the DD-mode desktop shortcut itself.
    const QString shortcutFile = desktopShortcutPath(ShortcutKind::DdMode);
    EXPECT_TRUE(shortcutFile.endsWith("/SlvoEasyExtract.desktop"));
    EXPECT_TRUE(shortcutFile.startsWith(home.root())) << shortcutFile.toStdString();
    for (const bool on : {true, false}) {
        ExtractionOptionsDialog real(home.myPath());
        record(real);
        real.findChild<QCheckBox *>("chkUseDesktop")->setChecked(on);
        real.accept();
        EXPECT_EQ(QFile::exists(shortcutFile), on);
        EXPECT_EQ(ini.readText("DDMODE", "UseDesktop"), on ? "1" : "0");
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(OptionsTest, CancelLeavesTheSettingsFileAsItWas)
{
    // No file: a dialog that is cancelled creates none.
    {
        ExtractionOptionsDialog dialog(home.myPath());
        dialog.findChild<QCheckBox *>("chkErrorSkip")->setChecked(true);
        dialog.findChild<QPushButton *>("Btn_Cancel")->click();
        ArchiverOptionsDialog archiver(home.myPath());
        archiver.findChild<QCheckBox *>("YZ2_chkPPM")->setChecked(true);
        archiver.findChild<QPushButton *>("Btn_Cancel")->click();
    }
    EXPECT_FALSE(QFile::exists(iniPath));

    writeFile(iniPath, extractionFile(folder("always"), folder("dd")) + "[ARCHIVE_LZH]\r\nArchiveLevel=lh7\r\n");
    const QByteArray before = readFile(iniPath);
    ExtractionOptionsDialog dialog(home.myPath());
    record(dialog);
    dialog.applyDdModeShortcut = [](bool) -> bool { ADD_FAILURE() << "no shortcut work on Cancel"; return false; };
    for (QCheckBox *b : dialog.findChildren<QCheckBox *>())
        b->setChecked(!b->isChecked());
    for (QLineEdit *e : dialog.findChildren<QLineEdit *>())
        e->setText("/nowhere/at/all");
    for (const char *r : {"ExNormal_FileNameFolder_Use", "optDDMODE_ExtDesktop", "ExDDMODE_FileNameFolder_Auto",
                          "optArcViewAction_Extract", "optArcViewPlace_Always"})
        dialog.findChild<QRadioButton *>(r)->setChecked(true);
    dialog.findChild<QComboBox *>("cmbArcViewPlace_Template")->setCurrentIndex(3);
    dialog.accept(); // refused: the folders do not exist
    EXPECT_FALSE(messages.empty());
    dialog.findChild<QPushButton *>("Btn_Cancel")->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);

    ArchiverOptionsDialog archiver(home.myPath());
    for (QComboBox *c : archiver.findChildren<QComboBox *>())
        c->setCurrentIndex(0);
    for (QLineEdit *e : archiver.findChildren<QLineEdit *>())
        e->setText("5000");
    for (QCheckBox *b : archiver.findChildren<QCheckBox *>())
        b->setChecked(!b->isChecked());
    archiver.findChild<QPushButton *>("Btn_Cancel")->click();
    EXPECT_EQ(readFile(iniPath), before);
}

TEST_F(OptionsTest, ExtractionOptionRulesWhileTheDialogIsOpen)
{
    writeFile(iniPath, "[EXTRACT_ARCVIEW]\nAction=1\nTargetPlace=0\n[EXTRACT_NORMAL]\nDeleteArchive=1\n");
    ExtractionOptionsDialog dialog(home.myPath());
    record(dialog);
    auto radio = [&](const char *name) { return dialog.findChild<QRadioButton *>(name); };

    // "解凍" stored: "開く動作のみ" is neither offered nor chosen, even with TargetPlace 0.
    EXPECT_FALSE(radio("optArcViewPlace_OpenOnly")->isEnabled());
    EXPECT_FALSE(radio("optArcViewPlace_OpenOnly")->isChecked());
    EXPECT_TRUE(radio("optArcViewPlace_Template")->isEnabled());
    radio("optArcViewPlace_Template")->setChecked(true);
    // "開く": the reverse, and the template choice goes.
    radio("optArcViewAction_Open")->setChecked(true);
    EXPECT_TRUE(radio("optArcViewPlace_OpenOnly")->isEnabled());
    EXPECT_FALSE(radio("optArcViewPlace_Template")->isEnabled());
    EXPECT_FALSE(radio("optArcViewPlace_Template")->isChecked());
    radio("optArcViewPlace_OpenOnly")->setChecked(true);
    radio("optArcViewAction_Extract")->setChecked(true);
    EXPECT_FALSE(radio("optArcViewPlace_OpenOnly")->isChecked());
    EXPECT_EQ(dialog.controls().chosen("optArcViewPlace"), -1);

    // The deletion warning: only when the user switches a delete box on.
    EXPECT_TRUE(messages.empty()); // loading DeleteArchive = 1 warns of nothing
    QCheckBox *normal = dialog.findChild<QCheckBox *>("chkDeleteArchiveNormal");
    QCheckBox *ddMode = dialog.findChild<QCheckBox *>("chkDeleteArchiveDDMODE");
    normal->click(); // off
    EXPECT_TRUE(messages.empty());
    ddMode->click(); // on
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].first, deletionWarningText());
    EXPECT_EQ(messages[0].second, MessageIcon::Information);
    EXPECT_TRUE(messages[0].first.contains("\nよって、"));
    EXPECT_TRUE(ddMode->isChecked()); // the box stays on
    normal->click();
    EXPECT_EQ(messages.size(), 2u);

    // The three folder buttons: "フォルダの選択"; an answer cut at its NUL
    // replaces the text, an empty answer leaves it.
    QStringList asked;
    QString answer;
    dialog.chooseFolder = [&](const QString &title, const QString &) {
        asked << title;
        return answer;
    };
    const QString chosen = folder("chosen");
    const struct {
        const char *button, *edit;
    } pairs[] = {{"Btn_FolderDlg", "txtAlwaysFolder"},
                 {"Btn_DDMODE_SelfDecideOpen", "txtDDMODE_SelfDecide"},
                 {"Btn_ARCVIEW_SelfDecideOpen", "txtArcViewPlace_AlwaysFolder"}};
    for (const auto &p : pairs) {
        auto *button = dialog.findChild<QPushButton *>(p.button);
        EXPECT_EQ(button->toolTip(), "いつもの解凍先フォルダを指定します。");
        answer = chosen + QChar(0) + "rest";
        button->click();
        EXPECT_EQ(dialog.findChild<QLineEdit *>(p.edit)->text(), chosen);
        answer.clear();
        button->click();
        EXPECT_EQ(dialog.findChild<QLineEdit *>(p.edit)->text(), chosen);
    }
    EXPECT_EQ(asked, QStringList(6, "フォルダの選択"));

    // The settings-only launch opens the DD-mode page.
    ExtractionOptionsDialog settingsOnly(home.myPath(), nullptr, LaunchMode::DdModeSetting);
    EXPECT_EQ(settingsOnly.tabs()->currentIndex(), 2);
    EXPECT_EQ(dialog.tabs()->currentIndex(), 0);
}

TEST_F(OptionsTest, FolderTextsAreRefusedAtOkWhenTheyCannotBeUsed)
{
    const QString missing = home.path("gone");
    writeFile(iniPath, ("[GENERAL]\nAlwaysPath=" + missing + "\n").toUtf8());
    QString readOnly = folder("readonly");
    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner);
    if (::access(QFile::encodeName(readOnly).constData(), W_OK) == 0)
        readOnly = "/proc/1"; // the owner of every file may write anywhere else
    const bool canTestReadOnly = ::access(QFile::encodeName(readOnly).constData(), W_OK) != 0;

    struct Case {
        const char *name;
        std::function<void(ExtractionOptionsDialog &)> set;
        QString refusal; // empty: accepted
        const char *focusTab;
    };
    auto text = [](const char *edit, QString value) {
        return [edit, value](ExtractionOptionsDialog &d) { d.findChild<QLineEdit *>(edit)->setText(value); };
    };
    const QString good = folder("good");
    std::vector<Case> cases{
        {"a stored folder that is away, not needed now, unchanged", [](auto &) {}, {}, nullptr},
        {"missing and typed", text("txtDDMODE_SelfDecide", missing), "が見つかりません", "簡易解凍"},
        {"relative", text("txtArcViewPlace_AlwaysFolder", "out"), "/ から始まるパス", "書庫閲覧"},
        {"too long", text("txtAlwaysFolder", "/" + QString(300, 'a')), "長すぎます", "通常解凍"},
        {"usual folder needed by the main window's target",
         [](ExtractionOptionsDialog &d) { d.setNormalTargetIsUsualFolder(true); }, "が見つかりません", "通常解凍"},
        {"usual folder empty and needed by the main window's target",
         [&](ExtractionOptionsDialog &d) {
             d.setNormalTargetIsUsualFolder(true);
             text("txtAlwaysFolder", "")(d);
         },
         "「いつもの解凍先」のフォルダを指定してください。", "通常解凍"},
        {"usual folder empty and needed by the viewer's place",
         [&](ExtractionOptionsDialog &d) {
             text("txtAlwaysFolder", " ")(d);
             d.findChild<QRadioButton *>("optArcViewPlace_Always")->setChecked(true);
         },
         "「いつもの解凍先」のフォルダを指定してください。", "通常解凍"},
        {"DD-mode folder empty and chosen",
         [](ExtractionOptionsDialog &d) { d.findChild<QRadioButton *>("optDDMODE_ExtSelfDecide")->setChecked(true); },
         "「簡易解凍の解凍先」のフォルダを指定してください。", "簡易解凍"},
        {"DD-mode folder given and chosen",
         [&](ExtractionOptionsDialog &d) {
             d.findChild<QRadioButton *>("optDDMODE_ExtSelfDecide")->setChecked(true);
             text("txtDDMODE_SelfDecide", good + "/")(d);
         },
         {}, nullptr},
    };
    if (canTestReadOnly)
        cases.push_back({"not writable", text("txtDDMODE_SelfDecide", readOnly), "に書き込めません", "簡易解凍"});

    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray before = readFile(iniPath);
        messages.clear();
        ExtractionOptionsDialog dialog(home.myPath());
        record(dialog);
        c.set(dialog);
        dialog.accept();
        if (c.refusal.isEmpty()) {
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
            EXPECT_TRUE(messages.empty()) << messages[0].first.toStdString();
            writeFile(iniPath, before);
            continue;
        }
        EXPECT_NE(dialog.result(), QDialog::Accepted);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_TRUE(messages[0].first.contains(c.refusal)) << messages[0].first.toStdString();
        EXPECT_EQ(messages[0].second, MessageIcon::Warning);
        EXPECT_EQ(dialog.tabs()->tabText(dialog.tabs()->currentIndex()), QString::fromUtf8(c.focusTab));
        EXPECT_EQ(readFile(iniPath), before);
    }
    QFile::setPermissions(home.path("readonly"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(OptionsTest, ArchiverOptionsDefaultsOrderAndEveryControl)
{
    ArchiverOptionsDialog dialog(home.myPath());
    EXPECT_EQ(dialog.windowTitle(), "Option-Archive-");
    const QStringList tabs{"圧縮", "LZH", "ZIP", "ZIP(7zip.dll)", "CAB", "7ZIP", "GZ", "BZ2", "BZA", "GZA", "RK",
                           "YZ2", "PAQAR"};
    ASSERT_EQ(dialog.tabs()->count(), tabs.size());
    for (int i = 0; i < tabs.size(); ++i)
        EXPECT_EQ(dialog.tabs()->tabText(i), tabs[i]);
    EXPECT_EQ(dialog.tabs()->tabToolTip(0), "圧縮の設定を行います。");
    auto combo = [&](const char *name) { return child<QComboBox>(dialog, name); };
    EXPECT_EQ(combo("LZH_cmbArchiveLevel")->currentText(), "lh5");
    EXPECT_EQ(combo("RK_cmbArchiveLevel")->currentText(), "mn1");
    EXPECT_EQ(combo("RK_cmbWAVArchiveLevel")->currentText(), "mwn");
    EXPECT_EQ(child<QLineEdit>(dialog, "LZH_txtHuffmanBufferSize")->text(), "16384");

    // With no file, OK writes every key with its default, in the table's order.
    dialog.accept();
    EXPECT_EQ(QString::fromUtf8(readFile(iniPath)),
              "[GENERAL_ARC]\nUse7Zip=0\n[ARCHIVE_LZH]\nArchiveLevel=lh5\nHuffmanBufferSize=16384\n"
              "[ARCHIVE_ZIP]\nArchiveLevel=6\nArchiveLevel_7z=5\nArchiveMethod_7z=Deflate\nDeflateMem_7z=32\n"
              "DeflatePass_7z=1\n[ARCHIVE_CAB]\nArchiveType=MSZIP\nLZXArchiveLevel=15\n"
              "[ARCHIVE_7Z]\nArchiveLevel=5\nSolidMode=1\nFilter=1\nHeaderComp=1\nCompleteHeaderComp=1\n"
              "[ARCHIVE_GZ]\nArchiveLevel=6\n[ARCHIVE_BZ2]\nArchiveLevel=9\n[ARCHIVE_BZA]\nArchiveLevel=9\n"
              "[ARCHIVE_GZA]\nArchiveLevel=9\n[ARCHIVE_RK]\nArchiveLevel=mn1\nWAVArchiveLevel=mwn\n"
              "[ARCHIVE_YZ2]\nBufferSize=8\nPPM=0\n[ARCHIVE_PAQAR]\nArchiveLevel=2\n");

    // Every control changed: the last item of every list, the other state of
    // every box, a new number in every number box.
    ArchiverOptionsDialog changed(home.myPath());
    for (QComboBox *c : changed.findChildren<QComboBox *>())
        c->setCurrentIndex(c->count() - 1);
    for (QCheckBox *b : changed.findChildren<QCheckBox *>())
        b->setChecked(!b->isChecked());
    const QMap<QString, QString> numbers{{"LZH_txtHuffmanBufferSize", "4096"}, {"ZIP_7z_txtDeflateMem", "64"},
                                         {"ZIP_7z_txtDeflatePass", "3"}, {"YZ2_txtBufferSize", "255"}};
    for (auto it = numbers.begin(); it != numbers.end(); ++it)
        changed.findChild<QLineEdit *>(it.key())->setText(it.value());
    changed.findChild<QPushButton *>("Btn_OK")->click();
    EXPECT_EQ(changed.result(), QDialog::Accepted);
    const QMap<QString, QString> expected{
        {"GENERAL_ARC/Use7Zip", "1"}, {"ARCHIVE_LZH/ArchiveLevel", "Auto"},
        {"ARCHIVE_LZH/HuffmanBufferSize", "4096"}, {"ARCHIVE_ZIP/ArchiveLevel", "9"},
        {"ARCHIVE_ZIP/ArchiveLevel_7z", "9"}, {"ARCHIVE_ZIP/ArchiveMethod_7z", "BZip2"},
        {"ARCHIVE_ZIP/DeflateMem_7z", "64"}, {"ARCHIVE_ZIP/DeflatePass_7z", "3"}, {"ARCHIVE_CAB/ArchiveType", "NoCompress"},
        {"ARCHIVE_CAB/LZXArchiveLevel", "21"}, {"ARCHIVE_7Z/ArchiveLevel", "9"}, {"ARCHIVE_7Z/SolidMode", "0"},
        {"ARCHIVE_7Z/Filter", "1"}, {"ARCHIVE_7Z/HeaderComp", "0"}, {"ARCHIVE_7Z/CompleteHeaderComp", "0"},
        {"ARCHIVE_GZ/ArchiveLevel", "9"}, {"ARCHIVE_BZ2/ArchiveLevel", "9"}, {"ARCHIVE_BZA/ArchiveLevel", "9"},
        {"ARCHIVE_GZA/ArchiveLevel", "9"}, {"ARCHIVE_RK/ArchiveLevel", "mx3"}, {"ARCHIVE_RK/WAVArchiveLevel", "mwx"},
        {"ARCHIVE_YZ2/BufferSize", "255"}, {"ARCHIVE_YZ2/PPM", "1"}, {"ARCHIVE_PAQAR/ArchiveLevel", "9"},
    };
    EXPECT_EQ(stored(archiverOptionFields()), expected);
    ArchiverOptionsDialog again(home.myPath());
    EXPECT_EQ(again.controls().collect(), loadOptions(Settings(home.myPath()), archiverOptionFields()));

    // A stored choice that is no item of its list survives an OK untouched.
    ini.writeText("ARCHIVE_LZH", "ArchiveLevel", "lh9");
    ArchiverOptionsDialog odd(home.myPath());
    EXPECT_EQ(odd.findChild<QComboBox *>("LZH_cmbArchiveLevel")->currentText(), "lh9");
    odd.accept();
    EXPECT_EQ(ini.readText("ARCHIVE_LZH", "ArchiveLevel"), "lh9");
}

TEST_F(OptionsTest, ArchiverNumbersOutsideTheirRangesAreRefused)
{
    writeFile(iniPath, "[ARCHIVE_ZIP]\nDeflateMem_7z=32\n");
    const QByteArray before = readFile(iniPath);
    struct Box {
        const char *control, *caption, *tab;
        int low, high;
    } boxes[] = {{"LZH_txtHuffmanBufferSize", "Huffmanバッファサイズ", "LZH", 4096, 32768},
                 {"ZIP_7z_txtDeflateMem", "Deflateエンコーダ用メモリ", "ZIP(7zip.dll)", 3, 64},
                 {"ZIP_7z_txtDeflatePass", "Deflateエンコーダパス", "ZIP(7zip.dll)", 1, 3},
                 {"YZ2_txtBufferSize", "圧縮バッファサイズ", "YZ2", 1, 255}};
    for (const Box &b : boxes) {
        for (const QString &bad : {QString::number(b.low - 1), QString::number(b.high + 1), QStringLiteral("12abc"),
                                   QStringLiteral(""), QStringLiteral("-5"), QStringLiteral("99999999999")}) {
            SCOPED_TRACE(std::string(b.control) + " = " + bad.toStdString());
            messages.clear();
            ArchiverOptionsDialog dialog(home.myPath());
            record(dialog);
            dialog.findChild<QLineEdit *>(b.control)->setText(bad);
            dialog.accept();
            EXPECT_NE(dialog.result(), QDialog::Accepted);
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(messages[0].first, QStringLiteral("%1には%2から%3までの数値を入力してください。")
                                             .arg(QString::fromUtf8(b.caption))
                                             .arg(b.low)
                                             .arg(b.high));
            EXPECT_EQ(dialog.tabs()->tabText(dialog.tabs()->currentIndex()), QString::fromUtf8(b.tab));
            EXPECT_EQ(readFile(iniPath), before);
        }
        // Both ends are accepted; blanks and leading zeros are written away.
        for (const int good : {b.low, b.high}) {
            ArchiverOptionsDialog dialog(home.myPath());
            record(dialog);
            dialog.findChild<QLineEdit *>(b.control)->setText(" 0" + QString::number(good) + " ");
            dialog.accept();
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
            const OptionField *f = findField(archiverOptionFields(), b.control);
            EXPECT_EQ(ini.readText(f->section, f->key), QString::number(good));
        }
        writeFile(iniPath, before);
    }
}

TEST_F(OptionsTest, TheSettingsOnlyLaunchReachesTheOtherOptionsDialogs)
{
    GeneralOptionsDialog general(home.myPath(), Availability{});
    const SettingsOnlyButtons buttons = addSettingsOnlyButtons(&general, home.myPath());
    general.show();
    ASSERT_TRUE(buttons.extraction && buttons.archiver);
    EXPECT_TRUE(buttons.archiver->isVisible());

    QString title;
    int page = -1;
    ModalWatcher extraction;
    extraction.arm([&](QWidget *w) {
        title = w->windowTitle();
        if (auto *d = qobject_cast<ExtractionOptionsDialog *>(w))
            page = d->tabs()->currentIndex();
        w->close();
    });
    buttons.extraction->click();
    EXPECT_EQ(title, "Option-Extract-");
    EXPECT_EQ(page, 2);

    ModalWatcher archiver;
    archiver.arm([&](QWidget *w) {
        title = w->windowTitle();
        if (auto *d = qobject_cast<ArchiverOptionsDialog *>(w))
            d->findChild<QPushButton *>("Btn_OK")->click();
        w->close();
    });
    buttons.archiver->click();
    EXPECT_EQ(title, "Option-Archive-");
    EXPECT_EQ(ini.readText("ARCHIVE_RK", "ArchiveLevel"), "mn1");
    EXPECT_TRUE(general.isVisible()); // the general dialog stays, and ends the program when it closes
}

TEST_F(OptionsTest, AboutBoxCaptionVersionRowsAndLink)
{
    AboutDialog about(QStringLiteral("SalvoExtractor"), nullptr);
    EXPECT_EQ(about.windowTitle(), QStringLiteral("SalvoExtractorのﾊﾞｰｼﾞｮﾝ情報"));
    EXPECT_TRUE(about.versionLabel->text().startsWith("Version "));
    EXPECT_EQ(about.versionLabel->text().count('.'), 2);
    ASSERT_EQ(about.list->topLevelItemCount(), 22);
    EXPECT_EQ(about.list->headerItem()->text(0), "DLL File");
    EXPECT_EQ(about.list->headerItem()->text(1), "Version");
    EXPECT_EQ(about.list->topLevelItem(0)->text(0), "unlha32.so");
    EXPECT_EQ(about.list->topLevelItem(0)->text(1), "Not Installed");
    EXPECT_EQ(about.list->topLevelItem(21)->text(0), "libarchive");
    // The link leads to the manual beside the program, a local file.
    QList<QUrl> opened;
    about.openUrl = [&](const QUrl &url, const std::function<void()> &) { opened << url; };
    EXPECT_TRUE(about.urlLabel->text().contains("file:///")) << about.urlLabel->text().toStdString();
    const QString link = about.urlLabel->text().section('"', 1, 1);
    emit about.urlLabel->linkActivated(link);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(opened[0].isLocalFile());
    EXPECT_TRUE(QFileInfo(opened[0].toLocalFile()).isFile()) << opened[0].toString().toStdString();
    EXPECT_NE(about.findChild<QPushButton *>("cmdOK"), nullptr);
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
