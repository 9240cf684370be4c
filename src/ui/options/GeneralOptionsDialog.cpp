#include "GeneralOptionsDialog.h"

#include "app/shell/ShellEntries.h"
#include "settings/Settings.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace salvo {
namespace {

// The association boxes in the order the page shows them.
constexpr const char *kLinkBoxOrder[] = {
    "Link_LZH", "Link_ZIP", "Link_CAB", "Link_GCA", "Link_RAR", "Link_7ZIP", "Link_YZ1", "Link_ARJ",
    "Link_TAR", "Link_GZ", "Link_Z", "Link_BZ2", "Link_BZA", "Link_GZA", "Link_BEL", "Link_IMP",
    "Link_KTY", "Link_ACE", "Link_YZ2", "Link_YZ2A6", "Link_RK", "Link_HKI", "Link_PQA",
    "Link_CPIO", "Link_ISO", "Link_DEB", "Link_RPM", "Link_XAR", "Link_LZ4", "Link_LZO",
};

const ManagedExtension *extensionOfBox(const QString &boxName)
{
    for (const ManagedExtension &row : managedExtensions()) {
        if (row.checkBox && boxName == QLatin1String(row.checkBox))
            return &row;
    }
    return nullptr;
}

template <typename T>
T *named(T *widget, const char *objectName)
{
    widget->setObjectName(QLatin1String(objectName));
    return widget;
}

QLineEdit *lineEdit(const char *objectName, QWidget *parent)
{
    return named(new QLineEdit(parent), objectName);
}

} // namespace

GeneralOptionsDialog::GeneralOptionsDialog(QString myPath, const Availability &availability, QWidget *parent,
                                           ShellProgram program)
    : QDialog(parent), m_myPath(std::move(myPath)), m_availability(availability), m_program(std::move(program)),
      m_associations(m_program)
{
    setObjectName(QStringLiteral("frmOption"));
    setWindowTitle(QStringLiteral("Option"));
    showMessage = [this](const QString &text, MessageIcon icon) {
        QMessageBox box(icon == MessageIcon::Information ? QMessageBox::Information
                        : icon == MessageIcon::Warning   ? QMessageBox::Warning
                                                         : QMessageBox::Critical,
                        QLatin1String(kMessageTitle), text, QMessageBox::Ok, this);
        box.exec();
    };
    chooseSoundFile = [this] {
        return QFileDialog::getOpenFileName(this, QStringLiteral("ファイルを開く"),
                                            QFileInfo(m_soundFile->text()).absolutePath(),
                                            soundFileFilters().join(QStringLiteral(";;")));
    };

    auto *layout = new QVBoxLayout(this);
    m_tabs = named(new QTabWidget(this), "TabStrip1");
    const struct {
        const char *caption, *tooltip;
        void (GeneralOptionsDialog::*build)(QWidget *);
    } pages[] = {
        {"関連づけ", "関連づけの設定を行います。", &GeneralOptionsDialog::buildAssociationsPage},
        {"その他", "その他の設定を行います。", &GeneralOptionsDialog::buildOtherPage},
        {"メール通知", "メール通知の設定を行います。", &GeneralOptionsDialog::buildMailPage},
    };
    for (const auto &p : pages) {
        auto *page = new QWidget(m_tabs);
        (this->*p.build)(page);
        const int index = m_tabs->addTab(page, QString::fromUtf8(p.caption));
        m_tabs->setTabToolTip(index, QString::fromUtf8(p.tooltip));
    }
    layout->addWidget(m_tabs);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    auto *ok = named(new QPushButton(QStringLiteral("OK"), this), "Btn_OK");
    auto *cancel = named(new QPushButton(QStringLiteral("Cancel"), this), "Btn_Cancel");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &GeneralOptionsDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &GeneralOptionsDialog::reject);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    setOptions(loadGeneralOptions(m_myPath, m_associations));
}

