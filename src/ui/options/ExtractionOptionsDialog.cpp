#include "ExtractionOptionsDialog.h"

#include "app/shell/ShellEntries.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace salvo {
namespace {

using namespace extraction;

const QString kFolderButtonTip = QStringLiteral("いつもの解凍先フォルダを指定します。");

QCheckBox *checkBox(QWidget *parent, const char *name, const QString &caption)
{
    auto *box = new QCheckBox(caption, parent);
    box->setObjectName(QLatin1String(name));
    return box;
}

QPushButton *folderButton(QWidget *parent, const char *name)
{
    auto *button = new QPushButton(QStringLiteral("..."), parent);
    button->setObjectName(QLatin1String(name));
    button->setToolTip(kFolderButtonTip);
    button->setFixedWidth(button->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);
    button->setAutoDefault(false);
    return button;
}

QRadioButton *radio(QWidget *parent, const QString &name, const QString &caption)
{
    auto *button = new QRadioButton(caption, parent);
    button->setObjectName(name);
    return button;
}

// An option group in a frame of its own: its buttons exclude only each other.
QGroupBox *optionGroup(QWidget *parent, const QString &title, const QString &field, const QStringList &captions,
                       bool vertical = false)
{
    auto *frame = new QGroupBox(title, parent);
    const QStringList names = findField(extractionOptionFields(), field)->choices;
    QBoxLayout *layout = vertical ? static_cast<QBoxLayout *>(new QVBoxLayout(frame))
                                  : static_cast<QBoxLayout *>(new QHBoxLayout(frame));
    for (int i = 0; i < names.size(); ++i)
        layout->addWidget(radio(frame, names.at(i), captions.value(i)));
    if (!vertical)
        layout->addStretch();
    return frame;
}

QStringList folderModeCaptions()
{
    return {QStringLiteral("自動判別"), QStringLiteral("作成する"), QStringLiteral("作成しない")};
}

} // namespace

ExtractionOptionsDialog::ExtractionOptionsDialog(QString myPath, QWidget *parent, LaunchMode launchMode)
    : QDialog(parent), m_myPath(std::move(myPath)), m_controls(this, extractionOptionFields())
{
    setObjectName(QStringLiteral("frmOptionEx"));
    setWindowTitle(QStringLiteral("Option-Extract-"));

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("TabStrip1"));
    const struct {
        QWidget *page;
        const char16_t *caption;
        const char16_t *tip;
    } pages[] = {
        {buildCommonPage(), u"解凍", u"通常解凍・簡易解凍共通の設定を行います。"},
        {buildNormalPage(), u"通常解凍", u"通常解凍の設定を行います。"},
        {buildDdModePage(), u"簡易解凍", u"簡易解凍モードの設定を行います。"},
        {buildViewerPage(), u"書庫閲覧", u"書庫閲覧ウィンドウ上での解凍設定を行います。"},
    };
    for (const auto &p : pages) {
        const int index = m_tabs->addTab(p.page, QString::fromUtf16(p.caption));
        m_tabs->setTabToolTip(index, QString::fromUtf16(p.tip));
    }

    layOutTabsWithOkCancel(this, m_tabs);

    chooseFolder = [this](const QString &title, const QString &start) {
        return QFileDialog::getExistingDirectory(this, title, start);
    };
    notify = [this](const QString &text, MessageIcon icon) { showMessageBox(this, text, icon); };
    applyDdModeShortcut = [this](bool make) {
        const int result = applyDesktopShortcut(ShortcutKind::DdMode, make);
        if (result != kShortcutDone)
            notify(shortcutFailureMessage(result), MessageIcon::Warning);
        return result == kShortcutDone;
    };

    // The deletion warning comes when the user switches a delete box on.
    for (const char *name : {kDeleteNormal, kDeleteDdMode}) {
        connect(findChild<QCheckBox *>(QLatin1String(name)), &QCheckBox::clicked, this, [this](bool on) {
            if (on)
                notify(deletionWarningText(), MessageIcon::Information);
        });
    }
    for (const QString &name : findField(extractionOptionFields(), QLatin1String(kViewerAction))->choices)
        connect(findChild<QRadioButton *>(name), &QRadioButton::toggled, this, &ExtractionOptionsDialog::applyViewerPlaceRule);

    m_controls.show(loadOptions(Settings(m_myPath), extractionOptionFields()));
    applyViewerPlaceRule();
    if (launchMode == LaunchMode::DdModeSetting)
        m_tabs->setCurrentIndex(2);
}

