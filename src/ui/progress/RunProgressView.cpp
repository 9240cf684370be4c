#include "RunProgressView.h"

#include "engine/BatchRun.h"
#include "ui/main/ElidingLabel.h"

#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>

#include <algorithm>

namespace salvo {
namespace {

constexpr int kSteps = 1000;

int steps(qint64 done, qint64 total)
{
    if (total <= 0)
        return 0;
    return static_cast<int>(std::clamp<qint64>(qint64(double(done) * kSteps / double(total)), 0, kSteps));
}

QProgressBar *makeBar(QWidget *parent, const char *name, const QString &format)
{
    auto *bar = new QProgressBar(parent);
    bar->setObjectName(QLatin1String(name));
    bar->setRange(0, kSteps);
    bar->setFormat(format);
    bar->setTextVisible(true);
    bar->setMaximumHeight(bar->fontMetrics().height() + 6);
    return bar;
}

} // namespace

RunProgressView::RunProgressView(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("runProgress"));
    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setHorizontalSpacing(6);
    layout->setVerticalSpacing(2);
    archiveBar = makeBar(this, "archiveProgress", QStringLiteral("書庫 %p%"));
    queueBar = makeBar(this, "queueProgress", QStringLiteral("全体 %p%"));
    timeLeft = new QLabel(this);
    timeLeft->setObjectName(QStringLiteral("timeLeft"));
    entry = new ElidingLabel(this);
    entry->setObjectName(QStringLiteral("entryInHand"));
    layout->addWidget(archiveBar, 0, 0);
    layout->addWidget(queueBar, 0, 1);
    layout->addWidget(timeLeft, 0, 2);
    layout->addWidget(entry, 1, 0, 1, 3);
    layout->setColumnStretch(0, 1);
    layout->setColumnStretch(1, 1);
    clear();
}

void RunProgressView::showProgress(const RunProgress &p, qint64 elapsedMs)
{
    archiveBar->setValue(steps(p.archiveDone, p.archiveSize));
    archiveBar->setToolTip(byteCountText(p.archiveDone) + QStringLiteral(" / ") + byteCountText(p.archiveSize));
    queueBar->setValue(steps(p.queueDone, p.queueSize));
    queueBar->setToolTip(QString::number(p.number) + QStringLiteral("個目(全体:") + QString::number(p.count)
                         + QStringLiteral("個)  ") + byteCountText(p.queueDone) + QStringLiteral(" / ")
                         + byteCountText(p.queueSize));
    timeLeft->setText(remainingText(elapsedMs, p.queueDone, p.queueSize));
    entry->setText(p.entry.isEmpty() ? QString()
                                     : QStringLiteral("%1 を書き出し中 (この書庫から %2)")
                                           .arg(p.entry, byteCountText(p.written)));
}

void RunProgressView::clear()
{
    archiveBar->setValue(0);
    queueBar->setValue(0);
    timeLeft->setText(remainingText(0, 0, 0));
    entry->setText(QString());
}

} // namespace salvo
