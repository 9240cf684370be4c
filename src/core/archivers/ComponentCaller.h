#pragma once
// Calls into the archiver components: each is loaded with dlopen at its first
// call and its entry points found by name. A component whose availability flag
// is false is never loaded; one whose file has gone or that lacks an entry
// point gives a failure result, never a crash. Texts cross the boundary in the
// locale's 8-bit encoding.
#include "archivers/Availability.h"
#include "salvo_archiver.h"

#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>

namespace salvo {

// One entry as a component reports it.
struct ComponentEntry {
    QString name;
    quint32 originalSize = 0;
    quint32 compressedSize = 0;
    qint64 originalSize64 = 0; // the component's 64-bit size when it has one, else the 32-bit field
    quint16 ratio = 0, date = 0, time = 0;
    QString attribute, method;
};

// Results the adapter gives when no call could be made.
inline constexpr int kNotCalled = -1;

class ComponentCaller {
public:
    explicit ComponentCaller(const Availability &availability);
    ~ComponentCaller();

    const Availability &availability() const { return m_availability; }

    // The main entry with a 1024-character output buffer. kNotCalled when the
    // component is unavailable or cannot be loaded.
    int run(Component component, const char *prefix, const QString &commandLine, void *owner,
            QString *output = nullptr);
    // CheckArchive's answer; 0 when it could not be called.
    int checkArchive(Component component, const char *prefix, const QString &archive, int mode);
    // GetFileCount's answer; kNotCalled when it could not be called.
    int fileCount(Component component, const char *prefix, const QString &archive);
    // GetVersion / GetSubVersion; kNotCalled when they could not be called.
    int version(Component component, const char *prefix);
    int subVersion(Component component, const char *prefix);
    // GetBackendVersion: the libraries the component decodes with, as they name
    // themselves; empty when the component has no such entry or it failed.
    QString backendVersion(Component component, const char *prefix);
    bool hasEntry(Component component, const char *prefix, const char *suffix);

    // Walks an archive: open, first with "*", next until none, close. `visit`
    // returns false to stop early; `extra` gives the size entries of the open
    // archive ("GetOriginalSize", "GetArcOriginalSize") by suffix. False when
    // nothing could be opened; `whole` (when given) tells whether the walk
    // reached the listing's end or was stopped by `visit`, rather than ending
    // on a failure of the component (a damaged header, a name it could not read).
    using Visitor = std::function<bool(const ComponentEntry &entry, const std::function<qint64(const char *)> &extra)>;
    bool walk(Component component, const char *prefix, const QString &archive, quint32 openMode, void *owner,
              const Visitor &visit, bool *whole = nullptr);

    // The second-generation ACE extraction with its 156-byte record.
    int aceV2Extract(const QString &archive, const QString &fileList, const QString &destination);

    // How many decoder processes a component may share the extraction of one
    // large archive among: 0 one per usable core (at most 4), 1 never shared.
    // Told to every component loaded, now and later.
    void setDecoderCount(int count);

    // Asked when a component would replace an existing file; returns one of the
    // components' answers (yes, no, yes to all, no to all, cancel).
    void setOverwriteAsker(std::function<int(const QString &path)> asker);
    // Asked when a component meets an encrypted entry it can decrypt (`retry`:
    // the password given before did not fit): true with the password, false to
    // give the archive up. None: encrypted entries fail.
    using PasswordAsker = std::function<bool(const QString &archive, bool retry, QString *password)>;
    void setPasswordAsker(PasswordAsker asker);

    // While one of these lives on a thread, components called on that thread
    // that ask about replacing a file get "yes to all" without the asker: the
    // setting says to overwrite, and a command line without an overwrite
    // switch (the tar form has none) must not bring the question back.
    class OverwriteWithoutAsking {
    public:
        OverwriteWithoutAsking();
        ~OverwriteWithoutAsking();
        OverwriteWithoutAsking(const OverwriteWithoutAsking &) = delete;
        OverwriteWithoutAsking &operator=(const OverwriteWithoutAsking &) = delete;

    private:
        bool m_previous;
    };

    // While one of these lives on a thread, the paths that components called
    // on that thread name in their questions (overwrite, password) pass
    // through `shown` first: a call made through links asks about the real paths.
    class ShowPathsAs {
    public:
        explicit ShowPathsAs(std::function<QString(const QString &)> shown);
        ~ShowPathsAs();
        ShowPathsAs(const ShowPathsAs &) = delete;
        ShowPathsAs &operator=(const ShowPathsAs &) = delete;

    private:
        std::function<QString(const QString &)> m_shown;
        const std::function<QString(const QString &)> *m_previous;
    };

    // While one of these lives on a thread, component calls made on that thread
    // end as soon as `flag` is set (an extraction is then cancelled and what it
    // wrote removed); a component without the cancel entry runs to its end.
    class CancelWhen {
    public:
        explicit CancelWhen(const std::atomic<bool> *flag);
        ~CancelWhen();
        CancelWhen(const CancelWhen &) = delete;
        CancelWhen &operator=(const CancelWhen &) = delete;

    private:
        const std::atomic<bool> *m_previous;
    };

    // How far an extraction has come, as its component tells it.
    struct Progress {
        QString entry;        // the entry being written
        qint64 written = 0;   // bytes of entries written
        qint64 read = 0;      // bytes of the archive read
        qint64 archiveSize = 0;
    };
    // While one of these lives on a thread, extractions made on that thread
    // tell `listener` how far they have come (a few times a second, on that
    // thread, from within the component's call).
    class ProgressTo {
    public:
        explicit ProgressTo(std::function<void(const Progress &)> listener);
        ~ProgressTo();
        ProgressTo(const ProgressTo &) = delete;
        ProgressTo &operator=(const ProgressTo &) = delete;

    private:
        std::function<void(const Progress &)> m_listener;
        const std::function<void(const Progress &)> *m_previous;
    };

private:
    struct Library;
    void *entry(Component component, const char *prefix, const char *suffix, const QString &fileOverride = {});
    Library *load(const QString &file, const char *prefix);
    static int overwriteTrampoline(void *user, const char *path);
    static int passwordTrampoline(void *user, const char *archive, int retry, char *password, uint32_t size);
    static int cancelTrampoline(void *user);
    static void progressTrampoline(void *user, const SALVO_PROGRESS *progress);

    Availability m_availability;
    std::mutex m_mutex;
    std::map<QString, Library *> m_libraries;
    std::function<int(const QString &)> m_asker;
    int m_decoderCount = -1; // -1: not told, the components' own default
    PasswordAsker m_passwordAsker;
};

} // namespace salvo
