// Host calls that fail, one table per place: during a hit (the engine's
// geometry routines, the frame matrix, the attach, the memory query, the log),
// at start-up (module path, memory query, page protection) and where a module
// is named (chaining lines and the crash report). Each row says how the call
// fails, what the log must say and what state must follow; every row then
// shows that the next hit or frame goes on and that the ledger balances.
#include <gtest/gtest.h>

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "contacts/hit_processing.h"
#include "contacts/lifecycle.h"
#include "contacts/tracking_table.h"
#include "../hook_install_lines.h"
#include "allocation_counter.h"
#include "contacts/contact_hooks.h"
#include "damage/part_retention.h"
#include "deform_fixture.h"
#include "hook/hook_api.h"
#include "host/addresses.h"
#include "mesh/geometry_layout.h"
#include "mesh_builder.h"
#include "plugin/call_site.h"
#include "plugin/chaining_report.h"
#include "plugin/crash_report.h"
#include "plugin/frame_driver.h"
#include "plugin/hook_install.h"
#include "plugin/log.h"
#include "plugin/settings.h"
#include "plugin/startup.h"
#include "testbed/engine_geometry.h"
#include "testbed/failure_routines.h"
#include "testbed/fault.h"
#include "testbed/game.h"
#include "testbed/host_image.h"
#include "testbed/import_patch.h"
#include "testbed/physics.h"
#include "testbed/routine_faults.h"
#include "testbed/vehicles.h"

