#pragma once
// Loads an archiver component from the build folder and calls it by prefix.
#include "salvo_archiver.h"

#include <QString>
#include <map>
#include <string>
#include <vector>

namespace salvo::test {

struct ListedEntry {
    std::string name;
    uint32_t size32 = 0;
    int64_t size64 = 0;
    uint16_t date = 0, time = 0;
};

class ComponentLib {
public:
    // file: "unzip32.so"; prefix: "UnZip"
    ComponentLib(const std::string &file, const std::string &prefix);
    ~ComponentLib();
    bool loaded() const { return m_handle != nullptr; }
    void *symbol(const std::string &suffix) const;

    int run(const std::string &command, std::string *output = nullptr) const;
    int check(const std::string &archive, int mode = 0) const;
    int count(const std::string &archive) const;
    // Entries through OpenArchive / FindFirst / FindNext; false when it could not open.
    bool list(const std::string &archive, std::vector<ListedEntry> *entries, const char *wildcard = "*") const;
    void setCallback(SALVO_OVERWRITE_CALLBACK cb, void *user) const;
    void setCancelCallback(SALVO_CANCEL_CALLBACK cb, void *user) const;

private:
    void *m_handle = nullptr;
    std::string m_prefix;
};

// The component file and prefix that serve an archive by its extension.
struct ComponentChoice {
    std::string file, prefix;
};
ComponentChoice componentFor(const std::string &archive);
// The entry names the component serving `archive` lists, in its order.
std::vector<std::string> listedNames(const std::string &archive);
// Extracts `archive` through the component serving it into a fresh `out`
// folder and returns the folder's snapshot (TreeSnapshot.h).
std::map<std::string, std::string> extractedTree(const std::string &archive, const QString &out);

// Folder of the built program and components.
std::string buildDir();

} // namespace salvo::test

#include "archivers/Availability.h"

namespace salvo::test {

// The components built beside the program, as start-up would find them.
Availability builtComponents(const QString &myPath);

} // namespace salvo::test
