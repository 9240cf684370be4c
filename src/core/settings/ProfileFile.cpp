#include "ProfileFile.h"

#include "platform/RegularFile.h"
#include "platform/TextCodec.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

#include <algorithm>

namespace salvo {
namespace {

struct Document {
    QStringList lines;
    QString newline = QStringLiteral("\n");
    // Something is at the path that could not be read as a settings file: reads
    // give their defaults and nothing is ever written over it.
    bool unusable = false;
};

Document parse(const QByteArray &bytes)
{
    Document doc;
    const int firstLf = bytes.indexOf('\n');
    if (firstLf > 0 && bytes.at(firstLf - 1) == '\r')
        doc.newline = QStringLiteral("\r\n");
    QString text = decodeUtf8OrCp932(bytes);
    // Byte order marks at the start are no text, however many an editor wrote.
    while (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    // A line ends at LF, CR LF or a lone CR (files from old editors): no name
    // or value holds a line break, so whatever is read can be written back.
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    doc.lines = text.split(QLatin1Char('\n'));
    // A final line break leaves one empty element behind; it is not a line.
    if (!doc.lines.isEmpty() && doc.lines.last().isEmpty())
        doc.lines.removeLast();
    return doc;
}

Document load(const ProfileFile &file)
{
    QByteArray bytes;
    bool unusable = false;
    if (!file.readBytes(&bytes, &unusable)) {
        Document doc;
        doc.unusable = unusable;
        return doc;
    }
    return parse(bytes);
}

// The name of a section line, or a null string when the line opens no section.
QString sectionName(const QString &line)
{
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1Char('[')))
        return {};
    const qsizetype close = t.indexOf(QLatin1Char(']'));
    return (close < 0 ? t.mid(1) : t.mid(1, close - 1)).trimmed();
}

bool isComment(const QString &line)
{
    const QString t = line.trimmed();
    return t.startsWith(QLatin1Char(';'));
}

// Splits a key line into name and raw value; false for lines without "=".
bool splitKey(const QString &line, QString *name, QString *value)
{
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0 || isComment(line))
        return false;
    *name = line.left(eq).trimmed();
    if (value)
        *value = line.mid(eq + 1).trimmed();
    return true;
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

struct Location {
    qsizetype sectionLine = -1; // index of the "[section]" line
    qsizetype keyLine = -1;     // index of the first matching key line
    qsizetype lastContent = -1; // last non-blank line of the section
};

Location locate(const Document &doc, const QString &section, const QString &key)
{
    Location loc;
    bool inSection = false;
    for (qsizetype i = 0; i < doc.lines.size(); ++i) {
        const QString &line = doc.lines.at(i);
        const QString name = sectionName(line);
        if (!name.isNull()) {
            if (inSection)
                break; // the first matching section is the only one looked at
            if (sameName(name, section)) {
                inSection = true;
                loc.sectionLine = loc.lastContent = i;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (!line.trimmed().isEmpty())
            loc.lastContent = i;
        QString k;
        if (loc.keyLine < 0 && splitKey(line, &k, nullptr) && sameName(k, key))
            loc.keyLine = i;
    }
    return loc;
}

QString unquote(QString value)
{
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == QLatin1Char('"') || first == QLatin1Char('\'')) && value.back() == first)
            value = value.mid(1, value.size() - 2);
    }
    return value;
}

// The text stored for a value: in quotes when reading it plainly would trim
// its blanks or take off its own quotes, so that it reads back as written.
QString storedValue(const QString &value)
{
    const QString line = singleLine(value);
    if (line.isEmpty())
        return line;
    const QChar first = line.front(), last = line.back();
    const bool quoted = line.size() >= 2 && (first == QLatin1Char('"') || first == QLatin1Char('\'')) && last == first;
    if (first.isSpace() || last.isSpace() || quoted)
        return QLatin1Char('"') + line + QLatin1Char('"');
    return line;
}

// Looks the key up; false when the file, section or key is missing.
bool lookup(const Document &doc, const QString &section, const QString &key, QString *value)
{
    const Location loc = locate(doc, section, key);
    if (loc.keyLine < 0)
        return false;
    QString name;
    splitKey(doc.lines.at(loc.keyLine), &name, value);
    *value = unquote(*value);
    if (value->size() > ProfileFile::kMaxTextLength) {
        // Cut between characters, never inside a surrogate pair.
        qsizetype cut = ProfileFile::kMaxTextLength;
        if (value->at(cut - 1).isHighSurrogate())
            --cut;
        value->truncate(cut);
    }
    return true;
}

} // namespace

