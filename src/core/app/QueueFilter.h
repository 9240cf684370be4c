#pragma once
// The queue filter: narrows the queue by name and extension terms and gives
// the queue back on release. The first apply saves the queue to "original.lst"
// in the program folder; release restores that saved queue, followed by the
// archives added to the queue since, and deletes the file. A backup left by an
// earlier process is deleted at start-up (discardFilterBackup), so it never
// survives into a later, independent filtering.
#include <QString>
#include <QStringList>

namespace salvo {

inline constexpr auto kFilterNameHistoryFile = "FilterName.hst";
inline constexpr auto kFilterExtensionHistoryFile = "FilterExt.hst";

// A combo box's text as terms: split at blanks; blanks never make an empty term.
QStringList filterTerms(const QString &text);

// Whether a queued path matches: a name term occurs (case-sensitive) in the
// path without its extension, or an extension term occurs in the extension
// (the text after the file name's last "."; none when the name has no ".").
bool matchesFilter(const QString &path, const QStringList &nameTerms, const QStringList &extensionTerms);

// The entries that stay, in their order: those that match when `keepMatching`,
// else those that do not. With no terms at all nothing matches.
QStringList filterEntries(const QStringList &entries, const QStringList &nameTerms, const QStringList &extensionTerms,
                          bool keepMatching);

// One history file ("FilterName.hst", "FilterExt.hst"): one entry per line,
// oldest first.
QStringList readFilterHistory(const QString &file);
// Appends a non-empty text that is not yet a line of the file (exact match).
bool recordFilterHistory(const QString &file, const QString &text);

class QueueFilter {
public:
    explicit QueueFilter(QString myPath);

    // A filter is in force: the main window's filter item carries its check mark.
    bool isActive() const { return m_active; }
    QString backupPath() const;

    enum class ApplyResult { Applied, BackupFailed };
    // Saves the queue to the backup first when there is none (a repeated apply
    // keeps the first, unfiltered queue), then narrows `queue` and records both
    // texts in their histories. Nothing changes when the backup cannot be written.
    ApplyResult apply(QStringList *queue, const QString &nameText, const QString &extensionText, bool keepMatching);

    enum class ReleaseResult { Restored, BackupMissing };
    // The queue as it was before the first apply, followed by the entries of
    // `queue` the saved queue does not hold (archives added meanwhile); archives
    // a run has extracted meanwhile are left out. The backup is deleted and the
    // filter ends. When the backup cannot be read `queue` stays as it is.
    ReleaseResult release(QStringList *queue);

    // Archives a run extracted while the filter was in force: release does not
    // bring them back.
    void noteExtracted(const QStringList &paths);

private:
    QString m_myPath;
    bool m_active = false;
    QStringList m_extracted;
};

} // namespace salvo
