#include "SplitVolumes.h"

#include "ArchiveExtent.h"

#include <algorithm>
#include <cctype>
#include <dirent.h>
#include <sys/stat.h>

namespace salvo {
namespace {

bool isFile(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool endsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The run of digits that ends at `end` (exclusive) in `text`: its start.
size_t digitsBefore(const std::string &text, size_t end)
{
    size_t start = end;
    while (start > 0 && std::isdigit(static_cast<unsigned char>(text[start - 1])))
        --start;
    return start;
}

std::string padded(int number, int width)
{
    std::string digits = std::to_string(number);
    if (static_cast<int>(digits.size()) < width)
        digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
    return digits;
}

std::string volumePath(const VolumeName &v, int number)
{
    return v.prefix + padded(number, v.width) + v.suffix;
}

// Numbers up to this many digits are volume numbers; longer runs are not.
constexpr size_t kMaxDigits = 6;

// The path of the last volume of a split zip (its ".zip"), and of its first (".z01").
std::string zipLast(const VolumeName &v)
{
    return v.prefix.substr(0, v.prefix.size() - 1) + (v.upperCase ? "ZIP" : "zip");
}

std::string rarFirst(const VolumeName &v)
{
    return v.prefix.substr(0, v.prefix.size() - 1) + (v.upperCase ? "RAR" : "rar");
}

// The highest number of a volume of the same set in its folder; -1 when none.
int highestInFolder(const VolumeName &v)
{
    const size_t slash = v.prefix.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : v.prefix.substr(0, slash + 1);
    const std::string start = slash == std::string::npos ? v.prefix : v.prefix.substr(slash + 1);
    int highest = -1;
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        return highest;
    while (const dirent *d = ::readdir(dir)) {
        const std::string name = d->d_name;
        if (name.size() <= start.size() + v.suffix.size() || name.compare(0, start.size(), start) != 0
            || !endsWith(name, v.suffix))
            continue;
        const std::string digits = name.substr(start.size(), name.size() - start.size() - v.suffix.size());
        if (digits.empty() || digits.size() > kMaxDigits
            || !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
            continue;
        highest = std::max(highest, std::stoi(digits));
    }
    ::closedir(dir);
    return highest;
}

} // namespace

VolumeName volumeNameOf(const std::string &path)
{
    VolumeName v;
    const size_t slash = path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::string name = lower(path.substr(nameStart));
    auto digitsAt = [&](size_t end, size_t minimum, VolumeScheme scheme, size_t suffixLength) {
        const size_t start = digitsBefore(name, end);
        const size_t count = end - start;
        if (count < minimum || count > kMaxDigits || start == 0)
            return false;
        v.scheme = scheme;
        v.prefix = path.substr(0, nameStart + start);
        v.suffix = path.substr(path.size() - suffixLength);
        v.number = std::stoi(name.substr(start, count));
        v.width = static_cast<int>(count);
        return true;
    };
    if (endsWith(name, ".rar")) {
        const size_t end = name.size() - 4;
        const size_t start = digitsBefore(name, end);
        if (start >= 5 && name.compare(start - 5, 5, ".part") == 0 && digitsAt(end, 1, VolumeScheme::RarParts, 4))
            return v;
        // name.rar is the first volume of an old-style set when name.r00 is there.
        const std::string stem = path.substr(0, path.size() - 3);
        const bool upper = path.compare(path.size() - 3, 3, "RAR") == 0;
        if (isFile(stem + (upper ? "R00" : "r00")))
            return VolumeName{VolumeScheme::RarOld, stem + (upper ? "R" : "r"), "", -1, 2, upper};
        return {};
    }
    if (endsWith(name, ".zip")) {
        const std::string stem = path.substr(0, path.size() - 3);
        const bool upper = path.compare(path.size() - 3, 3, "ZIP") == 0;
        if (isFile(stem + (upper ? "Z01" : "z01")))
            return VolumeName{VolumeScheme::ZipSplit, stem + (upper ? "Z" : "z"), "", -1, 2, upper};
        return {};
    }
    const size_t start = digitsBefore(name, name.size());
    if (start >= 2 && start < name.size() && name[start - 1] == 'z' && name[start - 2] == '.') {
        if (digitsAt(name.size(), 2, VolumeScheme::ZipSplit, 0)) {
            v.upperCase = path[nameStart + start - 1] == 'Z';
            return v;
        }
    }
    if (start >= 2 && start < name.size() && name[start - 1] == 'r' && name[start - 2] == '.') {
        if (digitsAt(name.size(), 2, VolumeScheme::RarOld, 0)) {
            v.upperCase = path[nameStart + start - 1] == 'R';
            return v;
        }
    }
    if (start >= 1 && start < name.size() && name[start - 1] == '.' && digitsAt(name.size(), 3, VolumeScheme::Numbered, 0))
        return v;
    return {};
}

namespace {

// The set name by the names alone.
std::string namedSetName(const VolumeName &v, const std::string &path)
{
    switch (v.scheme) {
    case VolumeScheme::None:
        return path;
    case VolumeScheme::RarParts:
    case VolumeScheme::Numbered:
        for (const std::string &first : {volumePath(v, 1), v.prefix + "1" + v.suffix}) {
            if (isFile(first))
                return first;
        }
        return path;
    case VolumeScheme::ZipSplit: {
        if (v.number < 0)
            return path;
        const std::string last = zipLast(v);
        if (isFile(last))
            return last;
        const std::string first = volumePath(v, 1);
        return isFile(first) ? first : path;
    }
    case VolumeScheme::RarOld: {
        if (v.number < 0)
            return path;
        const std::string first = rarFirst(v);
        return isFile(first) ? first : path;
    }
    }
    return path;
}

} // namespace

VolumeSet volumeSetContaining(const std::string &path)
{
    const VolumeName v = volumeNameOf(path);
    const std::string named = namedSetName(v, path);
    VolumeSet set = volumeSetOf(named);
    if (v.scheme != VolumeScheme::Numbered || named == path)
        return set;
    // Numbered files: archive after archive from the first file, until the
    // one `path` is part of. A set that lacks a volume keeps the files after
    // the gap: they are its own later volumes.
    for (;;) {
        if (set.gap || std::find(set.paths.begin(), set.paths.end(), path) != set.paths.end())
            return set;
        const VolumeName last = volumeNameOf(set.paths.back());
        const std::string next = volumePath(last, last.number + 1);
        if (last.scheme != VolumeScheme::Numbered || !isFile(next))
            return volumeSetOf(path);
        set = volumeSetOf(next);
    }
}

std::string volumeSetName(const std::string &path)
{
    return volumeSetContaining(path).name;
}

VolumeSet volumeSetOf(const std::string &path)
{
    VolumeSet set;
    set.name = path;
    const VolumeName v = volumeNameOf(path);
    set.scheme = v.scheme;
    if (v.scheme == VolumeScheme::None) {
        set.paths.push_back(path);
        return set;
    }
    // The numbered volumes from `from` on while they follow one another.
    auto collect = [&](int from) {
        int last = from - 1;
        for (int k = from; k < 100000; ++k) {
            const std::string p = volumePath(v, k);
            if (!isFile(p))
                break;
            set.paths.push_back(p);
            last = k;
        }
        set.gap = highestInFolder(v) > last;
    };
    switch (v.scheme) {
    case VolumeScheme::RarParts:
        set.paths.push_back(path);
        collect(v.number + 1);
        break;
    case VolumeScheme::Numbered: {
        set.paths.push_back(path);
        collect(v.number + 1);
        // Only as far as the archive that begins here reaches.
        const ArchiveExtent extent = archiveExtent(set.paths);
        if (extent.known) {
            set.measured = true;
            if (extent.beyondLast) {
                set.gap = true;
            } else {
                set.paths.resize(extent.volumes);
                set.gap = false;
            }
        }
        break;
    }
    case VolumeScheme::RarOld:
        set.paths.push_back(path);
        collect(v.number + 1); // after name.rar (-1) comes name.r00
        break;
    case VolumeScheme::ZipSplit: {
        if (v.number >= 0)
            set.paths.push_back(path);
        collect(v.number < 0 ? 1 : v.number + 1);
        const std::string last = zipLast(v);
        if (isFile(last))
            set.paths.push_back(last);
        break;
    }
    case VolumeScheme::None:
        break;
    }
    return set;
}

} // namespace salvo
