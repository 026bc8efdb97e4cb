#pragma once
// Where a panel of one vehicle creases.

namespace dent {

// The 24-bit hash behind variedCrease, 0..16777215.
unsigned creaseHash(unsigned seed, unsigned kind);

// The crease fraction for a vehicle's seed and a panel kind (1 bonnet, 2 boot):
// u = creaseHash / 16777215 and v = 2u - 1 in -1..1, and the result is
// v * randomness + base clamped to 0.35..0.65. Repeatable for the same
// arguments; a NaN base or randomness gives 0.35.
float variedCrease(unsigned seed, unsigned kind, float base, float randomness);

} // namespace dent
