// The extraction command line of every format and switch combination.
#include "engine/ExtractionCommands.h"

#include <gtest/gtest.h>

using namespace salvo;

namespace {

Availability everything()
{
    Availability a;
    a.present.fill(true);
    a.rkExePath = "/opt/rk tools/";
    a.yz2DecPath = "/opt/yz2/";
    return a;
}

constexpr auto O = OverwritePolicy::Overwrite;
constexpr auto C = OverwritePolicy::Confirm;

struct Case {
    const char *archive;
    OverwritePolicy overwrite;
    bool flat;
    const char *prefix;
    const char *line;
};

TEST(CommandLines, EveryFormatAndSwitch)
{
    const Availability a = everything();
    const Case cases[] = {
        {"/in/a.lzh", O, false, "Unlha", "x -c1 -m1 -y1 -jf0 \"/in/a.lzh\" \"/out/\""},
        {"/in/a.LHA", C, true, "Unlha", "e -c0 -m0 -jf0 \"/in/a.LHA\" \"/out/\""},
        {"/in/a.zip", O, false, "UnZip", "-x -o -s -V -i -C -qq \"/in/a.zip\" \"/out/\""},
        {"/in/a.zip", C, true, "UnZip", "-x -j -s -V -i -C -qq \"/in/a.zip\" \"/out/\""},
        {"/in/a.cab", O, true, "Cab", "-x -j -o \"/in/a.cab\" \"/out/\""},
        {"/in/a.gca", C, false, "UnGCA", "e -xx1 -yx1 -sx1 \"/in/a.gca\" \"/out/\""},
        {"/in/a.rar", O, false, "Unrar", "-x -y -o \"/in/a.rar\" \"/out/\""},
        {"/in/a.rar", C, true, "Unrar", "-e \"/in/a.rar\" \"/out/\""},
        {"/in/a.7z", O, true, "SevenZip", "e -y \"/in/a.7z\" \"/out/\""},
        {"/in/a.yz1", C, false, "Yz1", "x -x1 -y2 \"/in/a.yz1\" \"/out/\""},
        {"/in/a.arj", O, false, "Unarj", "x -y- \"/in/a.arj\" \"/out/\""},
        {"/in/a.ard", C, true, "Unarj", "e \"/in/a.ard\" \"/out/\""},
        {"/in/a.gza", O, true, "Bga", "x -a -j -o \"/in/a.gza\" \"/out/\""},
        {"/in/a.imp", C, false, "UnImp", "x -a -r -c2 \"/in/a.imp\" \"/out/\" *"},
        {"/in/a.hki", O, true, "UnHki", "e -ga0 \"/in/a.hki\" \"/out/\" *.*"},
        {"/in/a.kty", O, true, "Kty", "e c3 r \"/in/a.kty\" \"/out/\""},
        {"/in/a.kty", C, false, "Kty", "x c0 q r  \"/in/a.kty\" \"/out/\""},
        {"/in/a.tar.gz", O, false, "Tar", "-x --use-directory=1 \"/in/a.tar.gz\" \"/out/\""},
        {"/in/a.bz2", C, true, "Tar", "-x --use-directory=0 \"/in/a.bz2\" \"/out/\""},
        {"/in/a.tar.xz", O, false, "Tar", "-x --use-directory=1 \"/in/a.tar.xz\" \"/out/\""},
        {"/in/a.TZST", O, true, "Tar", "-x --use-directory=0 \"/in/a.TZST\" \"/out/\""},
        {"/in/a.lzma", C, false, "Tar", "-x --use-directory=1 \"/in/a.lzma\" \"/out/\""},
        {"/in/a.bel", O, true, "Unbel", " \"/in/a.bel\" \"/out/\""},
        {"/in/a.pqa", O, true, "Paqar", "e -q2 -b\"/out\" \"/in/a.pqa\""},
        {"/in/a.pqa", C, false, "Paqar", "x  -b\"/out\" \"/in/a.pqa\""},
        {"/in/Data.Lzh", O, false, "Unlha", "x -c1 -m1 -y1 -jf0 \"/in/Data.Lzh\" \"/out/\""},
    };
    for (const Case &c : cases) {
        ExtractionRequest r{c.archive, "/out", c.overwrite, c.flat};
        const ExtractionCall call = buildExtractionCall(r, a);
        EXPECT_EQ(call.kind, CallKind::Component) << c.archive;
        EXPECT_STREQ(call.prefix, c.prefix) << c.archive;
        EXPECT_EQ(call.commandLine, QString::fromUtf8(c.line)) << c.archive;
    }
}

TEST(CommandLines, ZipBy7zConsoleProgramsAndAce)
{
    Availability a = everything();
    ExtractionRequest zip{"/in/my a.zip", "/out dir", O, true, true};
    ExtractionCall call = buildExtractionCall(zip, a);
    EXPECT_STREQ(call.prefix, "SevenZip");
    EXPECT_EQ(call.commandLine, "e -y \"/in/my a.zip\" \"/out dir/\"");

    const ExtractionCall rk = buildExtractionCall({"/in/a.rk", "/out", O, false}, a);
    EXPECT_EQ(rk.kind, CallKind::Console);
    EXPECT_EQ(rk.commandLine, "\"/opt/rk tools/rk\" -x -y -O -D\"/out\" \"/in/a.rk\"");
    const ExtractionCall yz2 = buildExtractionCall({"/in/a.yz2", "/out", O, true}, a);
    EXPECT_EQ(yz2.commandLine, "/opt/yz2/yz2dec -y -d/out /in/a.yz2 -j");
    const ExtractionCall yz2Blank = buildExtractionCall({"/in/my a.yz2a6", "/o d", C, false}, a);
    EXPECT_EQ(yz2Blank.commandLine, "/opt/yz2/yz2dec -d\"/o d\" \"/in/my a.yz2a6\" -j");
    // The yz2dec line keeps 260 characters of a path: a longer one is refused,
    // not cut into the name of some other file.
    const QString deep = "/in/" + QString(300, 'd') + "/a.yz2";
    const ExtractionCall tooLong = buildExtractionCall({deep, "/out", O, false}, a);
    EXPECT_EQ(tooLong.kind, CallKind::Refused);
    EXPECT_TRUE(tooLong.refusal.endsWith(deep));
    EXPECT_EQ(buildExtractionCall({"/in/" + QString(300, 'd') + "/a.rk", "/out", O, false}, a).kind, CallKind::Console);
    // A double quote cannot be quoted: the archive or the folder holding one is refused in every form.
    for (const ExtractionRequest &r : {ExtractionRequest{"/in/a\" \"b.zip", "/out"}, ExtractionRequest{"/in/a.rk", "/o\"ut"},
                                       ExtractionRequest{"/in/\".yz2", "/out"}}) {
        const ExtractionCall refused = buildExtractionCall(r, a);
        EXPECT_EQ(refused.kind, CallKind::Refused) << r.archive.toStdString();
        EXPECT_TRUE(refused.commandLine.isEmpty());
    }

    ExtractionRequest ace{"/in/a.ace", "/out", C, false, false, true};
    EXPECT_EQ(buildExtractionCall(ace, a).commandLine, "x -y0 \"/in/a.ace\" \"/out/\"");
    ace.overwrite = O;
    EXPECT_EQ(buildExtractionCall(ace, a).kind, CallKind::AceV2);
    ace.overwrite = C;
    a.present[int(Component::UnAceV2)] = false;
    EXPECT_EQ(buildExtractionCall(ace, a).kind, CallKind::None);
}

TEST(CommandLines, SelfExtractorsMissingComponentsAndUnknownTypes)
{
    const Availability a = everything();
    ExtractionRequest exe{"/in/setup.exe", "/out", O, false, true, false, "LZH"};
    EXPECT_EQ(buildExtractionCall(exe, a).commandLine, "x -y -jf0 \"/in/setup.exe\" \"/out/\"");
    exe.overwrite = C;
    EXPECT_EQ(buildExtractionCall(exe, a).commandLine, "x -jf0 \"/in/setup.exe\" \"/out/\"");
    exe.sfxKind = "ZIP"; // zip-by-7z is not consulted
    EXPECT_STREQ(buildExtractionCall(exe, a).prefix, "UnZip");
    exe.sfxKind = "ACE";
    EXPECT_EQ(buildExtractionCall(exe, a).kind, CallKind::AceV2);
    exe.sfxKind = "RK";
    exe.overwrite = O;
    EXPECT_EQ(buildExtractionCall(exe, a).commandLine, "/opt/rk tools/rk -x -y -O -D\"/out\" \"/in/setup.exe\"");
    exe.sfxKind = "BGA";
    EXPECT_EQ(buildExtractionCall(exe, a).kind, CallKind::None);

    EXPECT_EQ(buildExtractionCall({"/in/a.txt", "/out"}, a).kind, CallKind::Unsupported);
    EXPECT_EQ(buildExtractionCall({"/in/noext", "/out"}, a).kind, CallKind::Unsupported);
    EXPECT_EQ(buildExtractionCall({"/in/a.lzh", "/out"}, Availability{}).kind, CallKind::None);

    Availability onlyZip, onlySeven, both;
    onlyZip.present[int(Component::UnZip32)] = true;
    onlySeven.present[int(Component::SevenZip32)] = true;
    both.present[int(Component::UnZip32)] = both.present[int(Component::SevenZip32)] = true;
    EXPECT_FALSE(zipBy7zFor(1, onlyZip));
    EXPECT_TRUE(zipBy7zFor(0, onlySeven));
    EXPECT_TRUE(zipBy7zFor(1, both));
    EXPECT_FALSE(zipBy7zFor(0, both));
    EXPECT_FALSE(zipBy7zFor(1, Availability{}));
}

} // namespace
