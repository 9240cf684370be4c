// The components' command-line reader, in every dialect: extraction, test,
// listing, and the delete and add forms, up to the request the decoder
// process reads back. The first byte picks the dialect, the rest is the line.
#include "FuzzCheck.h"
#include "core/CommandLine.h"
#include "core/ComponentApi.h"
#include "core/Wire.h"
#include "core/WriteCommands.h"
#include "worker/Requests.h"

#include <cstdint>
#include <string>

using namespace salvo::arc;

namespace {

constexpr ComponentTraits kTraits[] = {
    {Dialect::Unlha, kLha, 100, 0},  {Dialect::UnZip, kZip, 100, 0}, {Dialect::SevenZip, kSevenZip, 100, 0},
    {Dialect::Cab, kCab, 100, 0},    {Dialect::Unrar, kRar, 100, 0}, {Dialect::Tar, kTar, 100, 0},
    {Dialect::Zip, kZip, 100, 0},
};

bool endsWithSeparator(const std::string &s)
{
    return !s.empty() && (s.back() == '/' || s.back() == '\\');
}

void checkTokens(const std::string &line)
{
    const std::vector<std::string> tokens = tokenize(line);
    // A token never keeps a quote, so quoting every token gives the same tokens back.
    std::string quoted;
    for (const std::string &t : tokens) {
        FUZZ_CHECK(t.find('"') == std::string::npos);
        quoted += "\"" + t + "\" ";
    }
    FUZZ_CHECK(tokenize(quoted) == tokens);
}

void checkCommand(const ComponentTraits &traits, const Command &c)
{
    FUZZ_CHECK(c.verb != Verb::None);
    FUZZ_CHECK(!c.outputDir.empty());
    FUZZ_CHECK(c.outputDir.size() == 1 || !endsWithSeparator(c.outputDir));
    FUZZ_CHECK(c.targetFolder.empty() || (c.targetFolder.front() != '/' && c.targetFolder.back() != '/'));
    FUZZ_CHECK(c.targetFolder.find('\\') == std::string::npos);
    FUZZ_CHECK(c.quotedNames.size() == c.names.size());
    for (const std::string &name : c.names) {
        // Entry names and masks read "\\" as "/"; exact names and the paths
        // of an add keep it.
        FUZZ_CHECK(c.exactNames || c.verb == Verb::Add || name.find('\\') == std::string::npos);
        // Every name selects at least the entry of that very name.
        FUZZ_CHECK(matchesName(name, name));
        FUZZ_CHECK(matchesName(name, "*"));
    }

    if (c.verb != Verb::Delete && c.verb != Verb::Add)
        return;
    // The request the decoder reads back holds what the command said.
    const bool adding = c.verb == Verb::Add;
    const std::string message = writeRequestMessage(traits, c, "/archive/" + c.archive, "/archive/.tmp");
    WireReader in(message);
    FUZZ_CHECK(in.kind() == (adding ? Msg::Add : Msg::Delete));
    WriteRequest req;
    FUZZ_CHECK(readWriteRequest(in, adding, &req));
    FUZZ_CHECK(req.archive == "/archive/" + c.archive);
    FUZZ_CHECK(req.formats == traits.formats);
    FUZZ_CHECK(req.tempPath == "/archive/.tmp");
    FUZZ_CHECK(req.names == c.names);
    FUZZ_CHECK(req.quotedNames == c.quotedNames);
    FUZZ_CHECK(req.exactNames == c.exactNames);
    if (adding) {
        const WriteKind kind = c.archiveType == "zip" ? WriteKind::Zip
                               : c.archiveType == "7z" ? WriteKind::SevenZip
                                                       : WriteKind::Any;
        FUZZ_CHECK(req.kind == kind);
        FUZZ_CHECK(req.recursive == c.recursive && req.noFolderEntries == c.noFolderEntries
                   && req.updateOnly == c.updateOnly && req.solid == c.solid);
        FUZZ_CHECK(req.targetFolder == c.targetFolder);
        FUZZ_CHECK(!req.baseDir.empty() && req.baseDir.front() == '/');
        FUZZ_CHECK(req.baseDir.size() >= c.outputDir.size()
                   && req.baseDir.compare(req.baseDir.size() - c.outputDir.size(), std::string::npos, c.outputDir) == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const ComponentTraits &traits = kTraits[data[0] % std::size(kTraits)];
    const std::string line(reinterpret_cast<const char *>(data) + 1, size - 1);

    checkTokens(line);
    if (const std::optional<Command> c = parseCommand(traits.dialect, line))
        checkCommand(traits, *c);

    // The decoder reads whatever bytes arrive without reading past them.
    const std::string raw(reinterpret_cast<const char *>(data), size);
    WireReader in(raw);
    WriteRequest req;
    readWriteRequest(in, (data[0] & 1) != 0, &req);
    return 0;
}
