#include "ProgressWindow.h"

#include "RunProgressView.h"

#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace salvo {

ProgressWindow::ProgressWindow(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmProgress"));
    setWindowTitle(QStringLiteral("SalvoExtractor"));
    auto *layout = new QVBoxLayout(this);
    label = new QLabel(this);
    label->setMinimumWidth(360);
    layout->addWidget(label);
    progressView = new RunProgressView(this);
    layout->addWidget(progressView);
    stopButton = new QPushButton(QStringLiteral("中止"), this);
    stopButton->setObjectName(QStringLiteral("cmdStop"));
    layout->addWidget(stopButton, 0, Qt::AlignRight);
    connect(stopButton, &QPushButton::clicked, this, [this] {
        stopButton->setEnabled(false);
        emit stopRequested();
    });
}

void ProgressWindow::showProgress(const RunProgress &progress, qint64 elapsedMs)
{
    progressView->showProgress(progress, elapsedMs);
}

void ProgressWindow::showArchive(int number, int count, const QString &archive)
{
    label->setText(QString::number(number) + QStringLiteral("個目(全体:") + QString::number(count)
                         + QStringLiteral("個)\n") + QFileInfo(archive).fileName());
    QDialog::show();
}

} // namespace salvo
