#include "QueueFilterDialog.h"

#include "app/ArchiveQueue.h"
#include "app/QueueFilter.h"
#include "ui/options/OptionControls.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace salvo {

QueueFilterDialog::QueueFilterDialog(QString myPath, QueueFilter &filter, ArchiveQueue &queue, QWidget *parent)
    : QDialog(parent), m_myPath(std::move(myPath)), m_filter(filter), m_queue(queue)
{
    setObjectName(QStringLiteral("frmFiltering"));
    setWindowTitle(QStringLiteral("Filtering"));

    auto combo = [this](const char *name, const char *history) {
        auto *box = new QComboBox(this);
        box->setObjectName(QLatin1String(name));
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->setMinimumWidth(260);
        box->addItems(readFilterHistory(m_myPath + QLatin1String(history)));
        box->setCurrentIndex(-1);
        box->setEditText(QString());
        return box;
    };
    nameBox = combo("cmbFilterFileName", kFilterNameHistoryFile);
    extensionBox = combo("cmbFilterExtension", kFilterExtensionHistoryFile);
    auto *terms = new QGridLayout;
    auto *nameLabel = new QLabel(QStringLiteral("ファイル名"), this);
    nameLabel->setBuddy(nameBox);
    auto *extensionLabel = new QLabel(QStringLiteral("拡張子"), this);
    extensionLabel->setBuddy(extensionBox);
    terms->addWidget(nameLabel, 0, 0);
    terms->addWidget(nameBox, 0, 1);
    terms->addWidget(extensionLabel, 1, 0);
    terms->addWidget(extensionBox, 1, 1);

    auto *frame = new QGroupBox(QStringLiteral("上の条件に一致するものを"), this);
    includeButton = new QRadioButton(QStringLiteral("含む"), frame);
    includeButton->setObjectName(QStringLiteral("optInclude"));
    includeButton->setChecked(true);
    excludeButton = new QRadioButton(QStringLiteral("含まない"), frame);
    excludeButton->setObjectName(QStringLiteral("optNotInclude"));
    auto *choice = new QHBoxLayout(frame);
    choice->addWidget(includeButton);
    choice->addWidget(excludeButton);
    choice->addStretch();

    auto button = [this](const char *name, const QString &caption) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };
    applyButton = button("Btn_Execute", QStringLiteral("適用"));
    releaseButton = button("Btn_NonExecute", QStringLiteral("解除"));
    closeButton = button("Btn_Close", QStringLiteral("閉じる"));
    releaseButton->setEnabled(m_filter.isActive());
    connect(applyButton, &QPushButton::clicked, this, &QueueFilterDialog::applyFilter);
    connect(releaseButton, &QPushButton::clicked, this, &QueueFilterDialog::releaseFilter);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(applyButton);
    buttons->addWidget(releaseButton);
    buttons->addWidget(closeButton);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(terms);
    layout->addWidget(frame);
    layout->addLayout(buttons);

    notify = [this](const QString &text, MessageIcon icon) { showMessageBox(this, text, icon); };
}

void QueueFilterDialog::applyFilter()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QStringList entries = m_queue.entries();
    const QueueFilter::ApplyResult result = m_filter.apply(&entries, nameBox->currentText(),
                                                           extensionBox->currentText(), includeButton->isChecked());
    if (result == QueueFilter::ApplyResult::Applied)
        m_queue.setEntries(entries);
    QApplication::restoreOverrideCursor();
    if (result == QueueFilter::ApplyResult::BackupFailed) {
        notify(QStringLiteral("登録リストを保存できないため、フィルタを適用できません。\n") + m_filter.backupPath(),
               MessageIcon::Error);
        return;
    }
    accept();
}

void QueueFilterDialog::releaseFilter()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QStringList entries = m_queue.entries();
    const QueueFilter::ReleaseResult result = m_filter.release(&entries);
    if (result == QueueFilter::ReleaseResult::Restored)
        m_queue.setEntries(entries);
    QApplication::restoreOverrideCursor();
    if (result == QueueFilter::ReleaseResult::BackupMissing) {
        notify(QStringLiteral("フィルタ前の登録リストが見つからないため、登録リストはそのままです。\n")
                   + m_filter.backupPath(),
               MessageIcon::Warning);
    }
    accept();
}

} // namespace salvo
