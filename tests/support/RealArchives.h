#pragma once
// Archives as other archivers write them. What a free tool on Debian writes is
// made at test time by that tool (7zz, gcab, GNU tar, bsdtar, jlha, zip); what
// none writes (RAR, old LZH levels, LZX CAB, damaged archives) is stored in
// tests/data with its origin and licence.
#include <QString>
#include <QStringList>

namespace salvo::test {

// The path of a stored archive (tests/data/<name>).
QString storedArchive(const QString &name);
// The names of every stored archive.
QStringList storedArchiveNames();

// The names of the archives made by tools, one per format and method.
QStringList toolArchiveNames();
// Makes the archive `name` (one of toolArchiveNames()) at `path` with its
// tool; false, with what the tool said in `error`, when that fails.
bool makeToolArchive(const QString &name, const QString &path, QString *error = nullptr);

} // namespace salvo::test
