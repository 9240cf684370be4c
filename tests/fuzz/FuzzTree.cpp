#include "FuzzTree.h"

#include "FuzzCheck.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace fuzz {
namespace {

std::string join(const std::string &a, const std::string &b)
{
    return a.empty() ? b : a + "/" + b;
}

std::vector<std::string> split(const std::string &s)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= s.size()) {
        size_t slash = s.find('/', start);
        if (slash == std::string::npos)
            slash = s.size();
        parts.push_back(s.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

std::string joinParts(const std::string &root, const std::vector<std::string> &parts)
{
    std::string p = root;
    for (const std::string &part : parts)
        p += "/" + part;
    return p;
}

void walk(const std::string &root, const std::string &relative, const std::string &skip, Tree *tree)
{
    const std::string dir = relative.empty() ? root : root + "/" + relative;
    DIR *d = opendir(dir.c_str());
    if (!d)
        return;
    std::vector<std::string> names;
    while (dirent *de = readdir(d)) {
        if (std::strcmp(de->d_name, ".") != 0 && std::strcmp(de->d_name, "..") != 0)
            names.emplace_back(de->d_name);
    }
    closedir(d);
    for (const std::string &name : names) {
        const std::string rel = join(relative, name), path = root + "/" + rel;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0)
            continue;
        Node node;
        if (S_ISDIR(st.st_mode)) {
            node.type = 'd';
            (*tree)[rel] = node;
            if (rel != skip)
                walk(root, rel, skip, tree);
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            node.type = 'l';
            char buf[4096];
            const ssize_t n = readlink(path.c_str(), buf, sizeof buf);
            node.target.assign(buf, n > 0 ? static_cast<size_t>(n) : 0);
        } else if (S_ISREG(st.st_mode)) {
            node.size = static_cast<uint64_t>(st.st_size);
            node.crc = crc32(0, nullptr, 0);
            const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            if (fd >= 0) {
                static char buf[1 << 16];
                ssize_t n;
                while ((n = read(fd, buf, sizeof buf)) > 0)
                    node.crc = crc32(node.crc, reinterpret_cast<const Bytef *>(buf), static_cast<uInt>(n));
                close(fd);
            }
        } else {
            node.type = '?';
        }
        (*tree)[rel] = node;
    }
}

} // namespace

Tree snapshot(const std::string &root, const std::string &skip)
{
    Tree tree;
    walk(root, std::string(), skip, &tree);
    return tree;
}

std::string describe(const Tree &tree)
{
    std::string out;
    for (const auto &[path, node] : tree) {
        out += "  " + std::string(1, node.type) + " " + path;
        if (node.type == 'f')
            out += " size " + std::to_string(node.size) + " crc " + std::to_string(node.crc);
        if (node.type == 'l')
            out += " -> " + node.target;
        out += "\n";
    }
    return out;
}

void removeAll(const std::string &path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        chmod(path.c_str(), 0700);
        if (DIR *d = opendir(path.c_str())) {
            std::vector<std::string> names;
            while (dirent *de = readdir(d)) {
                if (std::strcmp(de->d_name, ".") != 0 && std::strcmp(de->d_name, "..") != 0)
                    names.emplace_back(de->d_name);
            }
            closedir(d);
            for (const std::string &name : names)
                removeAll(path + "/" + name);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

bool staysInside(const std::string &root, std::vector<std::string> folder, const std::string &target)
{
    if (!target.empty() && target.front() == '/')
        return false;
    std::vector<std::string> pending = split(target);
    int hops = 0;
    while (!pending.empty()) {
        const std::string part = pending.front();
        pending.erase(pending.begin());
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (folder.empty())
                return false;
            folder.pop_back();
            continue;
        }
        folder.push_back(part);
        struct stat st {};
        if (lstat(joinParts(root, folder).c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            continue; // what is not there is followed by its text
        // The system gives up after 40 links; so does this walk (it stays where it was).
        if (++hops > 40)
            return true;
        char buf[4096];
        const ssize_t n = readlink(joinParts(root, folder).c_str(), buf, sizeof buf);
        const std::string link(buf, n > 0 ? static_cast<size_t>(n) : 0);
        if (!link.empty() && link.front() == '/')
            return false;
        folder.pop_back();
        std::vector<std::string> more = split(link);
        pending.insert(pending.begin(), more.begin(), more.end());
    }
    return true;
}

std::string linkLeadingOut(const std::string &root, const Tree &before)
{
    for (const auto &[path, node] : snapshot(root)) {
        if (node.type != 'l')
            continue;
        const auto old = before.find(path);
        if (old != before.end() && old->second == node)
            continue;
        std::vector<std::string> folder = split(path);
        folder.pop_back();
        if (!staysInside(root, folder, node.target))
            return path + " -> " + node.target;
    }
    return {};
}

Sandbox::Sandbox()
{
    // SALVO_FUZZ_SANDBOX names the folder when a run must be repeatable: the
    // paths then hold the same bytes in every run (the fuzzer learns from the
    // bytes the code compares). Else a fresh folder in memory when there is
    // one: the fuzzers make and remove thousands of files a second.
    const char *fixed = getenv("SALVO_FUZZ_SANDBOX");
    if (fixed && *fixed) {
        m_base = fixed;
        removeAll(m_base);
        FUZZ_CHECK(mkdir(m_base.c_str(), 0700) == 0);
    } else {
        const char *tmp = getenv("TMPDIR");
        std::string folder = tmp && *tmp ? tmp : "/tmp";
        if (access("/dev/shm", W_OK | X_OK) == 0)
            folder = "/dev/shm";
        std::string templ = folder + "/salvo-fuzz-XXXXXX";
        FUZZ_CHECK(mkdtemp(templ.data()) != nullptr);
        m_base = templ;
    }
    FUZZ_CHECK(mkdir((m_base + "/work").c_str(), 0700) == 0);
    m_out = m_base + "/work/out";
    FUZZ_CHECK(mkdir(m_out.c_str(), 0700) == 0);
    writeInput("../sentinel", "sentinel outside\n", 17);
    writeInput("sentinel", "sentinel beside the output folder\n", 34);
}

Sandbox::~Sandbox()
{
    removeAll(m_base);
}

std::string Sandbox::writeInput(const std::string &name, const void *bytes, size_t size)
{
    const std::string path = m_base + "/work/" + name;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(size == 0 || write(fd, bytes, size) == static_cast<ssize_t>(size));
    close(fd);
    m_outside = outside();
    return path;
}

void Sandbox::clearOut()
{
    removeAll(m_out);
    FUZZ_CHECK(mkdir(m_out.c_str(), 0700) == 0);
}

Tree Sandbox::outside() const
{
    return snapshot(m_base, "work/out");
}

void Sandbox::checkOutsideUnchanged() const
{
    const Tree now = outside();
    FUZZ_CHECK_MSG(now == m_outside, "outside the output folder, before:\n%s\nafter:\n%s", describe(m_outside).c_str(),
                   describe(now).c_str());
}

} // namespace fuzz

