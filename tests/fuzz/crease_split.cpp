// Fuzzes the crease clip and split on arbitrary floats: pieces cover the source
// triangle, keep its winding, cut vertices lie exactly on the crease, labels
// match the side, and finite input gives finite output.
#include <cmath>
#include <cstring>

#include "fuzz_input.h"
#include "panel/split.h"

namespace {

using fuzzinput::check;

bool sameExceptSide(dent::PanelVertex a, dent::PanelVertex b) {
    a.side = b.side = 0;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool allFinite(const dent::PanelVertex& v) {
    bool ok = dent::isFinite(v.position) && dent::isFinite(v.normal) && std::isfinite(v.colour.r) &&
              std::isfinite(v.colour.g) && std::isfinite(v.colour.b) && std::isfinite(v.colour.a);
    for (const auto& uv : v.uv) {
        ok = ok && std::isfinite(uv.u) && std::isfinite(uv.v);
    }
    return ok;
}

struct D3 {
    double x, y, z;
};

D3 facing(const dent::PanelTriangle& t) {
    const dent::Vec& a = t.corners[0].position;
    const dent::Vec& b = t.corners[1].position;
    const dent::Vec& c = t.corners[2].position;
    const D3 e1{double(b.x) - a.x, double(b.y) - a.y, double(b.z) - a.z};
    const D3 e2{double(c.x) - a.x, double(c.y) - a.y, double(c.z) - a.z};
    return {e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
}

double area(const dent::PanelTriangle& t) {
    const D3 n = facing(t);
    return 0.5 * std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzinput::Reader in(data, size);
    const std::uint8_t flags = in.byte();
    const float sign = (flags & 1) ? -1.0f : 1.0f;
    const float creaseAt = in.number();
    dent::PanelTriangle source;
    bool finite = std::isfinite(creaseAt);
    double extent = 0.0;
    for (int i = 0; i < 3; ++i) {
        dent::PanelVertex& v = source.corners[i];
        v.position = {in.number(), in.number(), in.number()};
        if (flags & (2 << i)) {
            v.position.y = creaseAt / sign; // exactly on the crease
        }
        v.normal = {in.number(), in.number(), in.number()};
        v.colour = {in.number(), in.number(), in.number(), in.number()};
        for (int s = 0; s < ((flags & 16) ? dent::kPanelUvSets : 1); ++s) {
            v.uv[s] = {in.number(), in.number()};
        }
        v.side = (flags >> 5) & 1;
        finite = finite && allFinite(v);
        extent = std::fmax(extent, std::fmax(std::fabs(double(v.position.x)),
                                             std::fmax(std::fabs(double(v.position.y)),
                                                       std::fabs(double(v.position.z)))));
    }
    source.material = static_cast<std::int32_t>(in.byte()) - 128;

    const auto out = dent::splitCrease(source, sign, creaseAt);
    if (!finite) {
        return 0; // the rebuild refuses non-finite panels; nothing is promised here
    }

    float d[3];
    bool inner = false, outer = false;
    for (int i = 0; i < 3; ++i) {
        d[i] = source.corners[i].position.y * sign - creaseAt;
        inner = inner || d[i] < 0.0f;
        outer = outer || d[i] > 0.0f;
    }
    const bool cut = inner && outer;
    check(cut || out.size() == 1, "an uncut triangle comes out once");
    check(out.size() <= 3, "at most three pieces");
    if (cut) {
        const auto a = dent::clipCrease(source, sign, creaseAt, false);
        const auto b = dent::clipCrease(source, sign, creaseAt, true);
        check(a.size() >= 3 && a.size() <= 4 && b.size() >= 3 && b.size() <= 4,
              "a cut gives polygons of three or four corners");
    }

    const D3 sourceFacing = facing(source);
    double total = 0.0;
    int previousSide = 0;
    for (const auto& piece : out) {
        check(piece.material == source.material, "material kept");
        const int side = piece.corners[0].side;
        check(side == 0 || side == 1, "side is 0 or 1");
        check(side >= previousSide, "inner pieces first");
        previousSide = side;
        for (const auto& c : piece.corners) {
            check(allFinite(c), "finite input gives finite pieces");
            check(c.side == side, "one label per piece");
            const float dc = c.position.y * sign - creaseAt;
            check(side == 0 ? dc <= 0.0f : dc >= 0.0f, "label matches the side");
            const bool original = sameExceptSide(c, source.corners[0]) ||
                                  sameExceptSide(c, source.corners[1]) ||
                                  sameExceptSide(c, source.corners[2]);
            if (!original) {
                check(cut, "only a cut adds vertices");
                check(c.position.y == creaseAt / sign, "cut vertex exactly on the crease");
            }
        }
        if (!cut) {
            for (int i = 0; i < 3; ++i) {
                check(sameExceptSide(piece.corners[i], source.corners[i]),
                      "uncut corners unchanged");
            }
        }
        // Areas and winding where double precision measures them reliably.
        if (extent < 1e15 && extent > 1e-15) {
            const double a = area(piece);
            total += a;
            const D3 f = facing(piece);
            const double scale = extent * extent;
            if (a > 1e-3 * scale) {
                check(f.x * sourceFacing.x + f.y * sourceFacing.y + f.z * sourceFacing.z > 0.0,
                      "pieces keep the source winding");
            }
        }
    }
    if (extent < 1e15 && extent > 1e-15) {
        const double scale = extent * extent;
        check(std::fabs(total - area(source)) <= 1e-5 * scale + 2.1e-6,
              "pieces cover the source triangle");
    }
    return 0;
}
