#pragma once
// The extraction and archiver options dialogs as tables: which control edits
// which key of "Salvo.ini", how a stored value shows in its control, what the
// control writes back, and what each dialog refuses at OK. The dialogs build
// their controls under the object names given here and leave loading, saving
// and checking to these routines.
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace salvo {

class Settings;

enum class ControlKind {
    CheckBox,         // "1" ticked, "0" not
    InvertedCheckBox, // "0" ticked, "1" not
    OptionGroup,      // one of the buttons in `choices`, which stand for 0, 1, 2, ...
    TextBox,          // the text as it stands
    ComboBox,         // the text of the chosen item; `choices` are the items
};

struct OptionField {
    QString control; // object name of the control (of the first button's group for an option group)
    ControlKind kind = ControlKind::CheckBox;
    QString section, key;
    bool integer = false; // the key is read with the integer reader
    QString absent;       // what a missing key reads as
    QStringList choices;
    // A text box that holds a number: the range it must lie in, and what the
    // refusal message calls it. No range when maximum < minimum.
    int minimum = 0, maximum = -1;
    QString caption;

    bool hasRange() const { return maximum >= minimum; }
};

// The stored text of each field, by its control name.
using OptionValues = QHash<QString, QString>;

// Reads every field: integer keys as their decimal text, texts cut at the first NUL.
OptionValues loadOptions(const Settings &settings, const QList<OptionField> &fields);
// Writes every field in the table's order, in one replacement of the file.
bool saveOptions(const Settings &settings, const QList<OptionField> &fields, const OptionValues &values);

// Whether a check box shows ticked for a stored value (any non-zero number is on).
bool isTicked(const OptionField &field, const QString &value);
// What a check box writes. A box left as it was loaded writes the loaded
// value back, so a stored value other than 0 and 1 survives an OK.
QString tickedValue(const OptionField &field, bool ticked, const QString &loaded);
// The button of an option group that a stored value selects, or -1.
int choiceIndex(const OptionField &field, const QString &value);
// What an option group writes: the chosen button's number, or the loaded
// value when no button is chosen.
QString choiceValue(int index, const QString &loaded);

const OptionField *findField(const QList<OptionField> &fields, const QString &control);

// The extraction options, in the order they are written.
const QList<OptionField> &extractionOptionFields();
// The archiver options, in the order they are written.
const QList<OptionField> &archiverOptionFields();

// Names of the extraction options' controls that carry rules.
namespace extraction {
inline constexpr auto kAlwaysFolder = "txtAlwaysFolder";
inline constexpr auto kDdTargetFolder = "txtDDMODE_SelfDecide";
inline constexpr auto kViewerFolder = "txtArcViewPlace_AlwaysFolder";
inline constexpr auto kDdExtractMode = "optDDMODE_Ext";
inline constexpr auto kViewerAction = "optArcViewAction";
inline constexpr auto kViewerPlace = "optArcViewPlace";
inline constexpr auto kDeleteNormal = "chkDeleteArchiveNormal";
inline constexpr auto kDeleteDdMode = "chkDeleteArchiveDDMODE";
inline constexpr auto kUseDesktop = "chkUseDesktop";
inline constexpr auto kNormalFolderMode = "ExNormal_FileNameFolder";
} // namespace extraction

// The double-click action rule of the viewer page: with "extract" the place
// "open only" is offered no more and "template" is; with "open" the reverse.
struct ViewerPlaceRule {
    bool openOnlyEnabled = true;
    bool templateEnabled = true;
};
ViewerPlaceRule viewerPlaceRule(int actionIndex);
// The place that stays chosen after the rule: -1 when the rule took it away.
int placeAfterRule(int actionIndex, int placeIndex);

// The message that warns when a delete box is switched on.
QString deletionWarningText();

// What OK refuses, and where: an empty control means nothing is refused.
struct OptionProblem {
    QString control;
    QString message;
    bool ok() const { return control.isEmpty(); }
};

// Folder texts: a folder the settings need (the usual folder when the main
// window's target or the viewer's place is the usual place, the DD-mode folder
// when DD mode extracts there) must be given; a folder that is needed or was
// changed must be an absolute path of at most 255 characters to an existing,
// writable folder.
OptionProblem checkExtractionOptions(const OptionValues &values, const OptionValues &loaded,
                                     bool normalTargetIsUsualFolder);
// The number boxes of the archiver options must hold whole numbers within
// their ranges; accepted numbers are written in plain decimal form.
OptionProblem checkArchiverOptions(OptionValues *values);

} // namespace salvo
