#include "CommandLine.h"

#include "CommandLineSplitter.h"

#include <algorithm>
#include <cctype>

namespace salvo::arc {
namespace {

bool isSwitch(const std::string &token)
{
    return token.size() > 1 && token[0] == '-';
}

bool endsWithSeparator(const std::string &s)
{
    return !s.empty() && (s.back() == '/' || s.back() == '\\');
}

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::string normalizeSeparators(std::string_view s)
{
    std::string out(s);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

// Verbs that stand as a word of their own ("x", "e", ...).
bool letterVerb(Dialect d, const std::string &token, Command &c)
{
    if (d != Dialect::Unlha && d != Dialect::SevenZip && d != Dialect::Tar)
        return false;
    const std::string t = lower(token);
    if (t == "x") {
        c.verb = Verb::Extract;
    } else if (t == "e") {
        c.verb = Verb::Extract;
        c.flat = true;
    } else if (t == "t") {
        c.verb = Verb::Test;
    } else if (t == "l" || t == "v") {
        c.verb = Verb::List;
    } else if (t == "d") {
        c.verb = Verb::Delete;
    } else if (t == "a" || t == "u") {
        c.verb = Verb::Add;
    } else {
        return false;
    }
    return true;
}

// The zip writer's switches, where case matters ("-d" deletes, "-D" stores no
// folder entries).
void applyZipSwitch(const std::string &s, Command &c)
{
    if (s == "-d")
        c.verb = Verb::Delete;
    else if (s == "-u" || s == "-f")
        c.updateOnly = true;
    else if (s == "-D")
        c.noFolderEntries = true;
    else if (s == "-r")
        c.recursive = true;
}

void applySwitch(Dialect d, const std::string &token, Command &c)
{
    const std::string s = lower(token);
    if (s == "--no-wildcards" || (d == Dialect::SevenZip && s == "-spd")) {
        c.exactNames = true;
        return;
    }
    switch (d) {
    case Dialect::Unlha:
        if (s == "-m1" || s == "-y" || s == "-y1")
            c.overwrite = true;
        else if (s.compare(0, 3, "-jb") == 0)
            c.targetFolder = normalizeSeparators(token.substr(3));
        else if (s == "-r" || s == "-r1" || s == "-r2")
            c.recursive = true;
        break;
    case Dialect::SevenZip:
        if (s == "-y" || s == "-aoa")
            c.overwrite = true;
        else if (s.size() > 2 && s.compare(0, 2, "-o") == 0)
            c.outputDir = token.substr(2);
        else if (s == "-tzip" || s == "-t7z")
            c.archiveType = s.substr(2);
        else if (s == "-r")
            c.recursive = true;
        else if (s == "-ms=off" || s == "-ms-")
            c.solid = false;
        else if (s == "-ms=on" || s == "-ms+")
            c.solid = true;
        break;
    case Dialect::Zip:
        applyZipSwitch(token, c);
        break;
    case Dialect::UnZip:
    case Dialect::Cab:
        if (s == "-x")
            c.verb = Verb::Extract;
        else if (s == "-j")
            c.flat = true;
        else if (s == "-o")
            c.overwrite = true;
        else if (s == "-t")
            c.verb = Verb::Test;
        else if (s == "-l")
            c.verb = Verb::List;
        break;
    case Dialect::Unrar:
        if (s == "-x") {
            c.verb = Verb::Extract;
        } else if (s == "-e") {
            c.verb = Verb::Extract;
            c.flat = true;
        } else if (s == "-y" || s == "-o") {
            c.overwrite = true;
        } else if (s == "-t") {
            c.verb = Verb::Test;
        } else if (s == "-l" || s == "-v") {
            c.verb = Verb::List;
        }
        break;
    case Dialect::Tar:
        if (s == "-x" || s == "--extract")
            c.verb = Verb::Extract;
        else if (s == "--use-directory=0")
            c.flat = true;
        else if (s == "--use-directory=1")
            c.flat = false;
        else if (s == "-t" || s == "--list")
            c.verb = Verb::List;
        break;
    }
}

bool glob(const char *p, const char *n)
{
    // Iterative wildcard match with one backtrack point: linear in practice.
    const char *star = nullptr, *resume = nullptr;
    while (*n) {
        const unsigned char pc = static_cast<unsigned char>(*p), nc = static_cast<unsigned char>(*n);
        if (*p == '*') {
            star = p++;
            resume = n;
        } else if (*p && (pc == '?' || std::tolower(pc) == std::tolower(nc))) {
            ++p;
            ++n;
        } else if (star) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (*p == '*')
        ++p;
    return *p == '\0';
}

} // namespace

std::vector<std::string> tokenize(std::string_view line)
{
    return splitCommandLine(line, kSeparators);
}

std::optional<Command> parseCommand(Dialect dialect, std::string_view line)
{
    Command c;
    std::vector<std::string> positional;
    std::vector<bool> quoted;
    const SplitLine split = splitCommandLineMarked(line, kSeparators);
    // A quote left open means a name that held a quote: what follows cannot be
    // told apart from the name, so nothing is done.
    if (!split.quotesClosed)
        return std::nullopt;
    for (size_t i = 0; i < split.arguments.size(); ++i) {
        const std::string &token = split.arguments[i];
        // What begins with a quote is a name, even when it looks like a verb or a switch.
        if (split.quoted[i]) {
            positional.push_back(token);
            quoted.push_back(true);
            continue;
        }
        if (i == 0 && letterVerb(dialect, token, c))
            continue;
        if (isSwitch(token)) {
            applySwitch(dialect, token, c);
        } else {
            positional.push_back(token);
            quoted.push_back(false);
        }
    }
    // The zip dialects extract when no other verb is named.
    if (c.verb == Verb::None && (dialect == Dialect::UnZip || dialect == Dialect::Cab))
        c.verb = Verb::Extract;
    // The zip writer adds (or updates) unless told to delete.
    if (c.verb == Verb::None && dialect == Dialect::Zip)
        c.verb = Verb::Add;
    while (!c.targetFolder.empty() && c.targetFolder.back() == '/')
        c.targetFolder.pop_back();
    while (!c.targetFolder.empty() && c.targetFolder.front() == '/')
        c.targetFolder.erase(0, 1);
    if (c.verb == Verb::None || positional.empty())
        return std::nullopt;

    c.archive = positional[0];
    size_t namesFrom = 1;
    // Deleting has no output folder: a name ending in a separator is a folder
    // entry to delete.
    if (positional.size() > 1 && endsWithSeparator(positional[1]) && c.outputDir.empty() && c.verb != Verb::Delete) {
        c.outputDir = positional[1];
        namesFrom = 2;
    }
    if (c.outputDir.empty()) {
        const size_t slash = c.archive.find_last_of('/');
        // An archive in the root folder extracts into the root folder, not into "".
        c.outputDir = slash == std::string::npos ? "." : slash == 0 ? "/" : c.archive.substr(0, slash);
    }
    while (c.outputDir.size() > 1 && endsWithSeparator(c.outputDir))
        c.outputDir.pop_back();
    // Entry names and masks read "\" as a separator; exact names keep it, and
    // the names of an add are paths on this system (list files, masks).
    const bool asGiven = c.exactNames || c.verb == Verb::Add;
    for (size_t i = namesFrom; i < positional.size(); ++i) {
        c.names.push_back(asGiven ? positional[i] : normalizeSeparators(positional[i]));
        c.quotedNames.push_back(quoted[i]);
    }
    return c;
}

bool matchesName(std::string_view entry, std::string_view mask)
{
    const std::string e = normalizeSeparators(entry);
    std::string m = normalizeSeparators(mask);
    if (m == "*" || m == "*.*")
        return true;
    if (glob(m.c_str(), e.c_str()))
        return true;
    if (m.find('/') == std::string::npos) {
        const size_t slash = e.find_last_of('/');
        if (slash != std::string::npos)
            return glob(m.c_str(), e.c_str() + slash + 1);
    }
    return false;
}

} // namespace salvo::arc
