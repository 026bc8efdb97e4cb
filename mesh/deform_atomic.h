#pragma once
// The per-mesh deformation, called by the host's atomic traversal for every
// atomic of a hit vehicle.
#include "host/compiler.h"
#include "host/records.h"

namespace fendrix {

// data is the hit's HitContext. Returns the atomic, so the traversal visits
// every atomic whatever happens here, except when an allocation fails: the
// game's traversal cannot be unwound, so the failure is kept in the context's
// `failure`, null stops the traversal, and the caller rethrows it afterwards.
host::Atomic* FX_CDECL deformAtomic(host::Atomic* atomic, void* data);

} // namespace fendrix
