/*
 * The archiver component interface, shared by the program and the components.
 *
 * A component is a shared library that exports C entry points named after its
 * prefix: the main entry PREFIX (takes a command line), PREFIXCheckArchive,
 * PREFIXGetFileCount, PREFIXOpenArchive / FindFirst / FindNext / CloseArchive,
 * PREFIXGetVersion and, where it has one, PREFIXGetSubVersion. Strings are 8-bit
 * texts in the locale's encoding (UTF-8 here). Entries of our own come on
 * top: PREFIXSetOverwriteCallback, PREFIXSetPasswordCallback, PREFIXSetCancelCallback,
 * PREFIXSetProgressCallback, PREFIXGetOriginalSizeEx, PREFIXGetBackendVersion and
 * PREFIXSetDecoderCount.
 */
#ifndef SALVO_ARCHIVER_H
#define SALVO_ARCHIVER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The owner window, passed through as an opaque handle. */
typedef void *SALVO_HWND;
/* An open archive of OpenArchive, FindFirst, FindNext and CloseArchive. */
typedef void *SALVO_HARC;

#define SALVO_FNAME_MAX32 512

/* One entry as FindFirst and FindNext report it: 558 bytes of fields. */
typedef struct {
    uint32_t dwOriginalSize;   /* 0: saturated at 0xFFFFFFFF; see GetOriginalSizeEx */
    uint32_t dwCompressedSize; /* 4: 0 when the format does not tell */
    uint32_t dwCRC;            /* 8 */
    uint32_t uFlag;            /* 12 */
    uint32_t uOSType;          /* 16 */
    uint16_t wRatio;           /* 20: compressed / original in tenths of a per cent */
    uint16_t wDate;            /* 22: MS-DOS date */
    uint16_t wTime;            /* 24: MS-DOS time */
    char szFileName[SALVO_FNAME_MAX32 + 1]; /* 26: UTF-8, "/" between path parts */
    char dummy1[3];            /* 539 */
    char szAttribute[8];       /* 542 */
    char szMode[8];            /* 550 */
} SALVO_INDIVIDUALINFO;

/* Modes of OpenArchive (the components accept all of them alike). */
#define SALVO_M_INIT_FILE_USE 0x00000001L
#define SALVO_M_CHECK_FILENAME_ONLY 0x00000200L
#define SALVO_M_USE_DRIVE_LETTER 0x00400000L

/* Modes of CheckArchive. 0 reads the first header; the others every header. */
#define SALVO_CHECKARCHIVE_RAPID 0
#define SALVO_CHECKARCHIVE_BASIC 1
#define SALVO_CHECKARCHIVE_FULLCRC 2
#define SALVO_CHECKARCHIVE_RECOVERY 8
#define SALVO_CHECKARCHIVE_SFX 16

