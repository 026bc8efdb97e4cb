#include "testbed/engine_geometry.h"

namespace testbed {

void installEngineGeometry() {}

} // namespace testbed
