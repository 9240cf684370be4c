// unlha32.so: the Unlha component.
#include "core/ComponentApi.h"
#include "core/Wire.h"

namespace {
constexpr salvo::arc::ComponentTraits kTraits{salvo::arc::Dialect::Unlha, salvo::arc::kLha, 100, 0};
} // namespace

SALVO_DEFINE_COMPONENT(Unlha, kTraits)
SALVO_DEFINE_SUB_VERSION(Unlha, kTraits)
