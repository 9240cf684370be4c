#include "ExtractionOptionsDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace salvo {

ExtractionOptionsDialog::ExtractionOptionsDialog(QString myPath, QWidget *parent) : QDialog(parent), m_myPath(std::move(myPath))
{
    setObjectName(QStringLiteral("frmOptionEx"));
    setWindowTitle(QStringLiteral("解凍設定"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("設定ファイル: %1Salvo.ini").arg(m_myPath), this));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

} // namespace salvo
