// The adapter layer through the recording component: dispatch of every
// catalogue row, the check codes, self-extractor detection, counts, sizes, the
// single-top-folder test, listing rows and the ACE record.
#include "settings/Settings.h"
#include "archivers/ArchiveProbe.h"
#include "archivers/ComponentVersions.h"
#include "archivers/FormatTable.h"
#include "engine/BatchRun.h"
#include "support/RecordingUi.h"
#include "support/TestEnvironment.h"
#include "support/RealArchives.h"

#include <QDir>

#include <archive.h>
#include <QFile>

using namespace salvo;
using namespace salvo::test;

namespace {

class RecordingTest : public ::testing::Test {
protected:
    TempHome home;
    QString folder = home.path("components");
    Availability availability;
    std::unique_ptr<ComponentCaller> caller;
    std::unique_ptr<ArchiveProbe> probe;

    RecordingTest()
    {
        QDir().mkpath(folder);
        qputenv("SALVO_RECORDING_LOG", home.path("calls.log").toLocal8Bit());
        qputenv("SALVO_RECORDING_SCRIPT", home.path("script.txt").toLocal8Bit());
        script({});
    }
    void install(std::initializer_list<Component> components)
    {
        for (Component c : components) {
            const QString file = folder + "/" + componentInfo(c).fileName;
            QFile::remove(file);
            ASSERT_TRUE(QFile::copy(RECORDING_COMPONENT, file));
            availability.present[int(c)] = true;
            availability.files[int(c)] = file;
            if (c == Component::UnArj32)
                QFile::copy(RECORDING_COMPONENT, folder + "/unarj32.so");
        }
        caller = std::make_unique<ComponentCaller>(availability);
        probe = std::make_unique<ArchiveProbe>(*caller, home.myPath());
    }
    void installAll()
    {
        install({Component::UnLha32, Component::UnZip32, Component::Zip32J, Component::Zip32, Component::Cab32,
                 Component::UnGca32, Component::UnRar32, Component::SevenZip32, Component::Yz1, Component::UnArj32,
                 Component::Tar32, Component::Bga32, Component::UnBel32, Component::UnImp32, Component::Kty32,
                 Component::UnAceV2, Component::UnAce32, Component::Paqar32, Component::UnHki32});
    }
    void script(const QStringList &lines)
    {
        writeFile(home.path("script.txt"), lines.join('\n').toUtf8() + "\n");
        QFile::remove(home.path("calls.log"));
    }
    QStringList calls()
    {
        QStringList out;
        for (const QByteArray &l : readFile(home.path("calls.log")).split('\n')) {
            if (!l.isEmpty())
                out << QString::fromUtf8(l);
        }
        return out;
    }
    // Entry names and modes of the calls, without the archive path.
    QStringList callNames()
    {
        QStringList out;
        for (const QString &c : calls())
            out << c.section('\t', 0, 1);
        return out;
    }
    QString archive(const QString &name)
    {
        const QString path = home.path("in/" + name);
        writeFile(path, "not read by the recording component");
        return path;
    }
    void setUse7Zip(int value) { Settings(home.myPath()).write(ini::kUse7Zip, value); }
};

TEST(FormatTable, KeysIdsAndArchiveTypes)
{
    EXPECT_EQ(extensionKey("/a/b.ZIP"), "zip");
    EXPECT_EQ(extensionKey("/a/b.tar.gz"), "gz");
    EXPECT_EQ(extensionKey("/a/noext"), "/a/noext");
    EXPECT_EQ(extensionKey("/a/dot."), "");
    EXPECT_EQ(rowForKey("gz")->format, Format::Tar);
    EXPECT_EQ(rowForKey("yz2a6")->format, Format::Yz2);
    EXPECT_EQ(rowForKey("gza")->format, Format::Bga);
    EXPECT_EQ(rowForKey("/a/noext"), nullptr);
    EXPECT_EQ(viewerArchiveType("7z"), "SevenZip");
    EXPECT_EQ(viewerArchiveType("yz2a6"), "YZ2");
    EXPECT_EQ(viewerArchiveType("pqa"), "Paqar");
    EXPECT_EQ(viewerArchiveType("bh"), "BH");
    EXPECT_EQ(viewerArchiveType("gz"), "");
    EXPECT_EQ(formatIdOfViewerType("SevenZip"), "7z");
    EXPECT_EQ(formatIdOfViewerType("Paqar"), "PQA");
    EXPECT_EQ(formatIdOfViewerType("lzh"), "LZH");
    EXPECT_EQ(formatIdOfViewerType("nonsense"), "");
}

TEST_F(RecordingTest, CheckCodesForEveryRow)
{
    installAll();
    struct Case {
        const char *name;
        const char *script;
        int code;
        const char *expectedCall; // entry and mode
    };
    const Case cases[] = {
        {"a.lzh", "", 0, "UnlhaCheckArchive\t0"},
        {"a.LZH", "UnlhaCheckArchive 0", 2, "UnlhaCheckArchive\t0"},
        {"a.zip", "UnZipGetVersion 89", 3, "UnZipGetVersion\t0"},
        {"a.zip", "UnZipGetVersion 90", 0, "UnZipCheckArchive\t0"},
        {"a.zip", "UnZipCheckArchive 0", 999, "UnZipCheckArchive\t0"},
        {"a.cab", "", 0, "CabCheckArchive\t0"},
        {"a.gca", "", 0, "UnGCACheckArchive\t16"},
        {"a.rar", "UnrarCheckArchive 7", 2, "UnrarCheckArchive\t0"},
        {"a.7z", "", 0, "SevenZipCheckArchive\t0"},
        {"a.yz1", "Yz1CheckArchive 2", 4, "Yz1CheckArchive\t16"},
        {"a.yz1", "Yz1CheckArchive 0", 2, "Yz1CheckArchive\t16"},
        {"a.arj", "", 0, "UnarjCheckArchive\t0"},
        {"a.tar.gz", "", 0, "TarCheckArchive\t0"},
        {"a.bz2", "", 0, "TarCheckArchive\t0"},
        {"a.gza", "", 0, "BgaCheckArchive\t1"},
        {"a.bel", "", 0, "UnbelCheckArchive\t0"},
        {"a.imp", "", 0, "UnImpCheckArchive\t0"},
        {"a.kty", "", 0, "KtyCheckArchive\t0"},
        {"a.ace", "", 0, ""},
        {"a.pqa", "", 0, "PaqarCheckArchive\t0"},
        {"a.hki", "", 0, ""},
        {"noext", "", 5, ""},
        {"a.txt", "", 5, ""},
        {"a.", "", 5, ""},
    };
    for (const Case &c : cases) {
        script(QString(c.script).split(';', Qt::SkipEmptyParts));
        EXPECT_EQ(probe->check(archive(c.name)), c.code) << c.name << " " << c.script;
        if (*c.expectedCall) {
            EXPECT_TRUE(callNames().contains(c.expectedCall)) << c.name << ": " << callNames().join(",").toStdString();
        } else {
            EXPECT_TRUE(calls().isEmpty()) << c.name;
        }
    }
}

TEST_F(RecordingTest, MissingComponentsGiveTheirCodes)
{
    install({Component::UnAce32, Component::UnLha32});
    EXPECT_EQ(probe->check(archive("a.cab")), 1);
    EXPECT_EQ(probe->check(archive("a.ace")), 1); // one of the two ACE components only
    EXPECT_EQ(probe->check(archive("a.hki")), 999);
    EXPECT_EQ(probe->check(archive("a.rk")), 1);
    EXPECT_EQ(probe->check(archive("a.yz2")), 1);
    EXPECT_TRUE(calls().isEmpty());
    // A component whose file has gone since start-up is not loaded.
    QFile::remove(folder + "/unlha32.so");
    EXPECT_EQ(probe->check(archive("a.lzh")), 2);
    EXPECT_EQ(probe->entryCount(archive("a.lzh")), 0);
    EXPECT_EQ(caller->run(Component::UnLha32, "Unlha", "x a.lzh", nullptr), kNotCalled);
}

TEST_F(RecordingTest, Use7ZipRoutesZipAndNeverLoadsTheZipComponent)
{
    installAll();
    setUse7Zip(1);
    script({"SevenZipEntries a/x.txt|10|5|500|0|0"});
    const QString zip = archive("a.zip");
    EXPECT_EQ(probe->check(zip), 0);
    EXPECT_EQ(probe->entryCount(zip), 3);
    EXPECT_EQ(probe->expandedSize(zip), 10);
    EXPECT_FALSE(probe->isMultiRoot(zip));
    const QVector<ListRow> rows = probe->listEntries(zip);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].ratio, "50%");
    for (const QString &call : calls())
        EXPECT_TRUE(call.startsWith("SevenZip")) << call.toStdString();
}

