#pragma once
// Lists an archive for the content viewer on a thread of its own: the entries
// arrive on the owner's thread in batches while the component reads them
// (the first batch early, the rest every few dozen milliseconds), then the
// entry count and the expanded size of the status bar. Starting another
// listing cancels the one in progress, whose later batches are dropped.
// The object owns its threads and waits for every one of them when it goes.
#include "archivers/ComponentCaller.h"

#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>
#include <list>
#include <memory>

class QThread;

namespace salvo {

class ArchiveProbe;

// One entry as the viewer keeps it: its name and the numbers its row shows.
struct ListedEntry {
    QString name;
    qint64 originalSize = 0;
    quint32 compressedSize = 0;
    quint16 ratio = 0, date = 0, time = 0;

    static ListedEntry from(const ComponentEntry &entry);
    ComponentEntry toComponentEntry() const;
};

class ArchiveListing : public QObject {
    Q_OBJECT
public:
    explicit ArchiveListing(ArchiveProbe &probe, QObject *parent = nullptr);
    ~ArchiveListing() override;

    // Starts listing `path`; the listing in progress, if any, is cancelled.
    void start(const QString &path);
    // Cancels the listing in progress: nothing more of it arrives.
    void cancel();
    // True from start() until finished() of the same listing.
    bool isListing() const { return m_listing; }
    // Threads still running, cancelled ones included.
    int threadCount() const { return static_cast<int>(m_jobs.size()); }

    // Size of the first batch, and how often later batches are sent.
    static constexpr int kFirstBatch = 200;
    static constexpr int kBatchIntervalMs = 40;

signals:
    // The archive's format is known: the type tag that formats its rows.
    void begun(const QString &path, const QString &typeTag);
    void entriesArrived(const QVector<salvo::ListedEntry> &entries);
    // Every entry has arrived.
    void finished();
    // The entry count and expanded size, after the entries.
    void measured(qint32 count, qint64 size);

private:
    struct Job {
        QThread *thread = nullptr;
        std::shared_ptr<std::atomic<bool>> cancelled;
    };
    void run(const QString &path, quint64 generation, const std::shared_ptr<std::atomic<bool>> &cancelled);
    template <typename F> void post(quint64 generation, F f);
    void reap(QThread *thread);

    ArchiveProbe &m_probe;
    quint64 m_generation = 0;
    bool m_listing = false;
    std::list<Job> m_jobs;
};

} // namespace salvo
