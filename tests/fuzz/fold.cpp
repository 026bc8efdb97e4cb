// Fuzzes the fold profile on arbitrary floats: finite input gives a finite
// profile within its clamps, the limited fold stays within the lift limit,
// and the body-follow step stays finite.
#include <cmath>

#include "fuzz_input.h"
#include "panel/fold.h"

namespace {

using fuzzinput::check;

bool finite(const dent::FoldProfile& f) {
    return std::isfinite(f.length) && std::isfinite(f.crease) && std::isfinite(f.compression) &&
           std::isfinite(f.run) && std::isfinite(f.tail) && std::isfinite(f.lift);
}

bool none(const dent::FoldProfile& f) {
    return f.length == 0.0f && f.crease == 0.0f && f.compression == 0.0f && f.run == 0.0f &&
           f.tail == 0.0f && f.lift == 0.0f;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzinput::Reader in(data, size);
    const std::uint8_t flags = in.byte();
    const float length = in.number();
    const float crease = in.number();
    const float compression = in.number();
    const float maxLift = in.number();

    const dent::FoldProfile fold = dent::foldFor(length, crease, compression);
    const dent::FoldProfile held = dent::limitedFold(length, crease, compression, maxLift);
    const bool inputsFinite =
        std::isfinite(length) && std::isfinite(crease) && std::isfinite(compression);
    if (!inputsFinite || length < 0.05f) {
        check(none(fold) && none(held), "invalid input gives no fold");
    } else {
        check(finite(fold), "finite input gives a finite fold");
        check(fold.crease >= 0.35f && fold.crease <= 0.65f, "crease clamped");
        check(fold.compression >= 0.0f && fold.compression <= 0.45f * length,
              "compression clamped");
        check(fold.lift >= 0.0f, "lift not negative");
        if (std::isfinite(maxLift)) {
            check(finite(held), "finite input gives a finite limited fold");
            check(held.compression <= fold.compression, "the limit only takes compression away");
            // A limit of at least 0.05 on a panel the rebuild accepts always holds.
            if (maxLift >= 0.05f && length <= 3.5f) {
                check(held.lift <= maxLift, "limited fold within the lift limit");
            } else {
                check(held.lift <= maxLift || held.compression == 0.0f,
                      "limited fold within the lift limit or flat");
            }
        }
    }

    dent::PanelShape shape;
    shape.sign = (flags & 1) ? -1.0f : 1.0f;
    shape.start = in.number();
    shape.length = length;
    shape.crease = crease;
    const dent::Vec p{in.number(), in.number(), in.number()};
    const dent::Vec c{in.number(), in.number(), in.number()};
    const dent::Vec d{in.number(), in.number(), in.number()};
    float values[6];
    for (float& v : values) {
        v = in.number();
    }
    const dent::Vec step = dent::panelBodyStep(p, shape, c, d, values[0], values[1], values[2],
                                               values[3], values[4], values[5]);
    bool allFinite =
        dent::isFinite(p) && dent::isFinite(c) && dent::isFinite(d) && std::isfinite(shape.start);
    for (float v : values) {
        allFinite = allFinite && std::isfinite(v);
    }
    if (allFinite) {
        check(dent::isFinite(step), "finite input gives a finite body step");
    }
    return 0;
}