TEST_F(RecordingTest, SelfExtractorDetectionOrderAndTheLastAcceptorWins)
{
    installAll();
    const QString exe = archive("setup.exe");
    const QStringList noneAccept{"UnlhaCheckArchive 0",  "UnZipCheckArchive 0", "CabCheckArchive 0",
                                 "UnGCACheckArchive 0",  "UnrarCheckArchive 0", "SevenZipCheckArchive 0",
                                 "Yz1CheckArchive 0",    "UnarjCheckArchive 0", "TarCheckArchive 0",
                                 "BgaCheckArchive 0",    "UnImpCheckArchive 0", "UnaceCheckArchive 0",
                                 "PaqarCheckArchive 0",  "UnHkiCheckArchive 0"};
    script(noneAccept);
    EXPECT_EQ(probe->formatInsideExe(exe), "");
    EXPECT_EQ(probe->check(exe), 6);
    QStringList order;
    for (const QString &c : callNames()) {
        if (c.contains("CheckArchive"))
            order << c;
    }
    EXPECT_EQ(order.mid(0, 14),
              QStringList({"UnlhaCheckArchive\t0", "UnZipCheckArchive\t0", "CabCheckArchive\t0", "UnGCACheckArchive\t8",
                           "UnrarCheckArchive\t0", "SevenZipCheckArchive\t0", "Yz1CheckArchive\t16",
                           "UnarjCheckArchive\t0", "TarCheckArchive\t0", "BgaCheckArchive\t1", "UnImpCheckArchive\t0",
                           "UnaceCheckArchive\t0", "PaqarCheckArchive\t0", "UnHkiCheckArchive\t0"}));

    QStringList lhaAnd7z = noneAccept;
    lhaAnd7z.removeAll("UnlhaCheckArchive 0");
    lhaAnd7z.removeAll("SevenZipCheckArchive 0");
    script(lhaAnd7z);
    EXPECT_EQ(probe->formatInsideExe(exe), "7Z");
    EXPECT_EQ(probe->identify(exe).viewerType, "SevenZip");

    QStringList yz1Password = noneAccept;
    yz1Password.replaceInStrings("Yz1CheckArchive 0", "Yz1CheckArchive 2");
    script(yz1Password);
    EXPECT_EQ(probe->formatInsideExe(exe), "YZ1");

    // Zip inside an executable: only with Use7Zip off and a recent enough component.
    QStringList zipOnly = noneAccept;
    zipOnly.removeAll("UnZipCheckArchive 0");
    script(zipOnly + QStringList{"UnZipGetVersion 89"});
    EXPECT_EQ(probe->formatInsideExe(exe), "");
    script(zipOnly);
    EXPECT_EQ(probe->formatInsideExe(exe), "ZIP");
    setUse7Zip(1);
    script(zipOnly);
    EXPECT_EQ(probe->formatInsideExe(exe), "");
    EXPECT_FALSE(callNames().contains("UnZipCheckArchive\t0"));
}

