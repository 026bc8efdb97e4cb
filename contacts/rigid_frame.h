#pragma once
// The sanity test for a placement or world matrix taken from the host.
#include "mesh/vec.h"

namespace dent {

// Three axes and a position, copied out of a host matrix.
struct Frame {
    Vec right;
    Vec up;
    Vec at;
    Vec pos;
};

// True when all twelve floats are finite, every axis has |x^2 + y^2 + z^2 - 1|
// below 0.02 and every pair of axes has |dot| below 0.02 (strict comparisons).
bool isRigidFrame(const Frame& frame);

} // namespace dent