void GeneralOptionsDialog::buildAssociationsPage(QWidget *page)
{
    auto *layout = new QVBoxLayout(page);
    auto *boxes = new QGridLayout;
    int i = 0;
    for (const char *name : kLinkBoxOrder) {
        const ManagedExtension *extension = extensionOfBox(QLatin1String(name));
        auto *box = named(new QCheckBox(QLatin1String(extension->name), page), name);
        m_linkBoxes.append(box);
        boxes->addWidget(box, i / 6, i % 6);
        ++i;
    }
    layout->addLayout(boxes);

    auto *row = new QHBoxLayout;
    auto *all = named(new QPushButton(QStringLiteral("すべて選択"), page), "Btn_Ext_All_Add");
    auto *none = named(new QPushButton(QStringLiteral("すべて解除"), page), "Btn_Ext_All_Delete");
    connect(all, &QPushButton::clicked, this, &GeneralOptionsDialog::selectAllWithArchiver);
    connect(none, &QPushButton::clicked, this, [this] {
        for (QCheckBox *box : std::as_const(m_linkBoxes))
            box->setChecked(false);
    });
    row->addWidget(all);
    row->addWidget(none);
    row->addStretch();
    layout->addLayout(row);

    auto *mode = new QGroupBox(QStringLiteral("起動方法"), page);
    mode->setToolTip(QStringLiteral("関連づけを利用して起動する場合の起動方法を指定します。"));
    auto *modeLayout = new QHBoxLayout(mode);
    m_modeNormal = named(new QRadioButton(QStringLiteral("通常"), mode), "optExtMODE_Normal");
    m_modeEasy = named(new QRadioButton(QStringLiteral("簡易解凍"), mode), "optExtMODE_Easy");
    modeLayout->addWidget(m_modeNormal);
    modeLayout->addWidget(m_modeEasy);
    modeLayout->addStretch();
    layout->addWidget(mode);
    layout->addStretch();
}

void GeneralOptionsDialog::buildOtherPage(QWidget *page)
{
    auto *layout = new QVBoxLayout(page);
    m_useSendTo = named(new QCheckBox(QStringLiteral("「送る」に登録する"), page), "chkUseSendTo");
    m_useDesktop =
        named(new QCheckBox(QStringLiteral("デスクトップにショートカットを作成する"), page), "chkUseDeskTopNormal");
    layout->addWidget(m_useSendTo);
    layout->addWidget(m_useDesktop);

    auto *rightClick = new QGroupBox(QStringLiteral("右クリックメニュー"), page);
    auto *rightClickLayout = new QVBoxLayout(rightClick);
    m_useFolderMenu = named(new QCheckBox(QStringLiteral("フォルダメニューに登録"), rightClick), "chkUseRCFolderSlvoAdd");
    rightClickLayout->addWidget(m_useFolderMenu);
    layout->addWidget(rightClick);

    auto *font = new QGroupBox(QStringLiteral("画面のFontSize"), page);
    auto *fontLayout = new QHBoxLayout(font);
    m_fontNormal = named(new QRadioButton(QStringLiteral("Normal"), font), "optFontSize_Normal");
    m_fontLarge = named(new QRadioButton(QStringLiteral("Large"), font), "optFontSize_Large");
    fontLayout->addWidget(m_fontNormal);
    fontLayout->addWidget(m_fontLarge);
    fontLayout->addStretch();
    layout->addWidget(font);

    m_useSound = named(new QCheckBox(QStringLiteral("作業終了時、音声ファイルを再生する"), page), "chkUseSound");
    layout->addWidget(m_useSound);
    auto *soundRow = new QHBoxLayout;
    m_soundFile = lineEdit("txtSoundFilePath", page);
    auto *browse = named(new QPushButton(QStringLiteral("..."), page), "BtnOpenSoundFile");
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString chosen = chooseSoundFile();
        if (!chosen.isEmpty())
            m_soundFile->setText(chosen);
    });
    soundRow->addWidget(m_soundFile);
    soundRow->addWidget(browse);
    layout->addLayout(soundRow);
    m_endNotice = named(new QCheckBox(QStringLiteral("完了報告をしない"), page), "chkEndNotice");
    layout->addWidget(m_endNotice);

    auto *sort = new QGroupBox(QStringLiteral("ソート方法"), page);
    auto *sortLayout = new QHBoxLayout(sort);
    m_sort = new QButtonGroup(this);
    const char *sortNames[][2] = {{"optSort_FullPath", "フルパス"}, {"optSort_Path", "パス"}, {"optSort_FileName", "ファイル名"}};
    for (int i = 0; i < 3; ++i) {
        auto *button = named(new QRadioButton(QString::fromUtf8(sortNames[i][1]), sort), sortNames[i][0]);
        m_sort->addButton(button, i);
        sortLayout->addWidget(button);
    }
    sortLayout->addStretch();
    layout->addWidget(sort);
    layout->addStretch();
}

