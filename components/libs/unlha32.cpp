// unlha32.so: the Unlha component.
#include "core/ComponentApi.h"
#include "core/Wire.h"

namespace {
constexpr salvo::arc::ComponentSpec kSpec{salvo::arc::Dialect::Unlha, salvo::arc::kLha, 100, 0};
} // namespace

SALVO_DEFINE_COMPONENT(Unlha, kSpec)
SALVO_DEFINE_SUB_VERSION(Unlha, kSpec)