TEST_F(RecordingTest, CountsAndSizesFollowEachRowsRules)
{
    installAll();
    const QString entries = "a/one|100|50|500|0|0;a/two|200|50|250|0|0";
    script({"UnImpEntries " + entries, "UnImpGetOriginalSize 7", "UnHkiEntries " + entries,
            "UnHkiGetArcOriginalSize 11", "UnbelEntries " + entries, "KtyEntries " + entries,
            "Yz1CheckArchive 2", "Yz1Entries " + entries, "Yz1GetFileCount 2"});
    EXPECT_EQ(probe->expandedSize(archive("a.imp")), 14);
    EXPECT_EQ(probe->expandedSize(archive("a.hki")), 22);
    EXPECT_EQ(probe->expandedSize(archive("a.bel")), 100); // the first entry only
    EXPECT_EQ(probe->expandedSize(archive("a.kty")), 300);
    EXPECT_EQ(probe->expandedSize(archive("a.pqa")), 0);
    // A password-protected YZ1 archive is counted and summed.
    EXPECT_EQ(probe->entryCount(archive("a.yz1")), 2);
    EXPECT_EQ(probe->expandedSize(archive("a.yz1")), 300);
    EXPECT_EQ(probe->entryCount(archive("a.yz2")), 0);

    // HKI counts without a check; the zip component newer than 0.90 too.
    script({"UnZipGetVersion 91"});
    probe->entryCount(archive("a.hki"));
    probe->entryCount(archive("a.zip"));
    EXPECT_EQ(callNames(), QStringList({"UnHkiGetFileCount\t0", "UnZipGetVersion\t0", "UnZipGetFileCount\t0"}));
    script({"UnZipGetVersion 90"});
    probe->entryCount(archive("a.zip"));
    EXPECT_EQ(callNames(), QStringList({"UnZipGetVersion\t0", "UnZipCheckArchive\t0", "UnZipGetFileCount\t0"}));

    // The viewer's archive type comes along.
    EXPECT_EQ(probe->identify(archive("a.7z")).viewerType, "SevenZip");
}

