#pragma once
// The files and folders an add puts into an archive, each with the name it
// gets there: named files, named folders with everything under them, and the
// files a mask matches. Two different files that would get one name are an
// error, never a silent choice of one of them.
#include "ArchiveRewrite.h"

#include <set>
#include <string>
#include <sys/stat.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace salvo::arc {

class SourceCollector {
public:
    // `archive`: the archive written to, which is never added to itself.
    explicit SourceCollector(const struct stat &archive) : m_archive(archive) {}

    // A named file, or a named folder with its whole tree, as `name`.
    bool addNamed(const std::string &path, const std::string &name);
    // The files under `folder` whose names match `mask`, stored under
    // `prefix`; with `recursive`, in the folders below too (and those folders).
    bool addMatching(const std::string &folder, const std::string &prefix, const std::string &mask, bool recursive);

    int code() const { return m_code; }
    const std::string &message() const { return m_message; }
    std::vector<NewItem> &items() { return m_items; }
    // Files (not folders) found to add.
    int fileCount() const { return m_files; }

private:
    bool enterFolder(const struct stat &st);
    bool listFolder(const std::string &folder, std::vector<std::pair<std::string, struct stat>> *children);
    bool addItem(const std::string &path, const std::string &name, const struct stat &st, bool named);
    // False (an error) when another file already has the name; `*fresh` says
    // whether the item is new (a file or folder met again is added once).
    bool claim(const std::string &name, const std::string &path, const struct stat &st, bool *fresh);
    bool failWith(int code, std::string text);

    struct Claim {
        dev_t dev;
        ino_t ino;
        bool folder;
        std::string path;
    };
    struct stat m_archive;
    std::vector<NewItem> m_items;
    std::set<std::pair<dev_t, ino_t>> m_visited;
    std::unordered_map<std::string, Claim> m_claimed;
    int m_files = 0;
    int m_code = 0;
    std::string m_message;
};

} // namespace salvo::arc
