// Fuzzes the ordinary dent on arbitrary floats: invalid input keeps the current
// position, finite input gives a finite position, the total-displacement cap
// holds, a dent never pulls a vertex back along its direction (only the cap
// does), and repeating the dent of an episode moves nothing.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "mesh/displace.h"

namespace {

using fuzzinput::check;

struct D3 {
    double x, y, z;
};
D3 sub(dent::Vec a, dent::Vec b) {
    return {double(a.x) - b.x, double(a.y) - b.y, double(a.z) - b.z};
}
double len(D3 v) {
    return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
}
double magnitude(dent::Vec v) {
    return std::max({std::fabs(double(v.x)), std::fabs(double(v.y)), std::fabs(double(v.z))});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzinput::Reader in(data, size);
    const std::uint8_t flags = in.byte();
    auto vec = [&] { return dent::Vec{in.number(), in.number(), in.number()}; };
    const dent::Vec base = vec();
    const dent::Vec current = (flags & 1) ? base : vec();
    const dent::Vec centre = (flags & 2) ? base : vec();
    const dent::Vec direction = vec();
    const float depth = in.number();
    const float radius = in.number();
    const float previousDepth = in.number();
    // Often the previous dent's radius itself: a push held steady, whose two
    // weights the model takes as one.
    const float drawnRadius = in.number();
    const float previousRadius = (flags & 4) ? radius : drawnRadius;
    const float maxTotal = in.number();
    const float power = in.number();

    const dent::Vec moved = dent::displaceImpact(base, current, centre, direction, depth, radius,
                                                 previousDepth, previousRadius, maxTotal, power);

    // The whole-mesh form gives the same floats as the one-vertex form, on a
    // small mesh of this vertex and more from the input (some of them copies,
    // so that runs of vertices within reach occur).
    {
        const dent::ImpactField field = dent::impactField(
            centre, direction, depth, radius, previousDepth, previousRadius, maxTotal, power);
        std::vector<dent::Vec> meshBase{base}, meshCurrent{current};
        const int extra = in.byte() % 12;
        for (int i = 0; i < extra; ++i) {
            const std::uint8_t how = in.byte();
            meshBase.push_back((how & 1) ? base : vec());
            meshCurrent.push_back((how & 2) ? meshBase.back() : (how & 4) ? current : vec());
        }
        const std::vector<dent::Vec> out = dent::displaceImpact(field, meshBase, meshCurrent);
        check(out.size() == meshBase.size(), "one result per vertex");
        check(std::memcmp(&out[0], &moved, sizeof moved) == 0, "mesh form equals the vertex form");
        for (std::size_t i = 0; i < out.size(); ++i) {
            const dent::Vec one = dent::displaceImpact(field, meshBase[i], meshCurrent[i]);
            check(std::memcmp(&out[i], &one, sizeof one) == 0, "mesh form equals the vertex form");
        }
        std::vector<dent::Vec> inPlace = meshCurrent;
        dent::displaceImpact(field, meshBase, inPlace, inPlace);
        check(std::memcmp(inPlace.data(), out.data(), out.size() * sizeof out[0]) == 0,
              "the in-place form equals the mesh form");
    }
    const bool finite = dent::isFinite(base) && dent::isFinite(current) && dent::isFinite(centre) &&
                        dent::isFinite(direction) && std::isfinite(depth) &&
                        std::isfinite(radius) && std::isfinite(previousDepth) &&
                        std::isfinite(previousRadius) && std::isfinite(maxTotal) &&
                        std::isfinite(power);
    const bool valid = finite && power > 0.0f && maxTotal > 0.0f && radius > 0.0f && depth > 0.0f;
    if (!valid) {
        check(std::memcmp(&moved, &current, sizeof moved) == 0, "invalid input keeps current");
        return 0;
    }
    check(dent::isFinite(moved), "finite input gives a finite position");

    const double scale = std::max({magnitude(base), magnitude(current), magnitude(moved)});
    const double slack = 4e-7 * scale + 3e-45; // rounding, subnormals included
    const double fromBase = len(sub(moved, base));
    check(fromBase <= double(maxTotal) * (1.0 + 1e-6) + slack, "the cap holds");

    const double push = dent::impactPush(float(len(sub(base, centre))), depth, radius,
                                         previousDepth, previousRadius, power);
    check(!(push < 0.0), "the push is never negative");

    // Only the cap may move a vertex back: where the pushed position stays
    // within the cap, the vertex moved forward along the direction.
    const D3 r{direction.x, direction.y, direction.z};
    const double directionLength = len(r);
    if (directionLength > 1e-5) {
        const D3 n{r.x / directionLength, r.y / directionLength, r.z / directionLength};
        const D3 target{current.x + n.x * push, current.y + n.y * push, current.z + n.z * push};
        const D3 offset{target.x - base.x, target.y - base.y, target.z - base.z};
        if (len(offset) < double(maxTotal) * (1.0 - 1e-5)) {
            const D3 step = sub(moved, current);
            const double along = step.x * n.x + step.y * n.y + step.z * n.z;
            check(along >= -2.0 * slack, "a dent never pulls back along its direction");
        }
    }

    if (len(sub(current, base)) <= double(maxTotal)) {
        const dent::Vec again = dent::displaceImpact(base, current, centre, direction, depth,
                                                     radius, depth, radius, maxTotal, power);
        check(dent::isFinite(again), "repeat stays finite");
        check(len(sub(again, current)) <= slack + 1e-6 * double(maxTotal),
              "repeating the episode's dent moves nothing");
    }
    return 0;
}
