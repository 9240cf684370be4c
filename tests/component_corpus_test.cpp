// Archives made by other archivers: every component lists, counts and extracts
// them to the same tree and bytes as bsdtar, and fails cleanly on the broken and
// encrypted ones.
#include "support/ComponentLib.h"
#include "support/RealArchives.h"
#include "support/TestEnvironment.h"
#include "support/TreeSnapshot.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

using namespace salvo::test;

namespace {

QStringList realArchives()
{
    return storedArchiveNames() + toolArchiveNames();
}

// Names as bsdtar prints them: folders of some formats without the final "/".
QStringList withoutFolderMarks(QStringList names)
{
    for (QString &n : names) {
        if (n.endsWith('/'))
            n.chop(1);
    }
    return names;
}

class RealArchiveTest : public ::testing::TestWithParam<QString> {
protected:
    TempHome home;
};

TEST_P(RealArchiveTest, ListsCountsAndExtractsLikeBsdtar)
{
    const QString name = GetParam();
    // A copy in the test's own folder: the stored archives are never written to.
    const QString archive = home.path("in/" + name);
    QDir().mkpath(home.path("in"));
    QString error;
    if (storedArchiveNames().contains(name))
        ASSERT_TRUE(QFile::copy(storedArchive(name), archive));
    else
        ASSERT_TRUE(makeToolArchive(name, archive, &error)) << error.toStdString();
    const ComponentChoice choice = componentFor(name.toStdString());
    ComponentLib lib(choice.file, choice.prefix);
    ASSERT_TRUE(lib.loaded());

    // bsdtar is the reference: what it cannot extract, the component must refuse.
    const QString reference = home.path("bsdtar");
    QDir().mkpath(reference);
    const bool bsdtarExtracts = runProgram("bsdtar", {"-xf", archive, "-C", reference}) == 0;

    const QString mine = home.path("mine");
    std::string output;
    const int result = lib.run(extractCommand(choice.prefix, archive.toStdString(), mine.toStdString()), &output);
    if (!bsdtarExtracts) {
        EXPECT_NE(result, 0) << output;
        EXPECT_FALSE(output.empty());
        // Nothing of a failed archive stays behind.
        EXPECT_TRUE(snapshot(mine).empty());
        return;
    }
    ASSERT_EQ(result, 0) << output;
    EXPECT_EQ(snapshot(mine), snapshot(reference));

    QByteArray bsdtarList;
    ASSERT_EQ(runProgram("bsdtar", {"-tf", archive}, &bsdtarList), 0);
    const QStringList expectedNames = QString::fromUtf8(bsdtarList).split('\n', Qt::SkipEmptyParts);
    std::vector<ListedEntry> entries;
    ASSERT_TRUE(lib.list(archive.toStdString(), &entries));
    QStringList listedNames;
    for (const ListedEntry &e : entries)
        listedNames << QString::fromStdString(e.name);
    EXPECT_EQ(withoutFolderMarks(listedNames), withoutFolderMarks(expectedNames));
    EXPECT_EQ(lib.count(archive.toStdString()), expectedNames.size());
    EXPECT_EQ(lib.check(archive.toStdString(), 0), 1);
    EXPECT_EQ(lib.check(archive.toStdString(), 1), 1);
}

INSTANTIATE_TEST_SUITE_P(Real, RealArchiveTest, ::testing::ValuesIn(realArchives()),
                         [](const auto &info) {
                             QString n = info.param;
                             n.replace(QRegularExpression("[^A-Za-z0-9]"), "_");
                             return n.toStdString();
                         });

} // namespace
