#pragma once
// What the core needs from the user interface: message boxes, questions and
// status-bar texts. The main window implements it; tests implement it with a
// recorder that also answers the questions. No core routine opens a dialog.
#include <QString>

namespace salvo {

enum class MessageIcon { Information, Warning, Error };

// How far a run has come while it extracts.
struct RunProgress {
    int number = 0, count = 0; // the archive in hand (from 1) and how many the run has
    QString entry;             // the entry being written; empty before the first
    qint64 written = 0;        // bytes written from the archive in hand
    qint64 archiveDone = 0, archiveSize = 0; // bytes of the archive in hand read, and all of them
    qint64 queueDone = 0, queueSize = 0;     // the same over every archive of the run
};

class RunUi {
public:
    virtual ~RunUi() = default;
    // A message box titled "SalvoExtractor".
    virtual void showMessage(const QString &text, MessageIcon icon) = 0;
    // A Yes/No question titled "SalvoExtractor"; true for Yes.
    virtual bool askYesNo(const QString &text) = 0;
    // Text of status-bar panel 1..5.
    virtual void setStatus(int panel, const QString &text) = 0;

    // The folder question of a run ("フォルダの選択"); empty when cancelled.
    virtual QString askFolder(const QString &title) { (void)title; return {}; }
    // The extraction loop begins (the elapsed-time display starts) and ends.
    virtual void loopStarted() {}
    virtual void loopFinished() {}
    // The loop has ended: how many archives it extracted and failed, and
    // whether it was stopped. Before the completion actions.
    virtual void loopSummary(int extracted, int failed, bool stopped)
    {
        (void)extracted; (void)failed; (void)stopped;
    }
    // The archive the loop is at: number (from 1), count and path.
    virtual void progress(int number, int count, const QString &archive) { (void)number; (void)count; (void)archive; }
    // How far the extraction has come: at each archive and a few times a
    // second while it is extracted.
    virtual void runProgress(const RunProgress &progress) { (void)progress; }
    // The password of an encrypted archive (`retry`: the one given before was
    // wrong); false to skip the archive. Asked on the window's thread.
    virtual bool askPassword(const QString &archive, bool retry, QString *password)
    {
        (void)archive; (void)retry; (void)password;
        return false;
    }
    // Plays the completion sound; failures are ignored.
    virtual void playSound(const QString &file) { (void)file; }
    // The archive at `position` of the run's queue has been extracted: it
    // leaves the queue now, not when the run ends.
    virtual void archiveExtracted(int position) { (void)position; }
};

inline constexpr auto kMessageTitle = "SalvoExtractor";

} // namespace salvo
