#include "Settings.h"

namespace salvo {
namespace {

bool isDdMode(LaunchMode mode)
{
    return mode == LaunchMode::DdMode;
}

OverwritePolicy overwritePolicyOf(int stored)
{
    return stored == 0 ? OverwritePolicy::Overwrite : OverwritePolicy::Confirm;
}

} // namespace

WorkingMode Settings::startUpMode() const
{
    return workingModeFromText(read(ini::kSlvoStartUpMode));
}

bool Settings::setStartUpMode(WorkingMode mode) const
{
    return write(ini::kSlvoStartUpMode, workingModeText(mode));
}

FolderNameMode Settings::folderNameMode(LaunchMode mode) const
{
    return static_cast<FolderNameMode>(read(isDdMode(mode) ? ini::kDdFileNameFolder : ini::kNormalFileNameFolder));
}

bool Settings::setFolderNameMode(FolderNameMode mode) const
{
    return write(ini::kNormalFileNameFolder, static_cast<int>(mode));
}

OverwritePolicy Settings::overwritePolicy(LaunchMode mode) const
{
    return overwritePolicyOf(read(isDdMode(mode) ? ini::kDdOverWrite : ini::kNormalOverWrite));
}

OverwritePolicy Settings::viewerOverwritePolicy() const
{
    return overwritePolicyOf(read(ini::kViewOverWrite));
}

TargetPlace Settings::storedTargetPlace() const
{
    return targetPlaceFromText(read(ini::kNormalTargetPlace));
}

bool Settings::setStoredTargetPlace(TargetPlace place) const
{
    return write(ini::kNormalTargetPlace, targetPlaceText(place));
}

TargetPlace Settings::ddTargetPlace() const
{
    switch (read(ini::kDdExtractMode)) {
    case 1:
        return TargetPlace::BesideArchive;
    case 2:
        return TargetPlace::UsualFolder;
    default:
        return TargetPlace::Desktop;
    }
}

QString Settings::usualFolder(LaunchMode mode) const
{
    return cutAtNul(read(isDdMode(mode) ? ini::kDdTargetPath : ini::kAlwaysPath));
}

DoubleClickAction Settings::doubleClickAction() const
{
    return static_cast<DoubleClickAction>(read(ini::kViewAction));
}

ViewerTargetPlace Settings::viewerTargetPlace() const
{
    return static_cast<ViewerTargetPlace>(read(ini::kViewTargetPlace));
}

} // namespace salvo
