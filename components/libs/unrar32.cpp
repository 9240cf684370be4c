// unrar32.so: the Unrar component.
#include "core/ComponentApi.h"
#include "core/Wire.h"

namespace {
constexpr salvo::arc::ComponentTraits kTraits{salvo::arc::Dialect::Unrar, salvo::arc::kRar, 100, 0};
} // namespace

SALVO_DEFINE_COMPONENT(Unrar, kTraits)
