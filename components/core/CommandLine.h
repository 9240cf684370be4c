#pragma once
// Reads the command lines the program sends to a component's main entry.
// Arguments are split by the rule the program uses to make them (common/
// CommandLineSplitter.h: double quotes group, blanks and tabs separate, no
// escapes); an argument that begins with a quote is always a name, never a verb
// or a switch; a line whose last quote is left open is refused; unknown
// switches are ignored. Each component has a small dialect of verbs and switches.
// One switch is read in every dialect: "--no-wildcards" (also 7-Zip's "-spd")
// says that the names are exact entry names, not masks: "*", "?" and "" in
// them are themselves.
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
    std::vector<bool> quotedNames;  // for each name: it was written in quotes
    bool exactNames = false;        // the names are exact entry names, never masks

    // Adding (the base folder of the files to add is `outputDir`; `names`
    // holds list files or masks) and deleting (`names` holds entry names).
    std::string targetFolder;      // folder inside the archive that receives the files ("" = top)
    std::string archiveType;       // "zip" or "7z" when the command names one
    bool recursive = false;        // a mask also matches in the folders under the base folder
    bool noFolderEntries = false;  // store no entries for folders (zip)
    bool updateOnly = false;       // replace an existing entry only by a newer file (zip)
    bool solid = true;             // new entries may share one compressed stream (7z)
};

// Blank and tab separate arguments outside quotes.
inline constexpr std::string_view kSeparators = " \t";

std::vector<std::string> tokenize(std::string_view line);

// The command, or nothing when the line holds no archive or no known verb.
std::optional<Command> parseCommand(Dialect dialect, std::string_view line);

// Wildcard match of an entry name against a name or mask: "*" and "?" as
// usual, "*.*" matches every name, "\" and "/" are the same separator, and
// letters match without regard to case. A mask without a separator is matched
// against the whole name and against its last part.
bool matchesName(std::string_view entry, std::string_view mask);

} // namespace salvo::arc
