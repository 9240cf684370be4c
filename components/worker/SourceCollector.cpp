#include "SourceCollector.h"

#include "core/CommandLine.h"
#include "salvo_archiver.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace salvo::arc {
namespace {

std::string joinPath(const std::string &folder, const std::string &name)
{
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string joinName(const std::string &folder, const std::string &name)
{
    return folder.empty() ? name : folder + "/" + name;
}

} // namespace

bool SourceCollector::failWith(int code, std::string text)
{
    m_code = code;
    m_message += text + "\n";
    return false;
}

bool SourceCollector::addNamed(const std::string &path, const std::string &name)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return failWith(SALVO_E_NOT_FIND_FILE, "追加するファイルが見つかりません: " + path);
    return addItem(path, name, st, true);
}

bool SourceCollector::addMatching(const std::string &folder, const std::string &prefix, const std::string &mask,
                                  bool recursive)
{
    std::vector<std::pair<std::string, struct stat>> children;
    if (!listFolder(folder, &children))
        return false;
    for (const auto &[child, st] : children) {
        const std::string path = joinPath(folder, child), name = joinName(prefix, child);
        if (S_ISDIR(st.st_mode)) {
            if (!recursive || !enterFolder(st))
                continue;
            bool fresh = false;
            if (!claim(name, path, st, &fresh))
                return false;
            if (fresh)
                m_items.push_back(NewItem{name, path, true, st});
            if (!addMatching(path, name, mask, true))
                return false;
        } else if (matchesName(child, mask) && !addItem(path, name, st, false)) {
            return false;
        }
    }
    return true;
}

bool SourceCollector::enterFolder(const struct stat &st)
{
    // A folder reached twice through links is walked once.
    return m_visited.insert({st.st_dev, st.st_ino}).second;
}

bool SourceCollector::listFolder(const std::string &folder, std::vector<std::pair<std::string, struct stat>> *children)
{
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        return failWith(SALVO_E_NOT_FIND_FILE, "フォルダを読めません: " + folder);
    while (dirent *d = ::readdir(dir)) {
        const std::string child = d->d_name;
        if (child == "." || child == "..")
            continue;
        struct stat st {};
        if (::stat(joinPath(folder, child).c_str(), &st) != 0)
            continue; // a dangling link
        children->push_back({child, st});
    }
    ::closedir(dir);
    std::sort(children->begin(), children->end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    return true;
}

bool SourceCollector::claim(const std::string &name, const std::string &path, const struct stat &st, bool *fresh)
{
    const bool folder = S_ISDIR(st.st_mode);
    const auto [it, inserted] = m_claimed.try_emplace(name, Claim{st.st_dev, st.st_ino, folder, path});
    *fresh = inserted;
    if (inserted)
        return true;
    const Claim &first = it->second;
    // The same file twice, or two folders whose contents meet under one name.
    if ((first.dev == st.st_dev && first.ino == st.st_ino) || (first.folder && folder))
        return true;
    return failWith(SALVO_E_FILE_OPEN,
                    "同じ名前で追加されるファイルが複数あります: " + name + " (" + first.path + ", " + path + ")");
}

bool SourceCollector::addItem(const std::string &path, const std::string &name, const struct stat &st, bool named)
{
    if (st.st_dev == m_archive.st_dev && st.st_ino == m_archive.st_ino)
        return failWith(SALVO_E_FILE_OPEN, "書庫をそれ自身に追加することはできません: " + path);
    if (S_ISDIR(st.st_mode)) {
        // A folder brings its whole tree, whatever the recursion switch says
        // about masks.
        if (!enterFolder(st))
            return true;
        bool fresh = false;
        if (!claim(name, path, st, &fresh))
            return false;
        if (fresh)
            m_items.push_back(NewItem{name, path, true, st});
        return addMatching(path, name, "*", true);
    }
    if (!S_ISREG(st.st_mode))
        return failWith(SALVO_E_UNKNOWN_TYPE, "通常のファイルではないため追加できません: " + path);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return failWith(named ? SALVO_E_NOT_FIND_FILE : SALVO_E_FILE_OPEN, "追加するファイルを読めません: " + path);
    ::close(fd);
    bool fresh = false;
    if (!claim(name, path, st, &fresh))
        return false;
    if (fresh) {
        m_items.push_back(NewItem{name, path, false, st});
        ++m_files;
    }
    return true;
}

} // namespace salvo::arc
