#pragma once
// Host routines that fail while a test holds them: the frame-matrix query
// answers null for one frame, and the attach routine refuses. Each takes over
// the routine's entry point and puts the game's own back when it goes.
#include <cstdint>

#include "host/records.h"
#include "testbed/routine_faults.h"

namespace testbed {

// game::frameLTM answers null for `frame` (for every frame when it is null);
// other frames get their world matrix from the game's routine as before.
class NoFrameMatrix {
  public:
    explicit NoFrameMatrix(host::Frame* frame);
    ~NoFrameMatrix();
    NoFrameMatrix(const NoFrameMatrix&) = delete;
    NoFrameMatrix& operator=(const NoFrameMatrix&) = delete;

    // Calls answered with null so far.
    int refusals() const;

  private:
    RoutineBytes saved_{};
};

// game::setGeometry refuses every call: it returns null and leaves the atomic
// and every reference count as they were.
class RefusedSetGeometry {
  public:
    RefusedSetGeometry();
    ~RefusedSetGeometry();
    RefusedSetGeometry(const RefusedSetGeometry&) = delete;
    RefusedSetGeometry& operator=(const RefusedSetGeometry&) = delete;

    int refusals() const;

  private:
    RoutineBytes saved_{};
};

} // namespace testbed
