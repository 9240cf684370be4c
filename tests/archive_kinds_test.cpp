// One archive of every kind users meet, made at test time by the real tool
// that makes it (7zz, Info-ZIP, Python's zipfile, jlha, gcab, arj, GNU tar,
// bsdtar, cpio, genisoimage, xorriso, ar, dpkg-deb, rpmbuild, lz4, lzop), then
// recognised, checked and extracted the way a run does (the archive's format
// from its name or its bytes, the component and command line of that format)
// and compared with the tree it was made from: every file's bytes, every link,
// every name, the executable bits, and the names the listing shows. A kind
// whose tool is not installed is skipped with a message.
#include "archivers/ArchiveProbe.h"
#include "engine/BatchRun.h"
#include "engine/ExtractionCommands.h"
#include "settings/Settings.h"
#include "support/ComponentLib.h"
#include "support/RecordingUi.h"
#include "support/TestEnvironment.h"
#include "support/TreeSnapshot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <fcntl.h>
#include <functional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace salvo;
using namespace salvo::test;

namespace {

// What a kind of archive can hold; the source tree holds only that.
struct Holds {
    bool links = true;     // symbolic links
    bool modes = true;     // the executable bit
    bool emptyFolder = true;
    bool folders = true;   // anything but files at the top
    bool japanese = true;  // UTF-8 names outside ASCII
};

struct Kind {
    const char *name;
    QStringList tools;
    Holds holds;
    // Makes the archive from `source` in `work`; its path, or "" when the tool failed.
    std::function<QString(const QString &source, const QString &work)> make;
    // The tree the extraction must give, when it is not the source tree.
    std::function<QString(const QString &source, const QString &work, const QString &archive)> expected = {};
    const char *password = nullptr;
};

QByteArray randomBytes(int size)
{
    std::mt19937 random(2024);
    QByteArray bytes(size, '\0');
    for (char &c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

void makeSource(const QString &root, const Holds &h)
{
    writeFile(root + "/hello.txt", "hello\n");
    writeFile(root + "/random.bin", randomBytes(200 * 1024));
    writeFile(root + "/empty.txt", "");
    if (h.folders) {
        writeFile(root + "/data/zeros.bin", QByteArray(100 * 1024, '\0'));
        writeFile(root + "/deep/a/b/c/note.txt", "deep\n");
    }
    if (h.folders && h.japanese)
        writeFile(root + "/日本語/名前.txt", "名前\n");
    if (h.emptyFolder)
        QDir().mkpath(root + "/emptydir");
    if (h.modes) {
        writeFile(root + "/run.sh", "#!/bin/sh\necho run\n");
        QFile::setPermissions(root + "/run.sh", QFile::permissions(root + "/run.sh") | QFile::ExeOwner | QFile::ExeGroup
                                                     | QFile::ExeOther);
    }
    if (h.links) {
        QFile::link("hello.txt", root + "/link-to-hello");
        if (h.folders)
            QFile::link("../../../../hello.txt", root + "/deep/a/b/c/up");
    }
}

// The tree as text: each path with its kind, bytes or link text, and "+x" for
// an executable file.
std::map<std::string, std::string> tree(const QString &root)
{
    std::map<std::string, std::string> out = snapshot(root);
    for (auto &[path, what] : out) {
        const QFileInfo info(root + "/" + QString::fromStdString(path));
        if (!info.isSymLink() && info.isFile() && (info.permissions() & QFile::ExeOwner))
            what += " +x";
    }
    return out;
}

// Runs a program in `folder`; true when it ends with 0.
bool shell(const QString &folder, const QString &command)
{
    QByteArray output;
    const int code = runProgram("/bin/sh", {"-c", "cd \"" + folder + "\" && " + command}, &output);
    if (code != 0)
        ADD_FAILURE() << command.toStdString() << ": " << output.toStdString();
    return code == 0;
}

QString made(const QString &path, bool ok)
{
    return ok && QFileInfo::exists(path) ? path : QString();
}

// A maker that runs a command in the source folder, writing `name` in `work`.
std::function<QString(const QString &, const QString &)> inSource(const QString &name, const QString &command)
{
    return [name, command](const QString &source, const QString &work) {
        const QString archive = work + "/" + name;
        QString line = command;
        line.replace("@", "\"" + archive + "\"");
        return made(archive, shell(source, line));
    };
}

// The same archive under another name.
std::function<QString(const QString &, const QString &)> renamed(std::function<QString(const QString &, const QString &)> make,
                                                                 const QString &name)
{
    return [make, name](const QString &source, const QString &work) {
        const QString archive = make(source, work);
        const QString target = work + "/" + name;
        return made(target, !archive.isEmpty() && QFile::rename(archive, target));
    };
}

const char *kPythonZip =
    "python3 -c 'import os, sys, zipfile\n"
    "z = zipfile.ZipFile(sys.argv[1], \"w\", compression=int(sys.argv[2]))\n"
    "for folder, dirs, files in sorted(os.walk(\".\")):\n"
    "    for d in sorted(dirs): z.write(os.path.join(folder, d))\n"
    "    for f in sorted(files): z.write(os.path.join(folder, f))\n"
    "z.close()' @ ";

const std::vector<Kind> &kinds()
{
    static const Holds all;
    static const Holds noLinks{.links = false};
    static const Holds filesOnly{.links = false, .modes = false, .emptyFolder = false};
    static const Holds flatNames{.links = false, .modes = false, .emptyFolder = false, .japanese = false};
    static const Holds flat{.links = false, .modes = false, .emptyFolder = false, .folders = false, .japanese = false};
    const auto zip = inSource("a.zip", "zip -qry @ .");
    const auto sevenZip = inSource("a.7z", "7zz a -bd -snl @ . >/dev/null");
    static const std::vector<Kind> list{
        {"zip by Info-ZIP", {"zip"}, all, zip},
        {"zip by Python zipfile", {"python3"}, noLinks, inSource("a.zip", QString(kPythonZip) + "8")},
        {"zip with LZMA and an empty file", {"python3"}, noLinks, inSource("a.zip", QString(kPythonZip) + "14")},
        {"zip in volumes (zip -s)", {"zip"}, all, inSource("a.zip", "zip -qry -s 64k @ .")},
        {"zip with Deflate64 by 7zz", {"7zz"}, all, inSource("a.zip", "7zz a -bd -snl -tzip -mm=Deflate64 @ . >/dev/null")},
        {"zip named .jar", {"zip"}, all, renamed(zip, "a.jar")},
        {"zip named .cbz", {"zip"}, all, renamed(zip, "comic.cbz")},
        {"zip named .epub", {"zip"}, all, renamed(zip, "book.epub")},
        {"zip named .apk", {"zip"}, all, renamed(zip, "app.apk")},
        {"zip named .docx", {"zip"}, all, renamed(zip, "letter.docx")},
        {"zip named .odt", {"zip"}, all, renamed(zip, "letter.odt")},
        {"7z by 7zz", {"7zz"}, all, sevenZip},
        {"7z named .zip", {"7zz"}, all, renamed(sevenZip, "really7z.zip")},
        {"7z with the ARM64 filter", {"7zz"}, all, inSource("a.7z", "7zz a -bd -snl -mf=ARM64 @ . >/dev/null")},
        {"7z with the RISC-V filter", {"7zz"}, all, inSource("a.7z", "7zz a -bd -snl -mf=RISCV @ . >/dev/null")},
        {"7z with Deflate64", {"7zz"}, all, inSource("a.7z", "7zz a -bd -snl -m0=Deflate64 @ . >/dev/null")},
        {"7z with AES and encrypted names", {"7zz"}, all,
         inSource("a.7z", "7zz a -bd -snl -psecret -mhe=on @ . >/dev/null"), {}, "secret"},
        {"7z self-extractor for Linux (ELF)", {"7zz"}, all,
         [sevenZip](const QString &source, const QString &work) {
             const QString archive = sevenZip(source, work);
             return made(work + "/installer", !archive.isEmpty() && shell(work, "cat /bin/true a.7z > installer"));
         }},
        // jlha writes names outside ASCII as "?".
        {"LZH by jlha", {"jlha"}, flatNames, inSource("a.lzh", "jlha a @ * >/dev/null")},
        {"CAB by gcab", {"gcab"}, filesOnly,
         inSource("a.cab", "gcab -c -z @ $(find . -type f | sed 's|^./||' | sort)")},
        {"ARJ by arj", {"arj", "7zz"}, filesOnly, inSource("a.arj", "arj a -r -y @ '*' >/dev/null")},
        {"tar by GNU tar", {"tar"}, all, inSource("a.tar", "tar cf @ .")},
        {"tar.gz by GNU tar", {"tar", "gzip"}, all, inSource("a.tar.gz", "tar czf @ .")},
        {"tar.bz2 by GNU tar", {"tar", "bzip2"}, all, inSource("a.tar.bz2", "tar cjf @ .")},
        {"tar.xz by GNU tar", {"tar", "xz"}, all, inSource("a.tar.xz", "tar cJf @ .")},
        {"tar.zst by GNU tar", {"tar", "zstd"}, all, inSource("a.tar.zst", "tar --zstd -cf @ .")},
        {"tar.lz4 by lz4", {"tar", "lz4"}, all, inSource("a.tar.lz4", "tar cf - . | lz4 -q > @")},
        {"tar.lzo by lzop", {"tar", "lzop"}, all, inSource("a.tar.lzo", "tar cf - . | lzop > @")},
        {"pax by bsdtar", {"bsdtar"}, all, inSource("a.tar", "bsdtar --format pax -cf @ .")},
        {"cpio newc", {"cpio"}, all, inSource("a.cpio", "find . | cpio -o -H newc > @ 2>/dev/null")},
        {"cpio odc", {"cpio"}, all, inSource("a.cpio", "find . | cpio -o -H odc > @ 2>/dev/null")},
        {"ISO 9660 with Rock Ridge by genisoimage", {"genisoimage"}, all,
         inSource("a.iso", "genisoimage -quiet -R -o @ .")},
        {"ISO 9660 with Joliet by genisoimage", {"genisoimage"}, filesOnly,
         inSource("a.iso", "genisoimage -quiet -J -joliet-long -o @ .")},
        {"ISO 9660 with Rock Ridge and Joliet by xorriso", {"xorriso"}, all,
         inSource("a.iso", "xorriso -as mkisofs -quiet -R -J -o @ . 2>/dev/null")},
        {"ar by binutils", {"ar"}, flat, inSource("a.ar", "ar rc @ hello.txt random.bin empty.txt")},
        {"xar by bsdtar", {"bsdtar"}, all, inSource("a.xar", "bsdtar --format xar -cf @ .")},
        // A Debian package is an ar archive of three members; `ar x` gives the tree.
        {"Debian package by dpkg-deb", {"dpkg-deb", "ar"}, all,
         [](const QString &source, const QString &work) {
             const QString package = work + "/pkg";
             QDir().mkpath(package + "/DEBIAN");
             writeFile(package + "/DEBIAN/control", "Package: salvo-test\nVersion: 1.0\nArchitecture: all\n"
                                                    "Maintainer: Test <test@example.org>\nDescription: test\n");
             const bool ok = shell(work, "cp -a \"" + source + "\" pkg/opt && dpkg-deb -Zxz --root-owner-group -b pkg a.deb >/dev/null");
             return made(work + "/a.deb", ok);
         },
         [](const QString &, const QString &work, const QString &archive) {
             QDir().mkpath(work + "/members");
             shell(work + "/members", "ar x \"" + archive + "\"");
             return work + "/members";
         }},
        // An rpm's payload holds the installed tree.
        {"rpm by rpmbuild", {"rpmbuild"}, all,
         [](const QString &source, const QString &work) {
             writeFile(work + "/t.rpmrecipe", "Name: salvo-test\nVersion: 1.0\nRelease: 1\nSummary: test\nLicense: MIT\n"
                                         "BuildArch: noarch\n%description\ntest\n%install\nmkdir -p %{buildroot}/opt\n"
                                         "cp -a " + source.toUtf8() + " %{buildroot}/opt/salvo\n%files\n/opt/salvo\n");
             const bool ok = shell(work, "rpmbuild -bb --quiet --define \"_topdir " + work
                                             + "/rpm\" --define '_binary_payload w9.xzdio' t.rpmrecipe >/dev/null 2>&1 && "
                                               "cp rpm/RPMS/noarch/*.rpm a.rpm");
             return made(work + "/a.rpm", ok);
         },
         [](const QString &source, const QString &work, const QString &) {
             QDir().mkpath(work + "/installed/opt");
             shell(work, "cp -a \"" + source + "\" installed/opt/salvo");
             return work + "/installed";
         }},
    };
    return list;
}

bool installed(const QString &tool)
{
    return !QStandardPaths::findExecutable(tool).isEmpty();
}

class ArchiveKindsTest : public ::testing::TestWithParam<size_t> {
protected:
    TempHome home;
    Availability availability = builtComponents(home.myPath());
    ComponentCaller caller{availability};
    ArchiveProbe probe{caller, home.myPath()};
};

TEST_P(ArchiveKindsTest, EveryFileLinkAndNameComesOutAsMade)
{
    const Kind &kind = kinds()[GetParam()];
    for (const QString &tool : kind.tools) {
        if (!installed(tool))
            GTEST_SKIP() << kind.name << ": " << tool.toStdString() << " is not installed";
    }
    const QString source = home.path("source"), work = home.path("work"), output = home.path("output");
    QDir().mkpath(source);
    QDir().mkpath(work);
    makeSource(source, kind.holds);
    const QString archive = kind.make(source, work);
    ASSERT_FALSE(archive.isEmpty()) << kind.name;
    const QString expectedRoot = kind.expected ? kind.expected(source, work, archive) : source;
    const std::map<std::string, std::string> expected = tree(expectedRoot);

    // Recognised and checked as a run does, by its name or by its bytes.
    const ArchiveFormat format = probe.identify(archive);
    ASSERT_NE(format.reader, nullptr) << kind.name;
    EXPECT_EQ(probe.check(format), kCheckOk) << kind.name;

    int asked = 0;
    caller.setPasswordAsker([&](const QString &, bool, QString *password) {
        ++asked;
        *password = QString::fromUtf8(kind.password ? kind.password : "");
        return kind.password != nullptr;
    });
    ExtractionRequest request;
    request.archive = archive;
    request.outputDir = output;
    request.sfxKind = format.formatInside();
    request.contentKind = format.formatByContent();
    const ExtractionCall call = buildExtractionCall(request, availability);
    ASSERT_EQ(call.kind, CallKind::Component) << kind.name;
    QString text;
    ASSERT_EQ(caller.run(call.component, call.prefix, call.commandLine, nullptr, &text), 0)
        << kind.name << ": " << text.toStdString();
    EXPECT_EQ(tree(output), expected) << kind.name;
    // A password is asked once, and only when the archive has one.
    EXPECT_EQ(asked, kind.password ? 1 : 0) << kind.name;

    // The listing shows the same names, unless the names themselves are encrypted.
    if (kind.password)
        return;
    std::set<std::string> listed, names;
    for (const ListRow &row : probe.listEntries(format)) {
        std::string name = row.name.toStdString();
        while (!name.empty() && name.back() == '/')
            name.pop_back();
        if (!name.empty() && name != ".")
            listed.insert(name.substr(0, 2) == "./" ? name.substr(2) : name);
    }
    // Every file and link is listed; a folder may be there only as the
    // folder of what it holds.
    for (const auto &[path, what] : expected) {
        if (what != "dir" || listed.count(path))
            names.insert(path);
    }
    EXPECT_EQ(listed, names) << kind.name;
}

std::string kindName(const ::testing::TestParamInfo<size_t> &info)
{
    std::string name;
    for (const char c : std::string(kinds()[info.param].name))
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Kinds, ArchiveKindsTest, ::testing::Range<size_t>(0, kinds().size()), kindName);

} // namespace

namespace {

class ArchiveKindsRunTest : public ::testing::Test {
protected:
    TempHome home;
    Availability availability = builtComponents(home.myPath());
    ComponentCaller caller{availability};
    ArchiveProbe probe{caller, home.myPath()};
    RecordingUi ui;
    QString in = home.path("in");

    ArchiveKindsRunTest()
    {
        Settings settings(home.myPath());
        settings.write(ini::kEndNotice, 1);
        settings.write(ini::kErrorSkip, 1);
        settings.write(ini::kNormalFileNameFolder, 1);
        QDir().mkpath(in);
    }
    QStringList logLines()
    {
        return QString::fromUtf8(readFile(home.myPath() + "Log.txt")).split("\r\n", Qt::SkipEmptyParts).mid(1);
    }
    RunOutcome run(const QStringList &queue)
    {
        BatchRun batch({home.myPath(), LaunchMode::Normal, TargetPlace::BesideArchive, &caller, &probe}, ui);
        return batch.run(queue);
    }
    // A zip whose data only 7zz reads (Deflate64), with a method number
    // nobody knows put in its place when `unknownMethod` is set.
    QString deflate64Zip(const QString &name, bool unknownMethod)
    {
        writeFile(home.path("d64/a.txt"), QByteArray(5000, 'a'));
        const QString path = in + "/" + name;
        EXPECT_TRUE(shell(home.path("d64"), "7zz a -bd -tzip -mm=Deflate64 \"" + path + "\" a.txt >/dev/null"));
        if (unknownMethod) {
            QByteArray bytes = readFile(path);
            for (qsizetype i = bytes.indexOf("PK\x03\x04"); i >= 0; i = bytes.indexOf("PK\x03\x04", i + 1))
                bytes[i + 8] = 88;
            for (qsizetype i = bytes.indexOf("PK\x01\x02"); i >= 0; i = bytes.indexOf("PK\x01\x02", i + 1))
                bytes[i + 10] = 88;
            writeFile(path, bytes);
        }
        return path;
    }
};

// Each failure says what is really wrong: a method no decoder has, a program
// that holds no archive; archives known by their bytes are logged as such and
// extracted, and so are the lz4 and lzop tarballs.
TEST_F(ArchiveKindsRunTest, ReasonsSayWhatIsWrongAndBytesDecideWhereNamesDoNot)
{
    for (const char *tool : {"7zz", "zip", "lz4", "lzop"}) {
        if (!installed(tool))
            GTEST_SKIP() << tool << " is not installed";
    }
    const QString unknown = deflate64Zip("unknown.zip", true);
    const QString program = in + "/nothing.exe";
    QFile::copy("/bin/true", program);
    writeFile(home.path("src/c/page1.txt"), "page one\n");
    const QString comic = in + "/comic.cbz";
    ASSERT_TRUE(shell(home.path("src"), "zip -qr \"" + comic + "\" c"));
    const QString lz4 = in + "/pages.tar.lz4", lzo = in + "/pages.tar.lzo";
    ASSERT_TRUE(shell(home.path("src"), "tar cf - c | lz4 -q > \"" + lz4 + "\" && tar cf - c | lzop > \"" + lzo + "\""));

    const RunOutcome out = run({unknown, program, comic, lz4, lzo});
    EXPECT_EQ(out.successCount, 3);
    EXPECT_EQ(logLines(), (QStringList{unknown + " : 対応していない圧縮方式です",
                                       program + " : 対応している書庫が入った自己解凍ファイルではありません",
                                       comic + " : 拡張子では形式が分からないため、内容から ZIP 書庫として扱いました"}));
    for (const QString &folder : {"comic", "pages.tar", "pages.tar"})
        EXPECT_EQ(readFile(in + "/" + folder + "/c/page1.txt"), "page one\n") << folder.toStdString();
}

// Without 7-Zip installed (its program made unfindable for the decoder) the
// archives only it reads fail with a reason that names the package. Run by
// its own test entry, which starts the decoders without it.
TEST_F(ArchiveKindsRunTest, WithoutSevenZipTheReasonNamesThePackage)
{
    if (qgetenv("SALVO_SECOND_DECODER") != "/nonexistent/7zz")
        GTEST_SKIP() << "run by archive_kinds_without_7zz";
    if (!installed("7zz"))
        GTEST_SKIP() << "7zz is needed to make the archive";
    const QString zip = deflate64Zip("big.zip", false);
    const RunOutcome out = run({zip});
    EXPECT_EQ(out.successCount, 0);
    ASSERT_EQ(logLines().size(), 1);
    EXPECT_TRUE(logLines()[0].startsWith(zip + " : 解凍に必要なプログラムがインストールされていません (")) << logLines()[0].toStdString();
    EXPECT_TRUE(logLines()[0].contains("7zip パッケージ")) << logLines()[0].toStdString();
    EXPECT_TRUE(QDir(in).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
}

} // namespace
