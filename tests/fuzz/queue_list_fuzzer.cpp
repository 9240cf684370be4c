// Queue list files: read in UTF-8 or CP932, with any line endings, saved and
// read again, sorted. The first byte picks the sort key and whether the rest
// is the file or is repeated into one file of 64 KiB (very long lines, or
// very many).
// Rules: no entry holds a NUL or a line break; a saved list reads back the
// same; sorting keeps every entry and puts the keys in order, stably.
#include "FuzzCheck.h"
#include "FuzzTree.h"
#include "app/QueueFiles.h"

#include <QByteArray>
#include <QStringList>
#include <algorithm>
#include <cstdlib>

using namespace salvo;

namespace {

fuzz::Sandbox *g_sandbox = nullptr;

QString sortKey(const QString &path, int key)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString k = key == 0 ? path : key == 1 ? (slash < 0 ? QString() : path.left(slash)) : path.mid(slash + 1);
    return k.toCaseFolded();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_sandbox = new fuzz::Sandbox();
    std::atexit([] { delete g_sandbox; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    QByteArray bytes(reinterpret_cast<const char *>(data) + 1, static_cast<qsizetype>(size - 1));
    if ((data[0] & 15) == 15 && !bytes.isEmpty())
        bytes = bytes.repeated((64 << 10) / bytes.size() + 1);
    const QString path =
        QString::fromStdString(g_sandbox->writeInput("list.txt", bytes.constData(), static_cast<size_t>(bytes.size())));

    QStringList entries;
    FUZZ_CHECK(loadFileList(path, &entries) == LoadStatus::Ok);
    for (const QString &e : entries) {
        FUZZ_CHECK(!e.contains(QChar(0)));
        FUZZ_CHECK(!e.contains(QLatin1Char('\n')));
    }

    // Saved and read again: the same list.
    const QString saved = QString::fromStdString(g_sandbox->base() + "/work/saved.txt");
    FUZZ_CHECK(saveFileList(saved, entries));
    QStringList again;
    FUZZ_CHECK(loadFileList(saved, &again) == LoadStatus::Ok);
    FUZZ_CHECK_MSG(again == entries, "%lld entries read, %lld after saving them", static_cast<long long>(entries.size()),
                   static_cast<long long>(again.size()));

    // Sorting: a stable order of the keys, every entry kept.
    const int key = (data[0] >> 4) % 4;
    QStringList sorted = entries;
    sortQueueEntries(sorted, key);
    if (key > 2) {
        FUZZ_CHECK(sorted == entries);
        return 0;
    }
    QStringList a = sorted, b = entries;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    FUZZ_CHECK(a == b);
    for (qsizetype i = 1; i < sorted.size(); ++i)
        FUZZ_CHECK(!(sortKey(sorted[i], key) < sortKey(sorted[i - 1], key)));
    return 0;
}
