#pragma once
// The two console extractors, rk and yz2dec: version, integrity test and
// listing, each read from the program's captured output.
#include "archivers/ComponentCaller.h"

#include <QString>
#include <QVector>

#include <atomic>

namespace salvo {

class ConsoleExtractors {
public:
    // myPath: the program folder (capture files and "FileList.tmp" go there);
    // rkFolder / yz2Folder: where the programs were found, ending in "/".
    ConsoleExtractors(QString myPath, QString rkFolder, QString yz2Folder);

    // A flag that, once set, ends the wait for a program that does not end.
    void setCancelFlag(const std::atomic<bool> *flag) { m_cancel = flag; }

    QString rkProgram() const { return m_rkFolder + QStringLiteral("rk"); }
    QString yz2Program() const { return m_yz2Folder + QStringLiteral("yz2dec"); }

    QString rkVersion();
    QString yz2Version();
    // 1 when the program reports the archive intact, 2 when not, 3 when the
    // archive does not exist.
    int rkTest(const QString &archive);
    int yz2Test(const QString &archive);
    // The listing lines copied into "FileList.tmp"; the path of that file, or
    // empty when the capture was missing or incomplete.
    QString rkListing(const QString &archive);
    QString yz2Listing(const QString &archive);

    // The entries of a "FileList.tmp": each line is a name followed by the
    // original and the compressed size (and optionally a ratio ending in "%").
    static QVector<ComponentEntry> readFileList(const QString &fileListPath);

private:
    QString capture(const QString &program, const QStringList &arguments, const QString &captureName);
    int test(const QString &program, const QStringList &arguments, const QString &archive,
             const QString &captureName, const QString &okLine);

    QString m_myPath, m_rkFolder, m_yz2Folder;
    const std::atomic<bool> *m_cancel = nullptr;
};

} // namespace salvo
