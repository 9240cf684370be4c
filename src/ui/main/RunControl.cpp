#include "RunControl.h"

#include "StatusPanels.h"
#include "ui/DesktopNotification.h"
#include "salvo_archiver.h"
#include "salvo_version.h"
#include "ui/progress/ProgressWindow.h"
#include "ui/progress/RunProgressView.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QThread>
#include <QTimer>

namespace salvo {

RunControl::RunControl(QString myPath, LaunchMode launchMode, StatusPanels &status, QWidget *window)
    : QObject(window), m_myPath(std::move(myPath)), m_launchMode(launchMode), m_status(status), m_window(window)
{
    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &RunControl::showElapsedTime);
    chooseFolder = [this](const QString &title) { return QFileDialog::getExistingDirectory(m_window, title); };
}

RunControl::~RunControl()
{
    stopAndJoin();
}

void RunControl::abandon()
{
    m_shuttingDown = true;
    if (m_run) {
        m_run->abandon = true;
        m_run->stop = true;
    }
}

void RunControl::stopAndJoin()
{
    if (!m_thread)
        return;
    abandon();
    while (!m_thread->wait(20))
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    delete m_thread;
    m_thread = nullptr;
    m_run.reset();
}

void RunControl::setProgressView(RunProgressView *view)
{
    m_view = view;
    m_view->hide();
}

void RunControl::setComponents(ComponentCaller *caller, ArchiveProbe *probe)
{
    m_caller = caller;
    m_probe = probe;
}

void RunControl::start(const QStringList &queue, TargetPlace place)
{
    if (m_thread)
        return;
    m_run = std::make_unique<BatchRun>(RunSetup{m_myPath, m_launchMode, place, m_caller, m_probe}, *this);
    auto outcome = std::make_shared<RunOutcome>();
    BatchRun *run = m_run.get();
    m_thread = QThread::create([run, queue, outcome] { *outcome = run->run(queue); });
    connect(m_thread, &QThread::finished, this, [this, outcome] { finish(*outcome); });
    m_thread->start();
}

void RunControl::stop()
{
    if (m_run)
        m_run->stop = true;
}

void RunControl::finish(const RunOutcome &outcome)
{
    if (m_thread) {
        m_thread->wait();
        m_thread->deleteLater();
        m_thread = nullptr;
    }
    m_run.reset();
    flushPending();
    if (m_progress)
        m_progress->hide();
    if (m_view) {
        m_view->hide();
        m_view->clear();
    }
    // A flush still on its way would show the progress again.
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        m_pendingProgress.reset();
        m_pendingRunProgress.reset();
    }
    emit finished(outcome);
}

void RunControl::showElapsedTime()
{
    m_status.setText(2, elapsedText(QDateTime::currentMSecsSinceEpoch() - m_startMs));
}

QWidget *RunControl::dialogParent() const
{
    return m_window->isVisible() ? m_window : nullptr;
}

template <typename F>
void RunControl::onWindowThread(F f)
{
    if (QThread::currentThread() == thread())
        f();
    else
        QMetaObject::invokeMethod(this, f, Qt::BlockingQueuedConnection);
}

template <typename F>
void RunControl::postToWindow(F f)
{
    // What only updates the window does not hold the run up; the order stays.
    if (QThread::currentThread() == thread())
        f();
    else
        QMetaObject::invokeMethod(this, f, Qt::QueuedConnection);
}

void RunControl::showMessage(const QString &text, MessageIcon icon)
{
    if (QThread::currentThread() != thread()) {
        onWindowThread([&] { showMessage(text, icon); });
        return;
    }
    if (m_shuttingDown)
        return;
    const QMessageBox::Icon boxIcon = icon == MessageIcon::Error ? QMessageBox::Critical
        : icon == MessageIcon::Warning                          ? QMessageBox::Warning
                                                                : QMessageBox::Information;
    QMessageBox box(boxIcon, QLatin1String(kMessageTitle), text, QMessageBox::Ok, dialogParent());
    box.exec();
}

bool RunControl::askYesNo(const QString &text)
{
    if (QThread::currentThread() != thread()) {
        bool answer = false;
        onWindowThread([&] { answer = askYesNo(text); });
        return answer;
    }
    if (m_shuttingDown)
        return false;
    QMessageBox box(QMessageBox::Question, QLatin1String(kMessageTitle), text, QMessageBox::Yes | QMessageBox::No,
                    dialogParent());
    return box.exec() == QMessageBox::Yes;
}

void RunControl::setStatus(int panel, const QString &text)
{
    if (QThread::currentThread() == thread()) {
        m_status.setText(panel, text);
        return;
    }
    if (panel >= 1 && panel <= 5) {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        m_pendingStatus[panel] = text;
        m_pendingSet[panel] = true;
    }
    scheduleFlush();
}

QString RunControl::askFolder(const QString &title)
{
    QString answer;
    onWindowThread([&] {
        if (!m_shuttingDown)
            answer = chooseFolder(title);
    });
    return answer;
}

