#include "OptionForms.h"

#include "ProfileFile.h"
#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace salvo {
namespace {

OptionField field(const QString &control, ControlKind kind, const ini::IntKey &key, QStringList choices = {})
{
    OptionField f;
    f.control = control;
    f.kind = kind;
    f.section = QLatin1String(key.section);
    f.key = QLatin1String(key.name);
    f.integer = true;
    f.absent = QString::number(key.absent);
    f.choices = std::move(choices);
    return f;
}

OptionField field(const QString &control, ControlKind kind, const ini::TextKey &key, QStringList choices = {})
{
    OptionField f;
    f.control = control;
    f.kind = kind;
    f.section = QLatin1String(key.section);
    f.key = QLatin1String(key.name);
    f.absent = QString::fromUtf8(key.absent);
    f.choices = std::move(choices);
    return f;
}

template <typename Key>
OptionField numberBox(const QString &control, const Key &key, int minimum, int maximum, const QString &caption)
{
    OptionField f = field(control, ControlKind::TextBox, key);
    f.minimum = minimum;
    f.maximum = maximum;
    f.caption = caption;
    return f;
}

QStringList numbers(int from, int to)
{
    QStringList items;
    for (int i = from; i <= to; ++i)
        items << QString::number(i);
    return items;
}

// A whole number in plain decimal digits (blanks around it allowed).
bool parseWholeNumber(const QString &text, int *value)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 9)
        return false;
    for (const QChar c : t) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    *value = t.toInt();
    return true;
}

QString folderProblem(const QString &text, const QString &caption, bool needed)
{
    // The reader trims blanks around a stored value: check what will be read back.
    const QString folder = text.trimmed();
    if (folder.isEmpty()) {
        return needed ? QStringLiteral("「%1」のフォルダを指定してください。").arg(caption) : QString();
    }
    if (folder.size() > ProfileFile::kMaxTextLength) {
        return QStringLiteral("「%1」のフォルダのパスが長すぎます。%2文字までにしてください。")
            .arg(caption)
            .arg(ProfileFile::kMaxTextLength);
    }
    if (!QDir::isAbsolutePath(folder))
        return QStringLiteral("「%1」にはフォルダを / から始まるパスで指定してください。\n%2").arg(caption, folder);
    const QFileInfo info(folder);
    if (!info.isDir())
        return QStringLiteral("「%1」のフォルダが見つかりません。\n%2").arg(caption, folder);
    // Files are made inside the folder: it needs write and search permission.
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0)
        return QStringLiteral("「%1」のフォルダに書き込めません。\n%2").arg(caption, folder);
    return {};
}

} // namespace

OptionValues loadOptions(const Settings &settings, const QList<OptionField> &fields)
{
    const ProfileFile &file = settings.file();
    OptionValues values;
    for (const OptionField &f : fields) {
        if (f.integer)
            values.insert(f.control, QString::number(file.readInt(f.section, f.key, static_cast<qint16>(f.absent.toInt()))));
        else
            values.insert(f.control, file.readText(f.section, f.key, f.absent));
    }
    return values;
}

bool saveOptions(const Settings &settings, const QList<OptionField> &fields, const OptionValues &values)
{
    QList<ProfileFile::Write> writes;
    writes.reserve(fields.size());
    for (const OptionField &f : fields)
        writes.append({f.section, f.key, values.value(f.control)});
    return settings.file().writeTexts(writes);
}

bool isTicked(const OptionField &field, const QString &value)
{
    const bool on = ProfileFile::parseInt(value) != 0;
    return field.kind == ControlKind::InvertedCheckBox ? !on : on;
}

