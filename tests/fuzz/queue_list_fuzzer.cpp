// Queue list files: read in UTF-8 or CP932, with any line endings, saved and
// read again, sorted; in memory, through the functions the file reader and
// writer use. The first byte picks the sort key and whether the rest is the
// file or is repeated into one file of 8 KiB (lines longer than a path may
// be, or thousands of lines).
// Rules: no entry holds a NUL or a line break; a saved list reads back the
// same; sorting keeps every entry and puts the keys in order, stably.
#include "FuzzCheck.h"
#include "app/QueueFiles.h"

#include <QByteArray>
#include <QStringList>
#include <algorithm>

using namespace salvo;

namespace {

QString sortKey(const QString &path, int key)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString k = key == 0 ? path : key == 1 ? (slash < 0 ? QString() : path.left(slash)) : path.mid(slash + 1);
    return k.toCaseFolded();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    QByteArray bytes(reinterpret_cast<const char *>(data) + 1, static_cast<qsizetype>(size - 1));
    if ((data[0] & 15) == 15 && !bytes.isEmpty())
        bytes = bytes.repeated((8 << 10) / bytes.size() + 1);
    const QStringList entries = fileListEntries(bytes);
    for (const QString &e : entries) {
        FUZZ_CHECK(!e.contains(QChar(0)));
        FUZZ_CHECK(!e.contains(QLatin1Char('\n')));
    }

    // Saved and read again: the same list.
    const QStringList again = fileListEntries(fileListBytes(entries));
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
