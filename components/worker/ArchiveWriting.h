#pragma once
// What the decoder process does when a component deletes entries from an
// archive or adds files to it. The archive is rewritten into a temporary file
// in its own folder that replaces it only when everything succeeded; after any
// failure the archive is exactly as it was.
#include "Operations.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace salvo::arc {

enum class WriteKind : uint32_t { Any = 0, Zip = 1, SevenZip = 2 };

struct WriteRequest {
    std::string archive;  // absolute path of an existing archive
    uint32_t formats = 0; // Formats bits the component writes
    std::string tempPath; // name the temporary file may carry while it replaces the archive
    WriteKind kind = WriteKind::Any;
    // Delete: entry names as the listing shows them (see EntrySelection.h).
    // Add: list files (one quoted name per line, "@" before the path is
    // allowed) or masks such as "*.*", all relative to `baseDir`. Only a name
    // written without quotes is a mask, and one in quotes only when no file
    // has that name.
    std::vector<std::string> names;
    std::vector<bool> quotedNames; // for each name: it was written in quotes
    bool exactNames = false;       // names are never masks
    std::string baseDir;      // add: folder the listed names are relative to
    std::string targetFolder; // add: folder inside the archive that receives them ("" = top)
    bool recursive = false;
    bool noFolderEntries = false;
    bool updateOnly = false;
    bool solid = true;
    // Told the moment the new archive has taken the old one's place (not
    // part of the request's message).
    std::function<void()> replaced;
};

struct WriteResult {
    int code = 0;
    int done = 0;      // entries deleted (names satisfied) or files added
    int requested = 0; // names asked for, or files found to add
    std::string message;
};

WriteResult deleteEntries(const WriteRequest &request, const AliveFn &alive);
WriteResult addFiles(const WriteRequest &request, const AliveFn &alive);

} // namespace salvo::arc
