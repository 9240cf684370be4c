#pragma once
// The modes and policies that the settings file stores as numbers or texts.
// Everywhere else they travel as these enums; the conversions from and to the
// stored values live in the settings layer only (here and in Settings).
#include <QString>
#include <QStringList>

namespace salvo {

// How the program was started: it selects the "NORMAL" or "DDMODE" group of
// settings for a run.
enum class LaunchMode { Normal, DdMode, DdModeSetting };

// The main window's working mode ("SlvoStartUpMode"): "Extract" or "Archive";
// any other stored text is Unset, which is written back as the empty text.
enum class WorkingMode { Extract, Archive, Unset };

// Whether each archive gets a folder named after it ("FileNameFolder"). A
// stored number outside the three is kept as it is (and acts as Never).
enum class FolderNameMode : int { Automatic = 0, Always = 1, Never = 2 };

// What happens to files the extraction would replace ("OverWrite"): 0 replaces
// them without asking, any other value asks first.
enum class OverwritePolicy { Overwrite, Confirm };

// Where a run puts its output: the entries of the main window's target
// drop-down, in their order (stored as the entry's text). A DD-mode run takes
// Desktop, BesideArchive or UsualFolder from "ExtractMode" 0, 1, 2.
enum class TargetPlace { BesideArchive, AskEachRun, UsualFolder, Desktop, ProgramFiles };

// What a double click in the content viewer does ("Action" of
// "EXTRACT_ARCVIEW"), and where its extraction goes ("TargetPlace" there).
// Other stored numbers are kept as they are (and do nothing).
enum class DoubleClickAction : int { Open = 0, Extract = 1 };
enum class ViewerTargetPlace : int { OpenOnly = 0, AskFolder = 1, UsualFolder = 2, Template = 3 };

// "NORMAL", "DDMODE", "DDMODE_SETTING".
QString launchModeName(LaunchMode mode);

QString workingModeText(WorkingMode mode);
WorkingMode workingModeFromText(const QString &text);

// The texts of the target drop-down, in TargetPlace order.
const QStringList &targetPlaceTexts();
QString targetPlaceText(TargetPlace place);
// The first entry equal to the text; BesideArchive for an empty or unknown text.
TargetPlace targetPlaceFromText(const QString &text);

} // namespace salvo
