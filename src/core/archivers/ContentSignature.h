#pragma once
// What an archive's own bytes say it is, whatever its name: the signatures at
// its start (and an ISO 9660 image's at 32 KiB), and for a program (Windows
// or Linux) the archive a self-extractor keeps behind it. Used only where the
// extension does not decide (see ArchiveProbe::identify): a ZIP named ".jar",
// ".docx" or ".cbz", a 7z saved as ".zip", a Debian package, an ISO image.
#include <QByteArray>
#include <QString>

namespace salvo {

// The format id of the catalogue row whose component reads what the bytes
// show ("ZIP", "7Z", "RAR", "LZH", "CAB", "ARJ", "TAR"), "" when no signature
// fits. A program's archive is looked for only with `insidePrograms`.
QString formatIdByContent(const QString &path, bool insidePrograms = true);

// The same from the first bytes of a file (`head`, at least the first 64 KiB
// where the file has them) and the five bytes at 32769 (an ISO 9660 volume's
// "CD001"; empty when the file is shorter).
QString formatIdOfHead(const QByteArray &head, const QByteArray &at32769);

} // namespace salvo
