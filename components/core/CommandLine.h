#pragma once
// Reads the command lines the program sends to a component's main entry.
// Double quotes group, blanks separate, unknown switches are ignored; each
// component has a small dialect of verbs and switches.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace salvo::arc {

enum class Dialect { Unlha, UnZip, SevenZip, Cab, Unrar, Tar, Zip };

enum class Verb { None, Extract, Test, List, Delete, Add };

struct Command {
    Verb verb = Verb::None;
    bool flat = false;      // extract every entry into the output folder itself
    bool overwrite = false; // replace existing files without asking
    std::string archive;
    std::string outputDir;          // without a trailing separator
    std::vector<std::string> names; // entry names or masks; empty means every entry
};

std::vector<std::string> tokenize(std::string_view line);

// The command, or nothing when the line holds no archive or no known verb.
std::optional<Command> parseCommand(Dialect dialect, std::string_view line);

// Wildcard match of an entry name against a name or mask: "*" and "?" as
// usual, "*.*" matches every name, "\" and "/" are the same separator, and
// letters match without regard to case. A mask without a separator is matched
// against the whole name and against its last part.
bool matchesName(std::string_view entry, std::string_view mask);

} // namespace salvo::arc
