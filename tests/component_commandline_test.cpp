// Every command line the program sends to a component, read by its dialect,
// and the entry names a component reads from an archive.
#include "core/CommandLine.h"
#include "engine/ExtractionCommands.h"
#include "worker/Names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

using namespace salvo::arc;

namespace {

struct Form {
    Dialect dialect;
    const char *line;
    bool flat;
    bool overwrite;
    std::vector<std::string> names;
};

// The components' dialect of each entry prefix of the program's extraction forms.
std::optional<Dialect> dialectOf(const char *prefix)
{
    const std::pair<const char *, Dialect> dialects[] = {{"Unlha", Dialect::Unlha}, {"UnZip", Dialect::UnZip},
                                                         {"SevenZip", Dialect::SevenZip}, {"Cab", Dialect::Cab},
                                                         {"Unrar", Dialect::Unrar}, {"Tar", Dialect::Tar}};
    for (const auto &[name, dialect] : dialects) {
        if (std::strcmp(prefix, name) == 0)
            return dialect;
    }
    return std::nullopt;
}

TEST(CommandLine, EveryExtractionFormTheProgramSends)
{
    // The lines come from the program's own form table, for every extension a
    // component here serves, flat and keeping the tree, overwriting and asking.
    salvo::Availability everything;
    everything.present.fill(true);
    std::vector<salvo::ExtractionRequest> requests;
    for (const salvo::ExtractionForm &form : salvo::extractionForms()) {
        if (!dialectOf(form.prefix))
            continue;
        for (const QString &ext : QString::fromLatin1(form.extensions).split(' '))
            requests.push_back({"/in/my archive." + ext.toLower(), "/out dir"});
    }
    requests.push_back({"/in/my archive.zip", "/out dir", {}, false, true});          // zip through 7-zip32
    requests.push_back({"/in/my archive.exe", "/out dir", {}, false, false, false, "LZH"}); // a self-extractor
    int lines = 0;
    for (salvo::ExtractionRequest r : requests) {
        for (const bool flat : {false, true}) {
            for (const auto policy : {salvo::OverwritePolicy::Overwrite, salvo::OverwritePolicy::Confirm}) {
                r.ignoreDirectories = flat;
                r.overwrite = policy;
                const salvo::ExtractionCall call = salvo::buildExtractionCall(r, everything);
                const std::string line = call.commandLine.toStdString();
                const auto c = parseCommand(*dialectOf(call.prefix), line);
                ASSERT_TRUE(c) << line;
                ++lines;
                EXPECT_EQ(c->verb, Verb::Extract) << line;
                EXPECT_EQ(c->flat, flat) << line;
                // tar32 has no overwrite switch and never asks.
                const bool overwriteSwitch = std::strcmp(call.prefix, "Tar") != 0;
                EXPECT_EQ(c->overwrite, overwriteSwitch && policy == salvo::OverwritePolicy::Overwrite) << line;
                EXPECT_EQ(c->archive, r.archive.toStdString()) << line;
                EXPECT_EQ(c->outputDir, "/out dir") << line;
                EXPECT_TRUE(c->names.empty()) << line;
            }
        }
    }
    EXPECT_EQ(lines, 4 * 33);
}

TEST(CommandLine, SingleEntryFormsOfTheViewer)
{
    const std::vector<Form> forms{
        {Dialect::Unlha, "x -c0 -m0  \"/a.lzh\" \"/o/\" dir/file.txt -y -jf0", false, true, {"dir/file.txt"}},
        {Dialect::Unlha, "e -c1 -m1 -y1  \"/a.lzh\" \"/o/\" \"my file.txt\" -y -jf0", true, true, {"my file.txt"}},
        {Dialect::Unlha, "e \"/a.exe\" \"/o/\" x.txt -y -jf0", true, true, {"x.txt"}},
        {Dialect::UnZip, "-x -o -s -V -i -C -qq \"/a.zip\" \"/o/\" d\\f.txt", false, true, {"d/f.txt"}},
        {Dialect::UnZip, "-x -j -s -V -i -C -qq \"/a.zip\" \"/o/\" f.txt", true, false, {"f.txt"}},
        {Dialect::SevenZip, "x -y \"/a.7z\" \"/o/\" f.txt", false, true, {"f.txt"}},
        {Dialect::SevenZip, "e \"/a.7z\" \"/o/\" f.txt", true, false, {"f.txt"}},
        {Dialect::Cab, "-x -j -o \"/a.exe\" \"/o/\" f.txt", true, true, {"f.txt"}},
        {Dialect::Unrar, "-e -y -o \"/a.rar\" \"/o/\" f.txt", true, true, {"f.txt"}},
        {Dialect::Unrar, "-x \"/a.rar\" \"/o/\" f.txt", false, false, {"f.txt"}},
        {Dialect::Tar, "-x --use-directory=0 \"/a.tgz\" \"/o/\" f.txt", true, false, {"f.txt"}},
        {Dialect::Tar, "-x --use-directory=1 \"/a.tgz\" \"/o/\" *", false, false, {"*"}},
        // A Windows-style folder with its trailing backslash.
        {Dialect::Cab, "-x \"/a.cab\" \"C:\\out\\\" *.*", false, false, {"*.*"}},
    };
    for (const Form &f : forms) {
        const auto c = parseCommand(f.dialect, f.line);
        ASSERT_TRUE(c) << f.line;
        EXPECT_EQ(c->verb, Verb::Extract) << f.line;
        EXPECT_EQ(c->flat, f.flat) << f.line;
        EXPECT_EQ(c->overwrite, f.overwrite) << f.line;
        EXPECT_EQ(c->names, f.names) << f.line;
    }
    EXPECT_EQ(parseCommand(Dialect::Cab, "-x \"/a.cab\" \"C:\\out\\\" *.*")->outputDir, "C:\\out");
}

TEST(CommandLine, QuotesBlanksUnknownSwitchesAndBadLines)
{
    // Blanks and tabs separate, double quotes group (the splitter's own cases
    // are in its test).
    const auto tabbed = parseCommand(Dialect::SevenZip, "x\t-y\t\"/in/a b.7z\"\t\"/o\tut/\"");
    ASSERT_TRUE(tabbed);
    EXPECT_TRUE(tabbed->overwrite);
    EXPECT_EQ(tabbed->archive, "/in/a b.7z");
    EXPECT_EQ(tabbed->outputDir, "/o\tut");
    const auto c = parseCommand(Dialect::SevenZip, "x -bd -mmt=on --weird \"/a.7z\" \"/o/\"");
    ASSERT_TRUE(c);
    EXPECT_FALSE(c->overwrite);
    // Without an output folder the archive's own folder is used.
    EXPECT_EQ(parseCommand(Dialect::SevenZip, "x \"/in/a.7z\"")->outputDir, "/in");
    EXPECT_EQ(parseCommand(Dialect::SevenZip, "x \"/a.7z\"")->outputDir, "/");
    EXPECT_FALSE(parseCommand(Dialect::SevenZip, "q \"/a.7z\" \"/o/\""));
    EXPECT_FALSE(parseCommand(Dialect::Unlha, "x"));
    EXPECT_FALSE(parseCommand(Dialect::Tar, "\"/a.tar\" \"/o/\""));
    EXPECT_EQ(parseCommand(Dialect::Zip, "-d \"/a.zip\" \"f.txt\"")->verb, Verb::Delete);
    EXPECT_EQ(parseCommand(Dialect::SevenZip, "d \"/a.7z\" \"f.txt\"")->verb, Verb::Delete);
}

TEST(CommandLine, QuotedArgumentsAreNamesAndAnOpenQuoteIsRefused)
{
    // Inside quotes every character but the quote is part of the name, and
    // what begins with a quote is never a verb or a switch.
    for (const std::string name : {"/in/a b.zip", "/in/x;rm -rf ~.zip", "/in/$(touch p).zip", "-o", "-y",
                                   "/in/new\nline.zip", "/in/tab\tname.zip", "x"}) {
        const auto c = parseCommand(Dialect::UnZip, "-x \"" + name + "\" \"/out dir/\"");
        ASSERT_TRUE(c) << name;
        EXPECT_EQ(c->archive, name);
        EXPECT_EQ(c->outputDir, "/out dir");
        EXPECT_FALSE(c->overwrite) << name;
        const auto seven = parseCommand(Dialect::SevenZip, "\"x\" \"" + name + "\"");
        EXPECT_FALSE(seven) << name; // "x" in quotes is an archive name, so no verb is left
    }
    // A name that held a quote leaves one open: the line is not one the program makes.
    EXPECT_FALSE(parseCommand(Dialect::UnZip, "-x \"/in/a\"b.zip\" \"/out/\""));
    EXPECT_FALSE(parseCommand(Dialect::Tar, "-x \"/in/a.tar"));
}

TEST(CommandLine, EveryDeleteAndAddFormTheViewerSends)
{
    struct WriteForm {
        Dialect dialect;
        const char *line;
        Verb verb;
        std::string target, type;
        bool recursive, noFolders, update, solid;
        std::vector<std::string> names;
    };
    const std::vector<WriteForm> forms{
        {Dialect::Unlha, "d -jyd \"/a.lzh\" \"f.txt\"", Verb::Delete, "", "", false, false, false, true, {"f.txt"}},
        {Dialect::Unlha, "d \"/a.lzh\" \"dir/f.txt\"", Verb::Delete, "", "", false, false, false, true, {"dir/f.txt"}},
        {Dialect::Zip, "-d \"/a.zip\" \"f.txt\"", Verb::Delete, "", "", false, false, false, true, {"f.txt"}},
        {Dialect::SevenZip, "d \"/a.7z\" \"f.txt\"", Verb::Delete, "", "", false, false, false, true, {"f.txt"}},
        // A folder entry as listed, with its separator, is a name to delete, not an output folder.
        {Dialect::Zip, "-d \"/a.zip\" \"dir/\"", Verb::Delete, "", "", false, false, false, true, {"dir/"}},
        {Dialect::Unlha, "d \"/a.lzh\" \"dir/\"", Verb::Delete, "", "", false, false, false, true, {"dir/"}},
        {Dialect::SevenZip, "d \"/a.7z\" \"dir/\"", Verb::Delete, "", "", false, false, false, true, {"dir/"}},
        {Dialect::Unlha, "a -x \"/a.lzh\" \"/b/\" \"/l.tmp\"", Verb::Add, "", "", false, false, false, true, {"/l.tmp"}},
        {Dialect::Unlha, "a -x \"/a.lzh\"  -jb\"x\\y z\" \"/b/\" \"/l.tmp\"", Verb::Add, "x/y z", "", false, false, false, true,
         {"/l.tmp"}},
        // "-D" stores no folder entries; it is not "-d", which deletes.
        {Dialect::Zip, "-u -S -D \"/a.zip\" \"/b/\" \"/l.tmp\"", Verb::Add, "", "", false, true, true, true, {"/l.tmp"}},
        {Dialect::Zip, "-u -S -D -r \"/a.zip\" \"/b/\" *.*", Verb::Add, "", "", true, true, true, true, {"*.*"}},
        {Dialect::SevenZip, "a -tzip \"/a.zip\" \"/b/\" \"/l.tmp\"", Verb::Add, "", "zip", false, false, false, true, {"/l.tmp"}},
        {Dialect::SevenZip, "a -tzip -r \"/a.zip\" \"/b/\" *.* -ms=off", Verb::Add, "", "zip", true, false, false, false, {"*.*"}},
        {Dialect::SevenZip, "a -t7z \"/a.7z\" \"/b/\" \"@/l.tmp\" -ms=off", Verb::Add, "", "7z", false, false, false, false,
         {"@/l.tmp"}},
        {Dialect::SevenZip, "a -t7z -r \"/a.7z\" \"/b/\" *.* -ms=off", Verb::Add, "", "7z", true, false, false, false, {"*.*"}},
    };
    for (const WriteForm &f : forms) {
        const auto c = parseCommand(f.dialect, f.line);
        ASSERT_TRUE(c) << f.line;
        EXPECT_EQ(c->verb, f.verb) << f.line;
        EXPECT_EQ(c->archive.substr(0, 3), "/a.") << f.line;
        if (f.verb == Verb::Add)
            EXPECT_EQ(c->outputDir, "/b") << f.line;
        EXPECT_EQ(c->targetFolder, f.target) << f.line;
        EXPECT_EQ(c->archiveType, f.type) << f.line;
        EXPECT_EQ(c->recursive, f.recursive) << f.line;
        EXPECT_EQ(c->noFolderEntries, f.noFolders) << f.line;
        EXPECT_EQ(c->updateOnly, f.update) << f.line;
        EXPECT_EQ(c->solid, f.solid) << f.line;
        EXPECT_EQ(c->names, f.names) << f.line;
    }
}

TEST(CommandLine, WildcardsAndNames)
{
    EXPECT_TRUE(matchesName("dir/a.txt", "*"));
    EXPECT_TRUE(matchesName("noext", "*.*"));
    EXPECT_TRUE(matchesName("dir/a.txt", "*.TXT"));
    EXPECT_TRUE(matchesName("dir/a.txt", "dir\\a.txt"));
    EXPECT_TRUE(matchesName("dir/a.txt", "a.tx?"));
    EXPECT_FALSE(matchesName("dir/a.txt", "other/a.txt"));
    EXPECT_FALSE(matchesName("dir/a.txt", "*.zip"));
    EXPECT_TRUE(matchesName(std::string(5000, 'a'), std::string(40, '*') + "b*") == false);
}

TEST(EntryNames, LegacyNamesAreDecodedBeforeTheirSeparatorsAreRead)
{
    // 表示\ソフト.txt in CP932: 表 and ソ end in 0x5C, the byte of the
    // backslash that separates folders in names made on Windows.
    const std::string raw = "\x95\x5c\x8e\xa6\x5c\x83\x5c\x83\x74\x83\x67.txt";
    // Names decided on the way (a compressed stream) and names of an archive
    // reopened with the code page whose decoding was left to us.
    NameDecoder onTheWay(true, false);
    onTheWay.observe("plain.txt");
    EXPECT_EQ(onTheWay.decode("dir\\plain.txt"), "dir/plain.txt");
    onTheWay.observe(raw);
    EXPECT_EQ(onTheWay.decode(raw), "表示/ソフト.txt");
    EXPECT_EQ(NameDecoder(true, true).decode(raw), "表示/ソフト.txt");
    // Where "\" is no separator (tar) it stays part of the name.
    NameDecoder tar(false, false);
    tar.observe(raw);
    EXPECT_EQ(tar.decode(raw), "表示\\ソフト.txt");
}

} // namespace
