#include "OutputRoot.h"

#include "core/TreeRemoval.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace salvo::arc {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

std::vector<std::string> pathParts(const std::string &path)
{
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t slash = path.find('/', pos);
        if (slash == std::string::npos)
            slash = path.size();
        if (slash > pos)
            parts.push_back(path.substr(pos, slash - pos));
        pos = slash + 1;
    }
    return parts;
}

// Random letters that nobody can guess, so that no entry of an archive and no
// other user can take the staging folder's name before it is made.
std::string randomLetters(size_t count)
{
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string out;
    unsigned char bytes[32];
    while (out.size() < count) {
        if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
            continue;
        for (unsigned char b : bytes) {
            if (out.size() < count && b < 248) // 248 = 62 * 4: no letter more likely than another
                out.push_back(kLetters[b % 62]);
        }
    }
    return out;
}

} // namespace

std::unique_ptr<OutputRoot> OutputRoot::create(const std::string &outputDir, std::string *error)
{
    std::unique_ptr<OutputRoot> root(new OutputRoot);
    root->m_owner = true;
    root->m_outputPath = outputDir;
    const std::vector<std::string> parts = pathParts(outputDir);
    UniqueFd at(::open(!outputDir.empty() && outputDir.front() == '/' ? "/" : ".", kFolderFlags));
    if (!at.valid()) {
        *error = "展開先のフォルダを開けません: " + outputDir;
        return nullptr;
    }
    for (size_t i = 0; i < parts.size(); ++i) {
        const char *name = parts[i].c_str();
        const bool last = i + 1 == parts.size();
        const bool making = !root->m_made.empty();
        // The parts before the last one are followed as the caller wrote them;
        // the folder itself, and every folder made here, never through a link.
        const int flags = kFolderFlags | (last || making ? O_NOFOLLOW : 0);
        UniqueFd next(making ? -1 : openat(at.get(), name, flags));
        if (!next.valid() && (making || errno == ENOENT)) {
            if (mkdirat(at.get(), name, 0777) != 0) {
                *error = "展開先のフォルダを作成できません: " + outputDir;
                root->removeMadeFolders();
                return nullptr;
            }
            if (!making)
                root->m_base.reset(fcntl(at.get(), F_DUPFD_CLOEXEC, 0));
            root->m_made.push_back(parts[i]);
            next.reset(openat(at.get(), name, kFolderFlags | O_NOFOLLOW));
        }
        if (!next.valid()) {
            struct stat st {};
            const bool link = fstatat(at.get(), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
            *error = (link ? "展開先のフォルダがリンクのため展開しません: " : "展開先のフォルダを開けません: ") + outputDir;
            root->removeMadeFolders();
            return nullptr;
        }
        at = std::move(next);
    }
    root->m_output = std::move(at);

    for (int attempt = 0; attempt < 16 && !root->m_staging.valid(); ++attempt) {
        const std::string name = kStagingPrefix + randomLetters(16);
        if (mkdirat(root->outputFd(), name.c_str(), 0700) != 0) {
            if (errno == EEXIST)
                continue;
            break;
        }
        root->m_stagingName = name;
        root->m_staging.reset(openat(root->outputFd(), name.c_str(), kFolderFlags | O_NOFOLLOW));
        if (!root->m_staging.valid()) {
            unlinkat(root->outputFd(), name.c_str(), AT_REMOVEDIR);
            break;
        }
    }
    if (!root->m_staging.valid()) {
        *error = "展開先のフォルダに書き込めません: " + outputDir;
        root->removeMadeFolders();
        return nullptr;
    }
    return root;
}

std::unique_ptr<OutputRoot> OutputRoot::adopt(const std::string &outputDir, UniqueFd output, UniqueFd staging)
{
    if (!output.valid() || !staging.valid())
        return nullptr;
    std::unique_ptr<OutputRoot> root(new OutputRoot);
    root->m_outputPath = outputDir;
    root->m_output = std::move(output);
    root->m_staging = std::move(staging);
    return root;
}

OutputRoot::~OutputRoot() = default;

void OutputRoot::removeStaging()
{
    if (!m_owner || !m_staging.valid())
        return;
    removeHeldFolder(m_output.get(), m_stagingName, m_staging.get());
}

void OutputRoot::removeMadeFolders()
{
    if (m_owner && m_base.valid())
        salvo::arc::removeMadeFolders(m_base.get(), m_made);
}

} // namespace salvo::arc
