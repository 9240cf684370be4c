#include "TestEnvironment.h"

#include "platform/LocalPath.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

namespace salvo::test {
namespace {
// The session bus too: a test never reaches the user's desktop (its
// notifications, its file managers), and never starts a bus of its own.
const char *const kVariables[8] = {"SALVO_HOME",     "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR",      "XDG_DATA_HOME",
                                   "XDG_CACHE_HOME", "HOME",            "SALVO_COMPONENT_PATH", "DBUS_SESSION_BUS_ADDRESS"};
} // namespace

TempHome::TempHome()
{
    EXPECT_TRUE(m_root.isValid());
    for (const char *dir : {"home", "config", "runtime", "data", "cache", "userhome"})
        QDir(m_root.path()).mkpath(QLatin1String(dir));
    QFile::setPermissions(m_root.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_home = m_root.filePath(QStringLiteral("home")) + QLatin1Char('/');
    const QString values[8] = {m_home, m_root.filePath("config"), m_root.filePath("runtime"),
                               m_root.filePath("data"), m_root.filePath("cache"),
                               m_root.filePath("userhome"), QString(),
                               QStringLiteral("unix:path=") + m_root.filePath("runtime/no-bus")};
    for (int i = 0; i < 8; ++i) {
        m_saved[i] = qgetenv(kVariables[i]);
        if (values[i].isEmpty())
            qunsetenv(kVariables[i]);
        else
            qputenv(kVariables[i], values[i].toLocal8Bit());
    }
}

TempHome::~TempHome()
{
    // Qt cannot name files whose names are not UTF-8, and would leave them (and
    // their folders) behind.
    emptyFolderWithoutFollowingLinks(m_root.path());
    for (int i = 0; i < 8; ++i) {
        if (m_saved[i].isNull())
            qunsetenv(kVariables[i]);
        else
            qputenv(kVariables[i], m_saved[i]);
    }
}

ScopedVariable::ScopedVariable(const char *name, const QByteArray &value) : m_name(name), m_saved(qgetenv(name))
{
    qputenv(name, value);
}

ScopedVariable::~ScopedVariable()
{
    if (m_saved.isNull())
        qunsetenv(m_name);
    else
        qputenv(m_name, m_saved);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
}

bool waitUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

} // namespace salvo::test
