#include "ProgressWindow.h"

#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace salvo {

frmProgress::frmProgress(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmProgress"));
    setWindowTitle(QStringLiteral("SalvoExtractor"));
    auto *layout = new QVBoxLayout(this);
    lblProgress = new QLabel(this);
    lblProgress->setMinimumWidth(360);
    layout->addWidget(lblProgress);
    cmdStop = new QPushButton(QStringLiteral("中止"), this);
    cmdStop->setObjectName(QStringLiteral("cmdStop"));
    layout->addWidget(cmdStop, 0, Qt::AlignRight);
    connect(cmdStop, &QPushButton::clicked, this, [this] {
        cmdStop->setEnabled(false);
        emit stopRequested();
    });
}

void frmProgress::show(int number, int count, const QString &archive)
{
    lblProgress->setText(QString::number(number) + QStringLiteral("個目(全体:") + QString::number(count)
                         + QStringLiteral("個)\n") + QFileInfo(archive).fileName());
    QDialog::show();
}

} // namespace salvo
