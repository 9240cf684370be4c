#pragma once
// Damaged archives of every format, made at test time (and from archives other
// archivers wrote, stored in tests/data), for the tests that extract them:
// each with the result it must give where the kind of damage is certain.
#include "support/TestEnvironment.h"

#include <QByteArray>
#include <QString>

#include <utility>
#include <vector>

namespace salvo::test {

struct DamagedArchive {
    QString name; // the extension chooses the component
    QByteArray bytes;
    bool headersToo = false; // the damage shows in the headers: the basic check fails as well
    int code = 0;            // the result it must give, where the kind of damage is certain
};

using NamedArchive = std::pair<QString, QByteArray>;

// Trailers, cuts and CRCs of gzip, tar, ZIP and LZH, an encrypted ZIP without
// its password, an empty file and noise.
std::vector<DamagedArchive> damagedArchives();
// A flipped bit, cuts and headers that lie, in archives of every format and
// in compressed streams; `good` receives the archives they were made from.
std::vector<DamagedArchive> damagedArchivesOfEveryFormat(const TempHome &home, std::vector<NamedArchive> *good);

QByteArray flipped(QByteArray bytes, qsizetype at);

} // namespace salvo::test