/* Results of the main entry: 0 is success, failures are distinct codes. */
#define SALVO_OK 0
#define SALVO_E_DISK_SPACE 0x8005      /* the output file system is full */
#define SALVO_E_USER_SKIP 0x8007       /* an existing file was kept, not overwritten */
#define SALVO_E_UNKNOWN_TYPE 0x8008    /* an entry of a kind that is never created */
#define SALVO_E_METHOD 0x8009          /* a compression method that cannot be read */
#define SALVO_E_PASSWORD_FILE 0x800A   /* an encrypted entry, and no password */
#define SALVO_E_FILE_CRC 0x800C        /* the data does not match its checksum */
#define SALVO_E_FILE_OPEN 0x800D       /* an output file could not be created */
#define SALVO_E_MAKEDIRECTORY 0x8012   /* a folder could not be created */
#define SALVO_E_CANNOT_WRITE 0x8013    /* writing an output file failed */
#define SALVO_E_HEADER_BROKEN 0x8017   /* a header is damaged */
#define SALVO_E_ARC_FILE_OPEN 0x8018   /* the archive could not be opened */
#define SALVO_E_NOT_ARC_FILE 0x8019    /* not an archive this component reads */
#define SALVO_E_CANNOT_READ 0x801A     /* reading the archive failed */
#define SALVO_E_COMMAND_NAME 0x801C    /* the command line names no known command */
#define SALVO_E_ENOUGH_MEMORY 0x801E   /* out of memory */
#define SALVO_E_USER_CANCEL 0x8020     /* the user cancelled */
#define SALVO_E_HARC_ISNOT_OPENED 0x8021
#define SALVO_E_NOT_SUPPORT 0x8023     /* an operation this component does not offer */
#define SALVO_E_NOT_FIND_FILE 0x8031   /* no entry matched the names given */
#define SALVO_E_UNEXPECTED_EOF 0x8042  /* the archive ends too early */
#define SALVO_E_BROKEN_DATA 0x8048     /* the compressed data is damaged */
#define SALVO_E_UNSAFE_PATH 0x8050     /* an entry would land outside the output folder */
#define SALVO_E_WORKER 0x8051          /* the decoder process failed or hung on this archive */
#define SALVO_E_INTERNAL 0x8052
#define SALVO_E_BAD_PASSWORD 0x8053    /* the password given does not decrypt the entry */
#define SALVO_E_CANNOT_DECRYPT 0x8054  /* encrypted in a way this component cannot decrypt */
#define SALVO_E_MISSING_VOLUME 0x8055  /* a volume of a split archive is not there */
#define SALVO_E_NAME_CLASH 0x8056      /* one name is both a file and a folder in the archive */
#define SALVO_E_EXTRA_VOLUME 0x8057    /* a file numbered as a volume is no part of the archive */
#define SALVO_E_MISSING_DECODER 0x8058 /* the archive needs a decoding program that is not installed */

/* Answers of the overwrite confirmation. */
#define SALVO_ANSWER_YES 1
#define SALVO_ANSWER_NO 2
#define SALVO_ANSWER_YES_TO_ALL 3
#define SALVO_ANSWER_NO_TO_ALL 4
#define SALVO_ANSWER_CANCEL 5

/* Asked for each existing file an extraction would replace, unless the command
 * line says to overwrite without asking. `path` is the full UTF-8 path. */
typedef int (*SALVO_OVERWRITE_CALLBACK)(void *user, const char *path);

/* Asked when an extraction meets an encrypted entry that the component can
 * decrypt (ZIP's PKWARE and AES encryption). `archive` is the archive's path,
 * `retry` is non-zero when the password given before did not fit. The callback
 * writes the password (UTF-8, NUL-ended, at most `size` bytes with the NUL)
 * into `password` and returns 1, or returns 0 to give the archive up, which
 * then fails with SALVO_E_PASSWORD_FILE (nothing given) or SALVO_E_BAD_PASSWORD
 * (after a wrong one). Called on the thread that made the call, with no lock
 * of the component held; a password fits every later entry until one does
 * not. The component keeps no password after the call that asked for it, and
 * hands it to its decoder only through the decoder's private socket. Without
 * a callback, encrypted entries fail with SALVO_E_PASSWORD_FILE. */
typedef int (*SALVO_PASSWORD_CALLBACK)(void *user, const char *archive, int retry, char *password, uint32_t size);

/* Asked at least every 100 ms while a call waits for the decoder (extracting,
 * checking, listing), on the thread that made the call. A non-zero answer ends
 * the call at once: the decoder is stopped, what the call wrote is removed, and
 * the main entry returns SALVO_E_USER_CANCEL. */
typedef int (*SALVO_CANCEL_CALLBACK)(void *user);

/* How far an extraction has come. */
typedef struct {
    const char *entry;   /* the entry being written (UTF-8, "/" between parts) */
    int64_t written;     /* bytes of entries written so far by the call */
    int64_t read;        /* bytes of the archive read so far */
    int64_t archiveSize; /* bytes of the archive, all its volumes */
} SALVO_PROGRESS;