bool RunControl::askPassword(const QString &archive, bool retry, QString *password)
{
    bool given = false;
    onWindowThread([&] {
        if (m_shuttingDown)
            return;
        QInputDialog dialog(dialogParent());
        dialog.setWindowTitle(QLatin1String(kMessageTitle));
        dialog.setLabelText((retry ? QStringLiteral("パスワードが違います。もう一度入力してください。\n")
                                   : QStringLiteral("パスワードを入力してください。\n"))
                            + archive);
        dialog.setTextEchoMode(QLineEdit::Password);
        dialog.setOkButtonText(QStringLiteral("OK"));
        dialog.setCancelButtonText(QStringLiteral("スキップ"));
        given = dialog.exec() == QDialog::Accepted;
        if (given)
            *password = dialog.textValue();
        dialog.setTextValue(QString());
    });
    return given;
}

void RunControl::loopStarted()
{
    postToWindow([this] {
        m_startMs = QDateTime::currentMSecsSinceEpoch();
        m_status.setText(2, QStringLiteral("00:00:00"));
        m_timer->start();
    });
}

void RunControl::loopFinished()
{
    postToWindow([this] { m_timer->stop(); });
}

void RunControl::loopSummary(int extracted, int failed, bool stopped)
{
    // Sent from the run's thread: the window stays free while the service answers.
    if (m_launchMode == LaunchMode::DdMode && !m_shuttingDown)
        notifyDesktop(runEndSummary(failed, stopped), runEndBody(extracted, failed, stopped), failed > 0);
}

void RunControl::progress(int number, int count, const QString &archive)
{
    if (m_launchMode != LaunchMode::DdMode)
        return;
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        m_pendingProgress = PendingProgress{number, count, archive};
    }
    scheduleFlush();
}

void RunControl::runProgress(const RunProgress &progress)
{
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        m_pendingRunProgress = progress;
    }
    scheduleFlush();
}

void RunControl::scheduleFlush()
{
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        if (m_flushScheduled)
            return;
        m_flushScheduled = true;
    }
    QMetaObject::invokeMethod(
        this, [this] { QTimer::singleShot(40, this, &RunControl::flushPending); }, Qt::QueuedConnection);
}

void RunControl::flushPending()
{
    QString texts[6];
    bool set[6] = {};
    std::optional<PendingProgress> progress;
    std::optional<RunProgress> latest;
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        for (int i = 1; i <= 5; ++i) {
            texts[i] = m_pendingStatus[i];
            set[i] = m_pendingSet[i];
            m_pendingSet[i] = false;
        }
        progress.swap(m_pendingProgress);
        latest.swap(m_pendingRunProgress);
        m_flushScheduled = false;
    }
    for (int i = 1; i <= 5; ++i) {
        if (set[i])
            m_status.setText(i, texts[i]);
    }
    if (progress) {
        if (!m_progress) {
            m_progress = new ProgressWindow(m_window);
            connect(m_progress, &ProgressWindow::stopRequested, this, &RunControl::stop);
        }
        m_progress->showArchive(progress->number, progress->count, progress->archive);
    }
    if (latest) {
        const qint64 elapsed = QDateTime::currentMSecsSinceEpoch() - m_startMs;
        if (m_launchMode == LaunchMode::DdMode) {
            if (m_progress)
                m_progress->showProgress(*latest, elapsed);
        } else if (m_view) {
            m_view->show();
            m_view->showProgress(*latest, elapsed);
        }
    }
}

std::function<bool(const QString &)> &RunControl::soundStarter()
{
    static std::function<bool(const QString &)> starter = [](const QString &file) {
        const QString helper = QCoreApplication::applicationDirPath() + QStringLiteral("/salvo-sound-player");
        const QString installed = QStringLiteral(SALVO_COMPONENT_INSTALL_DIR "/salvo-sound-player");
        for (const QString &program : {helper, installed}) {
            if (QFileInfo(program).isExecutable()) {
                QProcess helper;
                helper.setProgram(program);
                helper.setArguments({file});
                helper.setStandardOutputFile(QProcess::nullDevice());
                helper.setStandardErrorFile(QProcess::nullDevice());
                return helper.startDetached();
            }
        }
        return false;
    };
    return starter;
}

void RunControl::playSound(const QString &file)
{
    if (m_shuttingDown || file.isEmpty() || !QFileInfo(file).isFile())
        return; // a missing sound is no error
    // Whether the helper starts, plays or fails is of no concern to the run.
    soundStarter()(QFileInfo(file).absoluteFilePath());
}

void RunControl::archiveExtracted(int position)
{
    postToWindow([this, position] { emit extracted(position); });
}

int RunControl::askOverwrite(const QString &path)
{
    int answer = SALVO_ANSWER_CANCEL;
    onWindowThread([&] {
        if (m_shuttingDown)
            return;
        QMessageBox box(QMessageBox::Question, QLatin1String(kMessageTitle),
                        path + QStringLiteral("\nは既にあります。上書きしますか？"),
                        QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No | QMessageBox::NoToAll
                            | QMessageBox::Cancel,
                        dialogParent());
        switch (box.exec()) {
        case QMessageBox::Yes: answer = SALVO_ANSWER_YES; break;
        case QMessageBox::YesToAll: answer = SALVO_ANSWER_YES_TO_ALL; break;
        case QMessageBox::NoToAll: answer = SALVO_ANSWER_NO_TO_ALL; break;
        case QMessageBox::Cancel: answer = SALVO_ANSWER_CANCEL; break;
        default: answer = SALVO_ANSWER_NO; break;
        }
    });
    return answer;
}

} // namespace salvo
