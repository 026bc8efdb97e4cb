#pragma once
// The arithmetic behind normals that follow a dent: the summed area-weighted
// normal of the triangles around a point, and a normal turned with it. The
// SSE forms compute, lane for lane, the same float operations as the scalar
// ones, so both give the same bits. Not part of the model's interface.
#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "mesh/dent_normals.h"
#include "mesh/simd.h"
#include "mesh/vec.h"

#ifdef DENT_HAS_SSE2
#include <emmintrin.h>
#define DENT_SURFACE_SSE 1
#endif

// The per-group sum is worth inlining into its one hot loop even where the
// compiler finds it too large to.
#if defined(_MSC_VER)
#define DENT_INLINE_HOT __forceinline
#elif defined(__GNUC__)
#define DENT_INLINE_HOT inline __attribute__((always_inline))
#else
#define DENT_INLINE_HOT inline
#endif

namespace dent::detail {

// A current surface whose squared length, in units of the base surface's,
// fell to this or less has collapsed and no longer has an orientation.
inline constexpr float kCollapsedSq = 1e-6f;
// Surfaces whose directions' cosine is within this of -1 (more than about 177
// degrees apart) have no unique rotation between them.
inline constexpr float kOppositeMargin = 1e-3f;

// A surface's unit direction, and the scale that brings a surface of its size
// to unit length; scale 0 for a surface without direction.
struct Orientation {
    Vec direction;
    float scale = 0.0f;
};

inline Orientation orientationOf(Vec surface) {
    const float sq = lengthSq(surface);
    if (!(sq > 0.0f) || !(sq <= FLT_MAX)) {
        return {};
    }
    const float scale = 1.0f / squareRoot(sq);
    if (!(scale <= FLT_MAX)) {
        return {};
    }
    return {surface * scale, scale};
}

// n turned by the smallest rotation that takes the unit direction a to the
// direction of c, at unit length; c is the current surface times the base
// surface's scale, so an unchanged surface has length 1. Rodrigues' rotation
// by unit vectors a and b,
//   R n = n (a.b) + (a x b) x n + (a x b) ((a x b).n) / (1 + a.b),
// is taken with b = c / s unnormalised and multiplied by s (s + a.c), which
// leaves its direction alone and saves two roots and two divisions:
//   r = (n (a.c) + (a x c) x n) (s + a.c) + (a x c) ((a x c).n).
// n itself when c has collapsed or is not finite, when a and c point almost
// opposite ways, or when r cannot be scaled to unit length exactly enough (a
// zero, tiny or non-finite n).
inline Vec turnedNormal(Vec n, Vec a, Vec c) {
    const float cSq = lengthSq(c);
    if (!(cSq > kCollapsedSq) || !(cSq <= FLT_MAX)) {
        return n;
    }
    const float s = squareRoot(cSq);
    const float along = dot(a, c);
    if (!(along > (kOppositeMargin - 1.0f) * s)) {
        return n;
    }
    const Vec k = cross(a, c);
    const Vec r = (n * along + cross(k, n)) * (s + along) + k * dot(k, n);
    const float rSq = lengthSq(r);
    if (!(rSq >= FLT_MIN) || !(rSq <= FLT_MAX)) {
        return n;
    }
    return r * (1.0f / squareRoot(rSq));
}

#ifdef DENT_SURFACE_SSE
// x, y, z of a vector in the low three lanes, 0 in the fourth.
inline __m128 load3(const Vec& v) {
    double xy;
    std::memcpy(&xy, &v.x, sizeof xy);
    return _mm_movelh_ps(_mm_castpd_ps(_mm_set_sd(xy)), _mm_load_ss(&v.z));
}

// A sum of cross products as the four-lane form keeps it: lanes (z, x, y) and
// a fourth that nothing reads.
using RotatedSum = __m128;

inline Vec unrotated(RotatedSum sum) {
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, sum);
    return {lanes[1], lanes[2], lanes[0]};
}
#else
using RotatedSum = Vec;

inline Vec unrotated(RotatedSum sum) {
    return sum;
}
#endif

// The triangles around a point are kept as chains of corners, each chain
// after its number of corners: consecutive corners of a chain are the other
// two corners of one triangle, in winding order.

// Calls corner(c) for each corner of the chains in [first, last).
template <class Corner>
void forEachCorner(const std::uint16_t* first, const std::uint16_t* last, Corner corner) {
    while (first != last) {
        const std::uint16_t* end = first + 1 + *first;
        for (++first; first != end; ++first) {
            corner(*first);
        }
    }
}

// Calls pair(p, q) for each two consecutive corners of the chains in
// [first, last), chain by chain: the triangles around a point.
template <class Pair>
void forEachPair(const std::uint16_t* first, const std::uint16_t* last, Pair pair) {
    while (first != last) {
        const std::uint16_t* end = first + 1 + *first;
        for (first += 2; first < end; ++first) {
            pair(first[-1], first[0]);
        }
        first = end;
    }
}

// Whether a and b compare equal, as a == b does (a NaN is nowhere).
inline bool samePlace(const Vec& a, const Vec& b) {
#ifdef DENT_SURFACE_SSE
    return _mm_movemask_ps(_mm_cmpeq_ps(load3(a), load3(b))) == 0xF;
#else
    return a == b;
#endif
}

// A chain of at least this many corners whose last is its first is a full
// fan: a polygon of at least three corners around the point.
inline constexpr std::ptrdiff_t kClosedFanCorners = 4;

// Whether the chain [corners, end) goes right round its point.
inline bool closedFan(const std::uint16_t* corners, const std::uint16_t* end) {
    return end - corners >= kClosedFanCorners && corners[0] == end[-1];
}

