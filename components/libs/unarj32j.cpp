// unarj32j.so and unarj32.so: the Unarj component. ARJ is read by the second
// decoder (see worker/SevenZipTool.h); the command lines are those of the
// 7-Zip dialect ("x", "e", "-y").
#include "core/ComponentApi.h"
#include "core/Wire.h"

namespace {
constexpr salvo::arc::ComponentTraits kTraits{salvo::arc::Dialect::SevenZip, salvo::arc::kArj, 100, 0};
} // namespace

SALVO_DEFINE_COMPONENT(Unarj, kTraits)
SALVO_DEFINE_SUB_VERSION(Unarj, kTraits)
