#pragma once
// A folder's contents as comparable text: every path with its kind and bytes
// (or link target), sorted. Two extractions are equal when their snapshots are.
#include <QString>
#include <map>
#include <string>

namespace salvo::test {

std::map<std::string, std::string> snapshot(const QString &root);

// Runs a program and returns its exit code (-1 when it could not run).
int runProgram(const QString &program, const QStringList &args, QByteArray *output = nullptr);

// The commands that extract `archive` into `outDir` keeping folders and
// overwriting without asking, in each component's own form.
std::string extractCommand(const std::string &prefix, const std::string &archive, const std::string &outDir,
                           bool flat = false, bool overwrite = true);

} // namespace salvo::test
