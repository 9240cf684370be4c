#pragma once
// A program of the system that the decoder runs for what libarchive cannot
// read (see SevenZipTool.h). The decoder is confined by Landlock (Sandbox.h),
// so the program is found and its files are opened before that: the program
// itself and its loader, which may be run, and the libraries the loader maps,
// which may be read. Nothing else of the system is granted, and the program
// runs under a confinement of its own on top of the decoder's: it writes only
// below the one folder it is given and reads only the files handed to it.
#include "core/Descriptors.h"
#include "Sandbox.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace salvo::arc {

class ConfinedProgram {
public:
    // The program `name` as the search path finds it (or `name` itself when it
    // holds a "/"), with the files its loader needs; null when it is not there
    // or cannot be run.
    static std::unique_ptr<ConfinedProgram> find(const std::string &name);

    const std::string &path() const { return m_path; }
    // The program and its loader to run, the libraries and the loader's cache
    // to read: what the decoder's confinement must still allow.
    std::vector<FileGrant> grants() const;

    struct Outcome {
        bool started = false;
        int exitCode = -1;   // -1 when it did not end by itself
        std::string output;  // standard output
        std::string errors;  // standard error
        bool tooLong = false; // its output passed the limit and it was stopped
    };
    struct Run {
        std::vector<std::string> arguments; // after the program's name
        int writableFolder = -1;            // the one folder it may write below (-1: none)
        int workingFolder = -1;             // its current folder (-1: this process's)
        std::vector<int> files;             // open files it gets as descriptors 3, 4, ...
        std::string input;                  // its standard input, then end of file
        size_t outputLimit = 64u << 20;     // more output than this stops it
        // Called now and then while it runs; with each line of standard output
        // as it comes (the line is then not kept in `output`).
        std::function<void()> alive;
        std::function<void(const std::string &line)> line;
    };
    // Runs the program as `run` says and waits for its end.
    Outcome run(const Run &run) const;

private:
    std::string m_path;
    UniqueFd m_program, m_loader, m_cache;
    std::vector<UniqueFd> m_libraries;
};

} // namespace salvo::arc
