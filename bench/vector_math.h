#pragma once
// Small vector arithmetic on the bench's V3, and a frame's placement of a
// point or a direction, shared by the shapes, the pictures and the files.
#include <cmath>

#include "bench/mesh.h"

namespace bench {

inline V3 add(V3 a, V3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline V3 sub(V3 a, V3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline V3 scaled(V3 a, float s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline float dot(V3 a, V3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline V3 cross(V3 a, V3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float length(V3 a) {
    return std::sqrt(dot(a, a));
}

// A direction in a frame's own axes, turned into its parent's.
inline V3 turned(const Placement& p, V3 v) {
    return add(scaled(p.right, v.x), add(scaled(p.up, v.y), scaled(p.at, v.z)));
}
// A point in a frame's own space, placed in its parent's.
inline V3 placed(const Placement& p, V3 v) {
    return add(p.pos, turned(p, v));
}

} // namespace bench
