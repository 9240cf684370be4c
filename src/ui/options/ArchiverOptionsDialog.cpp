#include "ArchiverOptionsDialog.h"

#include "settings/Settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace salvo {
namespace {

// One tab page: rows of a label and a control, with hints below a row.
class Page {
public:
    explicit Page(QTabWidget *tabs, const QString &caption) : m_page(new QWidget), m_form(new QFormLayout)
    {
        auto *layout = new QVBoxLayout(m_page);
        m_form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
        layout->addLayout(m_form);
        layout->addStretch();
        tabs->addTab(m_page, caption);
    }

    void combo(const char *name, const QString &label)
    {
        auto *box = new QComboBox(m_page);
        box->setObjectName(QLatin1String(name));
        box->addItems(findField(archiverOptionFields(), box->objectName())->choices);
        box->setMinimumWidth(120);
        m_form->addRow(label, box);
    }
    void number(const char *name, const QString &label)
    {
        auto *edit = new QLineEdit(m_page);
        edit->setObjectName(QLatin1String(name));
        edit->setMaximumWidth(120);
        m_form->addRow(label, edit);
    }
    void check(const char *name, const QString &caption)
    {
        auto *box = new QCheckBox(caption, m_page);
        box->setObjectName(QLatin1String(name));
        m_form->addRow(box);
    }
    void hint(const QString &text)
    {
        auto *label = new QLabel(text, m_page);
        label->setForegroundRole(QPalette::PlaceholderText);
        m_form->addRow(QString(), label);
    }

private:
    QWidget *m_page;
    QFormLayout *m_form;
};

} // namespace

