#include "ArchiveLookahead.h"

#include "archivers/ComponentCaller.h"

namespace salvo {

ArchiveLookahead::ArchiveLookahead(ArchiveProbe &probe, bool folderTest, bool zipBy7z)
    : m_probe(probe), m_folderTest(folderTest), m_zipBy7z(zipBy7z)
{
    // One thread: the looks run one after the other, in the run's order.
    m_pool.setMaxThreadCount(1);
}

ArchiveLookahead::~ArchiveLookahead()
{
    m_cancel = true;
    m_pool.waitForDone();
}

void ArchiveLookahead::start(const QString &path, const std::optional<ArchiveFormat> &known)
{
    if (known && !m_folderTest)
        return;
    auto promise = std::make_shared<std::promise<Look>>();
    auto dropped = std::make_shared<std::atomic<bool>>(false);
    m_pending.push_back({path, promise->get_future(), dropped});
    m_pool.start([this, promise, dropped, path, known] { promise->set_value(look(path, known, *dropped)); });
}

ArchiveLookahead::Look ArchiveLookahead::look(const QString &path, const std::optional<ArchiveFormat> &known,
                                              const std::atomic<bool> &dropped)
{
    Look look;
    if (dropped || m_cancel)
        return look;
    // The components' calls on this thread end when the run no longer needs the answer.
    const ComponentCaller::CancelWhen cancel(&m_cancel);
    look.before = regularFileIdentity(path);
    look.answer.format = known ? *known : m_probe.identify(path);
    if (m_folderTest && !m_cancel)
        look.answer.multiRoot = m_probe.isMultiRoot(readAsExtracted(look.answer.format, m_zipBy7z));
    return look;
}

std::optional<ArchiveLookahead::Answer> ArchiveLookahead::take(const QString &path)
{
    while (!m_pending.empty() && m_pending.front().path != path) {
        *m_pending.front().dropped = true;
        m_pending.pop_front();
    }
    if (m_pending.empty())
        return std::nullopt;
    const Look look = m_pending.front().result.get();
    m_pending.pop_front();
    // An extraction before may have replaced or removed the file.
    if (!look.before || regularFileIdentity(path) != look.before)
        return std::nullopt;
    return look.answer;
}

} // namespace salvo
