#pragma once
// What the about box lists: one row per archiver component and console
// extractor, in a fixed order, with the file name it has on this machine and
// its version or presence; then the decoding library the components use.
#include <QList>
#include <QString>

namespace salvo {

class ComponentCaller;

struct ComponentVersionRow {
    QString file;    // the component's file name here (unlha32.so, yz2dec, ...)
    QString version; // "2.60", "1.00.0.05", "Installed", "Not Installed", ...
    QString detail;  // where the file was found, or the library's own version text
};

// A version in hundredths as "0.00" (260 gives "2.60").
QString hundredthsText(int hundredths);

// The rows in the about box's order. A component that is not available shows
// "Not Installed" and is never called. The last row names the library the
// components decode with and its version, as the first available component
// reports it.
QList<ComponentVersionRow> componentVersionRows(ComponentCaller &caller);

} // namespace salvo