QWidget *ExtractionOptionsDialog::buildCommonPage()
{
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(checkBox(page, "chkShowListViewer", QStringLiteral("起動時、書庫閲覧ウィンドウを表示する。")));
    layout->addWidget(checkBox(page, "chkErrorSkip", QStringLiteral("エラーをスキップする")));
    layout->addWidget(checkBox(page, "chkPreScan", QStringLiteral("プリスキャン機能をオフにする")));
    layout->addWidget(checkBox(page, "chkUseSevenZip", QStringLiteral("ZIPの解凍に7-zip32.DLLを使用する")));
    layout->addWidget(checkBox(page, "chkOpenFolder", QStringLiteral("解凍先が単一の場合、フォルダを開く")));
    // No box for choosing yz2dec for YZ2 archives: it is their only extractor,
    // so such a box would offer no choice and store nothing.
    layout->addStretch();
    return page;
}

QWidget *ExtractionOptionsDialog::buildNormalPage()
{
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(checkBox(page, kDeleteNormal, QStringLiteral("解凍後エラーがなければ書庫を削除する")));

    auto *folderLabel = new QLabel(QStringLiteral("いつもの解凍先"), page);
    auto *folder = new QLineEdit(page);
    folder->setObjectName(QLatin1String(kAlwaysFolder));
    folderLabel->setBuddy(folder);
    auto *browse = folderButton(page, "Btn_FolderDlg");
    connect(browse, &QPushButton::clicked, this, [this] { pickFolder(QLatin1String(kAlwaysFolder)); });
    auto *row = new QHBoxLayout;
    row->addWidget(folderLabel);
    row->addWidget(folder, 1);
    row->addWidget(browse);
    layout->addLayout(row);

    layout->addWidget(checkBox(page, "chkDirectory", QStringLiteral("書庫内のディレクトリ無視")));
    layout->addWidget(checkBox(page, "chkOverWriteNormal", QStringLiteral("上書き確認を行う")));
    layout->addWidget(optionGroup(page, QStringLiteral("ファイル名でのフォルダの作成"), QLatin1String(kNormalFolderMode),
                                  folderModeCaptions()));
    layout->addStretch();
    return page;
}

QWidget *ExtractionOptionsDialog::buildDdModePage()
{
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(checkBox(page, kDeleteDdMode, QStringLiteral("解凍後エラーがなければ書庫を削除する")));

    QGroupBox *target = optionGroup(page, QStringLiteral("解凍先"), QLatin1String(kDdExtractMode),
                                    {QStringLiteral("デスクトップ"), QStringLiteral("ファイルの元あった場所"),
                                     QStringLiteral("自分であらかじめ決めた場所")},
                                    true);
    auto *folder = new QLineEdit(target);
    folder->setObjectName(QLatin1String(kDdTargetFolder));
    auto *browse = folderButton(target, "Btn_DDMODE_SelfDecideOpen");
    connect(browse, &QPushButton::clicked, this, [this] { pickFolder(QLatin1String(kDdTargetFolder)); });
    auto *row = new QHBoxLayout;
    row->setContentsMargins(20, 0, 0, 0);
    row->addWidget(folder, 1);
    row->addWidget(browse);
    static_cast<QBoxLayout *>(target->layout())->addLayout(row);
    layout->addWidget(target);

    layout->addWidget(checkBox(page, kUseDesktop, QStringLiteral("デスクトップにショートカットを作成する")));
    layout->addWidget(checkBox(page, "chkOverWriteDDMODE", QStringLiteral("上書き確認を行う")));
    layout->addWidget(optionGroup(page, QStringLiteral("ファイル名でのフォルダの作成"),
                                  QStringLiteral("ExDDMODE_FileNameFolder"), folderModeCaptions()));
    layout->addStretch();
    return page;
}

