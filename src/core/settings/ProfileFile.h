#pragma once
// Access to one INI file with the classic private-profile semantics:
// section and key names match without regard to case and the first match wins,
// blanks around names and values are trimmed, one pair of surrounding quotes is
// removed, texts come back cut to 255 characters and integers are read as 16-bit
// signed numbers. Every call reads the file afresh: nothing is cached, so a value
// written by one window is seen by the next reader at once.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <memory>

namespace salvo {

class ProfileFile {
public:
    // Longest text a read returns (UTF-16 units); longer stored values are cut,
    // one unit shorter where the cut would split a surrogate pair.
    static constexpr int kMaxTextLength = 255;
    // Larger files are not settings files: they are neither read nor rewritten.
    static constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

    explicit ProfileFile(QString path);
    // A settings file that lives in memory, read and written by the same rules
    // as one on disk (a file larger than kMaxFileSize is unusable there too).
    // Copies share the bytes. For checking those rules many thousand times.
    static ProfileFile inMemory(const QByteArray &bytes);
    QByteArray bytesInMemory() const;

    const QString &path() const { return m_path; }
    bool exists() const;
    // Something is at the path that cannot be read as a settings file (not a
    // regular file, not readable, larger than kMaxFileSize): every read gives
    // its default and every write fails, so the file is never replaced.
    bool isUnusable() const;

    // The stored text, or the empty text when the file or key is missing.
    QString readText(const QString &section, const QString &key) const;
    // The stored text, or `fallback` when the file or key is missing.
    QString readText(const QString &section, const QString &key, const QString &fallback) const;
    // Optional sign then digits; anything else reads as 0. Values outside
    // -32768..32767 are clamped to the nearest end of that range.
    qint16 readInt(const QString &section, const QString &key, qint16 fallback = 0) const;

    // Writes section/key, creating the file (owner-only), section or key as needed. Every other
    // line keeps its place; the file is replaced atomically. Returns false when the
    // file could not be written (the old file then stays as it was).
    bool writeText(const QString &section, const QString &key, const QString &value) const;
    bool writeInt(const QString &section, const QString &key, int value) const;

    // Several keys in one replacement of the file, as if written one by one.
    struct Write {
        QString section, key, value;
    };
    bool writeTexts(const QList<Write> &writes) const;

    // Makes the file readable and writable by its owner only, creating it
    // (empty) when it is missing. Writes keep the permissions of the file; a
    // file that a write creates starts this way.
    bool makeOwnerOnly() const;

    // The classic integer reading of one text, exposed for the readers that take
    // numbers from other places (and for tests).
    static qint16 parseInt(const QString &text);

    // The file's bytes as they are; false when it is missing or unusable
    // (`unusable` then tells which).
    bool readBytes(QByteArray *bytes, bool *unusable = nullptr) const;

private:
    QString m_path;
    std::shared_ptr<QByteArray> m_memory; // set for a file in memory
};

// Cuts a text at its first NUL character.
QString cutAtNul(const QString &text);

} // namespace salvo
