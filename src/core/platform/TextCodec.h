#pragma once
// Text taken from files that may come from a Japanese Windows system.
#include <QByteArray>
#include <QString>

namespace salvo {

// Valid UTF-8 is decoded as such; anything else is taken as CP932 (Shift-JIS),
// the encoding of settings and list files written on Japanese Windows.
QString decodeUtf8OrCp932(const QByteArray &bytes);
bool isValidUtf8(const QByteArray &bytes);
QString decodeCp932(const QByteArray &bytes);
QByteArray encodeCp932(const QString &text);

// The text on one line: CR, LF and NUL become blanks (values written into
// line-based files and mail headers cannot add lines of their own).
QString singleLine(const QString &text);

} // namespace salvo