TEST_F(RecordingTest, ListingRowsByTypeTag)
{
    installAll();
    const int date = ((2020 - 1980) << 9) | (5 << 5) | 17, time = (12 << 11) | (30 << 5) | 5;
    script({QStringLiteral("UnlhaEntries dir/a.txt|1234567|100|453|%1|%2;empty|0|0|0|%1|%2;<NONUL>|1|1|1|%1|%2")
                .arg(date)
                .arg(time),
            "KtyEntries k|1000|250|0|0|0", "UnbelEntries b|1000|0|453|0|0", "CabEntries c|1000|400|400|0|0"});
    const QVector<ListRow> lzh = probe->listEntries(archive("a.lzh"));
    ASSERT_EQ(lzh.size(), 3);
    EXPECT_EQ(lzh[0].name, "dir/a.txt");
    EXPECT_EQ(lzh[0].date, "2020/05/17 12:30:10");
    EXPECT_EQ(lzh[0].originalSize, "1,234,567");
    EXPECT_EQ(lzh[0].compressedSize, "100");
    EXPECT_EQ(lzh[0].ratio, "45.3%");
    EXPECT_EQ(lzh[1].originalSize, "-");
    EXPECT_EQ(lzh[1].ratio, "-");
    EXPECT_EQ(lzh[2].name, ""); // a name field without its NUL
    const QVector<ListRow> kty = probe->listEntries(archive("a.kty"));
    EXPECT_EQ(kty[0].ratio, "25.0%");
    const QVector<ListRow> bel = probe->listEntries(archive("a.bel"));
    EXPECT_EQ(bel[0].name, "-");
    EXPECT_EQ(bel[0].date, "-");
    EXPECT_EQ(bel[0].ratio, "54.7%");
    // The cab component reports packed sizes: its rows show them.
    const QVector<ListRow> cab = probe->listEntries(archive("a.cab"));
    EXPECT_EQ(cab[0].compressedSize, "400");
    EXPECT_EQ(cab[0].ratio, "40%");
}

