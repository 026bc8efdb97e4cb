#pragma once
// Where the plug-in's time goes within a frame, stage by stage. Only the frame
// benchmark's own build of the plug-in (FENDRIX_STAGE_CLOCK) keeps the clock;
// in the released plug-in every stage scope is empty and costs nothing.
#include <cstddef>
#include <cstdint>

namespace fendrix {

enum class Stage : std::uint32_t {
    Lookup,        // tracking, episodes, the per-mesh checks: what the others leave
    Copy,          // private copies of meshes, their base positions
    NormalsData,   // the data that lets normals follow a dent
    CreaseRebuild, // bonnets and boots rebuilt along their crease
    DentOrFold,    // the dent or fold, and the normals that follow it
    Bounds,        // the meshes' bounding spheres
    LockUnlock,    // the host's lock and unlock of a geometry
    LogLines,      // lines written to the log
    Count
};

inline constexpr std::size_t kStageCount = static_cast<std::size_t>(Stage::Count);

// Exclusive time per stage (a stage inside another counts only for itself), in
// ticks of the performance counter, since the benchmark last cleared it.
struct StageTimes {
    std::int64_t ticks[kStageCount];
};

#ifdef FENDRIX_STAGE_CLOCK
StageTimes* stageTimes();

class StageScope {
  public:
    explicit StageScope(Stage stage);
    ~StageScope();
    StageScope(const StageScope&) = delete;
    StageScope& operator=(const StageScope&) = delete;

  private:
    std::int32_t outer_;
};
#define FX_STAGE_JOIN2(a, b) a##b
#define FX_STAGE_JOIN(a, b) FX_STAGE_JOIN2(a, b)
// Times the rest of the enclosing block as the given stage.
#define FX_STAGE(stage)                                                                            \
    const ::fendrix::StageScope FX_STAGE_JOIN(fxStage, __LINE__)(::fendrix::Stage::stage)
#else
#define FX_STAGE(stage) static_cast<void>(0)
#endif

} // namespace fendrix
