#include "mesh/geometry_layout.h"

#include "host/game.h"
#include "mesh/geometry_guard.h"
#include "plugin/log.h"

namespace fendrix {

namespace {

bool gProbed = false;

constexpr std::size_t kLayoutLineSize = 160;

// The slot is right when the guard accepts the probe through it and the
// counts read back as created.
bool slotValidates(const host::Geometry* probe, std::uint32_t offset) {
    return GeometryGuard(probe, offset) && probe->vertexCount == kProbeVertices &&
           probe->triangleCount == kProbeTriangles;
}

} // namespace

bool geometryLayoutProbed() {
    return gProbed;
}

void probeGeometryLayout() {
    if (gProbed) {
        return;
    }
    gProbed = true;
    settleGeometryLayout();
}

void settleGeometryLayout() {
    host::Geometry* probe = game::createGeometry(kProbeVertices, kProbeTriangles, kProbeFormat);
    if (probe == nullptr) {
        logLine("Geometry ABI: probe allocation failed; deformation disabled.");
        return;
    }
    int valid = 0;
    std::uint32_t validated = 0;
    for (std::uint32_t offset : kMorphOffsetCandidates) {
        if (slotValidates(probe, offset)) {
            ++valid;
            validated = offset;
        }
    }
    game::destroyGeometry(probe);
    // Two valid slots are as bad as none: either could be the wrong one.
    if (valid != 1) {
        logLine("Geometry ABI: no unique validated layout; deformation disabled.");
        return;
    }
    game::morphOffset = validated;
    logFormat<kLayoutLineSize>(
        "Geometry ABI: validated morphTarget offset=0x%02X; CPU buffer guard active.",
        static_cast<unsigned>(validated));
}

} // namespace fendrix
