#include "contacts/response.h"

#include <cmath>

#include "mesh/vec.h"

namespace dent {

namespace {

// Above this t, with an exponent of at most kSureExponent, t^exponent cannot
// underflow; with factors of at least kSureFactor neither can the depth, and
// radii within kSaneRadius keep the radius finite. Then the answer is yes.
constexpr float kSureT = 1e-6f;
constexpr float kSureExponent = 2.0f;
constexpr float kSureFactor = 1e-6f;
constexpr float kSaneRadius = 1e30f;

bool depthIsSure(float t, const ImpactConfig& c) {
    return t >= kSureT && c.ImpactExponent > 0.0f && c.ImpactExponent <= kSureExponent &&
           c.Strength >= kSureFactor && c.MaxDentPerHit >= kSureFactor &&
           std::isfinite(c.MaxDentPerHit) && std::fabs(c.MinRadius) <= kSaneRadius &&
           std::fabs(c.MaxRadius) <= kSaneRadius;
}

} // namespace

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
    const float t = clampTo(
        (impact - config.MinImpact) / (config.ReferenceImpact - config.MinImpact), 0.0f, 1.0f);
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

bool hasDent(float impulse, float mass, const ImpactConfig& config) {
    if (!std::isfinite(impulse) || !(impulse > 0.0f) || !std::isfinite(mass) || !(mass > 1.0f)) {
        return false;
    }
    const float impact = impulse / mass;
    if (!std::isfinite(impact) || !(impact > config.MinImpact) ||
        !(config.ReferenceImpact > config.MinImpact)) {
        return false;
    }
    const float t = clampTo(
        (impact - config.MinImpact) / (config.ReferenceImpact - config.MinImpact), 0.0f, 1.0f);
    if (depthIsSure(t, config)) {
        return true;
    }
    return response(impulse, mass, config).depth > 0.0f;
}

} // namespace dent
