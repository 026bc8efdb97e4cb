#pragma once
// The ordinary dent written out step by step, as a plain reading of its
// formula: single precision throughout, the power in double. It shares nothing
// with the model but the Vec record, so the model's results can be checked
// against it bit for bit (for coordinates well inside the float range).
#include <cmath>

#include "mesh/vec.h"

namespace modeltest {

// The dent's profile at distance d for one radius: 0 at or beyond it.
inline float referenceWeight(float d, float radius, float power) {
    if (!(d < radius)) {
        return 0.0f;
    }
    float s = 1.0f - d / radius;
    s = s < 0.0f ? 0.0f : (1.0f < s ? 1.0f : s);
    const float smooth = s * s * (3.0f - 2.0f * s);
    return static_cast<float>(std::pow(static_cast<double>(smooth), static_cast<double>(power)));
}

inline dent::Vec referenceDent(dent::Vec base, dent::Vec current, dent::Vec centre,
                               dent::Vec direction, float depth, float radius, float previousDepth,
                               float previousRadius, float maxTotal, float power) {
    using std::isfinite;
    // 1. Validation.
    const float vectors[] = {base.x,   base.y,   base.z,   current.x,   current.y,   current.z,
                             centre.x, centre.y, centre.z, direction.x, direction.y, direction.z};
    for (float v : vectors) {
        if (!isfinite(v)) {
            return current;
        }
    }
    if (!isfinite(depth) || !isfinite(radius) || !isfinite(previousDepth) ||
        !isfinite(previousRadius) || !isfinite(maxTotal) || !isfinite(power)) {
        return current;
    }
    if (power <= 0.0f || maxTotal <= 0.0f || radius <= 0.0f || depth <= 0.0f) {
        return current;
    }

    // 2. Distance of the undeformed position from the centre.
    const float dx = base.x - centre.x;
    const float dy = base.y - centre.y;
    const float dz = base.z - centre.z;
    const float d = std::sqrt(dx * dx + dy * dy + dz * dz);

    // 3, 4. Weights of this dent and of the previous one.
    const float w = referenceWeight(d, radius, power);
    const float wPrevious =
        previousRadius > 0.0f ? referenceWeight(d, previousRadius, power) : 0.0f;

    // 5. Push length, never negative.
    float push = depth * w - previousDepth * wPrevious;
    if (push < 0.0f) {
        push = 0.0f;
    }

    // 6. Unit direction, or none.
    const float directionLength = std::sqrt(direction.x * direction.x + direction.y * direction.y +
                                            direction.z * direction.z);
    float nx = 0.0f, ny = 0.0f, nz = 0.0f;
    if (directionLength > 0.00001f) {
        nx = direction.x / directionLength;
        ny = direction.y / directionLength;
        nz = direction.z / directionLength;
    }

    // 7. Target.
    const float tx = current.x + nx * push;
    const float ty = current.y + ny * push;
    const float tz = current.z + nz * push;

    // 8. Cap of the offset from base: (o * maxTotal) / |o|.
    float ox = tx - base.x;
    float oy = ty - base.y;
    float oz = tz - base.z;
    const float offset = std::sqrt(ox * ox + oy * oy + oz * oz);
    if (offset > maxTotal) {
        ox = ox * maxTotal / offset;
        oy = oy * maxTotal / offset;
        oz = oz * maxTotal / offset;
    }

    // 9. Result.
    return {base.x + ox, base.y + oy, base.z + oz};
}

} // namespace modeltest
