#include "TreeSnapshot.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <unistd.h>

namespace salvo::test {

std::map<std::string, std::string> snapshot(const QString &root)
{
    std::map<std::string, std::string> out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const std::string rel = QDir(root).relativeFilePath(info.filePath()).toStdString();
        if (info.isSymLink()) {
            QByteArray target(4096, '\0');
            const ssize_t n = ::readlink(QFile::encodeName(info.filePath()).constData(), target.data(), target.size());
            out[rel] = "link:" + std::string(target.constData(), n > 0 ? n : 0);
        } else if (info.isDir()) {
            out[rel] = "dir";
        } else {
            QFile f(info.filePath());
            f.open(QIODevice::ReadOnly);
            out[rel] = "file:" + f.readAll().toStdString();
        }
    }
    return out;
}

int runProgram(const QString &program, const QStringList &args, QByteArray *output)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(120000))
        return -1;
    if (output)
        *output = p.readAll();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

std::string extractCommand(const std::string &prefix, const std::string &archive, const std::string &outDir,
                           bool flat, bool overwrite)
{
    const std::string tail = "\"" + archive + "\" \"" + outDir + "/\"";
    if (prefix == "Unlha")
        return std::string(flat ? "e " : "x ") + (overwrite ? "-c1 -m1 -y1 " : "-c0 -m0 ") + "-jf0 " + tail;
    if (prefix == "UnZip")
        return std::string(flat ? "-x -j " : "-x ") + (overwrite ? "-o " : "") + "-s -V -i -C -qq " + tail;
    if (prefix == "SevenZip")
        return std::string(flat ? "e " : "x ") + (overwrite ? "-y " : "") + tail;
    if (prefix == "Cab")
        return std::string(flat ? "-x -j " : "-x ") + (overwrite ? "-o " : "") + tail;
    if (prefix == "Unrar")
        return std::string(flat ? "-e " : "-x ") + (overwrite ? "-y -o " : "") + tail;
    return std::string(flat ? "-x --use-directory=0 " : "-x --use-directory=1 ") + tail;
}

} // namespace salvo::test
