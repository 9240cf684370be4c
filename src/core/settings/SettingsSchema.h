#pragma once
// Every section and key of "Salvo.ini", with the value a reader gets when the key
// (or the whole file) is missing. Readers pass these names and absent values to
// ProfileFile; no other file spells a key out.
#include <QString>

namespace salvo::ini {

inline constexpr auto kSettingsFile = "Salvo.ini";

template <typename T>
struct Key {
    const char *section;
    const char *name;
    T absent;
};
using IntKey = Key<int>;
using TextKey = Key<const char *>;

// [GENERAL]
inline constexpr IntKey kLeft{"GENERAL", "Left", 0};                 // twips
inline constexpr IntKey kTop{"GENERAL", "Top", 0};                   // twips
inline constexpr IntKey kWidth{"GENERAL", "Width", 0};               // twips; 0: the window's own size
inline constexpr IntKey kHeight{"GENERAL", "Height", 0};             // twips
inline constexpr TextKey kSlvoStartUpMode{"GENERAL", "SlvoStartUpMode", ""};
inline constexpr IntKey kFontSize{"GENERAL", "FONTSIZE", 0};         // 1 = small status bar
inline constexpr IntKey kShowListViewer{"GENERAL", "ShowListViewer", 0};
inline constexpr IntKey kSort{"GENERAL", "SORT", 0};                 // 0 path, 1 folder, 2 name
inline constexpr IntKey kDirectory{"GENERAL", "Directory", 0};       // 1 = ignore stored folders
inline constexpr IntKey kErrorSkip{"GENERAL", "ErrorSkip", 0};
inline constexpr IntKey kPreScan{"GENERAL", "PreScan", 0};
inline constexpr IntKey kOpenFolder{"GENERAL", "OpenFolder", 0};
inline constexpr IntKey kEndNotice{"GENERAL", "EndNotice", 0};
inline constexpr IntKey kUseSound{"GENERAL", "UseSound", 0};
inline constexpr TextKey kSoundFilePath{"GENERAL", "SoundFilePath", ""};
inline constexpr TextKey kAlwaysPath{"GENERAL", "AlwaysPath", ""};
inline constexpr IntKey kMakeFolder4ListView{"GENERAL", "MakeFolder4ListView", 0};
inline constexpr IntKey kUse7Zip{"GENERAL", "Use7Zip", 0};
inline constexpr IntKey kUseUnace32{"GENERAL", "UseUNACE32", 0};
inline constexpr IntKey kUseDeskTopNormal{"GENERAL", "UseDeskTopNormal", 0};
inline constexpr IntKey kUseSendTo{"GENERAL", "UseSendTo", 0};
inline constexpr IntKey kDecoderCount{"GENERAL", "DecoderCount", 0}; // decoders per large archive; 0 one per core

// [EXTRACT_NORMAL]
inline constexpr TextKey kNormalTargetPlace{"EXTRACT_NORMAL", "TargetPlace", ""};
inline constexpr IntKey kNormalFileNameFolder{"EXTRACT_NORMAL", "FileNameFolder", 0};
inline constexpr IntKey kNormalOverWrite{"EXTRACT_NORMAL", "OverWrite", 0};
inline constexpr IntKey kNormalDeleteArchive{"EXTRACT_NORMAL", "DeleteArchive", 0};

// [EXTRACT_DDMODE]
inline constexpr IntKey kDdFileNameFolder{"EXTRACT_DDMODE", "FileNameFolder", 0};
inline constexpr IntKey kDdDeleteArchive{"EXTRACT_DDMODE", "DeleteArchive", 0};

// [DDMODE]
inline constexpr IntKey kDdExtractMode{"DDMODE", "ExtractMode", 0}; // 0 desktop, 1 beside, 2 TargetPath
inline constexpr TextKey kDdTargetPath{"DDMODE", "TargetPath", ""};
inline constexpr IntKey kDdOverWrite{"DDMODE", "OverWrite", 0};
inline constexpr IntKey kDdUseDesktop{"DDMODE", "UseDesktop", 0};

// [EXTRACT_ARCVIEW]
inline constexpr IntKey kViewAction{"EXTRACT_ARCVIEW", "Action", 0};
inline constexpr IntKey kViewTargetPlace{"EXTRACT_ARCVIEW", "TargetPlace", 0};
inline constexpr TextKey kViewAlwaysFolder{"EXTRACT_ARCVIEW", "AlwaysFolder", ""};
inline constexpr TextKey kViewTemplate{"EXTRACT_ARCVIEW", "Template", ""};
inline constexpr IntKey kViewOverWrite{"EXTRACT_ARCVIEW", "OverWrite", 0};

// [ARCHIVE_NORMAL]
inline constexpr TextKey kArchiveMethod{"ARCHIVE_NORMAL", "ArchiveMethod", ""};
inline constexpr TextKey kArchiveType{"ARCHIVE_NORMAL", "ArchiveType", ""};

// [E-Mail]
inline constexpr IntKey kMailUse{"E-Mail", "Use", 0};
inline constexpr TextKey kMailSmtpServer{"E-Mail", "SMTPServer", ""};
inline constexpr IntKey kMailPort{"E-Mail", "Port", 0};
inline constexpr IntKey kMailTimeOut{"E-Mail", "TimeOut", 0};
inline constexpr TextKey kMailFrom{"E-Mail", "MailFrom", ""};
inline constexpr TextKey kMailTo{"E-Mail", "MailTo", ""};
inline constexpr TextKey kMailSubject{"E-Mail", "Subject", ""};
inline constexpr TextKey kMailSmtpUserName{"E-Mail", "SMTPUserName", ""};
inline constexpr TextKey kMailSmtpPassword{"E-Mail", "SMTPPassword", ""};
inline constexpr IntKey kMailUseSmtpAuth{"E-Mail", "UseSMTPAUTH", 0};
inline constexpr IntKey kMailSmtpAuth{"E-Mail", "SMTPAUTH", 0}; // 0 LOGIN, 1 PLAIN, 2 CRAM-MD5
inline constexpr IntKey kMailUsePopBeforeSmtp{"E-Mail", "UsePOPBSMTP", 0};
inline constexpr TextKey kMailPopServer{"E-Mail", "POPServer", ""};
inline constexpr TextKey kMailPopUserName{"E-Mail", "POPUserName", ""};
inline constexpr TextKey kMailPopPassword{"E-Mail", "POPPassword", ""};

// [RightClick]
inline constexpr IntKey kUseFolderSlvoAdd{"RightClick", "UseFolderSlvoAdd", 0};

// [EXTENSION]
inline constexpr IntKey kExtensionMode{"EXTENSION", "Mode", 0}; // 0 normal start, other DD mode

// Archive creation settings (their own absent values).
inline constexpr IntKey kArcUse7Zip{"GENERAL_ARC", "Use7Zip", 0};
inline constexpr TextKey kLzhArchiveLevel{"ARCHIVE_LZH", "ArchiveLevel", "lh5"};
inline constexpr TextKey kLzhHuffmanBufferSize{"ARCHIVE_LZH", "HuffmanBufferSize", "16384"};
inline constexpr IntKey kZipArchiveLevel{"ARCHIVE_ZIP", "ArchiveLevel", 6};
inline constexpr IntKey kZipArchiveLevel7z{"ARCHIVE_ZIP", "ArchiveLevel_7z", 5};
inline constexpr TextKey kZipArchiveMethod7z{"ARCHIVE_ZIP", "ArchiveMethod_7z", "Deflate"};
inline constexpr IntKey kZipDeflateMem7z{"ARCHIVE_ZIP", "DeflateMem_7z", 32};
inline constexpr IntKey kZipDeflatePass7z{"ARCHIVE_ZIP", "DeflatePass_7z", 1};
inline constexpr TextKey kCabArchiveType{"ARCHIVE_CAB", "ArchiveType", "MSZIP"};
inline constexpr IntKey kCabLzxArchiveLevel{"ARCHIVE_CAB", "LZXArchiveLevel", 15};
inline constexpr IntKey k7zArchiveLevel{"ARCHIVE_7Z", "ArchiveLevel", 5};
inline constexpr IntKey k7zSolidMode{"ARCHIVE_7Z", "SolidMode", 1};
inline constexpr IntKey k7zFilter{"ARCHIVE_7Z", "Filter", 1};
inline constexpr IntKey k7zHeaderComp{"ARCHIVE_7Z", "HeaderComp", 1};
inline constexpr IntKey k7zCompleteHeaderComp{"ARCHIVE_7Z", "CompleteHeaderComp", 1};
inline constexpr IntKey kGzArchiveLevel{"ARCHIVE_GZ", "ArchiveLevel", 6};
inline constexpr IntKey kBz2ArchiveLevel{"ARCHIVE_BZ2", "ArchiveLevel", 9};
inline constexpr IntKey kBzaArchiveLevel{"ARCHIVE_BZA", "ArchiveLevel", 9};
inline constexpr IntKey kGzaArchiveLevel{"ARCHIVE_GZA", "ArchiveLevel", 9};
inline constexpr TextKey kRkArchiveLevel{"ARCHIVE_RK", "ArchiveLevel", "mn1"};
inline constexpr TextKey kRkWavArchiveLevel{"ARCHIVE_RK", "WAVArchiveLevel", "mwn"};
inline constexpr IntKey kYz2BufferSize{"ARCHIVE_YZ2", "BufferSize", 8};
inline constexpr IntKey kYz2Ppm{"ARCHIVE_YZ2", "PPM", 0};
inline constexpr IntKey kPaqarArchiveLevel{"ARCHIVE_PAQAR", "ArchiveLevel", 2};

} // namespace salvo::ini
