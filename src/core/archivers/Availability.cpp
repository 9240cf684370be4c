#include "Availability.h"

#include "settings/ProfileFile.h"
#include "platform/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>

namespace salvo {
namespace {

using enum Component;
using enum SearchKind;

constexpr std::array<ComponentInfo, kComponentCount> kTable{{
    {Basp21, "IsBASP21", "BASP21.DLL", "", "BASP21", nullptr, BuiltIn},
    {UnLha32, "IsUnLha32", "UnLHA32.DLL", "unlha32.so", "UNLHA32", nullptr, Library},
    {UnZip32, "IsUnZip32", "UnZip32.DLL", "unzip32.so", "UNZIP32", nullptr, Library},
    {Zip32J, "IsZip32J", "Zip32J.DLL", "zip32j.so", "ZIP32J", nullptr, Library},
    {Zip32, "IsZip32", "Zip32.DLL", "zip32.so", "ZIP32", nullptr, Library},
    {Cab32, "IsCab32", "Cab32.DLL", "cab32.so", "CAB32", nullptr, Library},
    {UnGca32, "IsUnGCA32", "UnGCA32.DLL", "ungca32.so", "UNGCA32", nullptr, Library},
    {UnRar32, "IsUnRAR32", "UnRAR32.DLL", "unrar32.so", "UNRAR32", nullptr, Library},
    {SevenZip32, "Is7Zip32", "7-zip32.DLL", "7-zip32.so", "7ZIP32", nullptr, Library},
    {Yz1, "IsYz1", "yz1.DLL", "yz1.so", "YZ1", nullptr, Library},
    {UnArj32, "IsUnARJ32", "unarj32j.DLL", "unarj32j.so", "UNARJ32", nullptr, Library},
    {Tar32, "IsTAR32", "tar32.DLL", "tar32.so", "TAR32", nullptr, Library},
    {Bga32, "IsBGA32", "bga32.DLL", "bga32.so", "BGA32", nullptr, Library},
    {UnBel32, "IsUnBEL32", "unbel32.DLL", "unbel32.so", "UNBEL32", nullptr, Library},
    {UnImp32, "IsUnIMP32", "unimp32.DLL", "unimp32.so", "UNIMP32", nullptr, Library},
    {Kty32, "IsKTY32", "kty32.DLL", "kty32.so", "KTY32", nullptr, Library},
    {UnAceV2, "IsUnACEV2", "unacev2.DLL", "unacev2.so", "UNACEV2", nullptr, Library},
    {UnAce32, "IsUnACE32", "unace32.DLL", "unace32.so", "UNACE32", nullptr, Library},
    {Yz2Dec, "IsYz2DEC", "yz2dec.exe", "yz2dec", "YZ2DEC", "YZ2DECPath", ProgramFolderOnly},
    {Yz2Enc, "IsYz2ENC", "yz2enc.exe", "yz2enc", "YZ2ENC", "YZ2ENCPath", Program},
    {RkExe, "IsRKEXE", "rk.exe", "rk", "RKEXE", "RKEXEPath", Program},
    {Paqar32, "IsPaqar32", "paqar32.DLL", "paqar32.so", "PAQAR32", nullptr, Library},
    {UnHki32, "IsUnHki32", "unhki32.DLL", "unhki32.so", "UNHKI32", nullptr, Library},
}};

const QString kStatusSection = QStringLiteral("DLLSTATUS");
const QString kValueSection = QStringLiteral("VALUE");
const QString kWriteDay = QStringLiteral("WRITEDAY");
const QString kVersion = QStringLiteral("VERSION");
const QString kDateFormat = QStringLiteral("yyyy/MM/dd");

QString *pathMember(Availability &a, Component c)
{
    switch (c) {
    case Yz2Dec: return &a.yz2DecPath;
    case Yz2Enc: return &a.yz2EncPath;
    case RkExe: return &a.rkExePath;
    default: return nullptr;
    }
}

// "True"/"False" in any case, or a number (non-zero is true); nothing else.
std::optional<bool> parseBoolean(const QString &text)
{
    if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const double number = text.toDouble(&ok);
    if (ok)
        return number != 0.0;
    return std::nullopt;
}

bool isStale(const ProfileFile &status, const QDate &today)
{
    const QDate written = QDate::fromString(status.readText(kValueSection, kWriteDay), kDateFormat);
    if (!written.isValid() || written.daysTo(today) > kDllStatusMaxAgeDays || written > today)
        return true;
    return status.readInt(kValueSection, kVersion) <= 128;
}

} // namespace

const std::array<ComponentInfo, kComponentCount> &componentTable()
{
    return kTable;
}

const ComponentInfo &componentInfo(Component c)
{
    return kTable[static_cast<int>(c)];
}

ComponentLocator::ComponentLocator(QString myPath, QStringList libraryFolders, QStringList programFolders)
    : m_myPath(std::move(myPath)), m_libraryFolders(std::move(libraryFolders)),
      m_programFolders(std::move(programFolders))
{
}

ComponentLocator ComponentLocator::forProgram(const QString &myPath, const QString &executableDir)
{
    return ComponentLocator(myPath, componentSearchFolders(executableDir),
                            programSearchFolders(executableDir));
}

QString ComponentLocator::find(const ComponentInfo &info) const
{
    const QString name = QString::fromLatin1(info.fileName);
    QStringList folders;
    switch (info.kind) {
    case BuiltIn:
        return {};
    case Library:
        folders = m_libraryFolders;
        break;
    case Program:
        folders = m_programFolders;
        break;
    case ProgramFolderOnly:
        folders = QStringList{m_myPath};
        break;
    }
    for (const QString &folder : folders) {
        const QFileInfo candidate(QDir(folder).filePath(name));
        if (!candidate.isFile())
            continue;
        if (info.kind != Library && !candidate.isExecutable())
            continue;
        return candidate.absoluteFilePath();
    }
    return {};
}

Availability settleAvailability(const QString &myPath, const ComponentLocator &locator,
                                   const std::function<void(const QString &)> &reportError, const QDate &today)
{
    Availability result;
    const ProfileFile status(myPath + QLatin1String(kDllStatusFile));

    // Marks a component present when its file is where the search rule finds it.
    auto resolve = [&](const ComponentInfo &info) {
        const int i = static_cast<int>(info.id);
        if (info.kind == BuiltIn) {
            result.present[i] = true;
            return true;
        }
        const QString file = locator.find(info);
        result.present[i] = !file.isEmpty();
        result.files[i] = file;
        if (QString *folder = pathMember(result, info.id))
            *folder = file.isEmpty() ? QString() : withTrailingSlash(QFileInfo(file).absolutePath());
        return result.present[i];
    };

    if (status.exists() && isStale(status, today))
        QFile::remove(status.path());

    // Rows the file records as present; each is confirmed by finding its file,
    // so a component removed since the file was written is never called.
    std::array<bool, kComponentCount> recorded{};
    if (status.exists()) {
        for (const ComponentInfo &info : kTable) {
            const QString text = status.readText(kStatusSection, QLatin1String(info.recordKey));
            if (text.isEmpty())
                continue; // not recorded: searched below
            const std::optional<bool> flag = parseBoolean(text);
            if (!flag) {
                QFile::remove(status.path());
                // The rows read before the broken one keep what they said.
                for (const ComponentInfo &earlier : kTable) {
                    if (earlier.id == info.id)
                        break;
                    if (recorded[static_cast<int>(earlier.id)])
                        resolve(earlier);
                }
                reportError(QStringLiteral("SalvoExtractorの対応DLLが変化しました。\n"
                                           "Salvo Extractorを再起動して下さい。"));
                return result;
            }
            recorded[static_cast<int>(info.id)] = *flag;
        }
    }

    // The findings go into the file in one write.
    QList<ProfileFile::Write> writes;
    bool searched = false;
    for (const ComponentInfo &info : kTable) {
        const int i = static_cast<int>(info.id);
        const bool found = resolve(info);
        if (recorded[i] && found)
            continue; // trusted: recorded present and still there
        searched = true;
        writes.append({kStatusSection, QLatin1String(info.recordKey),
                       found ? QStringLiteral("True") : QStringLiteral("False")});
        if (info.pathKey)
            writes.append({kStatusSection, QLatin1String(info.pathKey), *pathMember(result, info.id)});
    }
    if (searched)
        writes.append({kValueSection, kWriteDay, today.toString(kDateFormat)});
    writes.append({kValueSection, kVersion, QString::number(kDllStatusVersion)});
    status.writeTexts(writes);
    return result;
}

} // namespace salvo
