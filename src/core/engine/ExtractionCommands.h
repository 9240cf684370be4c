#pragma once
// The extraction call of one archive in a batch run: which component gets it
// and the command line it gets, chosen by the archive's extension (for a
// self-extractor, by the kind of archive inside).
#include "archivers/Availability.h"

#include <QString>

namespace salvo {

enum class CallKind {
    None,        // the serving component is missing: nothing is extracted
    Unsupported, // no row for the extension
    Component,   // the component's main entry with `commandLine`
    Console,     // a console extractor started with `commandLine`, waited for
    AceV2,       // the second-generation ACE extraction (archive, "*.*", output folder)
};

struct ExtractionCall {
    CallKind kind = CallKind::None;
    Component component = Component::Basp21;
    const char *prefix = "";
    QString commandLine;
};

struct ExtractionRequest {
    QString archive;     // full path
    QString outputDir;   // without a trailing separator
    int overwrite = 0;   // the OverWrite setting: 0 sends the overwrite-without-asking switches
    bool ignoreDirectories = false;
    bool zipBy7z = false;
    bool useUnace32 = false;
    QString sfxKind;     // for ".exe": the format id found inside
};

ExtractionCall buildExtractionCall(const ExtractionRequest &request, const Availability &availability);

// zip-by-7z of a run: Use7Zip when both zip readers are there, else whichever is.
bool zipBy7zFor(int use7Zip, const Availability &availability);

} // namespace salvo
