#include "ComponentCaller.h"

#include "platform/LocalPath.h"
#include "platform/LowMemory.h"
#include "salvo_archiver.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <vector>
#include <dlfcn.h>

namespace salvo {

struct ComponentCaller::Library {
    void *handle = nullptr;
    QByteArray prefix;
};

namespace {

constexpr int kOutputSize = 1024;

// Components whose list entries live in a second library of their family.
QString siblingFile(const QString &file, Component component, const char *suffix)
{
    const bool walking = std::strcmp(suffix, "OpenArchive") == 0 || std::strcmp(suffix, "FindFirst") == 0
        || std::strcmp(suffix, "FindNext") == 0 || std::strcmp(suffix, "CloseArchive") == 0;
    if (component == Component::UnArj32 && walking)
        return QFileInfo(file).absolutePath() + QStringLiteral("/unarj32.so");
    return file;
}

} // namespace

namespace {
thread_local bool t_overwriteWithoutAsking = false;
thread_local const std::atomic<bool> *t_cancelFlag = nullptr;
thread_local const std::function<QString(const QString &)> *t_shownPaths = nullptr;

QString shownPath(const char *path)
{
    const QString named = pathFromLocalBytes(QByteArray(path));
    return t_shownPaths ? (*t_shownPaths)(named) : named;
}
} // namespace

ComponentCaller::ShowPathsAs::ShowPathsAs(std::function<QString(const QString &)> shown)
    : m_shown(std::move(shown)), m_previous(t_shownPaths)
{
    t_shownPaths = &m_shown;
}

ComponentCaller::ShowPathsAs::~ShowPathsAs()
{
    t_shownPaths = m_previous;
}

ComponentCaller::CancelWhen::CancelWhen(const std::atomic<bool> *flag) : m_previous(t_cancelFlag)
{
    t_cancelFlag = flag;
}

ComponentCaller::CancelWhen::~CancelWhen()
{
    t_cancelFlag = m_previous;
}

int ComponentCaller::cancelTrampoline(void *)
{
    return t_cancelFlag && *t_cancelFlag ? 1 : 0;
}

namespace {
thread_local const std::function<void(const ComponentCaller::Progress &)> *t_progress = nullptr;
} // namespace

ComponentCaller::ProgressTo::ProgressTo(std::function<void(const Progress &)> listener)
    : m_listener(std::move(listener)), m_previous(t_progress)
{
    t_progress = &m_listener;
}

ComponentCaller::ProgressTo::~ProgressTo()
{
    t_progress = m_previous;
}

void ComponentCaller::progressTrampoline(void *, const SALVO_PROGRESS *progress)
{
    if (!t_progress || !*t_progress || !progress)
        return;
    Progress p;
    p.entry = progress->entry ? QString::fromUtf8(progress->entry) : QString();
    p.written = progress->written;
    p.read = progress->read;
    p.archiveSize = progress->archiveSize;
    (*t_progress)(p);
}

ComponentCaller::OverwriteWithoutAsking::OverwriteWithoutAsking() : m_previous(t_overwriteWithoutAsking)
{
    t_overwriteWithoutAsking = true;
}

ComponentCaller::OverwriteWithoutAsking::~OverwriteWithoutAsking()
{
    t_overwriteWithoutAsking = m_previous;
}

ComponentCaller::ComponentCaller(const Availability &availability) : m_availability(availability) {}

ComponentCaller::~ComponentCaller()
{
    // Components stay loaded until the program ends, as the operating system
    // would keep them; only the bookkeeping goes.
    for (auto &[file, lib] : m_libraries)
        delete lib;
}

void ComponentCaller::setOverwriteAsker(std::function<int(const QString &)> asker)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_asker = std::move(asker);
}

