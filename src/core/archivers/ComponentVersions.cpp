#include "ComponentVersions.h"

#include "ComponentCaller.h"

#include <QFileInfo>

namespace salvo {
namespace {

enum class Shown {
    VersionAndSub, // version, "." and sub-version
    Version,       // version
    OneDecimal,    // version as "0.0"
    Presence,      // "Installed" or "Not Installed"
};

struct RowSpec {
    Component component;
    const char *prefix;
    Shown shown;
};

constexpr RowSpec kRows[] = {
    {Component::UnLha32, "Unlha", Shown::VersionAndSub},
    {Component::UnZip32, "UnZip", Shown::Version},
    {Component::Zip32J, "Zip", Shown::Version},
    {Component::Zip32, "", Shown::Presence},
    {Component::Cab32, "Cab", Shown::Version},
    {Component::UnGca32, "UnGCA", Shown::Version},
    {Component::UnRar32, "Unrar", Shown::Version},
    {Component::SevenZip32, "SevenZip", Shown::VersionAndSub},
    {Component::Yz1, "Yz1", Shown::Version},
    {Component::UnArj32, "Unarj", Shown::VersionAndSub},
    {Component::Tar32, "Tar", Shown::Version},
    {Component::Bga32, "Bga", Shown::Version},
    {Component::UnBel32, "Unbel", Shown::Version},
    {Component::UnImp32, "UnImp", Shown::VersionAndSub},
    {Component::UnHki32, "UnHki", Shown::VersionAndSub},
    {Component::Kty32, "Kty", Shown::OneDecimal},
    {Component::Paqar32, "Paqar", Shown::VersionAndSub},
    {Component::UnAce32, "Unace", Shown::VersionAndSub},
    {Component::UnAceV2, "", Shown::Presence},
    {Component::Yz2Dec, "", Shown::Presence},
    {Component::RkExe, "", Shown::Presence},
};

const QString kInstalled = QStringLiteral("Installed");
const QString kNotInstalled = QStringLiteral("Not Installed");

QString versionShown(ComponentCaller &caller, const RowSpec &row)
{
    if (row.shown == Shown::Presence)
        return kInstalled;
    const int version = caller.version(row.component, row.prefix);
    if (version == kNotCalled)
        return kInstalled; // present, but it answers no version
    if (row.shown == Shown::OneDecimal)
        return QString::number(version / 100.0, 'f', 1);
    QString text = hundredthsText(version);
    if (row.shown == Shown::VersionAndSub) {
        const int sub = caller.subVersion(row.component, row.prefix);
        if (sub != kNotCalled)
            text += QLatin1Char('.') + hundredthsText(sub);
    }
    return text;
}

ComponentVersionRow backendRow(ComponentCaller &caller)
{
    const QString name = QStringLiteral("libarchive");
    bool anyPresent = false;
    for (const RowSpec &row : kRows) {
        if (!*row.prefix || !caller.availability().has(row.component))
            continue;
        anyPresent = true;
        const QString text = caller.backendVersion(row.component, row.prefix);
        if (text.isEmpty())
            continue;
        // "libarchive 3.6.2 zlib/1.2.13 ...": the version is the word after the name.
        const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const QString version = words.size() >= 2 && words.at(0) == name ? words.at(1) : text;
        return {name, version, text};
    }
    return {name, anyPresent ? QStringLiteral("Unknown") : kNotInstalled, {}};
}

} // namespace

QString hundredthsText(int hundredths)
{
    return QString::number(hundredths / 100.0, 'f', 2);
}

QList<ComponentVersionRow> componentVersionRows(ComponentCaller &caller)
{
    const Availability &availability = caller.availability();
    QList<ComponentVersionRow> rows;
    for (const RowSpec &row : kRows) {
        const QString found = availability.files[static_cast<int>(row.component)];
        ComponentVersionRow r;
        r.file = found.isEmpty() ? QLatin1String(componentInfo(row.component).fileName) : QFileInfo(found).fileName();
        if (availability.has(row.component)) {
            r.version = versionShown(caller, row);
            r.detail = found;
        } else {
            r.version = kNotInstalled;
        }
        rows << r;
    }
    rows << backendRow(caller);
    return rows;
}

} // namespace salvo
