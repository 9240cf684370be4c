#pragma once
// Looks at the next archives of a run while the one before them is extracted:
// which format each is and, in the automatic folder mode, whether its entries
// lie under one top folder. That test reads the whole entry list (a whole
// tar.gz), so doing it on another core, a few archives ahead, hides it behind
// extractions that keep one core busy. The looks never ask anything and never
// write; an answer is used only while the archive is still the file that was
// looked at.
#include "archivers/ArchiveProbe.h"
#include "platform/RegularFile.h"

#include <QString>
#include <QThreadPool>

#include <atomic>
#include <deque>
#include <future>
#include <memory>
#include <optional>

namespace salvo {

class ArchiveLookahead {
public:
    struct Answer {
        ArchiveFormat format;
        std::optional<bool> multiRoot; // asked only for the automatic folder mode
    };

    // How many archives the looks may run ahead of the extraction.
    static constexpr int kDepth = 4;

    // `folderTest`: the run's folder mode is the automatic one; `zipBy7z`: the
    // run reads ".zip" with the 7-zip component, as its folder test must.
    ArchiveLookahead(ArchiveProbe &probe, bool folderTest, bool zipBy7z);
    // Ends the looks under way (their component calls are cancelled) and waits for them.
    ~ArchiveLookahead();
    ArchiveLookahead(const ArchiveLookahead &) = delete;
    ArchiveLookahead &operator=(const ArchiveLookahead &) = delete;

    // Queues a look at `path`, after those queued before; a format already
    // known is taken as it is. Nothing to look at (format known, no folder
    // test) queues nothing.
    void start(const QString &path, const std::optional<ArchiveFormat> &known);
    // What was found for `path`, waiting for its look to end; nothing when
    // `path` was not looked at or is no longer the file it was then. Looks
    // queued before it are dropped.
    std::optional<Answer> take(const QString &path);

private:
    struct Look {
        std::optional<FileIdentity> before;
        Answer answer;
    };
    struct Pending {
        QString path;
        std::future<Look> result;
        std::shared_ptr<std::atomic<bool>> dropped;
    };
    Look look(const QString &path, const std::optional<ArchiveFormat> &known, const std::atomic<bool> &dropped);

    ArchiveProbe &m_probe;
    const bool m_folderTest, m_zipBy7z;
    std::atomic<bool> m_cancel{false};
    std::deque<Pending> m_pending;
    QThreadPool m_pool;
};

} // namespace salvo