ArchiverOptionsDialog::ArchiverOptionsDialog(QString myPath, QWidget *parent)
    : QDialog(parent), m_myPath(std::move(myPath)), m_controls(this, archiverOptionFields())
{
    setObjectName(QStringLiteral("frmOptionArc"));
    setWindowTitle(QStringLiteral("Option-Archive-"));
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("TabStrip1"));
    m_tabs->setUsesScrollButtons(true);

    Page general(m_tabs, QStringLiteral("圧縮"));
    m_tabs->setTabToolTip(0, QStringLiteral("圧縮の設定を行います。"));
    general.check("GENARC_chkUse7zip", QStringLiteral("ZIPの圧縮に7zip32.dllを使う"));

    Page lzh(m_tabs, QStringLiteral("LZH"));
    lzh.combo("LZH_cmbArchiveLevel", QStringLiteral("圧縮レベル[jm]"));
    lzh.hint(QStringLiteral("Auto...Very Slow(lh0-7を総当たりで一番圧縮率が高いものにする)"));
    lzh.number("LZH_txtHuffmanBufferSize", QStringLiteral("Huffmanバッファサイズ[je]"));
    lzh.hint(QStringLiteral("Max 32768 - Min 4096\nデフォルト16384Bytes"));

    Page zip(m_tabs, QStringLiteral("ZIP"));
    zip.combo("ZIP_cmbArchiveLevel", QStringLiteral("圧縮率・速度設定[#]"));
    zip.hint(QStringLiteral("0:無圧縮  1:最速  6:デフォルト  9:最も遅い"));

    Page zip7(m_tabs, QStringLiteral("ZIP(7zip.dll)"));
    zip7.combo("ZIP_7z_cmbArchiveLevel", QStringLiteral("圧縮レベル[mx]"));
    zip7.hint(QStringLiteral("0:無圧縮  1:最速  5:デフォルト  9:最も遅い"));
    zip7.combo("ZIP_7z_cmbArchiveMethod", QStringLiteral("圧縮方法[mm]"));
    zip7.number("ZIP_7z_txtDeflateMem", QStringLiteral("Deflateエンコーダ用メモリ[mfb]"));
    zip7.hint(QStringLiteral("3MBytes - 64MBytes\nDefault 32MBytes"));
    zip7.number("ZIP_7z_txtDeflatePass", QStringLiteral("Deflateエンコーダパス[mpass]"));
    zip7.hint(QStringLiteral("1 - 3\nDefault 1"));

    Page cab(m_tabs, QStringLiteral("CAB"));
    cab.combo("CAB_cmbArchiveType", QStringLiteral("圧縮方式[m]"));
    cab.combo("CAB_cmbLZXArchiveLevel", QStringLiteral("圧縮率（LZX方式のみ）"));

    Page sevenZip(m_tabs, QStringLiteral("7ZIP"));
    sevenZip.combo("SevenZIP_cmbArchiveLevel", QStringLiteral("圧縮レベル[mx]"));
    sevenZip.hint(QStringLiteral("0:無圧縮  1:高速  5:標準  9:最高"));
    sevenZip.check("SevenZIP_chkSolid", QStringLiteral("ソリッドモード使用[ms]"));
    sevenZip.combo("SevenZIP_cmbFilter", QStringLiteral("使用実行可能ファイルのフィルタ使用[mf]"));
    sevenZip.check("SevenZIP_HeaderComp", QStringLiteral("書庫ヘッダ圧縮[mhc]"));
    sevenZip.check("SevenZIP_CompleteHeaderComp", QStringLiteral("完全書庫ヘッダ圧縮[mhcf]"));

    const struct {
        const char *tab, *control, *hint;
    } levels[] = {
        {"GZ", "GZ_cmbArchiveLevel", "6:デフォルト"},
        {"BZ2", "BZ2_cmbArchiveLevel", "9:デフォルト"},
        {"BZA", "BZA_cmbArchiveLevel", "9:デフォルト"},
        {"GZA", "GZA_cmbArchiveLevel", "9:デフォルト"},
    };
    for (const auto &l : levels) {
        Page page(m_tabs, QLatin1String(l.tab));
        page.combo(l.control, QStringLiteral("圧縮レベル[N]"));
        page.hint(QString::fromUtf8(l.hint));
    }

    Page rk(m_tabs, QStringLiteral("RK"));
    rk.combo("RK_cmbArchiveLevel", QStringLiteral("圧縮レベル[m]"));
    rk.combo("RK_cmbWAVArchiveLevel", QStringLiteral("WAV圧縮レベル[mw]"));

    Page yz2(m_tabs, QStringLiteral("YZ2"));
    yz2.number("YZ2_txtBufferSize", QStringLiteral("圧縮バッファサイズ[--buffer-size]"));
    yz2.hint(QStringLiteral("1MBytes - 255MBytes\nDefault 8MBytes"));
    yz2.check("YZ2_chkPPM", QStringLiteral("PPMアルゴリズムで圧縮する"));

    Page paqar(m_tabs, QStringLiteral("PAQAR"));
    paqar.combo("PAQAR_cmbArchiveLevel", QStringLiteral("圧縮レベル[m]"));
    paqar.hint(QStringLiteral("2:デフォルト"));

    layOutTabsWithOkCancel(this, m_tabs);

    // Wide enough for every tab.
    setMinimumWidth(m_tabs->tabBar()->sizeHint().width() + 40);
    notify = [this](const QString &text, MessageIcon icon) { showMessageBox(this, text, icon); };
    m_controls.show(loadOptions(Settings(m_myPath), archiverOptionFields()));
}

void ArchiverOptionsDialog::accept()
{
    OptionValues values = m_controls.collect();
    const OptionProblem problem = checkArchiverOptions(&values);
    if (!problem.ok()) {
        OptionControls::focusControl(m_tabs, findChild<QWidget *>(problem.control));
        notify(problem.message, MessageIcon::Warning);
        return;
    }
    if (!saveOptions(Settings(m_myPath), archiverOptionFields(), values)) {
        notify(QStringLiteral("設定ファイルに書き込めません。\n") + m_myPath + QLatin1String(ini::kSettingsFile),
               MessageIcon::Error);
        return;
    }
    QDialog::accept();
}

} // namespace salvo
