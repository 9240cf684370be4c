#pragma once
// The entry points every component exports, implemented once. Each component
// library defines its traits and exports thin C wrappers (SALVO_DEFINE_COMPONENT).
#include "CommandLine.h"
#include "ExtractionCall.h"
#include "salvo_archiver.h"

namespace salvo::arc {

struct ComponentTraits {
    Dialect dialect;
    uint32_t formats; // Formats bits the component reads
    uint16_t version; // times 100
    uint16_t subVersion;
};

int mainEntry(const ComponentTraits &traits, SALVO_HWND owner, const char *cmdLine, char *output, uint32_t outputSize);
int checkArchive(const ComponentTraits &traits, const char *archive, int mode);
int getFileCount(const ComponentTraits &traits, const char *archive);
SALVO_HARC openArchive(const ComponentTraits &traits, SALVO_HWND owner, const char *archive, uint32_t mode);
int findFirst(SALVO_HARC harc, const char *wildName, SALVO_INDIVIDUALINFO *info);
int findNext(SALVO_HARC harc, SALVO_INDIVIDUALINFO *info);
int closeArchive(SALVO_HARC harc);
int getOriginalSizeEx(SALVO_HARC harc, int64_t *size);
int setOverwriteCallback(SALVO_OVERWRITE_CALLBACK callback, void *user);
int setPasswordCallback(SALVO_PASSWORD_CALLBACK callback, void *user);
int setCancelCallback(SALVO_CANCEL_CALLBACK callback, void *user);
int setProgressCallback(SALVO_PROGRESS_CALLBACK callback, void *user);
// Asks the decoder process which libraries it decodes with.
int getBackendVersion(char *buffer, uint32_t size);

} // namespace salvo::arc

#define SALVO_EXPORT extern "C" __attribute__((visibility("default")))

// Exports the full set of entry points of one reading component.
#define SALVO_DEFINE_COMPONENT(PREFIX, TRAITS)                                                               \
    SALVO_EXPORT int PREFIX(SALVO_HWND h, const char *c, char *o, uint32_t n)                              \
    {                                                                                                      \
        return salvo::arc::mainEntry(TRAITS, h, c, o, n);                                                    \
    }                                                                                                      \
    SALVO_EXPORT int PREFIX##CheckArchive(const char *a, int m) { return salvo::arc::checkArchive(TRAITS, a, m); } \
    SALVO_EXPORT int PREFIX##GetFileCount(const char *a) { return salvo::arc::getFileCount(TRAITS, a); }     \
    SALVO_EXPORT SALVO_HARC PREFIX##OpenArchive(SALVO_HWND h, const char *a, uint32_t m)                   \
    {                                                                                                      \
        return salvo::arc::openArchive(TRAITS, h, a, m);                                                     \
    }                                                                                                      \
    SALVO_EXPORT int PREFIX##FindFirst(SALVO_HARC h, const char *w, SALVO_INDIVIDUALINFO *i)               \
    {                                                                                                      \
        return salvo::arc::findFirst(h, w, i);                                                             \
    }                                                                                                      \
    SALVO_EXPORT int PREFIX##FindNext(SALVO_HARC h, SALVO_INDIVIDUALINFO *i) { return salvo::arc::findNext(h, i); } \
    SALVO_EXPORT int PREFIX##CloseArchive(SALVO_HARC h) { return salvo::arc::closeArchive(h); }            \
    SALVO_EXPORT uint16_t PREFIX##GetVersion(void) { return (TRAITS).version; }                               \
    SALVO_EXPORT int PREFIX##SetOverwriteCallback(SALVO_OVERWRITE_CALLBACK cb, void *u)                    \
    {                                                                                                      \
        return salvo::arc::setOverwriteCallback(cb, u);                                                    \
    }                                                                                                      \
    SALVO_EXPORT int PREFIX##SetPasswordCallback(SALVO_PASSWORD_CALLBACK cb, void *u)                      \
    {                                                                                                      \
        return salvo::arc::setPasswordCallback(cb, u);                                                     \
    }                                                                                                      \
    SALVO_EXPORT int PREFIX##SetCancelCallback(SALVO_CANCEL_CALLBACK cb, void *u)                          \
    {                                                                                                      \
        return salvo::arc::setCancelCallback(cb, u);                                                       \
    }                                                                                                      \
    SALVO_EXPORT int PREFIX##SetProgressCallback(SALVO_PROGRESS_CALLBACK cb, void *u)                      \
    {                                                                                                      \
        return salvo::arc::setProgressCallback(cb, u);                                                     \
    }                                                                                                      \
    SALVO_EXPORT int PREFIX##GetOriginalSizeEx(SALVO_HARC h, int64_t *s) { return salvo::arc::getOriginalSizeEx(h, s); } \
    SALVO_EXPORT int PREFIX##SetDecoderCount(int n)                                                        \
    {                                                                                                      \
        salvo::arc::setDecoderCount(n);                                                                    \
        return 0;                                                                                          \
    }                                                                                                      \
    SALVO_EXPORT int PREFIX##GetBackendVersion(char *b, uint32_t n) { return salvo::arc::getBackendVersion(b, n); }

#define SALVO_DEFINE_SUB_VERSION(PREFIX, TRAITS)                                                             \
    SALVO_EXPORT uint16_t PREFIX##GetSubVersion(void) { return (TRAITS).subVersion; }
