// Hostile archives: nothing is ever written outside the output folder, no
// device, pipe or set-uid file is made, and each such archive fails as a whole.
#include "support/ArchiveBuilder.h"
#include "support/ComponentLib.h"
#include "support/TestEnvironment.h"
#include "support/TreeSnapshot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace salvo::test;

namespace {

struct Hostile {
    const char *name;
    std::function<QByteArray()> make;
    // Extracting without folders takes away what some cases rely on.
    bool flatFailsToo = true;
};

class SecurityTest : public ::testing::TestWithParam<Hostile> {
protected:
    TempHome home;
    // The output folder sits two levels below the sentinel's parent, so that
    // "../" and "../../" both land beside the sentinel.
    QString out = home.path("work/area/out");
    QString sentinel = home.path("work/sentinel");
};

const std::vector<Hostile> kHostile{
    {"zip_dotdot.zip", [] { return storedZip({{"ok.txt", "ok"}, {"../../evil.txt", "evil"}}); }},
    {"zip_absolute.zip", [] { return storedZip({{"/tmp/salvo-evil.txt", "evil"}}); }},
    {"zip_backslash.zip", [] { return storedZip({{"..\\..\\evil.txt", "evil"}}); }},
    {"zip_drive.zip", [] { return storedZip({{"C:\\evil.txt", "evil"}}); }},
    {"lzh_dotdot.lzh", [] { return storedLzh({{"..\\..\\evil.txt", "evil"}}, 0); }},
    // ".." inside a name, not only at its start.
    {"zip_dotdot_inside.zip", [] { return storedZip({{"ok.txt", "ok"}, {"ok/../../../sentinel/evil.txt", "evil"}}); }},
    {"lzh_dotdot_inside.lzh", [] { return storedLzh({{"a\\..\\..\\..\\sentinel\\evil.txt", "evil"}}, 0); }},
    {"tar_dotdot_inside.tar", [] { return writeArchive({{"a/b/../../../../sentinel/evil.txt", "evil"}}, "ustar"); }},
    {"tar_dotdot.tar", [] { return writeArchive({{"../../sentinel/evil.txt", "evil"}}, "ustar"); }},
    {"tar_absolute.tar", [] { return writeArchive({{"/tmp/salvo-evil.txt", "evil"}}, "pax"); }},
    {"7z_dotdot.7z", [] { return writeArchive({{"../../sentinel/evil.txt", "evil"}}, "7zip"); }},
    {"tar_symlink_then_file.tar",
     [] {
         return writeArchive({{"link", {}, EntryKind::Symlink, "../../sentinel"},
                              {"link/evil.txt", "evil"}},
                             "pax");
     }},
    {"tar_symlink_inside_then_file.tar",
     [] {
         return writeArchive({{"real", {}, EntryKind::Folder, {}, 0755},
                              {"link", {}, EntryKind::Symlink, "real"},
                              {"link/through.txt", "through"}},
                             "pax");
     },
     false},
    {"tar_symlink_outside.tar",
     [] { return writeArchive({{"escape", {}, EntryKind::Symlink, "../../sentinel/secret.txt"}}, "pax"); }},
    {"tar_symlink_absolute.tar",
     [] { return writeArchive({{"escape", {}, EntryKind::Symlink, "/etc/passwd"}}, "pax"); }},
    // Each link stays inside by its text; followed through the others they lead out.
    {"tar_link_chain.tar",
     [] {
         return writeArchive({{"s", {}, EntryKind::Symlink, "."}, {"x", {}, EntryKind::Symlink, "s/.."}}, "pax");
     }},
    {"tar_link_chain_made_later.tar",
     [] {
         return writeArchive({{"x", {}, EntryKind::Symlink, "s/.."}, {"s", {}, EntryKind::Symlink, "."}}, "pax");
     }},
    {"tar_link_chain_to_sentinel.tar",
     [] {
         return writeArchive({{"s", {}, EntryKind::Symlink, "."},
                              {"up", {}, EntryKind::Symlink, "s/.."},
                              {"over", {}, EntryKind::Symlink, "up/../sentinel"}},
                             "pax");
     }},
    {"tar_link_chain_in_folder.tar",
     [] {
         return writeArchive({{"d", {}, EntryKind::Folder, {}, 0755},
                              {"d/s", {}, EntryKind::Symlink, "."},
                              {"d/x", {}, EntryKind::Symlink, "s/../.."}},
                             "pax");
     },
     false},
    {"zip_link_chain.zip",
     [] { return storedZip({{"s", ".", false, false, 0120777}, {"x", "s/..", false, false, 0120777}}); }},
    {"tar_hardlink_outside.tar",
     [] { return writeArchive({{"hard", {}, EntryKind::HardLink, "../../sentinel/secret.txt"}}, "pax"); }},
    {"tar_hardlink_absolute.tar",
     [] { return writeArchive({{"hard", {}, EntryKind::HardLink, "/etc/passwd"}}, "pax"); }},
    {"tar_fifo.tar", [] { return writeArchive({{"pipe", {}, EntryKind::Fifo}}, "pax"); }},
    {"tar_setuid.tar", [] { return writeArchive({{"suid", "#!/bin/sh\n", EntryKind::File, {}, 04755}}, "pax"); }},
    {"tar_setgid.tgz",
     [] { return writeArchive({{"sgid", "#!/bin/sh\n", EntryKind::File, {}, 02755}}, "pax", "gzip"); }},
};

TEST_P(SecurityTest, NothingEscapesAndTheArchiveFails)
{
    const Hostile &h = GetParam();
    writeFile(sentinel + "/secret.txt", "secret");
    const auto before = snapshot(home.path("work/sentinel"));
    const std::string archive = home.path(QStringLiteral("in/%1").arg(h.name)).toStdString();
    writeFile(QString::fromStdString(archive), h.make());

    const ComponentChoice c = componentFor(archive);
    ComponentLib lib(c.file, c.prefix);
    std::string output;
    for (bool flat : {false, true}) {
        if (flat && !h.flatFailsToo)
            continue;
        const int result = lib.run(extractCommand(c.prefix, archive, out.toStdString(), flat), &output);
        EXPECT_NE(result, 0) << h.name << (flat ? " flat" : "");
        EXPECT_FALSE(output.empty());
        EXPECT_TRUE(snapshot(out).empty()) << h.name << ": the output folder holds what the failed archive wrote";
    }
    EXPECT_EQ(snapshot(home.path("work/sentinel")), before);
    // The folders made for the failed archive are gone again, and nothing else came.
    EXPECT_EQ(QDir(home.path("work")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"sentinel"}));
    EXPECT_FALSE(QFile::exists("/tmp/salvo-evil.txt"));
}

