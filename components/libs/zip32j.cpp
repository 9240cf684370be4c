// zip32j.so and zip32.so: the zip writers. They answer their version; writing
// archives comes with the viewer's editing.
#include "core/ComponentApi.h"

#include <cstring>

SALVO_EXPORT int Zip(SALVO_HWND, const char *, char *output, uint32_t size)
{
    static const char kText[] = "この操作には対応していません。\n";
    if (output && size > 0) {
        const size_t n = std::min<size_t>(sizeof kText - 1, size - 1);
        std::memcpy(output, kText, n);
        output[n] = '\0';
    }
    return SALVO_E_NOT_SUPPORT;
}

SALVO_EXPORT uint16_t ZipGetVersion(void)
{
    return 100;
}