int ComponentCaller::overwriteTrampoline(void *user, const char *path)
{
    if (t_overwriteWithoutAsking)
        return SALVO_ANSWER_YES_TO_ALL;
    auto *self = static_cast<ComponentCaller *>(user);
    std::function<int(const QString &)> asker;
    {
        std::lock_guard<std::mutex> lock(self->m_mutex);
        asker = self->m_asker;
    }
    return asker ? asker(shownPath(path)) : SALVO_ANSWER_NO;
}

void ComponentCaller::setPasswordAsker(PasswordAsker asker)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_passwordAsker = std::move(asker);
}

int ComponentCaller::passwordTrampoline(void *user, const char *archive, int retry, char *password, uint32_t size)
{
    auto *self = static_cast<ComponentCaller *>(user);
    PasswordAsker asker;
    {
        std::lock_guard<std::mutex> lock(self->m_mutex);
        asker = self->m_passwordAsker;
    }
    QString given;
    if (!asker || size == 0 || !asker(shownPath(archive), retry != 0, &given))
        return 0;
    QByteArray bytes = given.toUtf8();
    const bool fits = bytes.size() < static_cast<qsizetype>(size);
    if (fits) {
        std::memcpy(password, bytes.constData(), static_cast<size_t>(bytes.size()));
        password[bytes.size()] = '\0';
    }
    // The password is kept nowhere once it is handed over.
    bytes.fill('\0');
    given.fill(QChar(0));
    return fits ? 1 : 0;
}

ComponentCaller::Library *ComponentCaller::load(const QString &file, const char *prefix)
{
    auto found = m_libraries.find(file);
    if (found != m_libraries.end())
        return found->second;
    // The file was found at start-up; a component removed since is not loaded.
    if (!QFileInfo(file).isFile())
        return nullptr;
    void *handle = dlopen(QFile::encodeName(file).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        qWarning("component %s could not be loaded: %s", qPrintable(file), dlerror());
        return nullptr;
    }
    auto *lib = new Library{handle, QByteArray(prefix)};
    m_libraries[file] = lib;
    // Overwrite questions come back to the program.
    const QByteArray setter = QByteArray(prefix) + "SetOverwriteCallback";
    if (auto set = reinterpret_cast<SALVO_SET_OVERWRITE_CALLBACK>(dlsym(handle, setter.constData())))
        set(&ComponentCaller::overwriteTrampoline, this);
    const QByteArray passwordSetter = QByteArray(prefix) + "SetPasswordCallback";
    if (auto set = reinterpret_cast<SALVO_SET_PASSWORD_CALLBACK>(dlsym(handle, passwordSetter.constData())))
        set(&ComponentCaller::passwordTrampoline, this);
    // So are the looks at whether the calling thread's work is to end.
    const QByteArray cancelSetter = QByteArray(prefix) + "SetCancelCallback";
    if (auto set = reinterpret_cast<SALVO_SET_CANCEL_CALLBACK>(dlsym(handle, cancelSetter.constData())))
        set(&ComponentCaller::cancelTrampoline, this);
    // And how far an extraction has come.
    const QByteArray progressSetter = QByteArray(prefix) + "SetProgressCallback";
    if (auto set = reinterpret_cast<SALVO_SET_PROGRESS_CALLBACK>(dlsym(handle, progressSetter.constData())))
        set(&ComponentCaller::progressTrampoline, this);
    if (m_decoderCount >= 0) {
        const QByteArray counter = QByteArray(prefix) + "SetDecoderCount";
        if (auto set = reinterpret_cast<SALVO_SET_DECODER_COUNT>(dlsym(handle, counter.constData())))
            set(m_decoderCount);
    }
    return lib;
}

void ComponentCaller::setDecoderCount(int count)
{
    std::vector<SALVO_SET_DECODER_COUNT> setters;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_decoderCount = std::clamp(count, 0, 4);
        for (const auto &[file, lib] : m_libraries) {
            const QByteArray counter = lib->prefix + "SetDecoderCount";
            if (auto set = reinterpret_cast<SALVO_SET_DECODER_COUNT>(dlsym(lib->handle, counter.constData())))
                setters.push_back(set);
        }
        count = m_decoderCount;
    }
    for (SALVO_SET_DECODER_COUNT set : setters)
        set(count);
}

