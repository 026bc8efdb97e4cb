#include "plugin/stage_clock.h"

#ifdef FENDRIX_STAGE_CLOCK

#include <windows.h>

#include "host/compiler.h"

namespace fendrix {

namespace {

constexpr std::int32_t kNoStage = -1;

StageTimes gTimes = {};
std::int32_t gCurrent = kNoStage;
std::int64_t gSince = 0;

std::int64_t now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

// Charges the time since the last change to the stage that ran.
std::int64_t charge() {
    const std::int64_t t = now();
    if (gCurrent != kNoStage) {
        gTimes.ticks[gCurrent] += t - gSince;
    }
    gSince = t;
    return t;
}

} // namespace

StageTimes* stageTimes() {
    return &gTimes;
}

StageScope::StageScope(Stage stage) : outer_(gCurrent) {
    charge();
    gCurrent = static_cast<std::int32_t>(stage);
}

StageScope::~StageScope() {
    charge();
    gCurrent = outer_;
}

} // namespace fendrix

// The frame benchmark finds the clock by this name in its build of the plug-in.
extern "C" FX_EXPORT fendrix::StageTimes* FendrixStageTimes() {
    return fendrix::stageTimes();
}

#endif
