#pragma once
// The per-mesh deformation, called by the host's atomic traversal for every
// atomic of a hit vehicle.
#include "host/compiler.h"
#include "host/records.h"

namespace fendrix {

// data is the hit's HitContext. Always returns the atomic, so the traversal
// visits every atomic whatever happens here.
host::Atomic* FX_CDECL deformAtomic(host::Atomic* atomic, void* data);

} // namespace fendrix
