// 7-zip32.so: the SevenZip component.
#include "core/ComponentApi.h"
#include "core/Wire.h"

namespace {
constexpr salvo::arc::ComponentTraits kTraits{salvo::arc::Dialect::SevenZip, salvo::arc::kSevenZip | salvo::arc::kZip, 100, 0};
} // namespace

SALVO_DEFINE_COMPONENT(SevenZip, kTraits)
SALVO_DEFINE_SUB_VERSION(SevenZip, kTraits)
