#include "KeyFileEditor.h"

#include "ShellFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace salvo {
namespace {

// Files larger than this are not the small lists this editor is for.
constexpr qint64 kMaxFileSize = 4 * 1024 * 1024;

QByteArray withoutBom(const QByteArray &text)
{
    return text.startsWith("\xEF\xBB\xBF") ? text.mid(3) : text;
}

bool groupHeader(const QByteArray &text, QByteArray *name)
{
    const QByteArray t = withoutBom(text).trimmed();
    if (t.size() < 2 || !t.startsWith('[') || !t.endsWith(']'))
        return false;
    *name = t.mid(1, t.size() - 2);
    return true;
}

bool keyLine(const QByteArray &text, QByteArray *key, QByteArray *value = nullptr)
{
    const QByteArray t = text.trimmed();
    if (t.isEmpty() || t.startsWith('#') || t.startsWith('['))
        return false;
    const qsizetype eq = text.indexOf('=');
    if (eq < 0)
        return false;
    *key = text.left(eq).trimmed();
    if (value)
        *value = text.mid(eq + 1).trimmed();
    return !key->isEmpty();
}

QString resolvedPath(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isSymLink())
        return path;
    const QString target = info.symLinkTarget();
    return target.isEmpty() ? path : target;
}

} // namespace

KeyFileEditor::KeyFileEditor(QString path) : m_path(std::move(path)) {}

bool KeyFileEditor::load()
{
    m_lines.clear();
    m_changed = false;
    m_loaded = false;
    const QString target = resolvedPath(m_path);
    if (!QFileInfo::exists(target)) {
        m_loaded = true;
        return true;
    }
    QFile file(target);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize)
        return false;
    const QByteArray bytes = file.readAll();
    qsizetype start = 0;
    while (start < bytes.size()) {
        const qsizetype lf = bytes.indexOf('\n', start);
        Line line;
        if (lf < 0) {
            line.text = bytes.mid(start);
            start = bytes.size();
        } else {
            line.text = bytes.mid(start, lf - start);
            line.ending = "\n";
            if (line.text.endsWith('\r')) {
                line.text.chop(1);
                line.ending = "\r\n";
            }
            start = lf + 1;
        }
        m_lines.append(line);
    }
    m_loaded = true;
    return true;
}

QList<int> KeyFileEditor::keyLines(const QString &group, const QString &key) const
{
    QList<int> found;
    const QByteArray wantedGroup = group.toUtf8();
    const QByteArray wantedKey = key.toUtf8().toLower();
    bool inGroup = false;
    for (int i = 0; i < m_lines.size(); ++i) {
        QByteArray name;
        if (groupHeader(m_lines.at(i).text, &name)) {
            inGroup = name == wantedGroup;
            continue;
        }
        if (inGroup && keyLine(m_lines.at(i).text, &name) && name.toLower() == wantedKey)
            found.append(i);
    }
    return found;
}

std::optional<QString> KeyFileEditor::value(const QString &group, const QString &key) const
{
    const QList<int> lines = keyLines(group, key);
    if (lines.isEmpty())
        return std::nullopt;
    QByteArray name, value;
    keyLine(m_lines.at(lines.first()).text, &name, &value);
    return QString::fromUtf8(value);
}

QByteArray KeyFileEditor::newline() const
{
    for (const Line &line : m_lines) {
        if (!line.ending.isEmpty())
            return line.ending;
    }
    return "\n";
}

void KeyFileEditor::setValue(const QString &group, const QString &key, const QString &value)
{
    const QByteArray text = key.toUtf8() + '=' + value.toUtf8();
    const QList<int> lines = keyLines(group, key);
    if (!lines.isEmpty()) {
        for (qsizetype i = lines.size() - 1; i > 0; --i) {
            m_lines.removeAt(lines.at(i));
            m_changed = true;
        }
        if (m_lines[lines.first()].text != text) {
            m_lines[lines.first()].text = text;
            m_changed = true;
        }
        return;
    }

    const QByteArray nl = newline();
    const QByteArray wantedGroup = group.toUtf8();
    int header = -1;
    for (int i = 0; i < m_lines.size() && header < 0; ++i) {
        QByteArray name;
        if (groupHeader(m_lines.at(i).text, &name) && name == wantedGroup)
            header = i;
    }
    m_changed = true;
    if (header < 0) {
        if (!m_lines.isEmpty() && m_lines.last().ending.isEmpty())
            m_lines.last().ending = nl;
        m_lines.append({"[" + wantedGroup + "]", nl});
        m_lines.append({text, nl});
        return;
    }
    int after = header;
    for (int i = header + 1; i < m_lines.size(); ++i) {
        QByteArray name;
        if (groupHeader(m_lines.at(i).text, &name))
            break;
        if (keyLine(m_lines.at(i).text, &name))
            after = i;
    }
    if (m_lines[after].ending.isEmpty())
        m_lines[after].ending = nl;
    m_lines.insert(after + 1, {text, nl});
}

void KeyFileEditor::remove(const QString &group, const QString &key)
{
    const QList<int> lines = keyLines(group, key);
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        m_lines.removeAt(lines.at(i));
        m_changed = true;
    }
}

bool KeyFileEditor::save()
{
    if (!m_changed)
        return true;
    if (!m_loaded)
        return false;
    const QString target = resolvedPath(m_path);
    QDir().mkpath(QFileInfo(target).absolutePath());
    QByteArray bytes;
    for (const Line &line : m_lines)
        bytes += line.text + line.ending;
    if (!saveFileAtomically(target, bytes))
        return false;
    m_changed = false;
    return true;
}

} // namespace salvo
