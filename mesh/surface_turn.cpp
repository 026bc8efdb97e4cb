// Normals turned four at a time: each lane does the float operations of
// turnedNormal in the same order, so a batch gives the bits of the scalar form.
#include "mesh/surface_turn.h"

namespace dent::detail {

#ifdef DENT_SURFACE_SSE

namespace {

struct Quad {
    __m128 x, y, z;
};

Quad operator+(Quad a, Quad b) {
    return {_mm_add_ps(a.x, b.x), _mm_add_ps(a.y, b.y), _mm_add_ps(a.z, b.z)};
}
Quad operator*(Quad a, __m128 s) {
    return {_mm_mul_ps(a.x, s), _mm_mul_ps(a.y, s), _mm_mul_ps(a.z, s)};
}
// (x*x + y*y) + z*z, as dot.
__m128 dot4(Quad a, Quad b) {
    return _mm_add_ps(_mm_add_ps(_mm_mul_ps(a.x, b.x), _mm_mul_ps(a.y, b.y)), _mm_mul_ps(a.z, b.z));
}
Quad cross4(Quad a, Quad b) {
    return {_mm_sub_ps(_mm_mul_ps(a.y, b.z), _mm_mul_ps(a.z, b.y)),
            _mm_sub_ps(_mm_mul_ps(a.z, b.x), _mm_mul_ps(a.x, b.z)),
            _mm_sub_ps(_mm_mul_ps(a.x, b.y), _mm_mul_ps(a.y, b.x))};
}
__m128 select(__m128 mask, __m128 yes, __m128 no) {
    return _mm_or_ps(_mm_and_ps(mask, yes), _mm_andnot_ps(mask, no));
}

// Four vectors, a lane each: x, y and z across the lanes.
DENT_INLINE_HOT Quad gather(const Vec* from, const std::uint16_t* index) {
    __m128 x = load3(from[index[0]]);
    __m128 y = load3(from[index[1]]);
    __m128 z = load3(from[index[2]]);
    __m128 w = load3(from[index[3]]);
    _MM_TRANSPOSE4_PS(x, y, z, w);
    return {x, y, z};
}

} // namespace

void TurnBatch::turnFour(std::size_t first, Vec* normals) const {
    const Quad n = gather(original_, vertex_ + first);
    const Quad a = gather(direction_, group_ + first);
    __m128 zs = _mm_load_ps(surface_[first]);
    __m128 xs = _mm_load_ps(surface_[first + 1]);
    __m128 ys = _mm_load_ps(surface_[first + 2]);
    __m128 zeros = _mm_load_ps(surface_[first + 3]);
    _MM_TRANSPOSE4_PS(zs, xs, ys, zeros);
    const Quad c{xs, ys, zs};
    const __m128 floatMax = _mm_set1_ps(FLT_MAX);

    const __m128 cSq = dot4(c, c);
    __m128 ok =
        _mm_and_ps(_mm_cmpgt_ps(cSq, _mm_set1_ps(kCollapsedSq)), _mm_cmple_ps(cSq, floatMax));
    const __m128 s = _mm_sqrt_ps(cSq);
    const __m128 along = dot4(a, c);
    ok = _mm_and_ps(ok, _mm_cmpgt_ps(along, _mm_mul_ps(_mm_set1_ps(kOppositeMargin - 1.0f), s)));
    const Quad k = cross4(a, c);
    const Quad r = (n * along + cross4(k, n)) * _mm_add_ps(s, along) + k * dot4(k, n);
    const __m128 rSq = dot4(r, r);
    ok = _mm_and_ps(
        ok, _mm_and_ps(_mm_cmpge_ps(rSq, _mm_set1_ps(FLT_MIN)), _mm_cmple_ps(rSq, floatMax)));
    const Quad unit = r * _mm_div_ps(_mm_set1_ps(1.0f), _mm_sqrt_ps(rSq));

    // Lanes that keep their original are rare: the selection is skipped
    // where none does.
    const bool allTurned = _mm_movemask_ps(ok) == 0xF;
    const __m128 x = allTurned ? unit.x : select(ok, unit.x, n.x);
    const __m128 y = allTurned ? unit.y : select(ok, unit.y, n.y);
    __m128 z = allTurned ? unit.z : select(ok, unit.z, n.z);
    // Back to one vector a vertex: x and y of two lanes in each half of xy,
    // z of each lane moved down in turn.
    const __m128 xy01 = _mm_unpacklo_ps(x, y);
    const __m128 xy23 = _mm_unpackhi_ps(x, y);
    auto store = [&](std::size_t lane, __m128 halves, bool high) {
        float* out = &normals[vertex_[first + lane]].x;
        if (high) {
            _mm_storeh_pi(reinterpret_cast<__m64*>(out), halves);
        } else {
            _mm_storel_pi(reinterpret_cast<__m64*>(out), halves);
        }
        _mm_store_ss(out + 2, z);
        z = _mm_shuffle_ps(z, z, _MM_SHUFFLE(0, 3, 2, 1));
    };
    store(0, xy01, false);
    store(1, xy01, true);
    store(2, xy23, false);
    store(3, xy23, true);
}

#endif

Vec TurnBatch::surface(std::size_t i) const {
#ifdef DENT_SURFACE_SSE
    return {surface_[i][1], surface_[i][2], surface_[i][0]};
#else
    return surface_[i];
#endif
}

void TurnBatch::flush(Vec* normals) {
    std::size_t i = 0;
#ifdef DENT_SURFACE_SSE
    for (; i + 4 <= size_; i += 4) {
        turnFour(i, normals);
    }
#endif
    for (; i < size_; ++i) {
        normals[vertex_[i]] =
            turnedNormal(original_[vertex_[i]], direction_[group_[i]], surface(i));
    }
    size_ = 0;
}

} // namespace dent::detail
