#include "WriteCommands.h"

#include "Wire.h"
#include "WorkerClient.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace salvo::arc {
namespace {

void copyText(const std::string &text, char *output, uint32_t size)
{
    if (!output || size == 0)
        return;
    size_t n = std::min<size_t>(text.size(), size - 1);
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    std::memcpy(output, text.data(), n);
    output[n] = '\0';
}

std::string absolute(const std::string &path)
{
    if (path.empty() || path[0] == '/')
        return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd))
        return path;
    return std::string(cwd) + "/" + path;
}

// The archive's real path (symbolic links resolved), so that its replacement
// is made beside the file itself.
std::string realArchivePath(const std::string &path)
{
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved))
        return resolved;
    return absolute(path);
}

// A name for the replacement in the archive's folder, unique to this process.
std::string temporaryName(const std::string &archive)
{
    static std::atomic<unsigned> counter{0};
    const size_t slash = archive.find_last_of('/');
    const std::string folder = archive.substr(0, slash + 1), name = archive.substr(slash + 1);
    return folder + "." + name + ".salvo-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".tmp";
}

// The same file with the same contents, as far as its status tells.
bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size
        && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec
        && a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

} // namespace

std::string writeRequestMessage(const ComponentTraits &traits, const Command &command, const std::string &archive,
                                const std::string &temp)
{
    const bool adding = command.verb == Verb::Add;
    WireWriter w(adding ? Msg::Add : Msg::Delete);
    w.str(archive).u32(traits.formats).str(temp);
    if (adding) {
        uint32_t kind = 0;
        if (command.archiveType == "zip")
            kind = 1;
        else if (command.archiveType == "7z")
            kind = 2;
        const uint32_t flags = (command.recursive ? 1u : 0u) | (command.noFolderEntries ? 2u : 0u)
                               | (command.updateOnly ? 4u : 0u) | (command.solid ? 8u : 0u)
                               | (command.exactNames ? 16u : 0u);
        w.u32(kind).u32(flags).str(absolute(command.outputDir)).str(command.targetFolder);
    } else {
        w.u32(command.exactNames ? 1u : 0u);
    }
    w.u32(static_cast<uint32_t>(command.names.size()));
    for (size_t i = 0; i < command.names.size(); ++i) {
        w.str(command.names[i]);
        w.u32(i < command.quotedNames.size() && command.quotedNames[i] ? 1u : 0u);
    }
    return w.data();
}

int runWriteCommand(const ComponentTraits &traits, const Command &command, char *output, uint32_t outputSize)
{
    const bool adding = command.verb == Verb::Add;
    const std::string archive = realArchivePath(command.archive);
    const std::string temp = temporaryName(archive);
    struct stat before {};
    const bool known = ::stat(archive.c_str(), &before) == 0;
    bool replaced = false;
    CallHooks hooks;
    hooks.replaced = [&replaced] { replaced = true; };
    std::string reply;
    if (!WorkerClient::instance().call(writeRequestMessage(traits, command, archive, temp), &reply, hooks)) {
        // The decoder died. Before the rename its replacement file never took
        // the archive's place (a name it already had goes too); after it, the
        // archive is the new one, and the text says so.
        if (!replaced)
            ::unlink(temp.c_str());
        struct stat after {};
        const bool same = known && ::stat(archive.c_str(), &after) == 0 && sameFile(before, after);
        const std::string what = replaced ? "書庫の更新は済みましたが、その後で処理が異常終了しました。書庫は新しい内容に置き換えられています: "
                                 : same   ? "書庫の更新中に処理が異常終了しました。書庫は変更されていません: "
                                          : "書庫の更新中に処理が異常終了しました。書庫はその間に変更されています: ";
        copyText("0 " + std::to_string(adding ? 0 : command.names.size()) + "\n" + what + command.archive + "\n", output,
                 outputSize);
        return SALVO_E_WORKER;
    }
    WireReader r(reply);
    const int code = static_cast<int>(r.u32());
    const uint32_t done = r.u32(), requested = r.u32();
    const std::string message = r.str();
    if (!r.ok())
        return SALVO_E_INTERNAL;
    copyText(std::to_string(done) + " " + std::to_string(requested) + "\n" + message, output, outputSize);
    return code;
}

} // namespace salvo::arc
