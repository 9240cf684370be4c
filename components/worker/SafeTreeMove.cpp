// Moving what an extraction staged into the output folder: the questions
// first, then the links against what the output folder will hold, then the
// moves, then the links once more where they landed.
#include "SafeTree.h"

#include "Operations.h"
#include "core/TreeRemoval.h"
#include "salvo_archiver.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace salvo::arc {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

int writeErrorCode(int e)
{
    return (e == ENOSPC || e == EDQUOT || e == EFBIG) ? SALVO_E_DISK_SPACE : SALVO_E_CANNOT_WRITE;
}

std::string joined(const std::vector<std::string> &parts, size_t count)
{
    std::string out;
    for (size_t i = 0; i < count; ++i)
        out += (i ? "/" : "") + parts[i];
    return out;
}

Node nodeOf(const struct stat &st)
{
    if (S_ISDIR(st.st_mode))
        return Node::Folder;
    return S_ISLNK(st.st_mode) ? Node::Link : Node::Other;
}

// One name of a staged folder met on the walk, with what the output folder
// holds under the same name.
struct Pair {
    const std::string &name;
    const std::string &relative;
    int stagedDir, outputDir;
    const struct stat &staged;
    bool there; // the output folder has the name
    const struct stat &existing;
};

enum class Step { Next, Descend, Stop };

