#include "contacts/traffic.h"

#include <cmath>

namespace dent {

bool inTrafficRange(Vec a, Vec b, float range) {
    if (!isFinite(a) || !isFinite(b)) {
        return false;
    }
    if (!std::isfinite(range) || !(range > 0.0f)) {
        return false;
    }
    return range * range >= lengthSq(a - b);
}

bool trafficPriority(const TrafficCandidate& a, const TrafficCandidate& b) {
    if (a.linked != b.linked) {
        return a.linked;
    }
    if (a.distanceSq < b.distanceSq) {
        return true;
    }
    if (a.distanceSq == b.distanceSq) {
        return a.handle < b.handle;
    }
    return false;
}

} // namespace dent
