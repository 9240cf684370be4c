#pragma once
// The extraction call of one archive in a batch run: which component gets it
// and the command line it gets, chosen by the archive's extension (for a
// self-extractor, by the kind of archive inside). Every line is made from one
// row of the extraction form table; the tests read the same table.
#include "archivers/Availability.h"
#include "settings/Modes.h"

#include <QString>

#include <vector>

namespace salvo {

enum class CallKind {
    None,        // the serving component is missing: nothing is extracted
    Unsupported, // no row for the extension
    Component,   // the component's main entry with `commandLine`
    Console,     // a console extractor started with `commandLine`, waited for
    AceV2,       // the second-generation ACE extraction of the archive into the
                 // output folder, `commandLine` holding the file mask
    Refused,     // the archive or output path cannot go on a command line
                 // unchanged; `refusal` says why and nothing is called
};

struct ExtractionCall {
    CallKind kind = CallKind::None;
    Component component = Component::Basp21;
    const char *prefix = "";
    QString commandLine;
    QString refusal;
};

struct ExtractionRequest {
    QString archive;   // full path
    QString outputDir; // without a trailing separator
    OverwritePolicy overwrite = OverwritePolicy::Overwrite;
    bool ignoreDirectories = false;
    bool zipBy7z = false;
    bool useUnace32 = false;
    QString sfxKind;   // for ".exe": the format id found inside
    QString contentKind; // the format id the archive's bytes showed where its extension did not decide
};

// How the pieces of a row make a line.
enum class LineLayout {
    Standard,      // verb switch extra "archive" "outdir/" tail
    OutputFirst,   // verb switch extra "outdir" "archive"
    RkProgram,     // rk verb switch extra "outdir" "archive"   (program path quoted if blank)
    Yz2Program,    // yz2dec switch extra outdir archive tail   (each quoted if blank)
};

// One row of the extraction form table. The pieces are chosen by
// ignore-directories (flat / tree) and by the overwrite policy.
struct ExtractionForm {
    const char *extensions; // upper case, blank separated
    Component component;
    const char *prefix;     // entry-point prefix; the program's file name for console programs
    LineLayout layout;
    const char *verbFlat, *verbTree;
    const char *switchOverwrite, *switchConfirm;
    const char *extraFlat, *extraTree;
    const char *tail;
};

const std::vector<ExtractionForm> &extractionForms();
// The row of an upper-case extension, or null.
const ExtractionForm *extractionFormFor(const QString &extension);

// The call for one archive. Paths go on the line in double quotes, where
// blanks, tabs, ';', '$', line breaks and a leading '-' are plain text; a path
// that holds a double quote cannot be quoted (the shared splitting rule has no
// escape), and the yz2dec line keeps only the first 260 characters of a path:
// such an archive is refused rather than handed over as another path.
ExtractionCall buildExtractionCall(const ExtractionRequest &request, const Availability &availability);

// zip-by-7z of a run: Use7Zip when both zip readers are there, else whichever is.
bool zipBy7zFor(int use7Zip, const Availability &availability);

} // namespace salvo
