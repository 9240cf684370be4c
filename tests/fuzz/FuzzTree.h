#pragma once
// Folders for the fuzzers that write: a sandbox whose output folder sits below
// folders holding sentinel files, snapshots of trees, and the rule that no
// symbolic link in the output folder leads out of it.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fuzz {

struct Node {
    char type = 'f'; // 'f' file, 'd' folder, 'l' symbolic link
    uint64_t size = 0;
    uint32_t crc = 0;   // of a file's bytes
    std::string target; // of a link
    bool operator==(const Node &o) const
    {
        return type == o.type && size == o.size && crc == o.crc && target == o.target;
    }
};

inline Node folderNode()
{
    Node n;
    n.type = 'd';
    return n;
}

inline Node linkNode(const std::string &target)
{
    Node n;
    n.type = 'l';
    n.target = target;
    return n;
}

using Tree = std::map<std::string, Node>; // path relative to the root ("a/b") -> node

// Every entry below `root`, links not followed, nothing below the folder `skip`.
Tree snapshot(const std::string &root, const std::string &skip = {});
// The tree as lines, for messages.
std::string describe(const Tree &tree);

// Removes `path` and everything below it; links are removed, never followed.
void removeAll(const std::string &path);

// Whether `target`, read from the folder `folder` (parts relative to `root`)
// and followed through the links below `root`, stays inside `root`.
bool staysInside(const std::string &root, std::vector<std::string> folder, const std::string &target);
// The first link below `root` that leads out of it, or "". Links that were
// there before, unchanged, (`before`) are not counted themselves.
std::string linkLeadingOut(const std::string &root, const Tree &before = {});

class Sandbox {
public:
    // base/sentinel, base/work/sentinel and the output folder base/work/out.
    Sandbox();
    ~Sandbox();
    const std::string &base() const { return m_base; }
    const std::string &out() const { return m_out; }
    // A file outside the output folder holding `bytes`, named `name`.
    std::string writeInput(const std::string &name, const void *bytes, size_t size);
    // Empties the output folder (makes it anew when it is gone or no folder).
    void clearOut();
    // Takes what is outside the output folder now as the state to keep.
    void settle() { m_outside = outside(); }
    // Everything outside the output folder as it was when last settled
    // (writeInput settles too).
    void checkOutsideUnchanged() const;

private:
    Tree outside() const;
    std::string m_base, m_out;
    Tree m_outside;
};

} // namespace fuzz
