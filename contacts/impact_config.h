#pragma once
// The seven settings that turn an impact into a dent, in INI reading order.

namespace dent {

struct ImpactConfig {
    float MinImpact = 0.04f;
    float ReferenceImpact = 0.65f;
    float Strength = 1.0f;
    float ImpactExponent = 1.15f;
    float MaxDentPerHit = 0.65f;
    float MinRadius = 1.1f;
    float MaxRadius = 2.25f;
};

} // namespace dent