QString tickedValue(const OptionField &field, bool ticked, const QString &loaded)
{
    if (ticked == isTicked(field, loaded))
        return loaded;
    const bool on = field.kind == ControlKind::InvertedCheckBox ? !ticked : ticked;
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

int choiceIndex(const OptionField &field, const QString &value)
{
    bool ok = false;
    const int n = value.trimmed().toInt(&ok);
    return ok && n >= 0 && n < field.choices.size() ? n : -1;
}

QString choiceValue(int index, const QString &loaded)
{
    return index < 0 ? loaded : QString::number(index);
}

const OptionField *findField(const QList<OptionField> &fields, const QString &control)
{
    for (const OptionField &f : fields) {
        if (f.control == control)
            return &f;
    }
    return nullptr;
}

const QList<OptionField> &extractionOptionFields()
{
    using K = ControlKind;
    static const QList<OptionField> fields{
        // Page "解凍"
        field(QStringLiteral("chkShowListViewer"), K::CheckBox, ini::kShowListViewer),
        field(QStringLiteral("chkErrorSkip"), K::CheckBox, ini::kErrorSkip),
        // The box says "turn the pre-scan off" while PreScan = 1 turns it on.
        field(QStringLiteral("chkPreScan"), K::InvertedCheckBox, ini::kPreScan),
        field(QStringLiteral("chkUseSevenZip"), K::CheckBox, ini::kUse7Zip),
        field(QStringLiteral("chkOpenFolder"), K::CheckBox, ini::kOpenFolder),
        // Page "通常解凍"
        field(QLatin1String(extraction::kDeleteNormal), K::CheckBox, ini::kNormalDeleteArchive),
        field(QLatin1String(extraction::kAlwaysFolder), K::TextBox, ini::kAlwaysPath),
        field(QStringLiteral("chkDirectory"), K::CheckBox, ini::kDirectory),
        field(QStringLiteral("chkOverWriteNormal"), K::CheckBox, ini::kNormalOverWrite),
        field(QLatin1String(extraction::kNormalFolderMode), K::OptionGroup, ini::kNormalFileNameFolder,
              {QStringLiteral("ExNormal_FileNameFolder_Auto"), QStringLiteral("ExNormal_FileNameFolder_Use"),
               QStringLiteral("ExNormal_FileNameFolder_NoUse")}),
        // Page "簡易解凍"
        field(QLatin1String(extraction::kDeleteDdMode), K::CheckBox, ini::kDdDeleteArchive),
        field(QLatin1String(extraction::kDdExtractMode), K::OptionGroup, ini::kDdExtractMode,
              {QStringLiteral("optDDMODE_ExtDesktop"), QStringLiteral("optDDMODE_ExtFileExist"),
               QStringLiteral("optDDMODE_ExtSelfDecide")}),
        field(QLatin1String(extraction::kDdTargetFolder), K::TextBox, ini::kDdTargetPath),
        field(QLatin1String(extraction::kUseDesktop), K::CheckBox, ini::kDdUseDesktop),
        field(QStringLiteral("chkOverWriteDDMODE"), K::CheckBox, ini::kDdOverWrite),
        field(QStringLiteral("ExDDMODE_FileNameFolder"), K::OptionGroup, ini::kDdFileNameFolder,
              {QStringLiteral("ExDDMODE_FileNameFolder_Auto"), QStringLiteral("ExDDMODE_FileNameFolder_Use"),
               QStringLiteral("ExDDMODE_FileNameFolder_NoUse")}),
        // Page "書庫閲覧"
        field(QStringLiteral("chkOverWriteArcView"), K::CheckBox, ini::kViewOverWrite),
        field(QStringLiteral("chkMakeFolder4ListView"), K::CheckBox, ini::kMakeFolder4ListView),
        field(QLatin1String(extraction::kViewerAction), K::OptionGroup, ini::kViewAction,
              {QStringLiteral("optArcViewAction_Open"), QStringLiteral("optArcViewAction_Extract")}),
        field(QLatin1String(extraction::kViewerPlace), K::OptionGroup, ini::kViewTargetPlace,
              {QStringLiteral("optArcViewPlace_OpenOnly"), QStringLiteral("optArcViewPlace_OnDemand"),
               QStringLiteral("optArcViewPlace_Always"), QStringLiteral("optArcViewPlace_Template")}),
        field(QLatin1String(extraction::kViewerFolder), K::TextBox, ini::kViewAlwaysFolder),
        field(QStringLiteral("cmbArcViewPlace_Template"), K::ComboBox, ini::kViewTemplate,
              {QStringLiteral("マイ ドキュメント"), QStringLiteral("デスクトップ"), QStringLiteral("システムフォルダ"),
               QStringLiteral("Windows")}),
    };
    return fields;
}

const QList<OptionField> &archiverOptionFields()
{
    using K = ControlKind;
    static const QList<OptionField> fields{
        field(QStringLiteral("GENARC_chkUse7zip"), K::CheckBox, ini::kArcUse7Zip),
        field(QStringLiteral("LZH_cmbArchiveLevel"), K::ComboBox, ini::kLzhArchiveLevel,
              {QStringLiteral("lh0"), QStringLiteral("lh1"), QStringLiteral("lh5"), QStringLiteral("lh6"),
               QStringLiteral("lh7"), QStringLiteral("Auto")}),
        numberBox(QStringLiteral("LZH_txtHuffmanBufferSize"), ini::kLzhHuffmanBufferSize, 4096, 32768,
                  QStringLiteral("Huffmanバッファサイズ")),
        field(QStringLiteral("ZIP_cmbArchiveLevel"), K::ComboBox, ini::kZipArchiveLevel, numbers(0, 9)),
        field(QStringLiteral("ZIP_7z_cmbArchiveLevel"), K::ComboBox, ini::kZipArchiveLevel7z, numbers(0, 9)),
        field(QStringLiteral("ZIP_7z_cmbArchiveMethod"), K::ComboBox, ini::kZipArchiveMethod7z,
              {QStringLiteral("Copy"), QStringLiteral("Deflate"), QStringLiteral("Deflate64"), QStringLiteral("BZip2")}),
        numberBox(QStringLiteral("ZIP_7z_txtDeflateMem"), ini::kZipDeflateMem7z, 3, 64,
                  QStringLiteral("Deflateエンコーダ用メモリ")),
        numberBox(QStringLiteral("ZIP_7z_txtDeflatePass"), ini::kZipDeflatePass7z, 1, 3,
                  QStringLiteral("Deflateエンコーダパス")),
        field(QStringLiteral("CAB_cmbArchiveType"), K::ComboBox, ini::kCabArchiveType,
              {QStringLiteral("MSZIP"), QStringLiteral("LZX"), QStringLiteral("NoCompress")}),
        field(QStringLiteral("CAB_cmbLZXArchiveLevel"), K::ComboBox, ini::kCabLzxArchiveLevel, numbers(15, 21)),
        field(QStringLiteral("SevenZIP_cmbArchiveLevel"), K::ComboBox, ini::k7zArchiveLevel, numbers(0, 9)),
        field(QStringLiteral("SevenZIP_chkSolid"), K::CheckBox, ini::k7zSolidMode),
        field(QStringLiteral("SevenZIP_cmbFilter"), K::ComboBox, ini::k7zFilter, numbers(0, 1)),
        field(QStringLiteral("SevenZIP_HeaderComp"), K::CheckBox, ini::k7zHeaderComp),
        field(QStringLiteral("SevenZIP_CompleteHeaderComp"), K::CheckBox, ini::k7zCompleteHeaderComp),
        field(QStringLiteral("GZ_cmbArchiveLevel"), K::ComboBox, ini::kGzArchiveLevel, numbers(1, 9)),
        field(QStringLiteral("BZ2_cmbArchiveLevel"), K::ComboBox, ini::kBz2ArchiveLevel, numbers(1, 9)),
        field(QStringLiteral("BZA_cmbArchiveLevel"), K::ComboBox, ini::kBzaArchiveLevel, numbers(1, 9)),
        field(QStringLiteral("GZA_cmbArchiveLevel"), K::ComboBox, ini::kGzaArchiveLevel, numbers(1, 9)),
        field(QStringLiteral("RK_cmbArchiveLevel"), K::ComboBox, ini::kRkArchiveLevel,
              {QStringLiteral("mf1"), QStringLiteral("mf2"), QStringLiteral("mf3"), QStringLiteral("mn1"),
               QStringLiteral("mn2"), QStringLiteral("mn3"), QStringLiteral("mx1"), QStringLiteral("mx2"),
               QStringLiteral("mx3")}),
        field(QStringLiteral("RK_cmbWAVArchiveLevel"), K::ComboBox, ini::kRkWavArchiveLevel,
              {QStringLiteral("mwf"), QStringLiteral("mwn"), QStringLiteral("mwx")}),
        numberBox(QStringLiteral("YZ2_txtBufferSize"), ini::kYz2BufferSize, 1, 255,
                  QStringLiteral("圧縮バッファサイズ")),
        field(QStringLiteral("YZ2_chkPPM"), K::CheckBox, ini::kYz2Ppm),
        field(QStringLiteral("PAQAR_cmbArchiveLevel"), K::ComboBox, ini::kPaqarArchiveLevel, numbers(0, 9)),
    };
    return fields;
}

ViewerPlaceRule viewerPlaceRule(int actionIndex)
{
    switch (actionIndex) {
    case 0: // open
        return {true, false};
    case 1: // extract
        return {false, true};
    default:
        return {};
    }
}

int placeAfterRule(int actionIndex, int placeIndex)
{
    const ViewerPlaceRule rule = viewerPlaceRule(actionIndex);
    if ((placeIndex == 0 && !rule.openOnlyEnabled) || (placeIndex == 3 && !rule.templateEnabled))
        return -1;
    return placeIndex;
}

QString deletionWarningText()
{
    return QStringLiteral("このオプション有効時、解凍後に削除された書庫(圧縮ファイル)は、永久に削除されます(ごみ箱には入りません)。")
        + QLatin1Char('\n')
        + QStringLiteral("よって、このオプションを有効にしたことによるいかなる損害も補償できません。自己責任でお願い致します。");
}

OptionProblem checkExtractionOptions(const OptionValues &values, const OptionValues &loaded,
                                     bool normalTargetIsUsualFolder)
{
    using namespace extraction;
    // The viewer's "いつものところへ" extracts into the usual folder too.
    const bool viewerUsesUsualFolder = values.value(QLatin1String(kViewerPlace)).trimmed() == QLatin1String("2");
    const bool ddUsesOwnFolder = values.value(QLatin1String(kDdExtractMode)).trimmed() == QLatin1String("2");
    struct Folder {
        const char *control;
        QString caption;
        bool needed;
    };
    const Folder folders[] = {
        {kAlwaysFolder, QStringLiteral("いつもの解凍先"), normalTargetIsUsualFolder || viewerUsesUsualFolder},
        {kDdTargetFolder, QStringLiteral("簡易解凍の解凍先"), ddUsesOwnFolder},
        {kViewerFolder, QStringLiteral("書庫閲覧の解凍先"), false},
    };
    for (const Folder &f : folders) {
        const QString control = QLatin1String(f.control);
        const QString text = values.value(control);
        // A folder nobody needs now is checked only when it was changed here,
        // so a stored folder on a drive that is away does not block the dialog.
        if (!f.needed && text == loaded.value(control))
            continue;
        const QString message = folderProblem(text, f.caption, f.needed);
        if (!message.isEmpty())
            return {control, message};
    }
    return {};
}

OptionProblem checkArchiverOptions(OptionValues *values)
{
    for (const OptionField &f : archiverOptionFields()) {
        if (!f.hasRange())
            continue;
        int n = 0;
        if (!parseWholeNumber(values->value(f.control), &n) || n < f.minimum || n > f.maximum) {
            return {f.control, QStringLiteral("%1には%2から%3までの数値を入力してください。")
                                   .arg(f.caption)
                                   .arg(f.minimum)
                                   .arg(f.maximum)};
        }
        values->insert(f.control, QString::number(n));
    }
    return {};
}

} // namespace salvo