// Walks the staged tree in name order beside the output folder, going into a
// folder only where both hold a real folder of that name. It holds two
// descriptors whatever the depth (see FolderCursor). False, with the name
// where it stopped, when a folder could not be opened or was moved meanwhile.
bool walkPairs(int stagingFd, int outputFd, const std::function<Step(const Pair &)> &visit, std::string *broken)
{
    FolderCursor staged(stagingFd), output(outputFd);
    if (!staged.valid() || !output.valid()) {
        *broken = ".";
        return false;
    }
    struct Frame {
        std::string relative;
        std::vector<std::string> names;
        size_t next = 0;
    };
    auto names = [](int fd) {
        std::vector<std::string> n = folderNames(fd);
        // In name order, so that questions come in an order the user can follow.
        std::sort(n.begin(), n.end());
        return n;
    };
    std::vector<Frame> frames;
    frames.push_back({std::string(), names(staged.fd())});
    while (!frames.empty()) {
        Frame &frame = frames.back();
        if (frame.next == frame.names.size()) {
            frames.pop_back();
            if (!frames.empty() && !(staged.leave() && output.leave())) {
                *broken = frames.back().relative;
                return false;
            }
            continue;
        }
        const std::string name = frame.names[frame.next++];
        const std::string relative = frame.relative.empty() ? name : frame.relative + "/" + name;
        struct stat src {}, dst {};
        if (fstatat(staged.fd(), name.c_str(), &src, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const bool there = fstatat(output.fd(), name.c_str(), &dst, AT_SYMLINK_NOFOLLOW) == 0;
        const Step step = visit({name, relative, staged.fd(), output.fd(), src, there, dst});
        if (step == Step::Stop)
            return true;
        if (step != Step::Descend)
            continue;
        if (!staged.enter(name)) {
            *broken = relative;
            return false;
        }
        if (!output.enter(name)) {
            *broken = relative;
            return false;
        }
        frames.push_back({relative, names(staged.fd())});
    }
    return true;
}

} // namespace

bool SafeTree::protectedFile(const struct stat &st) const
{
    return std::find(m_protectedFiles.begin(), m_protectedFiles.end(), std::make_pair(st.st_dev, st.st_ino))
        != m_protectedFiles.end();
}

bool SafeTree::replaces(const std::string &relative) const
{
    const auto it = m_answers.find(relative);
    if (it != m_answers.end())
        return it->second;
    return m_policy == OverwritePolicy::Force || m_yesToAll;
}

// What is at `parts`: in the staging folder over the output folder as written
// so far (AsWritten), in the output folder once everything is moved as decided
// (Decided), or in the output folder as it is (Output). The staging folder's
// own name is not part of any of them.
SafeTree::Found SafeTree::lookup(const std::vector<std::string> &parts, View view)
{
    UniqueFd staged(view == View::Output ? -1 : fcntl(m_root->stagingFd(), F_DUPFD_CLOEXEC, 0));
    UniqueFd output(fcntl(m_root->outputFd(), F_DUPFD_CLOEXEC, 0));
    for (size_t i = 0; i < parts.size(); ++i) {
        const char *name = parts[i].c_str();
        struct stat s {}, d {};
        const bool inStaging = staged.valid() && fstatat(staged.get(), name, &s, AT_SYMLINK_NOFOLLOW) == 0;
        const bool inOutput = output.valid() && !(i == 0 && parts[0] == m_root->stagingName())
            && fstatat(output.get(), name, &d, AT_SYMLINK_NOFOLLOW) == 0;
        if (!inStaging && !inOutput)
            return {};
        bool fromStaging = inStaging, fromOutput = inOutput;
        if (inStaging && inOutput && !(S_ISDIR(s.st_mode) && S_ISDIR(d.st_mode))) {
            // An existing folder always stays; an existing file or link is
            // replaced as decided (as written so far: what was staged shows).
            const bool wins = !S_ISDIR(d.st_mode) && (view == View::AsWritten || replaces(joined(parts, i + 1)));
            fromStaging = wins;
            fromOutput = !wins;
        }
        const struct stat &st = fromStaging ? s : d;
        if (i + 1 == parts.size())
            return {nodeOf(st), fromStaging && !fromOutput, st.st_dev, st.st_ino};
        if (!S_ISDIR(st.st_mode))
            return {};
        staged.reset(fromStaging ? openat(staged.get(), name, kFolderFlags) : -1);
        output.reset(fromOutput ? openat(output.get(), name, kFolderFlags) : -1);
    }
    return {Node::Folder, false, 0, 0};
}

Node SafeTree::nodeForLinkRule(const std::vector<std::string> &parts, View view)
{
    const Found found = lookup(parts, view);
    if (found.node != Node::Link)
        return found.node;
    for (const StagedLink &link : m_links) {
        if (link.dev == found.dev && link.ino == found.ino)
            return Node::Link;
    }
    return Node::ForeignLink;
}

bool SafeTree::findProtected(std::string *clash)
{
    bool found = false;
    std::string broken;
    const bool walked = walkPairs(m_root->stagingFd(), m_root->outputFd(), [&](const Pair &p) {
        if (p.there && protectedFile(p.existing)) {
            *clash = p.relative;
            found = true;
            return Step::Stop;
        }
        return p.there && S_ISDIR(p.staged.st_mode) && S_ISDIR(p.existing.st_mode) ? Step::Descend : Step::Next;
    }, &broken);
    if (!walked) {
        *clash = broken;
        return true;
    }
    return found;
}

bool SafeTree::askEveryQuestion(MoveOutcome *out)
{
    std::string broken;
    const bool walked = walkPairs(m_root->stagingFd(), m_root->outputFd(), [&](const Pair &p) {
        if (!p.there || S_ISDIR(p.existing.st_mode))
            return p.there && S_ISDIR(p.staged.st_mode) ? Step::Descend : Step::Next;
        const bool asked = m_policy == OverwritePolicy::Ask && !m_yesToAll && !m_noToAll && m_ask;
        const int answer = decide(p.relative);
        if (answer == SALVO_ANSWER_CANCEL) {
            out->cancelled = true;
            out->message += "中止しました。\n";
            return Step::Stop;
        }
        if (asked)
            m_answers[p.relative] = answer == SALVO_ANSWER_YES || answer == SALVO_ANSWER_YES_TO_ALL;
        return Step::Next;
    }, &broken);
    if (!walked) {
        out->failed = true;
        out->failCode = SALVO_E_CANNOT_WRITE;
        out->message += "展開先のフォルダが途中で変わりました: " + broken + "\n";
    }
    return walked && !out->cancelled;
}

// Every link this extraction made that lands in `view` (not left out for an
// entry that stays) leads inside there.
bool SafeTree::linksLandInside(View view, std::string *offender)
{
    for (const StagedLink &link : m_links) {
        const Found found = lookup(link.parts, view);
        const bool landed = found.node == Node::Link && found.dev == link.dev && found.ino == link.ino
            && (view == View::Output || found.staged);
        if (!landed)
            continue;
        if (!linkStaysInside(link.parts, link.target,
                             [&](const std::vector<std::string> &at) { return nodeForLinkRule(at, view); })) {
            *offender = joined(link.parts, link.parts.size());
            return false;
        }
    }
    return true;
}

void SafeTree::place(MoveOutcome *out)
{
    auto fail = [out](int code, const std::string &text) {
        out->failed = true;
        out->failCode = code;
        out->message += text + "\n";
        return Step::Stop;
    };
    std::string broken;
    const bool walked = walkPairs(m_root->stagingFd(), m_root->outputFd(), [&](const Pair &p) {
        const char *n = p.name.c_str();
        if (!p.there) {
            // Never over something that appeared meanwhile: that is no move the user approved.
            if (renameat2(p.stagedDir, n, p.outputDir, n, RENAME_NOREPLACE) != 0)
                return fail(writeErrorCode(errno), "移動できません: " + p.relative);
            m_moved.push_back({p.relative, p.staged.st_dev, p.staged.st_ino, Moved::New});
            return Step::Next;
        }
        if (S_ISDIR(p.staged.st_mode) && S_ISDIR(p.existing.st_mode))
            return Step::Descend;
        if (S_ISDIR(p.existing.st_mode)) {
            ++out->kept;
            out->message += "同じ名前のフォルダがあるため展開しませんでした: " + p.relative + "\n";
            return Step::Next;
        }
        if (!replaces(p.relative)) {
            ++out->kept;
            out->message += "既存のファイルを残しました: " + p.relative + "\n";
            return Step::Next;
        }
        // The new entry and the old one trade places in one step (a link is
        // replaced, never followed): the old one waits in the staging folder
        // until the move is through, so that a failure can bring it back.
        if (renameat2(p.stagedDir, n, p.outputDir, n, RENAME_EXCHANGE) == 0) {
            m_moved.push_back({p.relative, p.staged.st_dev, p.staged.st_ino, Moved::Exchanged});
            return Step::Next;
        }
        // A file system without the exchange: replaced by name, the old entry lost.
        bool moved;
        if (S_ISDIR(p.staged.st_mode))
            moved = unlinkat(p.outputDir, n, 0) == 0 && renameat2(p.stagedDir, n, p.outputDir, n, RENAME_NOREPLACE) == 0;
        else
            moved = renameat(p.stagedDir, n, p.outputDir, n) == 0;
        if (!moved)
            return fail(writeErrorCode(errno), "上書きできません: " + p.relative);
        m_moved.push_back({p.relative, p.staged.st_dev, p.staged.st_ino, Moved::Replaced});
        return Step::Next;
    }, &broken);
    if (!walked)
        fail(SALVO_E_CANNOT_WRITE, "展開先のフォルダに移動できないものがあります: " + broken);
}

// The last resort when the moves could not all be taken back: this
// extraction's own links that lead out where they landed are removed.
void SafeTree::removeLinksLeadingOut()
{
    for (const StagedLink &link : m_links) {
        const Found found = lookup(link.parts, View::Output);
        if (found.node != Node::Link || found.dev != link.dev || found.ino != link.ino
            || linkStaysInside(link.parts, link.target,
                               [&](const std::vector<std::string> &at) { return nodeForLinkRule(at, View::Output); }))
            continue;
        FolderCursor at(m_root->outputFd());
        bool there = at.valid();
        for (size_t i = 0; i + 1 < link.parts.size() && there; ++i)
            there = at.enter(link.parts[i]);
        struct stat st {};
        if (there && fstatat(at.fd(), link.parts.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0
            && st.st_dev == link.dev && st.st_ino == link.ino)
            unlinkat(at.fd(), link.parts.back().c_str(), 0);
    }
}

// Puts back what the move put in place, the last first: an entry that was new
// goes back into the staging folder (which is then removed), one that was
// exchanged trades places again with the old one. Only the very entry the
// move put there is touched. False when not everything could be undone.
bool SafeTree::takeBack()
{
    bool all = true;
    for (auto it = m_moved.rbegin(); it != m_moved.rend(); ++it) {
        if (it->how == Moved::Replaced) {
            all = false; // what it replaced is gone
            continue;
        }
        std::vector<std::string> parts;
        for (size_t from = 0, slash; from <= it->relative.size(); from = slash + 1) {
            slash = it->relative.find('/', from);
            if (slash == std::string::npos)
                slash = it->relative.size();
            parts.push_back(it->relative.substr(from, slash - from));
        }
        FolderCursor output(m_root->outputFd()), staged(m_root->stagingFd());
        bool there = output.valid() && staged.valid();
        for (size_t i = 0; i + 1 < parts.size() && there; ++i)
            there = output.enter(parts[i]) && staged.enter(parts[i]);
        const char *leaf = parts.back().c_str();
        struct stat st {};
        bool ok = there && fstatat(output.fd(), leaf, &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == it->device
            && st.st_ino == it->inode;
        if (ok && it->how == Moved::Exchanged)
            ok = renameat2(staged.fd(), leaf, output.fd(), leaf, RENAME_EXCHANGE) == 0;
        else if (ok)
            ok = renameat2(output.fd(), leaf, staged.fd(), leaf, RENAME_NOREPLACE) == 0;
        all = all && ok;
    }
    m_moved.clear();
    return all;
}

MoveOutcome SafeTree::moveInto()
{
    MoveOutcome out;
    m_lastParentFd.reset();
    // The archive being read is never replaced, not even by a folder of its
    // name: such an archive fails before anything is asked or moved.
    std::string clash, offender;
    if (!m_protectedFiles.empty() && findProtected(&clash)) {
        out.failed = true;
        out.failCode = SALVO_E_FILE_OPEN;
        out.message += "展開中の書庫と同じファイルには書き込みません: " + clash + "\n";
    } else if (askEveryQuestion(&out) && !linksLandInside(View::Decided, &offender)) {
        out.failed = true;
        out.failCode = SALVO_E_UNSAFE_PATH;
        out.message += "展開先の外を指すリンクのため中止しました: " + offender + "\n";
    } else if (!out.failed && !out.cancelled) {
        place(&out);
        // Where the links really landed (the output folder may have changed
        // under the extraction): one that leads out fails the extraction.
        if (!out.failed && !linksLandInside(View::Output, &offender)) {
            out.failed = true;
            out.failCode = SALVO_E_UNSAFE_PATH;
            out.message += "展開先の外を指すリンクのため中止しました: " + offender + "\n";
        }
        if (out.failed && !takeBack()) {
            out.partial = true;
            out.message += "解凍先に移したファイルを元に戻せませんでした (一部が解凍されたままです)\n";
            removeLinksLeadingOut();
        }
    }
    m_moved.clear();
    m_root->removeStaging();
    if (out.failed || out.cancelled) {
        // Nothing (or nothing more) was moved: folders made for the output
        // folder go again while they are empty.
        m_root->removeMadeFolders();
    }
    return out;
}

} // namespace salvo::arc
