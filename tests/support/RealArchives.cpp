#include "RealArchives.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <map>

namespace salvo::test {
namespace {

struct Recipe {
    QString program;
    QStringList args; // "@" stands for the archive's path
    QStringList inputs;
};

const QString kLongName = QString("1234567890").repeated(20);
const QString kLongLink = QString("abcdefghij").repeated(20);
const QString kDeep = QString("abcdefghijklmnopqrstuvwxyz/").repeated(7);

const std::map<QString, Recipe> &recipes()
{
    static const QStringList tree{"file1", "dir1", "dir2", "empty"};
    static const std::map<QString, Recipe> all{
        {"7z_copy.7z", {"7zz", {"a", "-bd", "-bso0", "-m0=Copy", "@"}, tree}},
        {"7z_bzip2.7z", {"7zz", {"a", "-bd", "-bso0", "-m0=BZip2", "@"}, tree}},
        {"7z_deflate.7z", {"7zz", {"a", "-bd", "-bso0", "-m0=Deflate", "@"}, tree}},
        {"7z_lzma2.7z", {"7zz", {"a", "-bd", "-bso0", "-m0=LZMA2", "@"}, tree}},
        {"7z_ppmd.7z", {"7zz", {"a", "-bd", "-bso0", "-m0=PPMd", "@"}, tree}},
        {"7z_empty_file.7z", {"7zz", {"a", "-bd", "-bso0", "@"}, {"empty"}}},
        // Encrypted data, names in the clear: nothing extracts without the password.
        {"7z_encrypted.7z", {"7zz", {"a", "-bd", "-bso0", "-psecret", "-mhe=off", "@"}, {"file1"}}},
        {"cab_stored.cab", {"gcab", {"-c", "@"}, {"dir1/file1", "dir2/file2", "empty"}}},
        {"cab_mszip.cab", {"gcab", {"-c", "-z", "@"}, {"dir1/file1", "dir2/file2", "empty"}}},
        // Names longer than a tar header holds, and a link to one of them.
        {"gnu_long_names.tar", {"tar", {"--format=gnu", "-cf", "@"}, {kLongName, kLongLink}}},
        {"deep.tar.Z", {"bsdtar", {"-cZf", "@"}, {"abcdefghijklmnopqrstuvwxyz", "file1"}}},
        {"jlha_level1.lzh", {"jlha", {"a1q", "@"}, {"file1", "dir1/file1", "dir2/file2"}}},
        {"infozip.zip", {"zip", {"-q", "-r", "@"}, tree}},
    };
    return all;
}

void makeSourceTree(const QString &root)
{
    writeFile(root + "/file1", QByteArray("Salvo test text, said again and again for the compressor.\n").repeated(48));
    writeFile(root + "/dir1/file1", QByteArray("file 1 contents\nhello\nhello\nhello\n").leftJustified(60, '.'));
    writeFile(root + "/dir2/file2", QByteArray("file 2 contents\nhello\nhello\nhello\nhello\nhello\n").leftJustified(78, '.'));
    writeFile(root + "/empty", QByteArray());
    writeFile(root + "/" + kLongName, QByteArray());
    QFile::link(kLongName, root + "/" + kLongLink);
    writeFile(root + "/" + kDeep + "file", QByteArray("deep\n"));
}

} // namespace

QString storedArchive(const QString &name)
{
    return QStringLiteral(SALVO_SOURCE_DIR "/tests/data/") + name;
}

QStringList storedArchiveNames()
{
    return QDir(QStringLiteral(SALVO_SOURCE_DIR "/tests/data"))
        .entryList({"*.7z", "*.cab", "*.lzh", "*.rar", "*.zip"}, QDir::Files, QDir::Name);
}

QStringList toolArchiveNames()
{
    QStringList names;
    for (const auto &[name, recipe] : recipes())
        names << name;
    return names;
}

bool makeToolArchive(const QString &name, const QString &path, QString *error)
{
    const auto found = recipes().find(name);
    QString ignored;
    QString &why = error ? *error : ignored;
    if (found == recipes().end()) {
        why = "no recipe for " + name;
        return false;
    }
    QTemporaryDir source;
    makeSourceTree(source.path());
    QDir().mkpath(QFileInfo(path).absolutePath());
    QStringList args;
    for (const QString &a : found->second.args)
        args << (a == "@" ? QFileInfo(path).absoluteFilePath() : a);
    args << found->second.inputs;
    QProcess p;
    p.setWorkingDirectory(source.path());
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(found->second.program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0
        || !QFileInfo(path).isFile()) {
        why = found->second.program + " " + args.join(' ') + ": " + p.errorString() + " "
            + QString::fromLocal8Bit(p.readAll());
        return false;
    }
    return true;
}

} // namespace salvo::test
