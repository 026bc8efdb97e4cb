// The dent on a whole mesh. It computes, vertex for vertex, the floats of the
// one-vertex form (displace.cpp), but arranged for speed: four vertices at a
// time with SSE where the processor has it, vertices beyond the dent settled
// at once, and the power calls of the vertices within reach issued back to
// back, so that they overlap instead of waiting on each other.
#include <algorithm>
#include <cfloat>
#include <cstddef>
#include <vector>

#include "mesh/displace.h"
#include "mesh/displace_internal.h"
#include "mesh/falloff.h"

#include "mesh/simd.h"
#ifdef DENT_HAS_SSE
#include <xmmintrin.h>
#define DENT_MESH_SSE 1
#endif

namespace dent {

using namespace detail;

namespace {

#ifdef DENT_MESH_SSE
static_assert(sizeof(Vec) == 3 * sizeof(float), "Vec arrays are packed floats");

// One vertex the long way, with the one-vertex form's checks.
void settleOne(const ImpactField& f, Vec b, Vec c, float distanceSq, float push, Vec& out) {
    if (!settle(f, b, c, distanceSq, push, out)) {
        out = slowPath(f, b, c);
    }
}

// Four vectors as x, y and z lanes. Lane-wise SSE arithmetic rounds exactly as
// the scalar float operations do.
struct Quad {
    __m128 x, y, z;
};

Quad operator+(Quad a, Quad b) {
    return {_mm_add_ps(a.x, b.x), _mm_add_ps(a.y, b.y), _mm_add_ps(a.z, b.z)};
}
Quad operator-(Quad a, Quad b) {
    return {_mm_sub_ps(a.x, b.x), _mm_sub_ps(a.y, b.y), _mm_sub_ps(a.z, b.z)};
}
Quad operator*(Quad a, __m128 s) {
    return {_mm_mul_ps(a.x, s), _mm_mul_ps(a.y, s), _mm_mul_ps(a.z, s)};
}
// (x*x + y*y) + z*z, as lengthSq.
__m128 lengthSq(Quad a) {
    return _mm_add_ps(_mm_add_ps(_mm_mul_ps(a.x, a.x), _mm_mul_ps(a.y, a.y)), _mm_mul_ps(a.z, a.z));
}
Quad splat(Vec v) {
    return {_mm_set1_ps(v.x), _mm_set1_ps(v.y), _mm_set1_ps(v.z)};
}

// Four consecutive vectors: x0 y0 z0 x1 | y1 z1 x2 y2 | z2 x3 y3 z3.
Quad load4(const Vec* v) {
    const float* p = &v->x;
    const __m128 a = _mm_loadu_ps(p);
    const __m128 b = _mm_loadu_ps(p + 4);
    const __m128 c = _mm_loadu_ps(p + 8);
    const __m128 xy = _mm_shuffle_ps(b, c, _MM_SHUFFLE(2, 1, 3, 2)); // x2 y2 x3 y3
    const __m128 yz = _mm_shuffle_ps(a, b, _MM_SHUFFLE(1, 0, 2, 1)); // y0 z0 y1 z1
    return {_mm_shuffle_ps(a, xy, _MM_SHUFFLE(2, 0, 3, 0)),
            _mm_shuffle_ps(yz, xy, _MM_SHUFFLE(3, 1, 2, 0)),
            _mm_shuffle_ps(yz, c, _MM_SHUFFLE(3, 0, 3, 1))};
}

void store4(Vec* v, Quad q) {
    float* p = &v->x;
    const __m128 xy01 = _mm_unpacklo_ps(q.x, q.y);                          // x0 y0 x1 y1
    const __m128 xy23 = _mm_unpackhi_ps(q.x, q.y);                          // x2 y2 x3 y3
    const __m128 zx01 = _mm_shuffle_ps(q.z, q.x, _MM_SHUFFLE(1, 1, 0, 0));  // z0 z0 x1 x1
    const __m128 yz11 = _mm_shuffle_ps(q.y, q.z, _MM_SHUFFLE(1, 1, 1, 1));  // y1 y1 z1 z1
    const __m128 zx23 = _mm_shuffle_ps(q.z, xy23, _MM_SHUFFLE(2, 2, 2, 2)); // z2 z2 x3 x3
    const __m128 yz33 = _mm_shuffle_ps(q.y, q.z, _MM_SHUFFLE(3, 3, 3, 3));  // y3 y3 z3 z3
    _mm_storeu_ps(p, _mm_shuffle_ps(xy01, zx01, _MM_SHUFFLE(2, 0, 1, 0)));
    _mm_storeu_ps(p + 4, _mm_shuffle_ps(yz11, xy23, _MM_SHUFFLE(1, 0, 2, 0)));
    _mm_storeu_ps(p + 8, _mm_shuffle_ps(zx23, yz33, _MM_SHUFFLE(2, 0, 2, 0)));
}

// Four vectors by index.
Quad gather4(const Vec* v, const std::size_t* index) {
    const Vec& a = v[index[0]];
    const Vec& b = v[index[1]];
    const Vec& c = v[index[2]];
    const Vec& d = v[index[3]];
    return {_mm_setr_ps(a.x, b.x, c.x, d.x), _mm_setr_ps(a.y, b.y, c.y, d.y),
            _mm_setr_ps(a.z, b.z, c.z, d.z)};
}

// s = v^2 (3 - 2v) with v = 1 - distance / radius, as falloffBase. The clamp
// of v to 0..1 is left out: for 0 <= distance < radius, v is already in 0..1.
__m128 falloffBase4(__m128 distance, __m128 radius) {
    const __m128 v = _mm_sub_ps(_mm_set1_ps(1.0f), _mm_div_ps(distance, radius));
    return _mm_mul_ps(_mm_mul_ps(v, v),
                      _mm_sub_ps(_mm_set1_ps(3.0f), _mm_mul_ps(_mm_set1_ps(2.0f), v)));
}

void displaceBlocks(const ImpactField& f, const Vec* base, const Vec* current, Vec* out,
                    std::size_t count) {
    constexpr std::size_t kBlock = 256; // a multiple of 4
    alignas(16) float distanceSq[kBlock];
    alignas(16) float baseThis[kBlock];
    alignas(16) float basePrevious[kBlock];
    alignas(16) float weightThis[kBlock];
    alignas(16) float weightPrevious[kBlock];
    std::size_t reached[kBlock];

    const Quad centre = splat(f.centre);
    const Quad unit = splat(f.unit);
    const __m128 reachLimit = _mm_set1_ps(f.reachLimit);
    const __m128 capSq = _mm_set1_ps(f.capSq);
    const __m128 floatMax = _mm_set1_ps(FLT_MAX);
    const __m128 floatMin = _mm_set1_ps(FLT_MIN);
    const __m128 zero = _mm_setzero_ps();
    const __m128 radius = _mm_set1_ps(f.radius);
    const bool previous = f.previousRadius > 0.0f;
    const bool sameRadius = previous && f.previousRadius == f.radius;
    const __m128 previousRadius = _mm_set1_ps(previous ? f.previousRadius : 1.0f);
    const __m128 previousMask = previous ? _mm_cmpeq_ps(zero, zero) : zero;
    const __m128 depth = _mm_set1_ps(f.depth);
    const __m128 previousDepth = _mm_set1_ps(f.previousDepth);

    for (std::size_t first = 0; first < count; first += kBlock) {
        const std::size_t last = count - first < kBlock ? count : first + kBlock;

        // Every vertex: settle those beyond both radii with no push; keep the
        // others for the weights.
        std::size_t inReach = 0;
        std::size_t i = first;
        for (; i + 4 <= last; i += 4) {
            const Quad b = load4(base + i);
            const __m128 d = lengthSq(b - centre);
            const int reach = _mm_movemask_ps(_mm_cmpngt_ps(d, reachLimit));
            if (reach == 0xF) {
                _mm_storeu_ps(distanceSq + inReach, d);
                for (int l = 0; l < 4; ++l) {
                    reached[inReach + l] = i + l;
                }
                inReach += 4;
                continue;
            }
            const Quad c = load4(current + i);
            const Quad offset = c - b;
            const __m128 ok =
                _mm_and_ps(_mm_cmple_ps(lengthSq(offset), capSq), _mm_cmple_ps(d, floatMax));
            const int settled = _mm_movemask_ps(ok) & ~reach;
            if (settled == 0xF) {
                store4(out + i, b + offset);
                continue;
            }
            // Lane by lane, so that a vertex within reach keeps its current
            // position until its turn comes (out may be current itself).
            alignas(16) float lanes[4], x[4], y[4], z[4];
            const Quad result = b + offset;
            _mm_store_ps(lanes, d);
            _mm_store_ps(x, result.x);
            _mm_store_ps(y, result.y);
            _mm_store_ps(z, result.z);
            for (int l = 0; l < 4; ++l) {
                if (reach & (1 << l)) {
                    distanceSq[inReach] = lanes[l];
                    reached[inReach++] = i + l;
                } else if (settled & (1 << l)) {
                    out[i + l] = {x[l], y[l], z[l]};
                } else {
                    settleOne(f, base[i + l], current[i + l], lanes[l], 0.0f, out[i + l]);
                }
            }
        }
        for (; i < last; ++i) {
            const float d = lengthSq(base[i] - f.centre);
            if (mayReach(f, d)) {
                distanceSq[inReach] = d;
                reached[inReach++] = i;
            } else {
                settleOne(f, base[i], current[i], d, 0.0f, out[i]);
            }
        }
        if (inReach == 0) {
            continue;
        }
        const std::size_t padded = (inReach + 3) & ~static_cast<std::size_t>(3);
        for (std::size_t k = inReach; k < padded; ++k) {
            distanceSq[k] = INFINITY; // within neither radius
            reached[k] = reached[0];
        }

        // The bases of the weights, four at a time; 0 outside a radius.
        for (std::size_t k = 0; k < padded; k += 4) {
            const __m128 distance = _mm_sqrt_ps(_mm_load_ps(distanceSq + k));
            const __m128 inThis = _mm_cmplt_ps(distance, radius);
            const __m128 inPrevious =
                _mm_and_ps(_mm_cmplt_ps(distance, previousRadius), previousMask);
            _mm_store_ps(baseThis + k, _mm_and_ps(inThis, falloffBase4(distance, radius)));
            _mm_store_ps(basePrevious + k,
                         _mm_and_ps(inPrevious, falloffBase4(distance, previousRadius)));
        }

        // The powers, back to back. A base of 0 gives the weight 0 that a
        // vertex outside the radius has (0 to a positive power is +0); without
        // a previous dent its powers are not taken at all.
        if (sameRadius) {
            // Both dents have one radius (a push held steady): one base, one
            // power, half the calls.
            for (std::size_t k = 0; k < padded; ++k) {
                weightThis[k] = falloffPower(baseThis[k], f.falloffPower);
                weightPrevious[k] = weightThis[k];
            }
        } else if (previous) {
            for (std::size_t k = 0; k < padded; ++k) {
                weightThis[k] = falloffPower(baseThis[k], f.falloffPower);
                weightPrevious[k] = falloffPower(basePrevious[k], f.falloffPower);
            }
        } else {
            for (std::size_t k = 0; k < padded; ++k) {
                weightThis[k] = falloffPower(baseThis[k], f.falloffPower);
                weightPrevious[k] = 0.0f;
            }
        }

        // Pushes, moves and the cap, four at a time.
        for (std::size_t k = 0; k < padded; k += 4) {
            const __m128 p = _mm_sub_ps(_mm_mul_ps(depth, _mm_load_ps(weightThis + k)),
                                        _mm_mul_ps(previousDepth, _mm_load_ps(weightPrevious + k)));
            const __m128 push = _mm_andnot_ps(_mm_cmplt_ps(p, zero), p);
            const std::size_t* index = reached + k;
            const bool run = index[3] == index[0] + 3 && k + 4 <= inReach;
            const Quad b = run ? load4(base + index[0]) : gather4(base, index);
            const Quad c = run ? load4(current + index[0]) : gather4(current, index);
            const __m128 d = _mm_load_ps(distanceSq + k);
            const Quad offset = (c + unit * push) - b;
            // A squared distance below FLT_MIN may stand for a lost distance:
            // such a vertex is settled one by one.
            const __m128 ok = _mm_and_ps(
                _mm_and_ps(_mm_cmple_ps(lengthSq(offset), capSq), _mm_cmple_ps(d, floatMax)),
                _mm_cmpge_ps(d, floatMin));
            const int settled = _mm_movemask_ps(ok);
            const std::size_t lanes = inReach - k < 4 ? inReach - k : 4;
            if (run && settled == 0xF) {
                store4(out + index[0], b + offset);
                continue;
            }
            alignas(16) float x[4], y[4], z[4], pushed[4];
            const Quad result = b + offset;
            _mm_store_ps(x, result.x);
            _mm_store_ps(y, result.y);
            _mm_store_ps(z, result.z);
            _mm_store_ps(pushed, push);
            for (std::size_t l = 0; l < lanes; ++l) {
                const std::size_t v = index[l];
                if (settled & (1 << l)) {
                    out[v] = {x[l], y[l], z[l]};
                } else {
                    settleOne(f, base[v], current[v], distanceSq[k + l], pushed[l], out[v]);
                }
            }
        }
    }
}
#endif

} // namespace

void displaceImpact(const ImpactField& f, std::span<const Vec> base, std::span<const Vec> current,
                    std::span<Vec> out) {
    std::size_t count = base.size() < current.size() ? base.size() : current.size();
    count = out.size() < count ? out.size() : count;
    if (!f.valid) {
        if (out.data() != current.data()) {
            std::copy_n(current.begin(), count, out.begin());
        }
        return;
    }
#ifdef DENT_MESH_SSE
    if (f.plain) {
        displaceBlocks(f, base.data(), current.data(), out.data(), count);
        return;
    }
#endif
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = displaceImpact(f, base[i], current[i]);
    }
}

std::vector<Vec> displaceImpact(const ImpactField& f, std::span<const Vec> base,
                                std::span<const Vec> current) {
    std::vector<Vec> out(base.size() < current.size() ? base.size() : current.size());
    displaceImpact(f, base, current, out);
    return out;
}

} // namespace dent
