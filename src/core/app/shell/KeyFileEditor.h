#pragma once
// Reads and edits a file of the desktop's key-file format ("[Group]" lines and
// "key=value" lines, "#" comments), such as mimeapps.list, which belongs to the
// user: only the keys that are set or removed change; every other byte of the
// file (lines, comments, blank lines, groups, their order, the line endings)
// stays as it was. A set key that is missing goes after the last key of its
// group, and no key is ever left twice in a group. The file is replaced
// atomically; a symbolic link is followed and its target rewritten.
#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace salvo {

class KeyFileEditor {
public:
    explicit KeyFileEditor(QString path);

    // Reads the file; a missing file reads as empty. False when the file is
    // there but cannot be read (then nothing may be saved over it).
    bool load();

    // The value of the first `key` in the groups named `group`; keys match
    // without regard to case and with the blanks around "=" ignored.
    std::optional<QString> value(const QString &group, const QString &key) const;
    // Sets the key in place of its first occurrence (removing later ones), or
    // adds it after the last key of the group's first occurrence, or adds the
    // group at the end.
    void setValue(const QString &group, const QString &key, const QString &value);
    void remove(const QString &group, const QString &key);

    bool isChanged() const { return m_changed; }
    // Writes the file when something changed. Returns false when it could not be written.
    bool save();

    const QString &path() const { return m_path; }

private:
    struct Line {
        QByteArray text;       // without the line ending
        QByteArray ending;     // "\n", "\r\n" or empty for a last line without one
    };
    QList<int> keyLines(const QString &group, const QString &key) const;
    QByteArray newline() const;

    QString m_path;
    QList<Line> m_lines;
    bool m_loaded = false;
    bool m_changed = false;
};

} // namespace salvo