void GeneralOptionsDialog::buildMailPage(QWidget *page)
{
    auto *layout = new QVBoxLayout(page);
    m_useMail = named(new QCheckBox(QStringLiteral("E-Mailによる通知機能を使う"), page), "chkUseEMail");
    layout->addWidget(m_useMail);

    auto *server = new QFormLayout;
    m_smtpServer = lineEdit("txtSMTPServer", page);
    m_port = lineEdit("txtPort", page);
    m_timeOut = lineEdit("txtTimeOut", page);
    server->addRow(QStringLiteral("SMTP Server"), m_smtpServer);
    server->addRow(QStringLiteral("Port"), m_port);
    server->addRow(QStringLiteral("TimeOut"), m_timeOut);
    layout->addLayout(server);
    guardNumberBox(m_port);
    guardNumberBox(m_timeOut);

    m_useSmtpAuth = named(new QCheckBox(QStringLiteral("SMTP認証を使う"), page), "chkSMTPAUTHUse");
    layout->addWidget(m_useSmtpAuth);
    auto *authRow = new QHBoxLayout;
    m_smtpAuth = new QButtonGroup(this);
    const char *authNames[][2] = {{"optSMTPA_LOGIN", "LOGIN"}, {"optSMTPA_PLAIN", "PLAIN"}, {"optSMTPA_CRAM", "CRAM-MD5"}};
    for (int i = 0; i < 3; ++i) {
        auto *button = named(new QRadioButton(QString::fromUtf8(authNames[i][1]), page), authNames[i][0]);
        m_smtpAuth->addButton(button, i);
        authRow->addWidget(button);
    }
    authRow->addStretch();
    layout->addLayout(authRow);

    auto *auth = new QFormLayout;
    m_smtpUser = lineEdit("txtSMTPUserName", page);
    m_smtpPassword = lineEdit("txtSMTPPassword", page);
    m_smtpPassword->setEchoMode(QLineEdit::Password);
    auth->addRow(QStringLiteral("UserName"), m_smtpUser);
    auth->addRow(QStringLiteral("Password"), m_smtpPassword);
    m_mailTo = lineEdit("txtMailTo", page);
    m_mailFrom = lineEdit("txtMailFrom", page);
    m_subject = lineEdit("txtSubject", page);
    auth->addRow(QStringLiteral("送信先アドレス"), m_mailTo);
    auth->addRow(QStringLiteral("送信元アドレス"), m_mailFrom);
    auth->addRow(QStringLiteral("タイトル"), m_subject);
    layout->addLayout(auth);

    m_usePop = named(new QCheckBox(QStringLiteral("POP Before SMTPを使う"), page), "chkPOPBSMTPUse");
    layout->addWidget(m_usePop);
    auto *pop = new QFormLayout;
    m_popServer = lineEdit("txtPOPServer", page);
    m_popUser = lineEdit("txtPOPUserName", page);
    m_popPassword = lineEdit("txtPOPPassword", page);
    m_popPassword->setEchoMode(QLineEdit::Password);
    pop->addRow(QStringLiteral("POP Server"), m_popServer);
    pop->addRow(QStringLiteral("UserName"), m_popUser);
    pop->addRow(QStringLiteral("Password"), m_popPassword);
    layout->addLayout(pop);
    layout->addStretch();
}

void GeneralOptionsDialog::guardNumberBox(QLineEdit *box)
{
    // A text that is not a number is refused with a message; the box goes back
    // to the last number it held.
    auto previous = std::make_shared<QString>();
    connect(box, &QLineEdit::textChanged, this, [this, box, previous](const QString &text) {
        if (isNumberText(text)) {
            *previous = text;
            return;
        }
        showMessage(QString::fromUtf8(kInvalidValueMessage), MessageIcon::Warning);
        box->setText(*previous);
    });
}

