// cab32.so: the Cab component.
#include "core/ComponentApi.h"
#include "core/Wire.h"

namespace {
constexpr salvo::arc::ComponentTraits kTraits{salvo::arc::Dialect::Cab, salvo::arc::kCab, 100, 0};
} // namespace

SALVO_DEFINE_COMPONENT(Cab, kTraits)
