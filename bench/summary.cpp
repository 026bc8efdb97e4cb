#include "bench/summary.h"

#include <cstdio>

namespace bench {

namespace {

// Names come from scenario files; a comma or quote in one must not shift columns.
std::string field(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

} // namespace

std::string summaryCsv(const std::vector<CarSummary>& cars, const std::vector<FrameTime>& frames) {
    std::string out = "car,model,hits,largest_displacement,meshes_copied,vertices_copied,"
                      "lamps_smashed,stages_held\n";
    for (const CarSummary& c : cars) {
        char numbers[160];
        std::snprintf(numbers, sizeof numbers, ",%d,%.4f,%d,%d,%d,%d\n", c.hits,
                      static_cast<double>(c.largestDisplacement), c.meshesCopied, c.verticesCopied,
                      c.lampsSmashed, c.stagesHeld);
        out += field(c.car) + "," + field(c.model) + numbers;
    }
    out += "\nframe,plugin_ms,collisions\n";
    for (const FrameTime& f : frames) {
        char line[96];
        std::snprintf(line, sizeof line, "%d,%.4f,%d\n", f.frame, f.pluginMs, f.collisions);
        out += line;
    }
    return out;
}

} // namespace bench
