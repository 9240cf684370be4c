#include "ProgressWindow.h"

#include "RunProgressView.h"

#include <QCloseEvent>
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
    connect(stopButton, &QPushButton::clicked, this, &ProgressWindow::requestStop);
}

void ProgressWindow::requestStop()
{
    if (!stopButton->isEnabled())
        return;
    stopButton->setEnabled(false);
    label->setText(label->text() + QStringLiteral("\n中止しています…"));
    emit stopRequested();
}

void ProgressWindow::reject()
{
    requestStop();
}

void ProgressWindow::closeEvent(QCloseEvent *event)
{
    event->ignore();
    requestStop();
}

void ProgressWindow::showProgress(const RunProgress &progress, qint64 elapsedMs)
{
    progressView->showProgress(progress, elapsedMs);
}

void ProgressWindow::showArchive(int number, int count, const QString &archive)
{
    label->setText(QString::number(number) + QStringLiteral("個目(全体:") + QString::number(count)
                   + QStringLiteral("個)\n") + QFileInfo(archive).fileName()
                   + (stopButton->isEnabled() ? QString() : QStringLiteral("\n中止しています…")));
    QDialog::show();
}

} // namespace salvo