void *ComponentCaller::entry(Component component, const char *prefix, const char *suffix, const QString &fileOverride)
{
    if (!m_availability.has(component))
        return nullptr;
    QString file = fileOverride.isEmpty() ? m_availability.files[static_cast<int>(component)] : fileOverride;
    file = siblingFile(file, component, suffix);
    if (file.isEmpty())
        return nullptr;
    std::lock_guard<std::mutex> lock(m_mutex);
    Library *lib = load(file, prefix);
    if (!lib)
        return nullptr;
    const QByteArray name = QByteArray(prefix) + suffix;
    return dlsym(lib->handle, name.constData());
}

bool ComponentCaller::hasEntry(Component component, const char *prefix, const char *suffix)
{
    return entry(component, prefix, suffix) != nullptr;
}

int ComponentCaller::run(Component component, const char *prefix, const QString &commandLine, void *owner,
                         QString *output)
{
    auto fn = reinterpret_cast<SALVO_MAIN_ENTRY>(entry(component, prefix, ""));
    if (!fn)
        return kNotCalled;
    // Paths in the line keep their bytes, also those that are not UTF-8.
    const QByteArray line = localBytesOfPath(commandLine);
    char buffer[kOutputSize + 1] = {};
    const int result = fn(owner, line.constData(), buffer, kOutputSize);
    buffer[kOutputSize] = '\0';
    if (output)
        *output = QString::fromLocal8Bit(buffer);
    return result;
}

int ComponentCaller::checkArchive(Component component, const char *prefix, const QString &archive, int mode)
{
    auto fn = reinterpret_cast<SALVO_CHECK_ARCHIVE>(entry(component, prefix, "CheckArchive"));
    return fn ? fn(localBytesOfPath(archive).constData(), mode) : 0;
}

int ComponentCaller::fileCount(Component component, const char *prefix, const QString &archive)
{
    auto fn = reinterpret_cast<SALVO_GET_FILE_COUNT>(entry(component, prefix, "GetFileCount"));
    return fn ? fn(localBytesOfPath(archive).constData()) : kNotCalled;
}

int ComponentCaller::version(Component component, const char *prefix)
{
    auto fn = reinterpret_cast<SALVO_GET_VERSION>(entry(component, prefix, "GetVersion"));
    return fn ? static_cast<qint16>(fn()) : kNotCalled;
}

int ComponentCaller::subVersion(Component component, const char *prefix)
{
    auto fn = reinterpret_cast<SALVO_GET_SUB_VERSION>(entry(component, prefix, "GetSubVersion"));
    return fn ? static_cast<qint16>(fn()) : kNotCalled;
}

QString ComponentCaller::backendVersion(Component component, const char *prefix)
{
    auto fn = reinterpret_cast<SALVO_GET_BACKEND_VERSION>(entry(component, prefix, "GetBackendVersion"));
    char buffer[1024] = {};
    if (!fn || fn(buffer, sizeof buffer) != 0)
        return {};
    buffer[sizeof buffer - 1] = '\0';
    return QString::fromLocal8Bit(buffer).trimmed();
}

