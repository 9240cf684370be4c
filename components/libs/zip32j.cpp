// zip32j.so and zip32.so: the zip writers. They take the delete and add
// command lines of the content viewer; reading is the unzip component's work.
#include "core/ComponentApi.h"
#include "core/Wire.h"

namespace {
constexpr salvo::arc::ComponentTraits kTraits{salvo::arc::Dialect::Zip, salvo::arc::kZip, 100, 0};
} // namespace

SALVO_EXPORT int Zip(SALVO_HWND h, const char *c, char *o, uint32_t n)
{
    return salvo::arc::mainEntry(kTraits, h, c, o, n);
}

SALVO_EXPORT uint16_t ZipGetVersion(void)
{
    return kTraits.version;
}
