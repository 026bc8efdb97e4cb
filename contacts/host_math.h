#pragma once
// Host vectors and matrices as the model's plain values.
#include "contacts/rigid_frame.h"
#include "host/records.h"
#include "mesh/vec.h"

namespace fendrix {

inline dent::Vec toVec(const host::V3& v) {
    return {v.x, v.y, v.z};
}

// A host vertex array seen as the model's vectors (the same three floats).
static_assert(sizeof(dent::Vec) == sizeof(host::V3));
inline dent::Vec* asVecs(host::V3* array) {
    return reinterpret_cast<dent::Vec*>(array);
}

inline dent::Frame toFrame(const host::Matrix& m) {
    return {toVec(m.right), toVec(m.up), toVec(m.at), toVec(m.pos)};
}

// A world point in a frame's local coordinates (projected on its axes).
inline dent::Vec toLocalPoint(const dent::Frame& f, dent::Vec world) {
    const dent::Vec d = world - f.pos;
    return {dent::dot(d, f.right), dent::dot(d, f.up), dent::dot(d, f.at)};
}

// A world direction in a frame's local coordinates (no translation).
inline dent::Vec toLocalDirection(const dent::Frame& f, dent::Vec world) {
    return {dent::dot(world, f.right), dent::dot(world, f.up), dent::dot(world, f.at)};
}

} // namespace fendrix
