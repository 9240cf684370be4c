// tar32.so: the Tar component.
#include "core/ComponentApi.h"
#include "core/Wire.h"

namespace {
constexpr salvo::arc::ComponentTraits kTraits{salvo::arc::Dialect::Tar, salvo::arc::kTar, 100, 0};
} // namespace

SALVO_DEFINE_COMPONENT(Tar, kTraits)
