#pragma once
// The volumes of a split archive, found by their names, the one rule the
// program (queue, deletion) and the archiver components (reading) share:
//   name.part1.rar, name.part2.rar, ...   (any number width: part01, part001)
//   name.rar, name.r00, name.r01, ...     (only when name.r00 is there)
//   name.z01, name.z02, ..., name.zip     (only when name.z01 is there; the .zip is the last)
//   name.001, name.002, ...               (also name.7z.001, name.zip.001, name.tar.001)
// A set is named by one of its files: the first volume, or for a split zip its
// ".zip". Numbered files are one set only as far as the archive in the first
// one reaches (see ArchiveExtent.h): complete archives that happen to be
// numbered are each a set of their own, and a stray piece of another set is no
// volume of the one before it. Plain C++ on POSIX paths, no Qt.
#include <string>
#include <vector>

namespace salvo {

enum class VolumeScheme { None, RarParts, RarOld, ZipSplit, Numbered };

struct VolumeName {
    VolumeScheme scheme = VolumeScheme::None;
    std::string prefix; // the path up to the volume's number
    std::string suffix; // what follows the number (".rar" for parts, "" otherwise)
    int number = 0;     // the number in the name (.r00 is 0, .zip and the first .rar are -1)
    int width = 0;      // digits of the number
    bool upperCase = false; // the extension letters were upper case (name.ZIP, name.Z01)
};

// What a path's file name says about the volume it may be. Nothing (scheme
// None) for a name that fits no pattern; a ".zip" or ".rar" fits only when
// its second volume is there.
VolumeName volumeNameOf(const std::string &path);

struct VolumeSet {
    std::string name;               // the path that stands for the set
    std::vector<std::string> paths; // in reading order; the path given alone when it is no volume
    bool gap = false;               // a later volume is there while one before it is not, or missing
    VolumeScheme scheme = VolumeScheme::None;
    // Numbered files: the archive's own structure said how far it reaches
    // (else every file that follows by its number is taken).
    bool measured = false;
    bool split() const { return paths.size() > 1 || gap; }
};

// The path that stands for the set `path` belongs to: the first volume (for a
// split zip its ".zip"), when that is there; else `path` itself.
std::string volumeSetName(const std::string &path);
// The whole set `path` belongs to.
VolumeSet volumeSetContaining(const std::string &path);

// The volumes of the set named by `path`, from it on, as far as they follow
// one another without a gap (and, for numbered files, as far as the archive
// reaches).
VolumeSet volumeSetOf(const std::string &path);

} // namespace salvo
