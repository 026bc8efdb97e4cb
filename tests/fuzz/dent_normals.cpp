// Fuzzes normals that follow a dent on arbitrary small meshes: any floats, any
// triangles (repeated corners, indices out of range), any dent. A vertex that
// is neither within the radius nor beside one (nor at the place of one beside
// it) keeps what its normal held; one at its base position gets its original
// normal bit for bit; every other rewritten normal is its original one or a
// finite unit vector.
#include <cmath>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "mesh/dent_normals.h"
#include "mesh/displace.h"

namespace {

using fuzzinput::check;

// Small meshes: the harness's own checks stay cheap beside the code under test.
constexpr std::size_t kMaxVertices = 48;

bool sameBits(dent::Vec a, dent::Vec b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzinput::Reader in(data, size);
    const std::uint8_t flags = in.byte();
    auto vec = [&] { return dent::Vec{in.number(), in.number(), in.number()}; };
    // Small coordinates most of the time, so that dents reach vertices.
    auto place = [&] {
        const dent::Vec v = vec();
        return (flags & 1) ? v : dent::Vec{std::fmod(v.x, 4.0f), std::fmod(v.y, 4.0f), 0.0f};
    };

    const std::size_t n = 1 + in.byte() % kMaxVertices;
    std::vector<dent::Vec> base, normals;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t how = in.byte();
        // Some vertices repeat an earlier place: seams and hard edges.
        base.push_back((how & 1) && i > 0 ? base[in.byte() % i] : place());
        normals.push_back((how & 2) ? dent::Vec{0.0f, 0.0f, 1.0f} : vec());
    }
    std::vector<dent::TriangleCorners> triangles(in.byte() % 96);
    const std::size_t range = (flags & 2) ? n + 2 : n;
    for (dent::TriangleCorners& t : triangles) {
        for (std::uint16_t& corner : t) {
            corner = static_cast<std::uint16_t>(in.byte() % range);
        }
    }

    dent::DentNormals mesh = dent::buildDentNormals(base, normals, triangles);
    bool inRange = true;
    for (const dent::TriangleCorners& t : triangles) {
        inRange = inRange && t[0] < n && t[1] < n && t[2] < n;
    }
    bool somewhere = false;
    for (const dent::Vec& p : base) {
        somewhere = somewhere || dent::isFinite(p);
    }
    check(mesh.empty() == !(inRange && somewhere),
          "built exactly when every corner is a vertex and some vertex has a place");
    if (mesh.empty()) {
        return 0;
    }

    const dent::Vec centre = (flags & 4) ? base[in.byte() % n] : place();
    const float radius = (flags & 8) ? std::fabs(std::fmod(in.number(), 3.0f)) : in.number();
    const dent::ImpactField field =
        dent::impactField(centre, vec(), in.number(), radius, 0.0f, 0.0f, 1.0f, 0.65f);
    const std::vector<dent::Vec> current = dent::displaceImpact(field, base, base);

    // Two runs over two fillings: a normal that a run writes has the same
    // value in both, one it leaves keeps each filling (whatever the input's
    // normals look like).
    const dent::Vec fillings[2] = {{7.0f, -7.0f, 7.0f}, {-5.0f, 5.0f, -5.0f}};
    std::vector<dent::Vec> out(n, fillings[0]);
    std::vector<dent::Vec> again(n, fillings[1]);
    dent::followDent(mesh, centre, radius, base, current, out);
    dent::followDent(mesh, centre, radius, base, current, again);

    // Within the radius by the dent's own test, and their neighbours.
    // Plain arrays: a bit vector's iterators dominated the run's time.
    bool near[kMaxVertices] = {};
    const bool followed = dent::isFinite(centre) && radius > 0.0f && std::isfinite(radius);
    for (std::size_t i = 0; i < n && followed; ++i) {
        near[i] = dent::length(base[i] - centre) < radius;
    }
    bool reached[kMaxVertices];
    std::memcpy(reached, near, sizeof near);
    for (const dent::TriangleCorners& t : triangles) {
        if (near[t[0]] || near[t[1]] || near[t[2]]) {
            reached[t[0]] = reached[t[1]] = reached[t[2]] = true;
        }
    }
    // A neighbour's copies at its place (a seam) turn with it.
    bool neighbours[kMaxVertices];
    std::memcpy(neighbours, reached, sizeof reached);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n && !reached[i]; ++j) {
            reached[i] = neighbours[j] && base[j] == base[i];
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        const bool written = !(sameBits(out[i], fillings[0]) && sameBits(again[i], fillings[1]));
        if (written) {
            check(sameBits(out[i], again[i]), "a rewritten normal does not depend on the old one");
        }
        if (near[i] && dent::isFinite(base[i])) {
            check(written, "every vertex within the radius is rewritten");
        }
        if (!reached[i]) {
            check(!written, "nothing beyond the radius and its neighbours is rewritten");
        }
        if (!written) {
            continue;
        }
        if (current[i] == base[i]) {
            check(sameBits(out[i], normals[i]), "an unmoved vertex keeps its original normal");
        } else if (!sameBits(out[i], normals[i])) {
            check(dent::isFinite(out[i]), "a turned normal is finite");
            check(std::fabs(dent::length(out[i]) - 1.0f) < 1e-5f, "a turned normal is unit");
        }
    }
    return 0;
}