TEST_F(RecordingTest, MultiRootAnswersAndTheWalkStopsEarly)
{
    installAll();
    struct Case {
        const char *entries;
        bool multi;
    };
    const Case cases[] = {
        {"a/x|1|1|0|0|0;a/y|1|1|0|0|0", false},
        {"a/x|1|1|0|0|0;b/y|1|1|0|0|0;c/z|1|1|0|0|0", true},
        {"x|1|1|0|0|0", false},
        {"x|1|1|0|0|0;y|1|1|0|0|0;z|1|1|0|0|0", true},
        {"a/x|1|1|0|0|0;y|1|1|0|0|0", true},
        {"a\\x|1|1|0|0|0;a\\y|1|1|0|0|0", true}, // "\" does not separate
        {"", false},
    };
    for (const Case &c : cases) {
        script({QStringLiteral("UnrarEntries ") + c.entries});
        EXPECT_EQ(probe->isMultiRoot(archive("a.rar")), c.multi) << c.entries;
    }
    // With three entries in three folders the answer is known at the second.
    script({"UnrarEntries a/x|1|1|0|0|0;b/y|1|1|0|0|0;c/z|1|1|0|0|0"});
    probe->isMultiRoot(archive("a.rar"));
    EXPECT_EQ(callNames().filter("FindNext").size(), 1);
    EXPECT_TRUE(callNames().contains("UnrarCloseArchive\t0"));
    EXPECT_TRUE(callNames().contains(QStringLiteral("UnrarOpenArchive\t%1").arg(kOpenModeDriveLetter)));

    EXPECT_FALSE(probe->isMultiRoot(archive("a.bel")));
    EXPECT_TRUE(probe->isMultiRoot(archive("a.rk")));
    EXPECT_TRUE(probe->isMultiRoot(archive("a.pqa")));
    EXPECT_TRUE(probe->isMultiRoot(archive("a.unknown")));
    script({"UnHkiEntries x|1|1|0|0|0"});
    probe->isMultiRoot(archive("a.hki"));
    EXPECT_TRUE(callNames().contains("UnHkiOpenArchive\t512"));
    // What cannot be listed never goes loose into the target: it gets its own folder.
    script({"UnrarOpenArchive 0"});
    EXPECT_TRUE(probe->isMultiRoot(archive("a.rar")));
    script({"UnrarEntries a/x|1|1|0|0|0;a/y|1|1|0|0|0", "UnrarEntriesEnd 32791"}); // a damaged header after them
    EXPECT_TRUE(probe->isMultiRoot(archive("a.rar")));
}

TEST_F(RecordingTest, ARunLooksIntoASelfExtractorOnce)
{
    // Pre-scan, top-folder test and extraction all use what was found inside once.
    installAll();
    Settings settings(home.myPath());
    settings.write(ini::kPreScan, 1);
    settings.write(ini::kEndNotice, 1);
    const QString exe = archive("setup.exe");
    RecordingUi ui;
    BatchRun run({home.myPath(), LaunchMode::Normal, TargetPlace::BesideArchive, caller.get(), probe.get()}, ui);
    run.run({exe});
    EXPECT_EQ(callNames().count("UnlhaCheckArchive\t0"), 1) << callNames().join(",").toStdString();
    EXPECT_TRUE(callNames().contains("UnHkiOpenArchive\t512")); // the last acceptor's walk
}

TEST_F(RecordingTest, AceRecordCarriesTheFileListAndTheDestination)
{
    install({Component::UnAceV2, Component::UnAce32});
    for (const QString &list : {QStringLiteral("*.*"), QStringLiteral("even"), QStringLiteral("a/b.txt c.txt")}) {
        script({"ACEExtract 3"});
        EXPECT_EQ(caller->aceV2Extract(home.path("in/a.ace"), list, QStringLiteral("/out/日本語フォルダ")), 3);
        ASSERT_EQ(calls().size(), 1);
        EXPECT_EQ(calls()[0].section('\t', 2),
                  home.path("in/a.ace") + "||" + list + "||0|" + QStringLiteral("/out/日本語フォルダ") + "|0|");
    }
}

TEST_F(RecordingTest, MainEntryGetsTheCommandAndA1024CharacterBuffer)
{
    install({Component::UnLha32});
    script({"Unlha 32768", "UnlhaOutput done"});
    QString output;
    EXPECT_EQ(caller->run(Component::UnLha32, "Unlha", QStringLiteral("x \"/in/日本.lzh\" \"/out/\""), nullptr, &output),
              32768);
    EXPECT_EQ(output, "done");
    EXPECT_EQ(calls(), QStringList({QStringLiteral("Unlha\t1024\tx \"/in/日本.lzh\" \"/out/\"")}));
    EXPECT_EQ(caller->version(Component::UnLha32, "Unlha"), 100);
    EXPECT_EQ(caller->run(Component::Cab32, "Cab", "x", nullptr), kNotCalled);
}

} // namespace

#include "support/ArchiveBuilder.h"
#include "support/ComponentLib.h"

