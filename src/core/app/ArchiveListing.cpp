#include "ArchiveListing.h"

#include "archivers/ArchiveProbe.h"

#include <QElapsedTimer>
#include <QThread>

namespace salvo {

ListedEntry ListedEntry::from(const ComponentEntry &e)
{
    return ListedEntry{e.name, e.originalSize64, e.compressedSize, e.ratio, e.date, e.time};
}

ComponentEntry ListedEntry::toComponentEntry() const
{
    ComponentEntry e;
    e.name = name;
    e.originalSize64 = originalSize;
    e.originalSize = static_cast<quint32>(qBound<qint64>(0, originalSize, 0xFFFFFFFFLL));
    e.compressedSize = compressedSize;
    e.ratio = ratio;
    e.date = date;
    e.time = time;
    return e;
}

ArchiveListing::ArchiveListing(ArchiveProbe &probe, QObject *parent)
    : QObject(parent), m_probe(probe)
{
}

ArchiveListing::~ArchiveListing()
{
    for (Job &job : m_jobs)
        job.cancelled->store(true);
    for (Job &job : m_jobs) {
        job.thread->wait();
        delete job.thread;
    }
}

void ArchiveListing::cancel()
{
    ++m_generation;
    m_listing = false;
    for (Job &job : m_jobs)
        job.cancelled->store(true);
}

void ArchiveListing::start(const QString &path)
{
    cancel();
    const quint64 generation = m_generation;
    m_listing = true;
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    QThread *thread = QThread::create([this, path, generation, cancelled] { run(path, generation, cancelled); });
    m_jobs.push_back(Job{thread, cancelled});
    connect(thread, &QThread::finished, this, [this, thread] { reap(thread); });
    thread->start();
}

void ArchiveListing::reap(QThread *thread)
{
    for (auto it = m_jobs.begin(); it != m_jobs.end(); ++it) {
        if (it->thread == thread) {
            thread->wait();
            delete thread;
            m_jobs.erase(it);
            return;
        }
    }
}

template <typename F>
void ArchiveListing::post(quint64 generation, F f)
{
    // Runs on the owner's thread, and only while this listing is the current one.
    QMetaObject::invokeMethod(
        this,
        [this, generation, f = std::move(f)]() mutable {
            if (generation == m_generation)
                f();
        },
        Qt::QueuedConnection);
}

void ArchiveListing::run(const QString &path, quint64 generation, const std::shared_ptr<std::atomic<bool>> &cancelled)
{
    const ArchiveFormat format = m_probe.identify(path);
    const QString tag = format.reader ? QLatin1String(format.reader->typeTag) : QString();
    post(generation, [this, path, tag] { emit begun(path, tag); });

    QVector<ListedEntry> batch;
    bool first = true;
    QElapsedTimer sinceSent;
    sinceSent.start();
    auto send = [&] {
        post(generation, [this, entries = std::move(batch)] { emit entriesArrived(entries); });
        batch = QVector<ListedEntry>();
        first = false;
        sinceSent.restart();
    };
    m_probe.listEntries(format, [&](const ComponentEntry &e) {
        if (cancelled->load())
            return false;
        batch.push_back(ListedEntry::from(e));
        if ((first && batch.size() >= kFirstBatch)
            || (!first && (batch.size() & 255) == 0 && sinceSent.elapsed() >= kBatchIntervalMs))
            send();
        return true;
    });
    if (cancelled->load())
        return;
    if (!batch.isEmpty())
        send();
    post(generation, [this] {
        m_listing = false;
        emit finished();
    });
    const qint32 count = m_probe.entryCount(format);
    if (cancelled->load())
        return;
    const qint64 size = m_probe.expandedSize(format);
    if (cancelled->load())
        return;
    post(generation, [this, count, size] { emit measured(count, size); });
}

} // namespace salvo
