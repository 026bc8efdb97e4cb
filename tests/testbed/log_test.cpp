// What reaches the log in play: status and per-event lines always end in
// CR LF; step markers only with Diagnostics on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drive.h"

namespace {

using drive::Drive;
namespace tb = testbed;

constexpr float kHit = 600.0f;

// Markers that only Diagnostics writes, by their area.
bool isStepMarker(const std::string& line) {
    static const char* const kAreas[] = {"atomic: ",
                                         "hit: ",
                                         "clone: ",
                                         "cleanup: ",
                                         "geometry: ",
                                         "panel: ",
                                         "geometry ABI: create runtime probe"};
    for (const char* area : kAreas) {
        if (line.rfind(area, 0) == 0) {
            return true;
        }
    }
    return false;
}

// A drive that passes every kind of marker: a dent, a panel rebuild, a reset.
void drivePastEveryStep(Drive& d) {
    host::Vehicle* car = tb::spawnCar({0, 0, 0});
    tb::world().playerVehicle = car;
    d.frame({drive::frontHit(car, kHit)});
    tb::world().f7Down = true;
    d.frame();
    tb::world().f7Down = false;
}

TEST(Log, WithoutDiagnosticsNoStepMarkerIsWritten) {
    Drive d("[General]\nDiagnostics=0\n");
    drivePastEveryStep(d);
    EXPECT_EQ(d.hits().size(), 1u);
    EXPECT_EQ(d.linesStarting("Player deformation reset.").size(), 1u);
    for (const tb::LogLine& line : d.tb.log()) {
        EXPECT_FALSE(isStepMarker(line.text)) << line.text;
        EXPECT_TRUE(line.crlf) << line.text;
    }
}

TEST(Log, WithDiagnosticsEveryStepIsOnDiskInOrder) {
    Drive d("[General]\nDiagnostics=1\n");
    drivePastEveryStep(d);
    std::vector<std::string> markers;
    for (const tb::LogLine& line : d.tb.log()) {
        EXPECT_TRUE(line.crlf) << line.text;
        if (isStepMarker(line.text)) {
            markers.push_back(line.text);
        }
    }
    // The probe first, then a traversal that clones, displaces and completes.
    ASSERT_FALSE(markers.empty());
    EXPECT_EQ(markers.front(), "geometry ABI: create runtime probe");
    const auto find = [&markers](const std::string& text, std::size_t from) {
        for (std::size_t i = from; i < markers.size(); ++i) {
            if (markers[i] == text) {
                return i;
            }
        }
        return markers.size();
    };
    const std::size_t enumerate = find("hit: enumerate atomics", 0);
    const std::size_t clone = find("clone: complete (direct copy; no serialization)", enumerate);
    const std::size_t displace = find("atomic: displace vertices", clone);
    const std::size_t complete = find("hit: complete; returning to game", displace);
    const std::size_t restore = find("cleanup: restore original atomic geometry", complete);
    EXPECT_LT(enumerate, markers.size());
    EXPECT_LT(clone, markers.size());
    EXPECT_LT(displace, markers.size());
    EXPECT_LT(complete, markers.size());
    EXPECT_LT(restore, markers.size()) << "F7 puts the originals back";
}

TEST(Log, HitLinesNeedLogHits) {
    Drive d("[General]\nLogHits=0\n");
    drivePastEveryStep(d);
    EXPECT_TRUE(d.hits().empty());
    EXPECT_TRUE(d.linesStarting("PanelFold:").empty());
    EXPECT_EQ(d.linesStarting("Player deformation reset.").size(), 1u) << "always written";
}

} // namespace