// The area-weighted normal of the triangles around `at`, doubled: the sum,
// chain by chain, of cross(p - at, q - at) over its pairs of corners. The
// point cancels out of a full fan, whose sum is the vector area of the
// polygon q0 .. q(m-1) that its corners make (doubled). That is summed a quad
// at a time, q(k) q(k+1) q(k+2) with q0 adding cross(q(k+1) - q0, q(k+2) -
// q(k)), at a third of the products of the pairs; the pairs of other chains
// are summed one by one. Wide: corners may be read 16 bytes at a time (none
// is the last of `positions`); the fourth lane then holds the next vertex's
// x, which the lanes of the sum never mix into the other three.
template <bool Wide>
DENT_INLINE_HOT RotatedSum surfaceAround(const Vec* positions, Vec at, const std::uint16_t* first,
                                         const std::uint16_t* last) {
#ifdef DENT_SURFACE_SSE
    // cross(u, v) = (u * v.yzx - u.yzx * v).yzx: the sum is kept in that
    // rotated order and turned back once, and each corner's rotated copy
    // serves both triangles it belongs to. Lane for lane these are the
    // products and differences of cross(), so the bits are the same.
    const __m128 a = load3(at);
    __m128 rotatedSum = _mm_setzero_ps();
    auto load = [&](std::uint16_t c) {
        if constexpr (Wide) {
            return _mm_loadu_ps(&positions[c].x);
        } else {
            return load3(positions[c]);
        }
    };
    auto corner = [&](std::uint16_t c) { return _mm_sub_ps(load(c), a); };
    auto yzx = [](__m128 v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 0, 2, 1)); };
    auto add = [&](__m128 u, __m128 uYZX, __m128 v, __m128 vYZX) {
        rotatedSum = _mm_add_ps(rotatedSum, _mm_sub_ps(_mm_mul_ps(u, vYZX), _mm_mul_ps(uYZX, v)));
    };
    auto addCross = [&](__m128 u, __m128 v) { add(u, yzx(u), v, yzx(v)); };
    while (first != last) {
        const std::uint16_t* corners = first + 1;
        const std::uint16_t* end = corners + *first;
        if (closedFan(corners, end)) {
            const __m128 q0 = load(corners[0]);
            const std::uint16_t* lastCorner = end - 2; // the polygon's q(m-1)
            const std::uint16_t* q = corners + 1;
            __m128 before = load(q[0]);
            for (; q + 2 <= lastCorner; q += 2) {
                const __m128 after = load(q[2]);
                addCross(_mm_sub_ps(load(q[1]), q0), _mm_sub_ps(after, before));
                before = after;
            }
            if (q + 1 <= lastCorner) {
                addCross(_mm_sub_ps(before, q0), _mm_sub_ps(load(q[1]), q0));
            }
            first = end;
            continue;
        }
        __m128 u = corner(corners[0]);
        __m128 uYZX = yzx(u);
        // Two triangles a round, so that no vector needs copying.
        for (first = corners + 1; end - first >= 2; first += 2) {
            const __m128 v = corner(first[0]);
            const __m128 vYZX = yzx(v);
            add(u, uYZX, v, vYZX);
            u = corner(first[1]);
            uYZX = yzx(u);
            add(v, vYZX, u, uYZX);
        }
        if (first != end) {
            const __m128 v = corner(first[0]);
            add(u, uYZX, v, yzx(v));
        }
        first = end;
    }
    return rotatedSum;
#else
    Vec sum;
    while (first != last) {
        const std::uint16_t* corners = first + 1;
        const std::uint16_t* end = corners + *first;
        if (closedFan(corners, end)) {
            const Vec q0 = positions[corners[0]];
            const std::uint16_t* lastCorner = end - 2;
            const std::uint16_t* q = corners + 1;
            for (; q + 2 <= lastCorner; q += 2) {
                sum = sum + cross(positions[q[1]] - q0, positions[q[2]] - positions[q[0]]);
            }
            if (q + 1 <= lastCorner) {
                sum = sum + cross(positions[q[0]] - q0, positions[q[1]] - q0);
            }
        } else {
            for (const std::uint16_t* c = corners + 1; c < end; ++c) {
                sum = sum + cross(positions[c[-1]] - at, positions[c[0]] - at);
            }
        }
        first = end;
    }
    return sum;
#endif
}

// Normals to turn, gathered so that four are turned at a time.
class TurnBatch {
  public:
    // The vertices' original normals and their groups' base directions.
    TurnBatch(const Vec* original, const Vec* direction)
        : original_(original), direction_(direction) {}

    // Queues normals[vertex] = turnedNormal(original[vertex],
    // direction[group], surface * scale). True when the batch is full and
    // must be flushed before the next add.
    bool add(std::uint16_t vertex, std::uint16_t group, RotatedSum surface, float scale) {
        const std::size_t i = size_++;
        vertex_[i] = vertex;
        group_[i] = group;
#ifdef DENT_SURFACE_SSE
        _mm_store_ps(surface_[i], _mm_mul_ps(surface, _mm_set1_ps(scale)));
#else
        surface_[i] = surface * scale;
#endif
        return size_ == kSize;
    }

    // Writes the queued normals and empties the batch.
    void flush(Vec* normals);

  private:
    static constexpr std::size_t kSize = 64; // a multiple of 4

    // The scaled surface of entry i.
    Vec surface(std::size_t i) const;

#ifdef DENT_SURFACE_SSE
    void turnFour(std::size_t first, Vec* normals) const;

    alignas(16) float surface_[kSize][4]; // as summed: lanes (z, x, y, unread)
#else
    Vec surface_[kSize];
#endif
    const Vec* original_;
    const Vec* direction_;
    std::uint16_t vertex_[kSize];
    std::uint16_t group_[kSize];
    std::size_t size_ = 0;
};

} // namespace dent::detail