/* Told a few times a second (at most every 200 ms) while an extraction
 * writes, on the thread that made the call, with no lock of the component
 * held; `progress` is valid during the call only. */
typedef void (*SALVO_PROGRESS_CALLBACK)(void *user, const SALVO_PROGRESS *progress);

/* Entry point types, named after what they do; PREFIX stands for the prefix. */
typedef int (*SALVO_MAIN_ENTRY)(SALVO_HWND owner, const char *cmdLine, char *output, uint32_t outputSize);
typedef int (*SALVO_CHECK_ARCHIVE)(const char *archive, int mode);
typedef int (*SALVO_GET_FILE_COUNT)(const char *archive);
/* OpenArchive returns as soon as the decoder has sent its first entries; the
 * rest arrive while the caller walks, and FindFirst / FindNext wait only when
 * they have run out. They return 0 for an entry, -1 after the last entry of a
 * whole listing, and otherwise the listing's failure code after the entries
 * read before it (a damaged archive, SALVO_E_WORKER, SALVO_E_USER_CANCEL).
 * OpenArchive returns NULL when the listing failed before any entry.
 * CloseArchive before the end stops the decoder. */
typedef SALVO_HARC (*SALVO_OPEN_ARCHIVE)(SALVO_HWND owner, const char *archive, uint32_t mode);
typedef int (*SALVO_FIND_FIRST)(SALVO_HARC archive, const char *wildName, SALVO_INDIVIDUALINFO *info);
typedef int (*SALVO_FIND_NEXT)(SALVO_HARC archive, SALVO_INDIVIDUALINFO *info);
typedef int (*SALVO_CLOSE_ARCHIVE)(SALVO_HARC archive);
typedef uint16_t (*SALVO_GET_VERSION)(void);
typedef uint16_t (*SALVO_GET_SUB_VERSION)(void);
typedef int (*SALVO_SET_OVERWRITE_CALLBACK)(SALVO_OVERWRITE_CALLBACK callback, void *user);
typedef int (*SALVO_SET_PASSWORD_CALLBACK)(SALVO_PASSWORD_CALLBACK callback, void *user);
typedef int (*SALVO_SET_CANCEL_CALLBACK)(SALVO_CANCEL_CALLBACK callback, void *user);
typedef int (*SALVO_SET_PROGRESS_CALLBACK)(SALVO_PROGRESS_CALLBACK callback, void *user);
/* 64-bit original size of the entry last found; 0 on success. */
typedef int (*SALVO_GET_ORIGINAL_SIZE_EX)(SALVO_HARC archive, int64_t *size);
/* How many decoder processes one extraction may share a large archive among
 * (1: never shared; 0, the default: one per usable processor core, at most 4).
 * Returns 0. */
typedef int (*SALVO_SET_DECODER_COUNT)(int count);
/* The libraries the component decodes with and their versions, as they name
 * themselves ("libarchive 3.6.2 zlib/1.2.13 liblzma/5.4.1 ..."), written into
 * `buffer` as a NUL-terminated text cut to `size`; 0 on success. */
typedef int (*SALVO_GET_BACKEND_VERSION)(char *buffer, uint32_t size);

#ifdef __cplusplus
}

static_assert(offsetof(SALVO_INDIVIDUALINFO, wRatio) == 20);
static_assert(offsetof(SALVO_INDIVIDUALINFO, wDate) == 22);
static_assert(offsetof(SALVO_INDIVIDUALINFO, szFileName) == 26);
static_assert(offsetof(SALVO_INDIVIDUALINFO, dummy1) == 539);
static_assert(offsetof(SALVO_INDIVIDUALINFO, szAttribute) == 542);
static_assert(offsetof(SALVO_INDIVIDUALINFO, szMode) == 550);
static_assert(sizeof(SALVO_INDIVIDUALINFO) == 560); /* 558 bytes of fields, padded */
#endif

#endif /* SALVO_ARCHIVER_H */