namespace {

namespace addr = host::addr;
using core_test::Lines;

constexpr char kCloneFailed[] = "Geometry clone failed; mesh skipped.";
constexpr char kPanelUnsupported[] = "Panel crease unsupported; using ordinary dent for this mesh.";
constexpr char kGuardLine[] = "GeometryGuard: unsupported or invalid CPU buffers; atomic skipped.";
constexpr char kHeader[] =
    "FendrixVC 0.1.4 experimental - longer part retention; 0.1.3 deformation unchanged";
constexpr char kBadSignature[] =
    "Unsupported executable: requires classic Vice City PC 1.0 English; disabled.";
constexpr char kNotInstalled[] = "Could not install process hook; no deformation enabled.";
constexpr char kNoTable[] = "Allocation failed: no deformation enabled.";
constexpr char kActive[] =
    "Active. Player first; nearby NPCs according to Traffic settings. F7 restores player "
    "geometry. Physical collision remains stock in this VC port.";
constexpr char kHitComplete[] = "hit: complete; returning to game";
constexpr char kBeforeHit[] = "test: before the failing hit";

// Undoes an injected failure when the last holder lets go.
using Injection = std::shared_ptr<void>;

Injection undoneBy(std::function<void()> undo) {
    struct Undo {
        std::function<void()> undo;
        ~Undo() {
            if (undo) {
                undo();
            }
        }
    };
    auto holder = std::make_shared<Undo>();
    holder->undo = std::move(undo);
    return holder;
}

using testbed::ImportSwap;

// Failing stand-ins for the Windows calls, with the error a real failure sets.
BOOL WINAPI failingGetModuleHandleEx(DWORD, LPCSTR, HMODULE* module) {
    if (module != nullptr) {
        *module = nullptr;
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
}
DWORD WINAPI failingGetModuleFileName(HMODULE, LPSTR, DWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
}
// Windows XP with a path as long as the buffer: every byte written, no terminator.
DWORD WINAPI unterminatedGetModuleFileName(HMODULE, LPSTR name, DWORD size) {
    std::memset(name, 'x', size);
    SetLastError(ERROR_SUCCESS);
    return size;
}

// One of the plug-in's Windows imports led elsewhere until the last holder lets go.
Injection swappedImport(const char* function, void* replacement) {
    auto swap = std::make_shared<ImportSwap>(function, replacement);
    EXPECT_TRUE(swap->active()) << "the plug-in's code imports " << function;
    return swap;
}

// ---------------------------------------------------------------------------
// During a hit

// Where the mesh hangs on the vehicle; the contact is put on its middle vertex.
const host::V3 kVehicleAt{10.0f, 20.0f, 0.5f};
const host::V3 kPartOffset{0.0f, 1.0f, 0.25f};
const dent::Vec kContactPoint{kPartOffset.x, kPartOffset.y, kPartOffset.z};
const dent::Vec kContactNormal{0.0f, 0.0f, -1.0f};
constexpr float kMass = 1500.0f;
constexpr float kImpulse = 600.0f; // impact 0.4: a dent with a positive depth
constexpr std::uint32_t kPiece = 3;
constexpr std::uint32_t kApartMs = 10000; // every hit starts an episode of its own
constexpr std::uint32_t kFirstHitMs = 200000;

// What the failing hit leaves on the mesh.
enum class Left {
    Unchanged,    // the atomic shows what it showed before, every vertex where it was
    UndentedCopy, // a new copy is shown, every vertex still at the original's place
    Dented,       // the shown geometry's vertices moved
    NotTracked,   // the vehicle was not taken on: no record, its contact still queued
};

// An injected failure: what undoes it, and whether the call did fail (empty
// when the failure leaves nothing to count).
struct Injected {
    Injection undo;
    std::function<bool()> happened;
};

struct HitFailure {
    const char* name;
    bool copiedBefore; // a hit copied and dented the mesh before the failing one
    bool verbose;      // step markers and hit lines on during the failing hit
    std::function<Injected(host::Vehicle*, host::Atomic*)> inject;
    Lines lines;         // the failing hit's log (hit lines off unless verbose)
    Left left;           // the mesh afterwards
    std::size_t records; // mesh records the vehicle holds afterwards
    const char* part = "door_lf";
};

void PrintTo(const HitFailure& c, std::ostream* out) {
    *out << c.name;
}

// An engine fault; it happened once its countdown is used up.
Injected engineFault(const std::function<void(testbed::EngineFaults&)>& arrange) {
    arrange(testbed::engine().faults);
    return {undoneBy([] { testbed::engine().faults = testbed::EngineFaults{}; }), [] {
                const testbed::EngineFaults& f = testbed::engine().faults;
                return f.failCreates == 0 && f.failTriangleVerticesAt == 0 &&
                       f.failTriangleMaterialAt == 0 && f.failLocks == 0 && f.failUnlocks == 0;
            }};
}

int gFailedQueries = 0;

SIZE_T WINAPI failingVirtualQuery(LPCVOID, PMEMORY_BASIC_INFORMATION, SIZE_T) {
    ++gFailedQueries;
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

Injected failingMemoryQuery() {
    gFailedQueries = 0;
    return {swappedImport("VirtualQuery", reinterpret_cast<void*>(&failingVirtualQuery)),
            [] { return gFailedQueries > 0; }};
}

template <typename Override, typename... Args> Injected overridden(Args... args) {
    auto routine = std::make_shared<Override>(args...);
    return {routine, [routine] { return routine->refusals() > 0; }};
}

// A folder that does not exist: neither the C runtime nor CreateFileA can open
// a log inside it.
std::string unopenableLogPath() {
    char dir[MAX_PATH] = {};
    GetTempPathA(sizeof dir, dir);
    return std::string(dir) + "fendrix_missing_" + std::to_string(GetCurrentProcessId()) +
           "\\FendrixVC.log";
}

// The plug-in's CreateFileA as it was, counting the opens that fail.
using CreateFileFn = HANDLE(WINAPI*)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                     HANDLE);
CreateFileFn gCreateFile = nullptr;
int gFailedOpens = 0;

HANDLE WINAPI countedCreateFile(LPCSTR name, DWORD access, DWORD share,
                                LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD attributes,
                                HANDLE model) {
    const HANDLE file = gCreateFile(name, access, share, security, disposition, attributes, model);
    if (file == INVALID_HANDLE_VALUE) {
        ++gFailedOpens;
    }
    return file;
}

// The log moved into a missing folder; it happened once a step marker's open
// failed there. (The hit line's open, through the C runtime, cannot be
// counted; a mishandled one ends the test.)
Injected unopenableLog() {
    const std::string kept = fendrix::logPath();
    fendrix::setLogPath(unopenableLogPath().c_str());
    gFailedOpens = 0;
    gCreateFile = &CreateFileA;
    Injection counting = swappedImport("CreateFileA", reinterpret_cast<void*>(&countedCreateFile));
    return {undoneBy([kept, counting] { fendrix::setLogPath(kept.c_str()); }),
            [] { return gFailedOpens > 0; }};
}

// The plate's 4 x 4 quads: the copy's triangle calls come first, then the
// rebuilt panel's.
constexpr int kPlateQuads = 4;
constexpr int kPlateTriangles = 2 * kPlateQuads * kPlateQuads;

const HitFailure kHitFailures[] = {
    {"CreateGeometryRefused",
     false,
     false,
     [](host::Vehicle*, host::Atomic*) {
         return engineFault([](testbed::EngineFaults& f) { f.failCreates = 1; });
     },
     {kCloneFailed},
     Left::Unchanged,
     0},
    {"TriangleVerticesRefused",
     false,
     false,
     [](host::Vehicle*, host::Atomic*) {
         return engineFault([](testbed::EngineFaults& f) { f.failTriangleVerticesAt = 1; });
     },
     {kCloneFailed},
     Left::Unchanged,
     0},
    {"TriangleMaterialRefused",
     false,
     false,
     [](host::Vehicle*, host::Atomic*) {
         return engineFault([](testbed::EngineFaults& f) { f.failTriangleMaterialAt = 1; });
     },
     {kCloneFailed},
     Left::Unchanged,
     0},
    {"CopyUnlockRefused",
     false,
     false,
     [](host::Vehicle*, host::Atomic*) {
         return engineFault([](testbed::EngineFaults& f) { f.failUnlocks = 1; });
     },
     {kCloneFailed},
     Left::Unchanged,
     0},
    {"SkinQueryAnswersSkinned",
     false,
     false,
     [](host::Vehicle*, host::Atomic* atomic) {
         host::Geometry* original = atomic->geometry;
         testbed::setSkinned(original, true);
         return Injected{undoneBy([original] { testbed::setSkinned(original, false); }),
                         [] { return testbed::engine().counts.skinQueries > 0; }};
     },
     {kCloneFailed},
     Left::Unchanged,
     0},
    {"PanelRebuildTriangleRefused",
     false,
     false,
     [](host::Vehicle*, host::Atomic*) {
         return engineFault(
             [](testbed::EngineFaults& f) { f.failTriangleVerticesAt = kPlateTriangles + 1; });
     },
     {kPanelUnsupported},
     Left::Dented,
     1,
     "bonnet_hi_ok"},
    {"LockRefused",
     false,
     false,
     [](host::Vehicle*, host::Atomic*) {
         return engineFault([](testbed::EngineFaults& f) { f.failLocks = 1; });
     },
     {},
     Left::UndentedCopy,
     1},
    {"LockOfTheCopyRefusedLater",
     true,
     false,
     [](host::Vehicle*, host::Atomic*) {
         return engineFault([](testbed::EngineFaults& f) { f.failLocks = 1; });
     },
     {},
     Left::Unchanged,
     1},
    {"UnlockAfterTheDentRefused",
     true,
     false,
     [](host::Vehicle*, host::Atomic*) {
         return engineFault([](testbed::EngineFaults& f) { f.failUnlocks = 1; });
     },
     {},
     Left::Dented,
     1},
    {"NoFrameMatrixForTheMesh",
     false,
     false,
     [](host::Vehicle*, host::Atomic* atomic) {
         return overridden<testbed::NoFrameMatrix>(atomic->frame);
     },
     {},
     Left::Unchanged,
     0},
    {"NoFrameMatrixForTheVehicle",
     false,
     false,
     [](host::Vehicle* vehicle, host::Atomic*) {
         return overridden<testbed::NoFrameMatrix>(testbed::rootFrameOf(vehicle));
     },
     {},
     Left::NotTracked,
     0},
    // The attach's result is not relied on: the record and its copy are kept,
    // and the copy is dented while the mesh goes on showing its original.
    {"SetGeometryRefused",
     false,
     false,
     [](host::Vehicle*, host::Atomic*) { return overridden<testbed::RefusedSetGeometry>(); },
     {},
     Left::Unchanged,
     1},
    {"MemoryQueryFails",
     false,
     false,
     [](host::Vehicle*, host::Atomic*) { return failingMemoryQuery(); },
     {kGuardLine},
     Left::Unchanged,
     0},
    // Every line the hit asks for is lost, the step markers' and the hit line's.
    {"LogCannotBeOpened",
     false,
     true,
     [](host::Vehicle*, host::Atomic*) { return unopenableLog(); },
     {},
     Left::Dented,
     1},
};

class HostFailureDuringHit : public core_test::DeformTest,
                             public testing::WithParamInterface<HitFailure> {
  protected:
    void SetUp() override {
        DeformTest::SetUp();
        fendrix::settings.LogHits = false;
        vehicle_ = vehicleWith({part(GetParam().part, core_test::buildMesh(plate()), kPartOffset)},
                               kVehicleAt);
        ASSERT_NE(vehicle_, nullptr);
        vehicle_->mass = kMass;
        atomic_ = testbed::atomicsOf(vehicle_).front();
        original_ = atomic_->geometry;
        now_ = kFirstHitMs;
    }

    static core_test::MeshSpec plate() {
        constexpr float kSize = 1.0f;
        return core_test::plateMesh(kSize, -kSize / 2, kSize / 2, kPlateQuads, kPlateQuads);
    }

    // One frame in which the vehicle takes one contact on the plate's middle.
    void hit() {
        now_ += kApartMs;
        fendrix::contactQueue.clear();
        setClock(now_);
        dent::Contact c;
        c.vehicle = vehicle_;
        c.handle = testbed::handleOf(vehicle_);
        c.renderObject = vehicle_->rwObject;
        c.point = kContactPoint;
        c.normal = kContactNormal;
        c.impulse = kImpulse;
        c.piece = kPiece;
        ASSERT_TRUE(fendrix::contactQueue.add(c));
        fendrix::processHit(vehicle_, false, false, nullptr);
    }

    std::size_t records() const {
        const fendrix::TrackedVehicle* record = fendrix::findTracked(vehicle_);
        return record != nullptr ? record->meshes.size() : 0;
    }

    host::Vehicle* vehicle_ = nullptr;
    host::Atomic* atomic_ = nullptr;
    host::Geometry* original_ = nullptr;
    std::uint32_t now_ = 0;
};

TEST_P(HostFailureDuringHit, HandledAndTheNextHitGoesOn) {
    const HitFailure& c = GetParam();
    const std::vector<dent::Vec> originalShape = positions(original_);
    if (c.copiedBefore) {
        hit();
        ASSERT_NE(atomic_->geometry, original_) << "the first hit copied the mesh";
        ASSERT_NE(positions(atomic_->geometry), originalShape) << "and dented the copy";
    }
    host::Geometry* shownBefore = atomic_->geometry;
    const std::vector<dent::Vec> shapeBefore = positions(shownBefore);
    log_.clear();

    Injected failure = c.inject(vehicle_, atomic_);
    fendrix::phaseSet(kBeforeHit);
    fendrix::settings.Diagnostics = c.verbose;
    fendrix::settings.LogHits = c.verbose;
    hit();
    fendrix::settings.Diagnostics = false;
    fendrix::settings.LogHits = false;
    if (failure.happened) {
        EXPECT_TRUE(failure.happened()) << "the call failed as injected";
    }
    failure = Injected{};

    EXPECT_EQ(log_.lines(), c.lines);
    EXPECT_EQ(records(), c.records);
    switch (c.left) {
    case Left::Unchanged:
        EXPECT_EQ(atomic_->geometry, shownBefore);
        EXPECT_EQ(positions(atomic_->geometry), shapeBefore);
        break;
    case Left::UndentedCopy:
        EXPECT_NE(atomic_->geometry, original_);
        EXPECT_EQ(positions(atomic_->geometry), originalShape);
        break;
    case Left::Dented:
        EXPECT_NE(positions(atomic_->geometry), shapeBefore);
        break;
    case Left::NotTracked:
        EXPECT_EQ(fendrix::findTracked(vehicle_), nullptr);
        EXPECT_EQ(atomic_->geometry, original_);
        ASSERT_EQ(fendrix::contactQueue.count, 1u);
        EXPECT_EQ(fendrix::contactQueue.entries[0].vehicle, vehicle_) << "the contact stays";
        break;
    }
    EXPECT_STREQ(fendrix::currentPhase(), c.left == Left::NotTracked ? kBeforeHit : kHitComplete)
        << "the phase still follows the hit";
    EXPECT_EQ(positions(original_), originalShape) << "the original is never written";

    // The host works again: the next hit dents a copy of the mesh in full.
    fendrix::settings.LogHits = true;
    log_.clear();
    hit();
    const Lines next = log_.lines();
    ASSERT_EQ(next.size(), 1u) << "one hit line and nothing else";
    EXPECT_NE(next[0].find(" meshes=1 visited=1"), std::string::npos) << next[0];
    EXPECT_NE(atomic_->geometry, original_);
    EXPECT_NE(positions(atomic_->geometry), originalShape);

    // Whatever the failure left behind goes back with the vehicle's dents.
    fendrix::TrackedVehicle* record = fendrix::findTracked(vehicle_);
    ASSERT_NE(record, nullptr);
    fendrix::resetDeformation(*record);
    EXPECT_EQ(atomic_->geometry, original_);
    EXPECT_EQ(testbed::ledger().problemsSince(mark_), "") << "the ledger balances";
}

INSTANTIATE_TEST_SUITE_P(Calls, HostFailureDuringHit, testing::ValuesIn(kHitFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// The attach that puts an original back, refused during a reset: the mesh
// goes on showing its dented copy, which the mesh's own reference keeps alive;
// the records and their references go. The next hit copies what is shown.
class AttachRefusedAtReset : public core_test::DeformTest {};

TEST_F(AttachRefusedAtReset, CopyStaysShownAndNothingIsFreedUnderTheMesh) {
    host::Vehicle* vehicle = vehicleWith({part("door_lf",
                                               core_test::buildMesh(core_test::plateMesh(
                                                   1.0f, -0.5f, 0.5f, kPlateQuads, kPlateQuads)),
                                               kPartOffset)},
                                         kVehicleAt);
    ASSERT_NE(vehicle, nullptr);
    fendrix::TrackedVehicle* record = track(vehicle);
    host::Atomic* atomic = testbed::atomicsOf(vehicle).front();
    host::Geometry* original = atomic->geometry;
    const host::V3 middle = worldOf(atomic, {0.0f, 0.0f, 0.0f});
    constexpr float kDepth = 0.2f;
    constexpr float kRadius = 0.6f;
    fendrix::HitContext first = hitOn(record, middle, {0, 0, -1}, kDepth, kRadius, 1);
    deformAll(vehicle, first);
    ASSERT_EQ(first.deformedMeshes, 1u);
    host::Geometry* copy = atomic->geometry;
    ASSERT_NE(copy, original);
    const std::vector<dent::Vec> dentedShape = positions(copy);

    {
        const testbed::RefusedSetGeometry refused;
        fendrix::resetDeformation(*record);
        EXPECT_EQ(refused.refusals(), 1);
    }
    EXPECT_EQ(log_.lines(), Lines{});
    EXPECT_TRUE(record->meshes.empty());
    EXPECT_EQ(record->clonedVertices, 0u);
    EXPECT_EQ(atomic->geometry, copy);
    ASSERT_NE(testbed::ledger().live(copy), nullptr) << "the mesh's reference keeps it";
    EXPECT_EQ(positions(copy), dentedShape);
    EXPECT_EQ(testbed::ledger().live(original), nullptr) << "nothing holds the original now";
    EXPECT_EQ(testbed::ledger().problemsSince(mark_), "");

    // The next hit copies what the mesh shows and dents that.
    fendrix::HitContext next = hitOn(record, middle, {0, 0, -1}, kDepth, kRadius, 2);
    deformAll(vehicle, next);
    EXPECT_EQ(next.deformedMeshes, 1u);
    EXPECT_NE(atomic->geometry, copy);
    EXPECT_NE(positions(atomic->geometry), dentedShape);
}

// The layout probe's geometry refused on the first frame that gets as far as
// the update: its line once, deformation off for the rest of the run, while
// every frame still runs the game's routine and contacts are still captured.
class ProbeRefusedThroughTheFrameDriver : public core_test::PluginTest {};

TEST_F(ProbeRefusedThroughTheFrameDriver, DeformationStaysOffAndEveryFrameRunsTheGame) {
    ASSERT_FALSE(fendrix::geometryLayoutProbed()) << "a process of its own";
    game::morphOffset = 0; // as at load
    fendrix::settings.LogHits = true;
    host::Vehicle* player = car(kVehicleAt);
    ASSERT_NE(player, nullptr);
    testbed::world().playerVehicle = player;
    const std::vector<host::Geometry*> meshes = shown(player);
    // The game's own routine behind the redirected call, as start-up leaves it.
    fendrix::gameProcessSlot = reinterpret_cast<void*>(testbed::callTarget(addr::kGameProcessCall));
    testbed::Collision side;
    side.body = player;
    side.point = testbed::worldPoint(player, {0.9f, 0.0f, 0.0f});
    side.normal = {-1.0f, 0.0f, 0.0f};
    side.impulse = kImpulse;
    testbed::game().physics = [side] { testbed::applyCollision(side); };
    engine().counts = testbed::EngineCounters{}; // from here on only what the frames do
    engine().faults.failCreates = 1;

    const int calls = testbed::game().gameProcessCalls;
    constexpr int kFrames = 3;
    for (int frame = 1; frame <= kFrames; ++frame) {
        SCOPED_TRACE(frame);
        fendrix::frameDriver();
        EXPECT_EQ(testbed::game().gameProcessCalls, calls + frame) << "the game's routine, once";
        EXPECT_EQ(fendrix::contactQueue.count, 1u) << "the contact was captured";
    }
    testbed::game().physics = nullptr;

    Lines probe;
    Lines hits;
    for (const std::string& line : log_.lines()) {
        if (line.rfind("Geometry ABI:", 0) == 0) {
            probe.push_back(line);
        } else if (line.rfind("Hit: ", 0) == 0) {
            hits.push_back(line);
        }
    }
    EXPECT_EQ(probe, Lines{"Geometry ABI: probe allocation failed; deformation disabled."});
    EXPECT_EQ(hits, Lines{}) << "no contact is applied";
    EXPECT_EQ(game::morphOffset, 0u);
    EXPECT_EQ(engine().counts.creates, 1) << "probed once, never again";
    EXPECT_EQ(shown(player), meshes);
    EXPECT_EQ(trackedVehicles(), std::vector<host::Vehicle*>{});
}

// ---------------------------------------------------------------------------
// At start-up

// Where GetModuleFileNameA says the plug-in lives; empty: the call fails.
std::string gModulePath;

DWORD WINAPI moduleFileName(HMODULE, LPSTR buffer, DWORD size) {
    if (gModulePath.empty() || size == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    std::strncpy(buffer, gModulePath.c_str(), size - 1);
    buffer[size - 1] = '\0';
    return static_cast<DWORD>(std::strlen(buffer));
}

constexpr std::uintptr_t kSites[] = {addr::kRenderwareShutdownCall, addr::kPoolsShutdownCall,
                                     addr::kGameProcessCall};
constexpr std::size_t kSiteCount = std::size(kSites);

struct StartupFailure {
    const char* name;
    bool modulePathKnown;
    std::function<Injected()> inject;
    Lines lines;            // after the header, when there is one
    bool header;            // the header line is written
    bool tableCreated;      // the tracking table exists afterwards
    std::size_t redirected; // sites redirected, in the order of kSites
};

void PrintTo(const StartupFailure& c, std::ostream* out) {
    *out << c.name;
}

Injected refusedProtectionAt(std::uintptr_t site) {
    HMODULE self = GetModuleHandleA(nullptr);
    EXPECT_TRUE(testbed::failProtectionAt(self, site)) << "the plug-in imports VirtualProtect";
    const int refused = testbed::refusedProtections();
    return {undoneBy([self] { testbed::stopFailingProtection(self); }),
            [refused] { return testbed::refusedProtections() > refused; }};
}

// Calls whose result start-up does not act on: each fails, and start-up goes
// on as if it had not.
int gIgnoredFailures = 0;

BOOL WINAPI refusedThreadNotices(HMODULE) {
    ++gIgnoredFailures;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}
PVOID WINAPI refusedExceptionHandler(ULONG, PVECTORED_EXCEPTION_HANDLER) {
    ++gIgnoredFailures;
    return nullptr;
}
BOOL WINAPI refusedFlush(HANDLE, LPCVOID, SIZE_T) {
    ++gIgnoredFailures;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

// VirtualProtect as it was; set before the swap, whose own calls already
// come through the stand-in.
using VirtualProtectFn = BOOL(WINAPI*)(LPVOID, SIZE_T, DWORD, PDWORD);
VirtualProtectFn gProtect = nullptr;

// Lets a call site be made writable, and refuses to give it its protection back.
BOOL WINAPI protectionNotRestored(LPVOID address, SIZE_T size, DWORD protection, PDWORD previous) {
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    const bool site = std::find(std::begin(kSites), std::end(kSites), at) != std::end(kSites);
    if (site && protection != PAGE_EXECUTE_READWRITE) {
        ++gIgnoredFailures;
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return gProtect(address, size, protection, previous);
}

Injected ignoredFailure(const char* function, void* replacement) {
    gIgnoredFailures = 0;
    gProtect = &VirtualProtect;
    return {swappedImport(function, replacement), [] { return gIgnoredFailures > 0; }};
}

// The testbed keeps the game's code writable throughout, so a site's restored
// protection would be the one it was made writable with. The sites go back to
// read and execute, as the game's code is loaded, for start-up to restore
// that; the whole host range is opened again afterwards.
Injected siteProtectionNotRestored() {
    for (std::uintptr_t site : kSites) {
        DWORD previous = 0;
        EXPECT_TRUE(VirtualProtect(reinterpret_cast<void*>(site), testbed::kCallLength,
                                   PAGE_EXECUTE_READ, &previous));
    }
    Injected refusing =
        ignoredFailure("VirtualProtect", reinterpret_cast<void*>(&protectionNotRestored));
    return {undoneBy([swap = refusing.undo]() mutable {
                swap.reset();
                testbed::openHostImage();
            }),
            refusing.happened};
}

// What start-up registers as its crash handler, taken out again after the
// test: a later test of this process that raises an exception meets only the
// handlers it registered itself.
using AddHandlerFn = PVOID(WINAPI*)(ULONG, PVECTORED_EXCEPTION_HANDLER);
AddHandlerFn gAddHandler = nullptr;
PVOID gStartupHandlers[4] = {};
std::size_t gStartupHandlerCount = 0;

// No allocation: the tracking-table row refuses start-up's next one.
PVOID WINAPI keptHandler(ULONG first, PVECTORED_EXCEPTION_HANDLER handler) {
    PVOID registered = gAddHandler(first, handler);
    if (registered != nullptr && gStartupHandlerCount < std::size(gStartupHandlers)) {
        gStartupHandlers[gStartupHandlerCount++] = registered;
    }
    return registered;
}

void removeStartupHandlers() {
    for (std::size_t i = 0; i < gStartupHandlerCount; ++i) {
        RemoveVectoredExceptionHandler(gStartupHandlers[i]);
    }
    gStartupHandlerCount = 0;
}

// A call whose failure start-up does not act on: it goes on to "Active.", the
// table and every site redirected.
StartupFailure goesOnDespite(const char* name, std::function<Injected()> inject) {
    return {name, true, std::move(inject), {kActive}, true, true, kSiteCount};
}

const StartupFailure kStartupFailures[] = {
    {"ModulePathUnreadable", false, [] { return Injected{}; }, {}, false, false, 0},
    {"SignatureQueryFails",
     true,
     [] { return failingMemoryQuery(); },
     {kBadSignature},
     true,
     false,
     0},
    {"FirstSiteCannotBeMadeWritable",
     true,
     [] { return refusedProtectionAt(addr::kRenderwareShutdownCall); },
     {kNotInstalled},
     true,
     true,
     0},
    goesOnDespite("ThreadNoticesStayOn",
                  [] {
                      return ignoredFailure("DisableThreadLibraryCalls",
                                            reinterpret_cast<void*>(&refusedThreadNotices));
                  }),
    goesOnDespite("CrashHandlerNotRegistered",
                  [] {
                      return ignoredFailure("AddVectoredExceptionHandler",
                                            reinterpret_cast<void*>(&refusedExceptionHandler));
                  }),
    goesOnDespite("SiteProtectionNotRestored", [] { return siteProtectionNotRestored(); }),
    goesOnDespite("InstructionCacheNotFlushed",
                  [] {
                      return ignoredFailure("FlushInstructionCache",
                                            reinterpret_cast<void*>(&refusedFlush));
                  }),
    // Start-up allocates once, the tracking table; the loader's thread must not
    // see it fail.
    {"TrackingTableCannotBeAllocated",
     true,
     [] {
         Injected refusal{{}, [] { return modeltest::newWasRefused(); }};
         modeltest::refuseNextNew(); // last: the next allocation is start-up's
         return refusal;
     },
     {kNoTable},
     true,
     false,
     0},
    {"GameProcessSiteCannotBeMadeWritable",
     true,
     [] { return refusedProtectionAt(addr::kGameProcessCall); },
     {kNotInstalled},
     true,
     true,
     2},
};

class StartupHostFailure : public core_test::CoreTest,
                           public testing::WithParamInterface<StartupFailure> {};

TEST_P(StartupHostFailure, OneLineAndTheGameRunsAsWithoutThePlugin) {
    const StartupFailure& c = GetParam();
    // The plug-in's files go where the test's log is: <stem>.asi, .ini (none), .log.
    const std::string log = fendrix::logPath();
    ASSERT_GT(log.size(), 4u);
    gModulePath = c.modulePathKnown ? log.substr(0, log.size() - 4) + ".asi" : "";
    const ImportSwap path("GetModuleFileNameA", reinterpret_cast<void*>(&moduleFileName));
    ASSERT_TRUE(path.active());
    const Injection handlersOut = undoneBy(&removeStartupHandlers); // after the swap below
    gStartupHandlerCount = 0;
    gAddHandler = &AddVectoredExceptionHandler; // the real one, read before the swap
    const ImportSwap handlers("AddVectoredExceptionHandler", reinterpret_cast<void*>(&keptHandler));
    ASSERT_TRUE(handlers.active());
    std::uintptr_t before[kSiteCount];
    for (std::size_t i = 0; i < kSiteCount; ++i) {
        before[i] = testbed::callTarget(kSites[i]);
    }
    // As at load: no table yet (another test of this process may have made one).
    delete fendrix::trackingTable;
    fendrix::trackingTable = nullptr;
    std::uint8_t code[kSiteCount][testbed::kCallLength];
    for (std::size_t i = 0; i < kSiteCount; ++i) {
        std::memcpy(code[i], reinterpret_cast<const void*>(kSites[i]), testbed::kCallLength);
    }

    Injected failure = c.inject();
    fendrix::startup(GetModuleHandleA(nullptr));
    if (failure.happened) {
        EXPECT_TRUE(failure.happened()) << "the call failed as injected";
    }
    failure = Injected{};

    Lines expected;
    if (c.header) {
        expected.push_back(kHeader);
    }
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    EXPECT_EQ(log_.lines(), expected);
    EXPECT_EQ(fendrix::trackingTable != nullptr, c.tableCreated);
    const std::uintptr_t hooks[kSiteCount] = {
        reinterpret_cast<std::uintptr_t>(&fendrix::renderwareShutdownHook),
        reinterpret_cast<std::uintptr_t>(&fendrix::poolsShutdownHook),
        reinterpret_cast<std::uintptr_t>(&fendrix::frameDriver)};
    for (std::size_t i = 0; i < kSiteCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(testbed::readValue<std::uint8_t>(kSites[i]), 0xE8) << "still a call";
        EXPECT_EQ(testbed::callTarget(kSites[i]), i < c.redirected ? hooks[i] : before[i])
            << "redirections made before a failure stay; none after it";
    }

    // The game's frame runs its own routine, once, and nothing of the plug-in.
    // (Where start-up went through, the frame is the frame driver's, tested
    // with it.)
    if (c.redirected < kSiteCount) {
        const int calls = testbed::game().gameProcessCalls;
        testbed::runGameFrame();
        EXPECT_EQ(testbed::game().gameProcessCalls, calls + 1);
    }

    // The game's calls as they were, for whatever else runs in this process.
    for (std::size_t i = 0; i < kSiteCount; ++i) {
        testbed::writeBytes(kSites[i], code[i], testbed::kCallLength);
    }
}

INSTANTIATE_TEST_SUITE_P(Calls, StartupHostFailure, testing::ValuesIn(kStartupFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Under the hook installation: the engine's own Windows calls

LPVOID WINAPI failingVirtualAlloc(LPVOID, SIZE_T, DWORD, DWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

struct HookFailure {
    const char* name;
    const char* function; // the KERNEL32 call that fails under MH_CreateHook
    void* replacement;
    const char* status; // what MH_StatusToString names
};

void PrintTo(const HookFailure& c, std::ostream* out) {
    *out << c.name;
}

const HookFailure kHookFailures[] = {
    {"TrampolineMemoryRefused", "VirtualAlloc", reinterpret_cast<void*>(&failingVirtualAlloc),
     "MH_ERROR_MEMORY_ALLOC"},
    {"MemoryQueryFails", "VirtualQuery", reinterpret_cast<void*>(&failingVirtualQuery),
     "MH_ERROR_NOT_EXECUTABLE"},
};

constexpr std::uintptr_t kHooked[] = {
    addr::kTwoBodyContact,      addr::kStaticContact,      addr::kAlternateContact,
    addr::kGameShutdown,        addr::kShutdownForRestart, addr::kApplyComponentDamage,
    addr::kSecondDamageRoutine,
};

using namespace hook_lines;

template <typename Fn> std::uintptr_t codeOf(Fn* function) {
    return reinterpret_cast<std::uintptr_t>(function);
}

// The plug-in's replacement and its pointer to the game's own routine, in
// the order of kHooked.
struct HookedRoutine {
    std::uintptr_t replacement;
    void** original;
};

const HookedRoutine kHookedRoutines[] = {
    {codeOf(&fendrix::twoBodyContactHook), &fendrix::twoBodyContactOriginal},
    {codeOf(&fendrix::staticContactHook), &fendrix::staticContactOriginal},
    {codeOf(&fendrix::alternateContactHook), &fendrix::alternateContactOriginal},
    {codeOf(&fendrix::cgameShutdownHook), &fendrix::cgameShutdownOriginal},
    {codeOf(&fendrix::restartShutdownHook), &fendrix::restartShutdownOriginal},
    {codeOf(&fendrix::retainDamage), &fendrix::retainDamageOriginal},
    {codeOf(&fendrix::forgetRetention), &fendrix::forgetRetentionOriginal},
};
static_assert(std::size(kHookedRoutines) == std::size(kHooked));

constexpr std::size_t kJumpLength = sizeof(fendrix::CallRel32); // E9 and its rel32, as a call

// The routine's entry jumps to the replacement.
bool jumpsTo(std::uintptr_t routine, std::uintptr_t replacement) {
    return testbed::readValue<std::uint8_t>(routine) == fendrix::kJmpRel32 &&
           testbed::callTarget(routine) == replacement;
}

// A routine of the game spoiled for the test's span.
Injection spoiled(std::uintptr_t address, testbed::Spoil how) {
    auto routine = std::make_shared<testbed::SpoiledRoutine>(address, how);
    return undoneBy([routine] { routine->restore(); });
}

// Both installations of the first frame, run in-process. Whatever the engine
// holds afterwards, and the plug-in's pointers and flags, go back to how they
// were, so that the next test meets a fresh engine.
class HookInstallTest : public core_test::CoreTest {
  protected:
    void SetUp() override {
        CoreTest::SetUp();
        savedSettings_ = fendrix::settings;
        fendrix::settings = fendrix::Settings{};
        for (std::size_t i = 0; i < std::size(kHookedRoutines); ++i) {
            originals_[i] = *kHookedRoutines[i].original;
            before_.push_back(testbed::routineBytes(kHooked[i]));
        }
        flags_ = {fendrix::contactInstallAttempted, fendrix::contactHooksActive,
                  fendrix::retentionInstallAttempted};
    }
    void TearDown() override {
        for (std::uintptr_t a : kHooked) {
            MH_DisableHook(reinterpret_cast<void*>(a));
            MH_RemoveHook(reinterpret_cast<void*>(a));
        }
        for (std::size_t i = 0; i < std::size(kHookedRoutines); ++i) {
            *kHookedRoutines[i].original = originals_[i];
        }
        fendrix::contactInstallAttempted = flags_[0];
        fendrix::contactHooksActive = flags_[1];
        fendrix::retentionInstallAttempted = flags_[2];
        fendrix::settings = savedSettings_;
        CoreTest::TearDown();
    }

    void install() {
        fendrix::installContactHooks();
        fendrix::installRetentionHooks();
    }

    // Takes the bytes anew (after a routine was spoiled).
    void takeBytesBefore() {
        for (std::size_t i = 0; i < std::size(kHooked); ++i) {
            before_[i] = testbed::routineBytes(kHooked[i]);
        }
    }

    void expectBytesAsBefore(const std::vector<std::uintptr_t>& except = {}) const {
        for (std::size_t i = 0; i < std::size(kHooked); ++i) {
            if (std::find(except.begin(), except.end(), kHooked[i]) == except.end()) {
                EXPECT_EQ(testbed::routineBytes(kHooked[i]), before_[i]) << std::hex << kHooked[i];
            }
        }
    }

    // The game's contact routine runs as its own and hands back its result.
    static void expectStaticContactRunsAsTheGames() {
        const int calls = testbed::game().staticCalls;
        host::ColPoint point = {};
        float impulse = 0.0f;
        EXPECT_EQ(testbed::callStaticContact(nullptr, &point, &impulse),
                  testbed::game().collision.result);
        EXPECT_EQ(testbed::game().staticCalls, calls + 1);
    }

  private:
    fendrix::Settings savedSettings_;
    void* originals_[std::size(kHookedRoutines)] = {};
    std::vector<testbed::RoutineBytes> before_;
    std::array<bool, 3> flags_{};
};

class HookInstallHostFailure : public HookInstallTest,
                               public testing::WithParamInterface<HookFailure> {};

// The first frame's two installations with the call failing throughout: the
// first entry of each group fails, each group says so once and leaves every
// routine as it was, and the game's routines go on running as its own. (That
// a later frame installs nothing is the frame driver's: hook_install_test.)
TEST_P(HookInstallHostFailure, BothGroupsSayItOnceAndLeaveTheGameAlone) {
    const HookFailure& c = GetParam();
    {
        const ImportSwap failing(c.function, c.replacement);
        ASSERT_TRUE(failing.active());
        install();
    }
    const Lines expected = {creationFailed(addr::kTwoBodyContact, c.status), kRetentionConflict};
    EXPECT_EQ(log_.lines(), expected);
    EXPECT_FALSE(fendrix::contactHooksActive);
    expectBytesAsBefore();
    expectStaticContactRunsAsTheGames();
}

INSTANTIATE_TEST_SUITE_P(Calls, HookInstallHostFailure, testing::ValuesIn(kHookFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Under the hook installation: the thread hold, and MH_Initialize

// Holds of the other threads refused so far: every refused snapshot or
// unreadable thread list is one switch of the engine that could not go on.
int gRefusedHolds = 0;

HANDLE WINAPI refusedSnapshot(DWORD, DWORD) {
    ++gRefusedHolds;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
}
BOOL WINAPI unreadableThreadList(HANDLE, LPTHREADENTRY32) {
    ++gRefusedHolds;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

struct HoldFailure {
    const char* name;
    const char* function; // the KERNEL32 call under the thread hold that fails
    void* replacement;
    std::uintptr_t unhookable; // a routine spoiled so that its creation fails; 0: none
    Lines lines;
    // One refused hold per MH_EnableHook and per MH_RemoveHook: creation holds
    // nothing, nor does disabling a hook that was never enabled.
    int holds;
    // Hooks created, never enabled, and left by the roll-back's failed removal.
    std::vector<std::uintptr_t> leftCreated;
};

void PrintTo(const HoldFailure& c, std::ostream* out) {
    *out << c.name;
}

const std::vector<std::uintptr_t> kAllHooked(std::begin(kHooked), std::end(kHooked));

const HoldFailure kHoldFailures[] = {
    // Each group: the first activation fails (1), the roll-back removes every
    // entry and each removal fails (5, then 2).
    {"SnapshotRefused",
     "CreateToolhelp32Snapshot",
     reinterpret_cast<void*>(&refusedSnapshot),
     0,
     {kActivationFailed, kRetentionActivationFailed},
     1 + 5 + 1 + 2,
     kAllHooked},
    {"ThreadListUnreadable",
     "Thread32First",
     reinterpret_cast<void*>(&unreadableThreadList),
     0,
     {kActivationFailed, kRetentionActivationFailed},
     1 + 5 + 1 + 2,
     kAllHooked},
    // The third contact entry cannot be created: the two before it are to be
    // removed and neither removal can be (2); part retention as above (1 + 2).
    {"ThirdContactEntryUnhookable",
     "CreateToolhelp32Snapshot",
     reinterpret_cast<void*>(&refusedSnapshot),
     addr::kAlternateContact,
     {creationFailed(addr::kAlternateContact, "MH_ERROR_UNSUPPORTED_FUNCTION"),
      kRetentionActivationFailed},
     2 + 1 + 2,
     {addr::kTwoBodyContact, addr::kStaticContact, addr::kApplyComponentDamage,
      addr::kSecondDamageRoutine}},
    // The second part-retention routine cannot be hooked: the first one's
    // removal fails (1) after the contact group's activation and roll-back (1 + 5).
    {"SecondRetentionRoutineUnhookable",
     "CreateToolhelp32Snapshot",
     reinterpret_cast<void*>(&refusedSnapshot),
     addr::kSecondDamageRoutine,
     {kActivationFailed, kRetentionConflict},
     1 + 5 + 1,
     {addr::kTwoBodyContact, addr::kStaticContact, addr::kAlternateContact, addr::kGameShutdown,
      addr::kShutdownForRestart, addr::kApplyComponentDamage}},
};

class HookInstallThreadHold : public HookInstallTest,
                              public testing::WithParamInterface<HoldFailure> {};

// No other thread can be held throughout the first frame's two installations:
// each group says its line once, no routine changes, the failed roll-back is
// neither logged nor acted on, and its hooks stay with the engine, disabled,
// to be removed once threads can be held.
TEST_P(HookInstallThreadHold, EachGroupSaysItOnceAndNoRoutineChanges) {
    const HoldFailure& c = GetParam();
    Injection spoil;
    if (c.unhookable != 0) {
        spoil = spoiled(c.unhookable, testbed::Spoil::Return);
        takeBytesBefore();
    }
    gRefusedHolds = 0;
    {
        const ImportSwap failing(c.function, c.replacement);
        ASSERT_TRUE(failing.active()) << "the engine imports " << c.function;
        install();
    }
    EXPECT_EQ(log_.lines(), c.lines);
    EXPECT_FALSE(fendrix::contactHooksActive);
    EXPECT_EQ(gRefusedHolds, c.holds);
    expectBytesAsBefore();
    expectStaticContactRunsAsTheGames();

    // Threads can be held again: what the roll-back could not remove goes now.
    for (std::uintptr_t a : kHooked) {
        const bool left =
            std::find(c.leftCreated.begin(), c.leftCreated.end(), a) != c.leftCreated.end();
        const MH_STATUS expected = left ? MH_ERROR_DISABLED : MH_ERROR_NOT_CREATED;
        EXPECT_STREQ(MH_StatusToString(MH_DisableHook(reinterpret_cast<void*>(a))),
                     MH_StatusToString(expected))
            << std::hex << a;
        EXPECT_STREQ(MH_StatusToString(MH_RemoveHook(reinterpret_cast<void*>(a))),
                     MH_StatusToString(left ? MH_OK : MH_ERROR_NOT_CREATED))
            << std::hex << a;
    }
    expectBytesAsBefore();
}

INSTANTIATE_TEST_SUITE_P(Calls, HookInstallThreadHold, testing::ValuesIn(kHoldFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// For its span, calls to a function linked into this program go to
// `replacement`: a jump over the function's first bytes, put back afterwards.
// The function must be longer than the jump and not running meanwhile.
class RedirectedFunction {
  public:
    RedirectedFunction(void* function, const void* replacement)
        : at_(static_cast<std::uint8_t*>(function)) {
        std::memcpy(saved_, at_, kJumpLength);
        std::uint8_t jump[kJumpLength] = {fendrix::kJmpRel32};
        const std::int32_t displacement =
            testbed::rel32(reinterpret_cast<std::uintptr_t>(at_) + kJumpLength, replacement);
        std::memcpy(jump + 1, &displacement, sizeof displacement);
        active_ = write(jump);
    }
    ~RedirectedFunction() {
        if (active_) {
            write(saved_);
        }
    }
    RedirectedFunction(const RedirectedFunction&) = delete;
    RedirectedFunction& operator=(const RedirectedFunction&) = delete;

    bool active() const { return active_; }

  private:
    bool write(const std::uint8_t* bytes) {
        DWORD protection = 0;
        if (!VirtualProtect(at_, kJumpLength, PAGE_EXECUTE_READWRITE, &protection)) {
            return false;
        }
        std::memcpy(at_, bytes, kJumpLength);
        VirtualProtect(at_, kJumpLength, protection, &protection);
        FlushInstructionCache(GetCurrentProcess(), at_, kJumpLength);
        return true;
    }

    std::uint8_t* at_;
    std::uint8_t saved_[kJumpLength] = {};
    bool active_ = false;
};

// The bundled engine's MH_Initialize answers only MH_OK or
// MH_ERROR_ALREADY_INITIALIZED. Its stand-in fails one call, counted from
// the first, with a status a MinHook build can give; the others get what the
// engine, already initialized, answers.
int gInitializeCalls = 0;
int gFailingInitializeCall = 0;

MH_STATUS WINAPI standInInitialize() {
    ++gInitializeCalls;
    return gInitializeCalls == gFailingInitializeCall ? MH_ERROR_MEMORY_ALLOC
                                                      : MH_ERROR_ALREADY_INITIALIZED;
}

struct InitializeFailure {
    const char* name;
    int failingCall; // 1: the contact group's, 2: part retention's
    Lines lines;
    bool contactActive;
    std::vector<std::uintptr_t> hooked; // routines whose entry jumps to the replacement
};

void PrintTo(const InitializeFailure& c, std::ostream* out) {
    *out << c.name;
}

const InitializeFailure kInitializeFailures[] = {
    {"ContactGroup",
     1,
     {kContactInitFailed, retentionActive(kDefaultAttempts)},
     false,
     {addr::kApplyComponentDamage, addr::kSecondDamageRoutine}},
    {"PartRetention",
     2,
     {kLifecycleActive, kContactActive},
     true,
     {addr::kTwoBodyContact, addr::kStaticContact, addr::kAlternateContact, addr::kGameShutdown,
      addr::kShutdownForRestart}},
};

class HookInstallInitializeFailure : public HookInstallTest,
                                     public testing::WithParamInterface<InitializeFailure> {};

// One group's MH_Initialize fails: that group installs nothing, the contact
// group saying so, and the other group is installed as usual.
TEST_P(HookInstallInitializeFailure, OnlyThatGroupIsLeftOut) {
    const InitializeFailure& c = GetParam();
    const MH_STATUS ready = MH_Initialize();
    ASSERT_TRUE(ready == MH_OK || ready == MH_ERROR_ALREADY_INITIALIZED)
        << MH_StatusToString(ready);
    gInitializeCalls = 0;
    gFailingInitializeCall = c.failingCall;
    {
        const RedirectedFunction failing(reinterpret_cast<void*>(&MH_Initialize),
                                         reinterpret_cast<const void*>(&standInInitialize));
        ASSERT_TRUE(failing.active());
        install();
    }
    EXPECT_EQ(gInitializeCalls, 2) << "once per group";
    EXPECT_EQ(log_.lines(), c.lines);
    EXPECT_EQ(fendrix::contactHooksActive, c.contactActive);
    for (std::size_t i = 0; i < std::size(kHooked); ++i) {
        const bool hooked =
            std::find(c.hooked.begin(), c.hooked.end(), kHooked[i]) != c.hooked.end();
        EXPECT_EQ(jumpsTo(kHooked[i], kHookedRoutines[i].replacement), hooked)
            << std::hex << kHooked[i];
    }
    expectBytesAsBefore(c.hooked);
    if (!c.contactActive) {
        expectStaticContactRunsAsTheGames();
    }

    // What was installed comes out again whole.
    for (std::uintptr_t a : c.hooked) {
        EXPECT_EQ(MH_DisableHook(reinterpret_cast<void*>(a)), MH_OK) << std::hex << a;
        EXPECT_EQ(MH_RemoveHook(reinterpret_cast<void*>(a)), MH_OK) << std::hex << a;
    }
    expectBytesAsBefore();
}

INSTANTIATE_TEST_SUITE_P(Calls, HookInstallInitializeFailure,
                         testing::ValuesIn(kInitializeFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Where a module is named

struct ModuleQueryFailure {
    const char* name;
    const char* function; // the KERNEL32 call that fails
    void* replacement;
};

void PrintTo(const ModuleQueryFailure& c, std::ostream* out) {
    *out << c.name;
}

const ModuleQueryFailure kModuleQueryFailures[] = {
    {"ModuleOfAnAddressUnknown", "GetModuleHandleExA",
     reinterpret_cast<void*>(&failingGetModuleHandleEx)},
    {"ModuleFileNameUnreadable", "GetModuleFileNameA",
     reinterpret_cast<void*>(&failingGetModuleFileName)},
    {"ModuleFileNameFillsTheBuffer", "GetModuleFileNameA",
     reinterpret_cast<void*>(&unterminatedGetModuleFileName)},
};

class ModuleQuery : public core_test::CoreTest,
                    public testing::WithParamInterface<ModuleQueryFailure> {};

// Another mod's code in a DLL that the loader cannot name: the line still
// comes, with the name left open.
TEST_P(ModuleQuery, ChainingLineSaysUnknownModule) {
    const ModuleQueryFailure& c = GetParam();
    const auto elsewhere =
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount"));
    ASSERT_NE(elsewhere, nullptr);
    {
        const ImportSwap failing(c.function, c.replacement);
        ASSERT_TRUE(failing.active());
        fendrix::reportDisplacedTarget(addr::kRenderwareShutdownCall, elsewhere);
    }
    EXPECT_EQ(log_.lines(), Lines{"Call site 004A5B8E chained through unknown module."});

    // Asked again with the loader answering, the module is named.
    log_.clear();
    fendrix::reportDisplacedTarget(addr::kRenderwareShutdownCall, elsewhere);
    const Lines named = log_.lines();
    ASSERT_EQ(named.size(), 1u);
    EXPECT_EQ(named[0].find("unknown module"), std::string::npos) << named[0];
}

// The value of a "name=VALUE" field of a report line, read as hexadecimal.
std::uintptr_t hexField(const std::string& line, const std::string& name) {
    const std::size_t at = line.find(" " + name + "=");
    EXPECT_NE(at, std::string::npos) << name << " in " << line;
    if (at == std::string::npos) {
        return 0;
    }
    return static_cast<std::uintptr_t>(
        std::strtoul(line.c_str() + at + name.size() + 2, nullptr, 16));
}

// A fault whose module cannot be found or named: both report lines come, the
// module name empty; without a module the offset is the address itself.
TEST_P(ModuleQuery, CrashReportLeavesTheModuleOpen) {
    const ModuleQueryFailure& c = GetParam();
    // Registered once per process: the plug-in's handler, then the game's own,
    // which resolves the fault afterwards.
    static const bool registered = [] {
        fendrix::registerCrashHandler();
        testbed::installFaultRoutine();
        return true;
    }();
    ASSERT_TRUE(registered);
    const int resolved = testbed::resolvedExceptions();
    constexpr std::uintptr_t kTarget = 0x10;
    const std::uintptr_t parameters[] = {1, kTarget};
    {
        const ImportSwap failing(c.function, c.replacement);
        ASSERT_TRUE(failing.active());
        testbed::raiseContinuable(EXCEPTION_ACCESS_VIOLATION, 2, parameters);
    }
    ASSERT_EQ(testbed::resolvedExceptions(), resolved + 1);
    const Lines lines = log_.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("EXCEPTION code=C0000005 ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(" module= offset="), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(" access=1 target=00000010 "), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1].rfind("REGISTERS ", 0), 0u) << lines[1];
    const std::uintptr_t address = hexField(lines[0], "address");
    HMODULE module = nullptr;
    const bool found = std::strcmp(c.function, "GetModuleHandleExA") != 0 &&
                       GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                          reinterpret_cast<LPCSTR>(address), &module) != FALSE;
    const auto base = found ? reinterpret_cast<std::uintptr_t>(module) : 0;
    EXPECT_EQ(hexField(lines[0], "offset"), (address - base) & 0xFFFFFFFFu);
    EXPECT_STREQ(fendrix::currentPhase(), "after exception report");
}

INSTANTIATE_TEST_SUITE_P(Calls, ModuleQuery, testing::ValuesIn(kModuleQueryFailures),
                         [](const auto& info) { return std::string(info.param.name); });

class ImageHeaders : public core_test::CoreTest {};

// Whether a call leads into the game's own code is read from the game's image
// headers. Where they cannot be read, the game's code is named like another
// mod's: a line too many, never one missing.
TEST_F(ImageHeaders, UnreadableHeadersNameTheGamesOwnCode) {
    const auto* gameCode = reinterpret_cast<const void*>(addr::kStaticContact);
    fendrix::reportDisplacedTarget(addr::kRenderwareShutdownCall, gameCode);
    EXPECT_EQ(log_.lines(), Lines{}) << "the game's own code is not named";
    {
        const Injected failure = failingMemoryQuery();
        fendrix::reportDisplacedTarget(addr::kRenderwareShutdownCall, gameCode);
        EXPECT_TRUE(failure.happened());
    }
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, sizeof path);
    std::string name(path);
    name = name.substr(name.find_last_of("\\/") + 1);
    EXPECT_EQ(log_.lines(), Lines{"Call site 004A5B8E chained through " + name + "."});
}

} // namespace
