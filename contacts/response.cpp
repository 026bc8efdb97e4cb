#include "contacts/response.h"

#include <cmath>

#include "mesh/vec.h"

namespace dent {

Response response(float impulse, float mass, const ImpactConfig& config) {
    if (!std::isfinite(impulse) || !(impulse > 0.0f)) {
        return {};
    }
    if (!std::isfinite(mass) || !(mass > 1.0f)) {
        return {};
    }
    const float impact = impulse / mass;
    if (!std::isfinite(impact)) {
        return {};
    }
    if (!(impact > config.MinImpact) || !(config.ReferenceImpact > config.MinImpact)) {
        return {};
    }
    const float t = clampTo((impact - config.MinImpact) / (config.ReferenceImpact - config.MinImpact),
                            0.0f, 1.0f);
    const float p = static_cast<float>(
        std::pow(static_cast<double>(t), static_cast<double>(config.ImpactExponent)));
    const float e = clampTo(config.Strength * p, 0.0f, 1.0f);
    const float depth = config.MaxDentPerHit * e;
    const float radius = config.MinRadius + (config.MaxRadius - config.MinRadius) * squareRoot(e);
    if (!std::isfinite(depth) || !std::isfinite(radius)) {
        return {};
    }
    return {impact, depth, radius};
}

} // namespace dent
