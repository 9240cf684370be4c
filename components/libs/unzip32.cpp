// unzip32.so: the UnZip component.
#include "core/ComponentApi.h"
#include "core/Wire.h"

namespace {
constexpr salvo::arc::ComponentTraits kTraits{salvo::arc::Dialect::UnZip, salvo::arc::kZip, 100, 0};
} // namespace

SALVO_DEFINE_COMPONENT(UnZip, kTraits)
