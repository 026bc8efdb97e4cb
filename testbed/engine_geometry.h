#pragma once
// The engine's geometry routines at the host's addresses.

namespace testbed {

// Writes the entry points of the geometry routines. Idempotent.
void installEngineGeometry();

} // namespace testbed
