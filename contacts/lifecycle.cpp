#include "contacts/lifecycle.h"

#include "contacts/contact_capture.h"
#include "contacts/tracking_table.h"
#include "damage/retention_table.h"
#include "mesh/record_normals.h"
#include "plugin/log.h"

#include <type_traits>

namespace fendrix {

void* renderwareShutdownSlot = nullptr;
void* poolsShutdownSlot = nullptr;
void* cgameShutdownOriginal = nullptr;
void* restartShutdownOriginal = nullptr;
bool newGamePending = false;

namespace {

using VoidRoutine = void(FX_CDECL*)();
using IntRoutine = std::int32_t(FX_CDECL*)();
constexpr std::size_t kReleaseLineSize = 128;

// The markers of one shutdown path; all forced, so the log shows how far a
// shutdown got even with Diagnostics off.
struct ShutdownPath {
    const char* begin;
    const char* executing;
    const char* returned;
};

constexpr ShutdownPath kGameShutdown = {"Lifecycle: CGame::Shutdown begin; early cleanup.",
                                        "Lifecycle: executing original CGame::Shutdown.",
                                        "Lifecycle: original CGame::Shutdown returned."};
constexpr ShutdownPath kRestart = {"Lifecycle: ShutDownForRestart begin; early cleanup.",
                                   "Lifecycle: executing original ShutDownForRestart.",
                                   "Lifecycle: original ShutDownForRestart returned."};
constexpr ShutdownPath kRenderware = {"Lifecycle: RenderWare shutdown begin; fallback cleanup.",
                                      "Lifecycle: executing original RenderWare shutdown.",
                                      "Lifecycle: original RenderWare shutdown returned."};
constexpr ShutdownPath kPools = {"Lifecycle: pools shutdown begin; fallback cleanup.",
                                 "Lifecycle: executing original pools shutdown.",
                                 "Lifecycle: original pools shutdown returned."};

// Runs the release, then the host routine between its two markers.
template <typename Routine> auto releaseThenRun(const ShutdownPath& path, Routine routine) {
    releaseAllTracked(path.begin);
    phaseMarker(path.executing, true);
    if constexpr (std::is_void_v<decltype(routine())>) {
        routine();
        phaseMarker(path.returned, true);
    } else {
        const auto result = routine();
        phaseMarker(path.returned, true);
        return result;
    }
}

} // namespace

void releaseAllTracked(const char* beginMessage) {
    shutdownInProgress = true;
    captureArmed = false;
    contactQueue.clear();
    retentionTable.clear();
    phaseMarker(beginMessage, true);
    const unsigned count =
        trackingTable != nullptr ? static_cast<unsigned>(trackingTable->records.size()) : 0u;
    logFormat<kReleaseLineSize>("Lifecycle: releasing %u tracked vehicles.", count);
    if (trackingTable != nullptr) {
        auto& records = trackingTable->records;
        for (const auto& record : records) {
            resetDeformation(*record);
        }
        while (!records.empty()) {
            records.pop_back();
        }
    }
    forgetSharedDentNormals();
    phaseMarker("Lifecycle: Fendrix cleanup complete.", true);
}

void resumeAfterGameShutdown() {
    if (!newGamePending) {
        return;
    }
    // The game runs no frame between its shutdown and the new game's
    // initialisation, so this frame already sees the new pools.
    newGamePending = false;
    shutdownInProgress = false;
    logLine("Lifecycle: new game after shutdown; deformation resumed.");
}

std::int32_t FX_CDECL cgameShutdownHook() {
    const std::int32_t result = releaseThenRun(
        kGameShutdown, [] { return reinterpret_cast<IntRoutine>(cgameShutdownOriginal)(); });
    newGamePending = true;
    return result;
}

void FX_CDECL restartShutdownHook() {
    releaseThenRun(kRestart, [] { reinterpret_cast<VoidRoutine>(restartShutdownOriginal)(); });
    shutdownInProgress = false; // the game goes on after a restart
    newGamePending = false;
}

void FX_CDECL renderwareShutdownHook() {
    releaseThenRun(kRenderware, [] { reinterpret_cast<VoidRoutine>(renderwareShutdownSlot)(); });
    newGamePending = false; // the game quits: no frame follows
}

void FX_CDECL poolsShutdownHook() {
    // The flag stays set even when it was clear on entry (the game-shutdown hook
    // was not installed): the pools are gone, and their pointer dangles until a
    // new game makes new ones.
    releaseThenRun(kPools, [] { reinterpret_cast<VoidRoutine>(poolsShutdownSlot)(); });
    newGamePending = true;
}

} // namespace fendrix