INSTANTIATE_TEST_SUITE_P(Hostile, SecurityTest, ::testing::ValuesIn(kHostile), [](const auto &info) {
    std::string n = info.param.name;
    for (char &ch : n) {
        if (!isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    }
    return n;
});

TEST(SecurityLinks, LinksThatStayInsideAreMade)
{
    TempHome home;
    const QString out = home.path("out");
    const std::string archive = home.path("in/links.tar").toStdString();
    writeFile(QString::fromStdString(archive),
              writeArchive({{"dir/file.txt", "data"},
                            {"dir/rel", {}, EntryKind::Symlink, "file.txt"},
                            {"up", {}, EntryKind::Symlink, "dir/../dir/file.txt"},
                            {"hard", {}, EntryKind::HardLink, "dir/file.txt"}},
                           "pax"));
    ComponentLib lib("tar32.so", "Tar");
    std::string output;
    ASSERT_EQ(lib.run(extractCommand("Tar", archive, out.toStdString()), &output), 0) << output;
    const auto tree = snapshot(out);
    EXPECT_EQ(tree.at("dir/rel"), "link:file.txt");
    EXPECT_EQ(tree.at("up"), "link:dir/../dir/file.txt");
    EXPECT_EQ(tree.at("hard"), "file:data");
}

TEST(SecurityLinks, AnExistingLinkInTheOutputFolderIsReplacedNotFollowed)
{
    TempHome home;
    const QString out = home.path("out");
    writeFile(home.path("elsewhere/target.txt"), "keep me");
    QDir().mkpath(out);
    QFile::link(home.path("elsewhere/target.txt"), out + "/a.txt");
    QFile::link(home.path("elsewhere"), out + "/dir");
    const std::string archive = home.path("in/a.zip").toStdString();
    writeFile(QString::fromStdString(archive), storedZip({{"a.txt", "new"}, {"dir/b.txt", "b"}}));
    ComponentLib lib("unzip32.so", "UnZip");
    std::string output;
    ASSERT_EQ(lib.run(extractCommand("UnZip", archive, out.toStdString()), &output), 0) << output;
    EXPECT_EQ(readFile(home.path("elsewhere/target.txt")), "keep me");
    EXPECT_FALSE(QFile::exists(home.path("elsewhere/b.txt")));
    EXPECT_EQ(snapshot(out).at("a.txt"), "file:new");
    EXPECT_EQ(snapshot(out).at("dir/b.txt"), "file:b");
}

TEST(SecurityLinks, ALinkLeadingOutThroughALinkTheOutputFolderHeldIsRefused)
{
    // By its text the archive's link stays inside; through the link the output
    // folder already held (to an absolute place) it leads out.
    TempHome home;
    const QString out = home.path("out");
    writeFile(home.path("elsewhere/secret.txt"), "secret");
    QDir().mkpath(out);
    QFile::link(home.path("elsewhere"), out + "/held");
    const auto elsewhere = snapshot(home.path("elsewhere"));
    const std::string archive = home.path("in/through.tar").toStdString();
    writeFile(QString::fromStdString(archive),
              writeArchive({{"plain.txt", "plain"}, {"x", {}, EntryKind::Symlink, "held/secret.txt"}}, "pax"));
    ComponentLib lib("tar32.so", "Tar");
    std::string output;
    EXPECT_EQ(lib.run(extractCommand("Tar", archive, out.toStdString()), &output), SALVO_E_UNSAFE_PATH) << output;
    EXPECT_FALSE(QFileInfo(out + "/x").isSymLink());
    EXPECT_EQ(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
              QStringList{"held"});
    EXPECT_EQ(snapshot(home.path("elsewhere")), elsewhere);
}

} // namespace
