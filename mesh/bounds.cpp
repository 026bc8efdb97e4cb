#include "mesh/bounds.h"

#include <cmath>

#include "mesh/simd.h"
#ifdef DENT_HAS_SSE2
#include <emmintrin.h>
#define DENT_BOUNDS_SSE 1
#endif

namespace dent {

// The root is monotonic and correctly rounded, so the largest of the lengths
// is the root of the largest of their squares: the squares are compared, and
// one root taken at the end.
float grownRadius(std::span<const Vec> points, Vec centre, float radius) {
    float farthestSq = -INFINITY; // stays so when no square is a number
    std::size_t i = 0;
#ifdef DENT_BOUNDS_SSE
    if (points.size() >= 4) {
        const __m128 cx = _mm_set1_ps(centre.x);
        const __m128 cy = _mm_set1_ps(centre.y);
        const __m128 cz = _mm_set1_ps(centre.z);
        __m128 farthest = _mm_set1_ps(-INFINITY);
        for (; i + 4 <= points.size(); i += 4) {
            const Vec* p = points.data() + i;
            const __m128 dx = _mm_sub_ps(_mm_setr_ps(p[0].x, p[1].x, p[2].x, p[3].x), cx);
            const __m128 dy = _mm_sub_ps(_mm_setr_ps(p[0].y, p[1].y, p[2].y, p[3].y), cy);
            const __m128 dz = _mm_sub_ps(_mm_setr_ps(p[0].z, p[1].z, p[2].z, p[3].z), cz);
            // (x*x + y*y) + z*z, as lengthSq.
            const __m128 sq =
                _mm_add_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)), _mm_mul_ps(dz, dz));
            // With a NaN in either operand maxps gives its second one: the
            // running maximum, so a NaN square is passed over.
            farthest = _mm_max_ps(sq, farthest);
        }
        alignas(16) float lanes[4];
        _mm_store_ps(lanes, farthest);
        for (const float lane : lanes) {
            farthestSq = std::fmax(farthestSq, lane);
        }
    }
#endif
    for (; i < points.size(); ++i) {
        farthestSq = std::fmax(farthestSq, lengthSq(points[i] - centre));
    }
    // The root of -infinity is NaN, which fmax passes over.
    return std::fmax(radius, squareRoot(farthestSq));
}

} // namespace dent