bool ComponentCaller::walk(Component component, const char *prefix, const QString &archive, quint32 openMode,
                           void *owner, const Visitor &visit, bool *whole)
{
    if (whole)
        *whole = false;
    auto open = reinterpret_cast<SALVO_OPEN_ARCHIVE>(entry(component, prefix, "OpenArchive"));
    auto first = reinterpret_cast<SALVO_FIND_FIRST>(entry(component, prefix, "FindFirst"));
    auto next = reinterpret_cast<SALVO_FIND_NEXT>(entry(component, prefix, "FindNext"));
    auto close = reinterpret_cast<SALVO_CLOSE_ARCHIVE>(entry(component, prefix, "CloseArchive"));
    auto size64 = reinterpret_cast<SALVO_GET_ORIGINAL_SIZE_EX>(entry(component, prefix, "GetOriginalSizeEx"));
    if (!open || !first || !close)
        return false;
    SALVO_HARC handle = open(owner, localBytesOfPath(archive).constData(), openMode);
    if (!handle)
        return false;

    const std::function<qint64(const char *)> extra = [&](const char *suffix) -> qint64 {
        using SizeFn = int (*)(SALVO_HARC);
        auto fn = reinterpret_cast<SizeFn>(entry(component, prefix, suffix));
        return fn ? fn(handle) : 0;
    };
    // 560 bytes: the 558 of the record and room to spare, zeroed before each call.
    alignas(8) unsigned char raw[560];
    auto *info = reinterpret_cast<SALVO_INDIVIDUALINFO *>(raw);
    std::memset(raw, 0, sizeof raw);
    int r = first(handle, "*", info);
    bool stopped = false;
    while (r == 0) {
        ComponentEntry e;
        // The name field may lack its NUL: such a name counts as empty.
        const char *nameField = info->szFileName;
        const void *nul = std::memchr(nameField, '\0', sizeof info->szFileName);
        // Names keep their bytes, so that what a row shows is handed back as it came.
        e.name = nul ? pathFromLocalBytes(QByteArray(nameField)) : QString();
        e.originalSize = info->dwOriginalSize;
        e.compressedSize = info->dwCompressedSize;
        e.ratio = info->wRatio;
        e.date = info->wDate;
        e.time = info->wTime;
        e.attribute = QString::fromLocal8Bit(info->szAttribute, qstrnlen(info->szAttribute, 8));
        e.method = QString::fromLocal8Bit(info->szMode, qstrnlen(info->szMode, 8));
        int64_t wide = 0;
        e.originalSize64 = (size64 && size64(handle, &wide) == 0) ? wide : e.originalSize;
        if (!visit(e, extra) || !next) {
            stopped = true;
            break;
        }
        std::memset(raw, 0, sizeof raw);
        r = next(handle, info);
    }
    close(handle);
    // -1 is the listing's end; any other answer is a failure.
    if (whole)
        *whole = stopped || r == -1;
    return true;
}

int ComponentCaller::aceV2Extract(const QString &archive, const QString &fileList, const QString &destination)
{
    using AceExtract = int (*)(const char *archive, void *record);
    auto fn = reinterpret_cast<AceExtract>(entry(Component::UnAceV2, "", "ACEExtract"));
    if (!fn)
        return kNotCalled;
    // The record keeps 32-bit pointers, so it and its strings live in memory
    // with 32-bit addresses. The texts go in the locale's encoding like the
    // archive path, so Japanese folder names arrive intact.
    LowMemory memory(64 * 1024);
    if (!memory.data())
        return kNotCalled;
    char *record = memory.data();
    std::memset(record, 0, 156);
    char *cursor = record + 160;
    const char *limit = memory.data() + memory.size();
    auto put = [&](const QByteArray &text) -> quint32 {
        if (cursor + text.size() + 1 > limit)
            return 0;
        char *at = cursor;
        std::memcpy(at, text.constData(), text.size());
        at[text.size()] = '\0';
        cursor += text.size() + 1;
        return static_cast<quint32>(reinterpret_cast<quintptr>(at));
    };
    const quint32 empty = put(QByteArray());
    const quint32 list = put(localBytesOfPath(fileList));
    const quint32 dest = put(localBytesOfPath(destination));
    if (!empty || !list || !dest)
        return kNotCalled;
    auto store = [record](int offset, quint32 value) { std::memcpy(record + offset, &value, 4); };
    store(0, empty);  // source folder
    store(4, list);   // file list
    store(8, empty);  // exclude list
    store(12, 0);     // full-match flag
    store(80, dest);  // destination folder
    store(84, 0);     // keep stored paths
    store(88, empty); // password
    return fn(localBytesOfPath(archive).constData(), record);
}

} // namespace salvo