QWidget *ExtractionOptionsDialog::buildViewerPage()
{
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(checkBox(page, "chkOverWriteArcView", QStringLiteral("上書き確認を行う")));
    layout->addWidget(checkBox(page, "chkMakeFolder4ListView",
                               QStringLiteral("書庫閲覧からの解凍時、ファイル名でフォルダを作成する")));

    auto *doubleClick = new QGroupBox(QStringLiteral("ダブルクリック時動作"), page);
    auto *inner = new QHBoxLayout(doubleClick);
    inner->addWidget(optionGroup(doubleClick, QStringLiteral("アクション"), QLatin1String(kViewerAction),
                                 {QStringLiteral("開く"), QStringLiteral("解凍")}, true),
                     0, Qt::AlignTop);

    auto *place = new QGroupBox(QStringLiteral("場所"), doubleClick);
    const QStringList names = findField(extractionOptionFields(), QLatin1String(kViewerPlace))->choices;
    auto *grid = new QGridLayout(place);
    grid->addWidget(radio(place, names.at(0), QStringLiteral("開く動作のみ")), 0, 0, 1, 3);
    grid->addWidget(radio(place, names.at(1), QStringLiteral("場所を指定")), 1, 0, 1, 3);
    grid->addWidget(radio(place, names.at(2), QStringLiteral("いつものところへ")), 2, 0);
    auto *folder = new QLineEdit(place);
    folder->setObjectName(QLatin1String(kViewerFolder));
    grid->addWidget(folder, 2, 1);
    auto *browse = folderButton(place, "Btn_ARCVIEW_SelfDecideOpen");
    connect(browse, &QPushButton::clicked, this, [this] { pickFolder(QLatin1String(kViewerFolder)); });
    grid->addWidget(browse, 2, 2);
    grid->addWidget(radio(place, names.at(3), QStringLiteral("テンプレート指定")), 3, 0);
    auto *templates = new QComboBox(place);
    templates->setObjectName(QStringLiteral("cmbArcViewPlace_Template"));
    templates->addItems(findField(extractionOptionFields(), QStringLiteral("cmbArcViewPlace_Template"))->choices);
    grid->addWidget(templates, 3, 1, 1, 2);
    grid->setColumnStretch(1, 1);
    inner->addWidget(place, 1);

    layout->addWidget(doubleClick);
    layout->addStretch();
    return page;
}

void ExtractionOptionsDialog::applyViewerPlaceRule()
{
    const int action = m_controls.chosen(QLatin1String(kViewerAction));
    const QStringList places = findField(extractionOptionFields(), QLatin1String(kViewerPlace))->choices;
    const ViewerPlaceRule rule = viewerPlaceRule(action);
    findChild<QRadioButton *>(places.at(0))->setEnabled(rule.openOnlyEnabled);
    findChild<QRadioButton *>(places.at(3))->setEnabled(rule.templateEnabled);
    const int place = m_controls.chosen(QLatin1String(kViewerPlace));
    if (placeAfterRule(action, place) != place)
        m_controls.choose(QLatin1String(kViewerPlace), -1);
}

void ExtractionOptionsDialog::pickFolder(const QString &edit)
{
    auto *text = findChild<QLineEdit *>(edit);
    QString folder = chooseFolder(QStringLiteral("フォルダの選択"), text->text());
    const qsizetype nul = folder.indexOf(QChar(0));
    if (nul >= 0)
        folder.truncate(nul);
    if (!folder.isEmpty())
        text->setText(folder);
}

void ExtractionOptionsDialog::accept()
{
    const OptionValues values = m_controls.collect();
    const OptionProblem problem = checkExtractionOptions(values, m_controls.loaded(), m_normalTargetIsUsualFolder);
    if (!problem.ok()) {
        OptionControls::focusControl(m_tabs, findChild<QWidget *>(problem.control));
        notify(problem.message, MessageIcon::Warning);
        return;
    }
    if (!saveOptions(Settings(m_myPath), extractionOptionFields(), values)) {
        notify(QStringLiteral("設定ファイルに書き込めません。\n") + m_myPath + QLatin1String(ini::kSettingsFile),
               MessageIcon::Error);
        return;
    }
    const bool useDesktop = isTicked(*findField(extractionOptionFields(), QLatin1String(kUseDesktop)),
                                     values.value(QLatin1String(kUseDesktop)));
    applyDdModeShortcut(useDesktop);
    QDialog::accept();
}

} // namespace salvo