namespace {

// The real components on archives made here.
TEST_F(RecordingTest, AboutRowsFileNamesVersionsAndTheDecodingLibrary)
{
    install({Component::UnLha32, Component::UnZip32, Component::SevenZip32, Component::UnArj32, Component::Kty32,
             Component::UnAceV2});
    availability.present[int(Component::Yz2Dec)] = true;
    availability.files[int(Component::Yz2Dec)] = folder + "/yz2dec";
    caller = std::make_unique<ComponentCaller>(availability);
    // The first component fails the library question: the next one answers it.
    script({"UnlhaGetVersion 260", "UnlhaGetSubVersion 5", "UnZipGetVersion 601", "SevenZipGetVersion 1602",
            "SevenZipGetSubVersion 2", "UnarjGetVersion 100", "KtyGetVersion 130",
            "UnlhaGetBackendVersionResult 32849", "UnZipGetBackendVersion libarchive 9.8.7 zlib/1.2.13"});
    const QList<ComponentVersionRow> rows = componentVersionRows(*caller);
    const QString no = "Not Installed";
    const QList<QPair<QString, QString>> expected{
        {"unlha32.so", "2.60.0.05"}, {"unzip32.so", "6.01"}, {"zip32j.so", no}, {"zip32.so", no},
        {"cab32.so", no}, {"ungca32.so", no}, {"unrar32.so", no}, {"7-zip32.so", "16.02.0.02"}, {"yz1.so", no},
        {"unarj32j.so", "1.00.0.00"}, {"tar32.so", no}, {"bga32.so", no}, {"unbel32.so", no}, {"unimp32.so", no},
        {"unhki32.so", no}, {"kty32.so", "1.3"}, {"paqar32.so", no}, {"unace32.so", no}, {"unacev2.so", "Installed"},
        {"yz2dec", "Installed"}, {"rk", no}, {"libarchive", "9.8.7"}};
    ASSERT_EQ(rows.size(), expected.size());
    for (int i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].file, expected[i].first) << i;
        EXPECT_EQ(rows[i].version, expected[i].second) << i;
    }
    EXPECT_EQ(rows[0].detail, folder + "/unlha32.so");
    EXPECT_EQ(rows.last().detail, "libarchive 9.8.7 zlib/1.2.13");
    // Only the present components were asked, each once per question.
    EXPECT_EQ(callNames(), QStringList({"UnlhaGetVersion\t0", "UnlhaGetSubVersion\t0", "UnZipGetVersion\t0",
                                        "SevenZipGetVersion\t0", "SevenZipGetSubVersion\t0", "UnarjGetVersion\t0",
                                        "UnarjGetSubVersion\t0", "KtyGetVersion\t0", "UnlhaGetBackendVersion\t1024",
                                        "UnZipGetBackendVersion\t1024"}));
    EXPECT_EQ(hundredthsText(260), "2.60");
    EXPECT_EQ(hundredthsText(5), "0.05");
}

class RealComponentsTest : public ::testing::Test {
protected:
    TempHome home;
    Availability availability;
    std::unique_ptr<ComponentCaller> caller;
    std::unique_ptr<ArchiveProbe> probe;

    RealComponentsTest()
    {
        availability = builtComponents(home.myPath());
        caller = std::make_unique<ComponentCaller>(availability);
        probe = std::make_unique<ArchiveProbe>(*caller, home.myPath());
    }
    QString zip(const QString &name, const std::vector<Entry> &entries)
    {
        const QString path = home.path("in/" + name);
        writeFile(path, writeArchive(entries, "zip"));
        return path;
    }
};

Entry file(const char *name, const QByteArray &data = "x")
{
    return {name, data, EntryKind::File, {}};
}

TEST_F(RealComponentsTest, AboutRowsNameTheLibArchiveTheComponentsDecodeWith)
{
    const QList<ComponentVersionRow> rows = componentVersionRows(*caller);
    EXPECT_EQ(rows.first().file, "unlha32.so");
    EXPECT_NE(rows.first().version, "Not Installed");
    // The decoder process reports the libraries it runs with: libarchive's,
    // and ISA-L where the build inflates with it.
    EXPECT_EQ(rows.last().file, "libarchive");
    EXPECT_EQ(rows.last().version, QString::fromLatin1(archive_version_string()).section(' ', 1, 1));
    const QString details = QString::fromLatin1(archive_version_details());
    EXPECT_TRUE(rows.last().detail == details || rows.last().detail.startsWith(details + " isa-l/"))
        << rows.last().detail.toStdString();
}