QString cutAtNul(const QString &text)
{
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

ProfileFile::ProfileFile(QString path) : m_path(std::move(path)) {}

ProfileFile ProfileFile::inMemory(const QByteArray &bytes)
{
    ProfileFile file{QString()};
    file.m_memory = std::make_shared<QByteArray>(bytes);
    return file;
}

QByteArray ProfileFile::bytesInMemory() const
{
    return m_memory ? *m_memory : QByteArray();
}

bool ProfileFile::readBytes(QByteArray *bytes, bool *unusable) const
{
    ReadStatus status = ReadStatus::Ok;
    if (m_memory) {
        *bytes = *m_memory;
        if (bytes->size() > kMaxFileSize)
            status = ReadStatus::Unusable;
    } else {
        status = readRegularFile(m_path, kMaxFileSize, bytes);
    }
    if (unusable)
        *unusable = status == ReadStatus::Unusable;
    return status == ReadStatus::Ok;
}

bool ProfileFile::exists() const
{
    return m_memory || QFileInfo(m_path).isFile();
}

bool ProfileFile::isUnusable() const
{
    return load(*this).unusable;
}

QString ProfileFile::readText(const QString &section, const QString &key) const
{
    return readText(section, key, QString());
}

QString ProfileFile::readText(const QString &section, const QString &key, const QString &fallback) const
{
    QString value;
    if (!lookup(load(*this), section, key, &value))
        return cutAtNul(fallback);
    return cutAtNul(value);
}

qint16 ProfileFile::parseInt(const QString &text)
{
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t.at(i) == QLatin1Char('+') || t.at(i) == QLatin1Char('-'))) {
        negative = t.at(i) == QLatin1Char('-');
        ++i;
    }
    qint64 magnitude = 0;
    for (; i < t.size() && t.at(i) >= QLatin1Char('0') && t.at(i) <= QLatin1Char('9'); ++i) {
        magnitude = magnitude * 10 + (t.at(i).unicode() - '0');
        if (magnitude > 100000)
            magnitude = 100000; // already beyond either end; stop growing
    }
    const qint64 value = negative ? -magnitude : magnitude;
    return static_cast<qint16>(std::clamp<qint64>(value, -32768, 32767));
}

qint16 ProfileFile::readInt(const QString &section, const QString &key, qint16 fallback) const
{
    QString value;
    if (!lookup(load(*this), section, key, &value))
        return fallback;
    return parseInt(value);
}

bool ProfileFile::writeText(const QString &section, const QString &key, const QString &value) const
{
    return writeTexts({{section, key, value}});
}

bool ProfileFile::writeTexts(const QList<Write> &writes) const
{
    Document doc = load(*this);
    if (doc.unusable)
        return false;
    for (const Write &w : writes) {
        const Location loc = locate(doc, w.section, w.key);
        const QString cleanValue = storedValue(w.value);
        if (loc.keyLine >= 0) {
            QString name;
            splitKey(doc.lines.at(loc.keyLine), &name, nullptr);
            doc.lines[loc.keyLine] = name + QLatin1Char('=') + cleanValue;
        } else if (loc.sectionLine >= 0) {
            doc.lines.insert(loc.lastContent + 1, singleLine(w.key) + QLatin1Char('=') + cleanValue);
        } else {
            doc.lines.append(QLatin1Char('[') + singleLine(w.section) + QLatin1Char(']'));
            doc.lines.append(singleLine(w.key) + QLatin1Char('=') + cleanValue);
        }
    }

    const QByteArray bytes = (doc.lines.join(doc.newline) + doc.newline).toUtf8();
    if (m_memory) {
        *m_memory = bytes;
        return true;
    }
    // A new file starts readable by its owner only: it may come to hold the
    // mail passwords. The replacement keeps the permissions of the file it replaces.
    if (!QFileInfo::exists(m_path))
        makeOwnerOnly();
    QSaveFile out(m_path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

bool ProfileFile::makeOwnerOnly() const
{
    if (m_memory)
        return true;
    constexpr auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (QFileInfo::exists(m_path))
        return QFile::setPermissions(m_path, ownerOnly);
    QFile file(m_path);
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly, ownerOnly);
}

bool ProfileFile::writeInt(const QString &section, const QString &key, int value) const
{
    return writeText(section, key, QString::number(value));
}

} // namespace salvo
