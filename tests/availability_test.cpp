// Which components are present, and how "DllStatus.ini" is reused, refreshed,
// discarded and recovered from.
#include "archivers/Availability.h"
#include "settings/ProfileFile.h"
#include "support/TestEnvironment.h"

#include <QDate>
#include <QDir>
#include <QFile>

using namespace salvo;
using namespace salvo::test;

namespace {

class AvailabilityTest : public ::testing::Test {
protected:
    TempHome home;
    QString libDir = home.path("lib");
    QString binDir = home.path("bin");
    ComponentLocator locator{home.myPath(), {libDir}, {home.myPath(), binDir}};
    ProfileFile status{home.myPath() + "DllStatus.ini"};
    QStringList errors;
    std::function<void(const QString &)> reportError = [this](const QString &message) { errors << message; };
    QDate today{2026, 12, 8};

    void install(const QString &path, bool executable = false)
    {
        writeFile(path, "#!/bin/sh\n");
        if (executable)
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    void writeStatus(int ageDays, int version, std::initializer_list<std::pair<const char *, const char *>> rows)
    {
        status.writeText("VALUE", "WRITEDAY", today.addDays(-ageDays).toString("yyyy/MM/dd"));
        status.writeText("VALUE", "VERSION", QString::number(version));
        for (const auto &[key, value] : rows)
            status.writeText("DLLSTATUS", key, value);
    }
};

TEST_F(AvailabilityTest, FreshSearchWritesEveryKey)
{
    install(libDir + "/unlha32.so");
    install(libDir + "/7-zip32.so");
    install(binDir + "/rk", true);
    install(binDir + "/yz2dec", true); // on the search path, but not in the program folder
    install(binDir + "/yz2enc");       // not executable: not a program

    const Availability a = settleAvailability(home.myPath(), locator, reportError, today);
    EXPECT_TRUE(a.has(Component::Basp21)); // the mailer is built in
    EXPECT_TRUE(a.has(Component::UnLha32));
    EXPECT_TRUE(a.has(Component::SevenZip32));
    EXPECT_FALSE(a.has(Component::UnZip32));
    EXPECT_TRUE(a.has(Component::RkExe));
    EXPECT_EQ(a.rkExePath, binDir + "/");
    EXPECT_FALSE(a.has(Component::Yz2Dec));
    EXPECT_FALSE(a.has(Component::Yz2Enc));
    EXPECT_EQ(a.files[int(Component::UnLha32)], libDir + "/unlha32.so");

    for (const ComponentInfo &info : componentTable()) {
        const QString value = status.readText("DLLSTATUS", info.recordKey, "absent");
        EXPECT_EQ(value, a.has(info.id) ? "True" : "False") << info.recordKey;
        if (info.pathKey) {
            EXPECT_NE(status.readText("DLLSTATUS", info.pathKey, "absent"), "absent") << info.pathKey;
        }
    }
    EXPECT_EQ(status.readText("DLLSTATUS", "RKEXEPath"), binDir + "/");
    EXPECT_EQ(status.readText("VALUE", "WRITEDAY"), "2026/12/08");
    EXPECT_EQ(status.readInt("VALUE", "VERSION"), kDllStatusVersion);
    EXPECT_TRUE(errors.empty());

    install(home.myPath() + "yz2dec", true);
    EXPECT_TRUE(settleAvailability(home.myPath(), locator, reportError, today).has(Component::Yz2Dec));
}

TEST_F(AvailabilityTest, ARecentFileIsReusedButAVanishedComponentIsNeverTrusted)
{
    install(libDir + "/unlha32.so");
    writeStatus(30, 129, {});
    settleAvailability(home.myPath(), locator, reportError, today.addDays(-30));
    ASSERT_EQ(status.readText("DLLSTATUS", "UNLHA32"), "True");

    // Thirty days later the file is still used. The components it records as
    // missing are searched again, which renews the day of writing.
    install(libDir + "/cab32.so");
    const Availability reused = settleAvailability(home.myPath(), locator, reportError, today);
    EXPECT_TRUE(reused.has(Component::UnLha32));
    EXPECT_TRUE(reused.has(Component::Cab32));
    EXPECT_EQ(status.readText("DLLSTATUS", "CAB32"), "True");
    EXPECT_EQ(status.readText("VALUE", "WRITEDAY"), "2026/12/08");

    // A component recorded present whose file has gone is not called.
    QFile::remove(libDir + "/unlha32.so");
    const Availability after = settleAvailability(home.myPath(), locator, reportError, today);
    EXPECT_FALSE(after.has(Component::UnLha32));
    EXPECT_EQ(status.readText("DLLSTATUS", "UNLHA32"), "False");
    EXPECT_EQ(status.readText("VALUE", "WRITEDAY"), "2026/12/08");
}

TEST_F(AvailabilityTest, OldOrLowVersionFilesAreDiscarded)
{
    for (const auto &[age, version] : {std::pair{31, 500}, std::pair{1, 128}, std::pair{-5, 500}}) {
        QFile::remove(status.path());
        writeStatus(age, version, {{"UNLHA32", "True"}, {"EXTRAKEY", "junk"}});
        const Availability a = settleAvailability(home.myPath(), locator, reportError, today);
        EXPECT_FALSE(a.has(Component::UnLha32)) << age << " " << version;
        EXPECT_EQ(status.readText("DLLSTATUS", "EXTRAKEY"), "") << "the old file was deleted";
        EXPECT_EQ(status.readText("VALUE", "WRITEDAY"), "2026/12/08");
    }
}

TEST_F(AvailabilityTest, ABrokenFileIsDeletedAndReported)
{
    install(libDir + "/unlha32.so");
    install(libDir + "/cab32.so");
    writeStatus(1, 129, {{"UNLHA32", "true"}, {"UNZIP32", "0"}, {"ZIP32J", "maybe"}, {"CAB32", "True"}});
    const Availability a = settleAvailability(home.myPath(), locator, reportError, today);
    EXPECT_FALSE(QFile::exists(status.path()));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0], QStringLiteral("SalvoExtractorの対応DLLが変化しました。\n"
                                        "Salvo Extractorを再起動して下さい。"));
    // The rows before the broken one count; the check stopped there.
    EXPECT_TRUE(a.has(Component::UnLha32));
    EXPECT_FALSE(a.has(Component::Cab32));

    // The next start rebuilds the file.
    const Availability next = settleAvailability(home.myPath(), locator, reportError, today);
    EXPECT_TRUE(next.has(Component::Cab32));
    EXPECT_EQ(errors.size(), 1);
}

} // namespace
