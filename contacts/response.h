#pragma once
// The size of the dent one collision deserves, from its impulse and the
// vehicle's mass.
#include "contacts/impact_config.h"

namespace dent {

// impact = impulse / mass; depth and radius of the dent. All three are 0 when
// the hit is rejected (the zero response, the only signal of rejection).
struct Response {
    float impact = 0.0f;
    float depth = 0.0f;
    float radius = 0.0f;
};

// Rejects (zero response) a non-finite or non-positive impulse, a non-finite
// mass or one of 1 or less, an impact not above MinImpact and a config whose
// ReferenceImpact is not above MinImpact. Otherwise
//   t = clamp01((impact - MinImpact) / (ReferenceImpact - MinImpact))
//   e = clamp01(Strength * t^ImpactExponent)       (power in double precision)
//   depth = MaxDentPerHit * e, radius = MinRadius + (MaxRadius - MinRadius) * sqrt(e).
// A config that would make depth or radius non-finite gives the zero response.
Response response(float impulse, float mass, const ImpactConfig& config);

// Exactly whether response(impulse, mass, config).depth > 0, the filter of
// contact capture and traffic selection, which run inside the game's collision
// code: the power is skipped where it cannot decide the answer.
bool hasDent(float impulse, float mass, const ImpactConfig& config);

} // namespace dent
