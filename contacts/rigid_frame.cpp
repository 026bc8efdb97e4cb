#include "contacts/rigid_frame.h"

#include <cmath>

namespace dent {

namespace {
constexpr float kTolerance = 0.02f;

bool nearUnit(Vec axis) {
    return std::fabs(lengthSq(axis) - 1.0f) < kTolerance;
}
bool nearOrthogonal(Vec a, Vec b) {
    return std::fabs(dot(a, b)) < kTolerance;
}
} // namespace

bool isRigidFrame(const Frame& frame) {
    if (!isFinite(frame.right) || !isFinite(frame.up) || !isFinite(frame.at) ||
        !isFinite(frame.pos)) {
        return false;
    }
    return nearUnit(frame.right) && nearUnit(frame.up) && nearUnit(frame.at) &&
           nearOrthogonal(frame.right, frame.up) && nearOrthogonal(frame.right, frame.at) &&
           nearOrthogonal(frame.up, frame.at);
}

} // namespace dent
