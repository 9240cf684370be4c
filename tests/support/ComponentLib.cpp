#include "ComponentLib.h"

#include "TreeSnapshot.h"

#include <QDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <dlfcn.h>

namespace salvo::test {

std::string buildDir()
{
    std::string exe = SALVO_BINARY;
    return exe.substr(0, exe.find_last_of('/'));
}

ComponentLib::ComponentLib(const std::string &file, const std::string &prefix) : m_prefix(prefix)
{
    m_handle = dlopen((buildDir() + "/" + file).c_str(), RTLD_NOW | RTLD_LOCAL);
}

ComponentLib::~ComponentLib()
{
    // Components stay loaded for the life of the process, as in the program.
}

void *ComponentLib::symbol(const std::string &suffix) const
{
    return m_handle ? dlsym(m_handle, (m_prefix + suffix).c_str()) : nullptr;
}

int ComponentLib::run(const std::string &command, std::string *output) const
{
    auto fn = reinterpret_cast<SALVO_MAIN_ENTRY>(symbol(""));
    char buffer[1024] = {};
    const int r = fn(nullptr, command.c_str(), buffer, sizeof buffer);
    if (output)
        *output = buffer;
    return r;
}

int ComponentLib::check(const std::string &archive, int mode) const
{
    return reinterpret_cast<SALVO_CHECK_ARCHIVE>(symbol("CheckArchive"))(archive.c_str(), mode);
}

int ComponentLib::count(const std::string &archive) const
{
    return reinterpret_cast<SALVO_GET_FILE_COUNT>(symbol("GetFileCount"))(archive.c_str());
}

bool ComponentLib::list(const std::string &archive, std::vector<ListedEntry> *entries, const char *wildcard) const
{
    auto open = reinterpret_cast<SALVO_OPEN_ARCHIVE>(symbol("OpenArchive"));
    auto first = reinterpret_cast<SALVO_FIND_FIRST>(symbol("FindFirst"));
    auto next = reinterpret_cast<SALVO_FIND_NEXT>(symbol("FindNext"));
    auto close = reinterpret_cast<SALVO_CLOSE_ARCHIVE>(symbol("CloseArchive"));
    auto size64 = reinterpret_cast<SALVO_GET_ORIGINAL_SIZE_EX>(symbol("GetOriginalSizeEx"));
    SALVO_HARC h = open(nullptr, archive.c_str(), SALVO_M_USE_DRIVE_LETTER);
    if (!h)
        return false;
    SALVO_INDIVIDUALINFO info;
    for (int r = first(h, wildcard, &info); r == 0; r = next(h, &info)) {
        ListedEntry e;
        e.name = info.szFileName;
        e.size32 = info.dwOriginalSize;
        e.date = info.wDate;
        e.time = info.wTime;
        size64(h, &e.size64);
        entries->push_back(e);
    }
    close(h);
    return true;
}

void ComponentLib::setCallback(SALVO_OVERWRITE_CALLBACK cb, void *user) const
{
    reinterpret_cast<SALVO_SET_OVERWRITE_CALLBACK>(symbol("SetOverwriteCallback"))(cb, user);
}

void ComponentLib::setCancelCallback(SALVO_CANCEL_CALLBACK cb, void *user) const
{
    reinterpret_cast<SALVO_SET_CANCEL_CALLBACK>(symbol("SetCancelCallback"))(cb, user);
}

Availability builtComponents(const QString &myPath)
{
    const QString build = QString::fromStdString(buildDir());
    const ComponentLocator locator(myPath, {build}, {build});
    Availability a;
    for (const ComponentInfo &info : componentTable()) {
        const QString file = locator.find(info);
        a.present[int(info.id)] = info.kind == SearchKind::BuiltIn || !file.isEmpty();
        a.files[int(info.id)] = file;
    }
    return a;
}

ComponentChoice componentFor(const std::string &archive)
{
    std::string ext = archive.substr(archive.find_last_of('.') + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
    if (ext == "lzh" || ext == "lha")
        return {"unlha32.so", "Unlha"};
    if (ext == "zip")
        return {"unzip32.so", "UnZip"};
    if (ext == "7z")
        return {"7-zip32.so", "SevenZip"};
    if (ext == "cab")
        return {"cab32.so", "Cab"};
    if (ext == "rar")
        return {"unrar32.so", "Unrar"};
    return {"tar32.so", "Tar"};
}

std::vector<std::string> listedNames(const std::string &archive)
{
    const ComponentChoice c = componentFor(archive);
    ComponentLib lib(c.file, c.prefix);
    std::vector<ListedEntry> entries;
    EXPECT_TRUE(lib.list(archive, &entries)) << archive;
    std::vector<std::string> out;
    for (const ListedEntry &e : entries)
        out.push_back(e.name);
    return out;
}

std::map<std::string, std::string> extractedTree(const std::string &archive, const QString &out)
{
    QDir(out).removeRecursively();
    const ComponentChoice c = componentFor(archive);
    ComponentLib lib(c.file, c.prefix);
    std::string text;
    EXPECT_EQ(lib.run(extractCommand(c.prefix, archive, out.toStdString()), &text), 0) << text;
    return snapshot(out);
}

} // namespace salvo::test
