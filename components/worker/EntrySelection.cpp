#include "EntrySelection.h"

#include "core/CommandLine.h"

#include <algorithm>

namespace salvo::arc {
namespace {

bool under(std::string_view name, std::string_view folder)
{
    return name.size() > folder.size() && name[folder.size()] == '/' && name.substr(0, folder.size()) == folder;
}

} // namespace

std::vector<size_t> entriesToDelete(const std::vector<ExistingEntry> &entries, const std::string &asked, bool masks)
{
    std::string name = asked;
    std::replace(name.begin(), name.end(), '\\', '/');
    const bool folderMark = !name.empty() && name.back() == '/';
    if (folderMark)
        name.pop_back();
    std::vector<bool> taken(entries.size(), false);
    std::vector<std::string_view> folders;
    auto takeNamed = [&](bool folder) {
        bool any = false;
        for (size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].folder == folder && entries[i].name == name) {
                taken[i] = any = true;
                if (folder)
                    folders.push_back(entries[i].name);
            }
        }
        return any;
    };
    // The name as listed: a file, or a folder with its "/". A folder named
    // without its "/" by a caller that does not add one is found next.
    bool found = folderMark ? takeNamed(true) : takeNamed(false) || takeNamed(true);
    // A folder that has no entry of its own but holds entries, named with its "/".
    if (!found && folderMark && !name.empty()
        && std::any_of(entries.begin(), entries.end(), [&](const ExistingEntry &e) { return under(e.name, name); })) {
        folders.push_back(name);
        found = true;
    }
    if (!found && masks && !folderMark && name.find_first_of("*?") != std::string::npos) {
        for (size_t i = 0; i < entries.size(); ++i) {
            if (matchesName(entries[i].name, name)) {
                taken[i] = found = true;
                if (entries[i].folder)
                    folders.push_back(entries[i].name);
            }
        }
    }
    for (std::string_view folder : folders) {
        for (size_t i = 0; i < entries.size(); ++i) {
            if (under(entries[i].name, folder))
                taken[i] = true;
        }
    }
    std::vector<size_t> out;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (taken[i])
            out.push_back(i);
    }
    return out;
}

EntryIndex::EntryIndex(const std::vector<ExistingEntry> &entries)
{
    m_byName.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        m_byName[entries[i].name].push_back(i);
}

const std::vector<size_t> &EntryIndex::find(std::string_view name) const
{
    static const std::vector<size_t> kNone;
    const auto it = m_byName.find(name);
    return it == m_byName.end() ? kNone : it->second;
}

} // namespace salvo::arc
