#include "mesh/deform_atomic.h"

#include "contacts/hit_context.h"
#include "plugin/log.h"

namespace fendrix {

host::Atomic* FX_CDECL deformAtomic(host::Atomic* atomic, void* data) {
    auto& context = *static_cast<HitContext*>(data);
    phaseMarker("atomic: begin / inspect frame and geometry");
    ++context.visited;
    return atomic;
}

} // namespace fendrix
