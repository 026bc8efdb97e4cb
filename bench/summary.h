#pragma once
// summary.csv: what the plug-in did to each car, and what each frame cost it.
#include <string>
#include <vector>

namespace bench {

struct CarSummary {
    std::string car;
    std::string model;
    int hits = 0;                  // collisions the scenario gave it (each frame of a push)
    float largestDisplacement = 0; // game units, at its last pictures
    int meshesCopied = 0;          // meshes the plug-in replaced with its copies
    int verticesCopied = 0;        // vertices in those copies
    int lampsSmashed = 0;          // rear lamps the game shows broken
    int stagesHeld = 0;            // damage stages part retention held back
};

struct FrameTime {
    int frame = 0;       // from 1
    double pluginMs = 0; // the frame's time outside the game's own step
    int collisions = 0;  // collision calls in the frame
};

// Two tables, each with its header line, the cars first; a blank line between.
std::string summaryCsv(const std::vector<CarSummary>& cars, const std::vector<FrameTime>& frames);

} // namespace bench