TEST_F(RealComponentsTest, CountSizeListingAndTopFolders)
{
    const QString oneFolder = zip("one.zip", {file("a/x", "12345"), file("a/y", "")});
    const QString twoFolders = zip("two.zip", {file("a/x"), file("b/y")});
    const QString rootFile = zip("root.zip", {file("x")});
    const QString twoRoot = zip("tworoot.zip", {file("x"), file("y")});
    const QString mixed = zip("mixed.zip", {file("a/x"), file("y")});

    EXPECT_FALSE(probe->isMultiRoot(oneFolder));
    EXPECT_TRUE(probe->isMultiRoot(twoFolders));
    EXPECT_FALSE(probe->isMultiRoot(rootFile));
    EXPECT_TRUE(probe->isMultiRoot(twoRoot));
    EXPECT_TRUE(probe->isMultiRoot(mixed));

    EXPECT_EQ(probe->check(oneFolder), 0);
    EXPECT_EQ(probe->entryCount(oneFolder), 2);
    EXPECT_EQ(probe->expandedSize(oneFolder), 5);
    const QVector<ListRow> rows = probe->listEntries(oneFolder);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].name, "a/x");
    EXPECT_EQ(rows[0].originalSize, "5");
    EXPECT_EQ(rows[1].originalSize, "-"); // size 0
    EXPECT_NE(rows[0].date, "-");

    // Hostile and odd inputs give the "nothing found" answers; what cannot be
    // listed gets a folder of its own.
    writeFile(home.path("in/empty.zip"), "");
    QDir().mkpath(home.path("in/folder.zip"));
    for (const QString &odd : {home.path("in/empty.zip"), home.path("in/folder.zip"), home.path("in/gone.zip")}) {
        EXPECT_EQ(probe->check(odd), 999) << odd.toStdString();
        EXPECT_EQ(probe->entryCount(odd), 0);
        EXPECT_EQ(probe->expandedSize(odd), 0);
        EXPECT_TRUE(probe->isMultiRoot(odd));
        EXPECT_TRUE(probe->listEntries(odd).isEmpty());
    }
    EXPECT_EQ(probe->check(home.path("in/gone.lzh")), 2);
}

TEST_F(RealComponentsTest, RealArchivesThroughTheAdapter)
{
    const QString cab = home.path("in/two-folders.cab"), tar = home.path("in/long-names.tar");
    ASSERT_TRUE(makeToolArchive("cab_stored.cab", cab));
    ASSERT_TRUE(makeToolArchive("gnu_long_names.tar", tar));
    EXPECT_EQ(probe->entryCount(storedArchive("lha_lh6.lzh")), 6);
    EXPECT_EQ(probe->check(cab), 0);
    EXPECT_EQ(probe->check(storedArchive("7zip_malformed.7z")), 2);
    EXPECT_TRUE(probe->isMultiRoot(cab));
    EXPECT_EQ(probe->expandedSize(storedArchive("rar5_compressed.rar")), 1200);
    // An empty file and a link: nothing to expand.
    EXPECT_EQ(probe->expandedSize(tar), 0);
    // A self-extractor holding a zip: the zip and the 7z components both read
    // it, and the later one in the detection order wins.
    QByteArray stub(0x28000, '\0');
    stub[0] = 'M';
    stub[1] = 'Z';
    writeFile(home.path("in/setup.exe"), stub + writeArchive({file("inside/a.txt")}, "zip"));
    const ArchiveFormat setup = probe->identify(home.path("in/setup.exe"));
    EXPECT_EQ(setup.formatInside(), "7Z");
    EXPECT_EQ(setup.viewerType, "SevenZip");
    EXPECT_EQ(probe->check(home.path("in/setup.exe")), 0);
    EXPECT_EQ(probe->entryCount(home.path("in/setup.exe")), 1);
    EXPECT_FALSE(probe->isMultiRoot(home.path("in/setup.exe")));
}

} // namespace