void GeneralOptionsDialog::selectAllWithArchiver()
{
    const QSet<QString> available =
        extensionsWithArchiver(m_availability, Settings(m_myPath).read(ini::kUse7Zip) != 0);
    for (QCheckBox *box : std::as_const(m_linkBoxes)) {
        if (available.contains(QLatin1String(extensionOfBox(box->objectName())->name)))
            box->setChecked(true);
    }
}

GeneralOptions GeneralOptionsDialog::options() const
{
    GeneralOptions o;
    for (const QCheckBox *box : m_linkBoxes) {
        if (box->isChecked())
            o.associated.insert(QLatin1String(extensionOfBox(box->objectName())->name));
    }
    o.associationsStartDdMode = m_modeEasy->isChecked();
    o.useSendTo = m_useSendTo->isChecked();
    o.useDesktopShortcut = m_useDesktop->isChecked();
    o.useFolderMenu = m_useFolderMenu->isChecked();
    o.largeFont = m_fontLarge->isChecked();
    o.useSound = m_useSound->isChecked();
    o.soundFilePath = m_soundFile->text();
    o.noEndNotice = m_endNotice->isChecked();
    o.sort = qMax(0, m_sort->checkedId());
    o.useMail = m_useMail->isChecked();
    o.smtpServer = m_smtpServer->text();
    o.port = m_port->text();
    o.timeOut = m_timeOut->text();
    o.useSmtpAuth = m_useSmtpAuth->isChecked();
    o.smtpAuth = qMax(0, m_smtpAuth->checkedId());
    o.smtpUserName = m_smtpUser->text();
    o.smtpPassword = m_smtpPassword->text();
    o.mailTo = m_mailTo->text();
    o.mailFrom = m_mailFrom->text();
    o.subject = m_subject->text();
    o.usePopBeforeSmtp = m_usePop->isChecked();
    o.popServer = m_popServer->text();
    o.popUserName = m_popUser->text();
    o.popPassword = m_popPassword->text();
    return o;
}

void GeneralOptionsDialog::setOptions(const GeneralOptions &o)
{
    for (QCheckBox *box : std::as_const(m_linkBoxes))
        box->setChecked(o.associated.contains(QLatin1String(extensionOfBox(box->objectName())->name)));
    (o.associationsStartDdMode ? m_modeEasy : m_modeNormal)->setChecked(true);
    m_useSendTo->setChecked(o.useSendTo);
    m_useDesktop->setChecked(o.useDesktopShortcut);
    m_useFolderMenu->setChecked(o.useFolderMenu);
    (o.largeFont ? m_fontLarge : m_fontNormal)->setChecked(true);
    m_useSound->setChecked(o.useSound);
    m_soundFile->setText(o.soundFilePath);
    m_endNotice->setChecked(o.noEndNotice);
    m_sort->button(qBound(0, o.sort, 2))->setChecked(true);
    m_useMail->setChecked(o.useMail);
    m_smtpServer->setText(o.smtpServer);
    m_port->setText(o.port);
    m_timeOut->setText(o.timeOut);
    m_useSmtpAuth->setChecked(o.useSmtpAuth);
    m_smtpAuth->button(qBound(0, o.smtpAuth, 2))->setChecked(true);
    m_smtpUser->setText(o.smtpUserName);
    m_smtpPassword->setText(o.smtpPassword);
    m_mailTo->setText(o.mailTo);
    m_mailFrom->setText(o.mailFrom);
    m_subject->setText(o.subject);
    m_usePop->setChecked(o.usePopBeforeSmtp);
    m_popServer->setText(o.popServer);
    m_popUser->setText(o.popUserName);
    m_popPassword->setText(o.popPassword);
}

void GeneralOptionsDialog::accept()
{
    const GeneralOptions chosen = options();
    saveGeneralOptions(m_myPath, chosen);
    const ShellApplyResult result = applyGeneralShellOptions(chosen, m_associations, m_program);
    for (const int flags : {result.sendToResult, result.shortcutResult}) {
        if (flags != kShortcutDone)
            showMessage(shortcutFailureMessage(flags), MessageIcon::Warning);
    }
    QDialog::accept();
}

} // namespace salvo
