#include "testbed/game.h"

#include <windows.h>

#include "host/addresses.h"
#include "host/compiler.h"
#include "testbed/engine_geometry.h"
#include "testbed/host_image.h"
#include "testbed/vehicles.h"

namespace testbed {

namespace addr = host::addr;

namespace {

GameState gState;

std::uintptr_t gFrameRoutine = 0;
std::uintptr_t gRenderwareShutdownRoutine = 0;
std::uintptr_t gPoolsShutdownRoutine = 0;

void FX_CDECL gameProcess() {
    ++gState.gameProcessCalls;
    publishClock();
    if (gState.physics) {
        gState.physics();
    }
    world().clockMs += world().clockStepMs;
}
void FX_CDECL renderwareShutdown() {
    ++gState.renderwareShutdownCalls;
}
void FX_CDECL poolsShutdown() {
    ++gState.poolsShutdownCalls;
    leavePoolDangling();
}
void shutDownTheWorld() {
    if (gState.worldShutdown) {
        gState.worldShutdown();
    }
}

// CGame::ShutDown deletes the world's vehicles, then the pools from inside,
// through its own call site.
std::int32_t FX_CDECL gameShutdown() {
    ++gState.gameShutdownCalls;
    shutDownTheWorld();
    runPoolsShutdown();
    return gState.gameShutdownResult;
}
void FX_CDECL shutdownForRestart() {
    ++gState.restartShutdownCalls;
    shutDownTheWorld();
}

// Collision routines: member convention, the callee pops its stack arguments.
// The routine has applied its collision; the point it was given is scratch now.
void touchPoint(host::ColPoint* point) {
    if (gState.collision.scramblePoint) {
        point->point = {1e30f, -1e30f, 1e30f};
        point->normal = {0.0f, 0.0f, 0.0f};
        point->pieceA = 0xEE;
        point->pieceB = 0xEE;
    }
}

std::uint8_t FX_MEMBER twoBodyContact(void* self, FX_MEMBER_EDX, void* other, host::ColPoint* point,
                                      float* impulseA, float* impulseB) {
    ++gState.twoBodyCalls;
    gState.seen = {self, other, nullptr, point, 0, 0};
    touchPoint(point);
    *impulseA = gState.collision.impulseA;
    *impulseB = gState.collision.impulseB;
    return gState.collision.result;
}
std::uint8_t FX_MEMBER staticContact(void* self, FX_MEMBER_EDX, host::ColPoint* point,
                                     float* impulse) {
    ++gState.staticCalls;
    gState.seen = {self, nullptr, nullptr, point, 0, 0};
    touchPoint(point);
    *impulse = gState.collision.impulseA;
    return gState.collision.result;
}
std::uint8_t FX_MEMBER alternateContact(void* self, FX_MEMBER_EDX, void* arg, host::ColPoint* point,
                                        float* impulse, std::int32_t extraA, std::int32_t extraB) {
    ++gState.alternateCalls;
    gState.seen = {self, nullptr, arg, point, extraA, extraB};
    touchPoint(point);
    *impulse = gState.collision.impulseA;
    return gState.collision.result;
}

// Damage-state routines (member convention). Damage to a door or body part
// takes it one stage on (3: the part comes off), as the game's routine does.
constexpr std::int32_t kFirstDoor = 5;
constexpr std::int32_t kLastDoor = 10;
constexpr std::int32_t kFirstPanel = 11;
constexpr std::int32_t kLastPanel = 14;
constexpr std::int32_t kFirstUpperPart = 16;
constexpr std::int32_t kLastUpperPart = 17;
constexpr unsigned kUpperPartFirstBit = 20;
constexpr unsigned kBitsPerPart = 4;
constexpr std::uint32_t kPartMask = 0xF;
constexpr std::uint32_t kLastStage = 3;

void advancePart(host::DamageState* self, unsigned bit) {
    const std::uint32_t stage = (self->panelStatus >> bit) & kPartMask;
    if (stage < kLastStage) {
        self->panelStatus = (self->panelStatus & ~(kPartMask << bit)) | ((stage + 1) << bit);
    }
}

std::uint8_t FX_MEMBER applyComponentDamage(host::DamageState* self, FX_MEMBER_EDX,
                                            std::int32_t component, float /*a*/, float /*b*/) {
    ++gState.applyDamageCalls;
    if (self == nullptr) {
        return 1;
    }
    if (component >= kFirstDoor && component <= kLastDoor) {
        std::uint8_t& door = self->doorStatus[component - kFirstDoor];
        door = static_cast<std::uint8_t>(door < kLastStage ? door + 1 : door);
    } else if (component >= kFirstPanel && component <= kLastPanel) {
        advancePart(self, kBitsPerPart * static_cast<unsigned>(component - kFirstPanel));
    } else if (component >= kFirstUpperPart && component <= kLastUpperPart) {
        advancePart(self, kUpperPartFirstBit +
                              kBitsPerPart * static_cast<unsigned>(component - kFirstUpperPart));
    }
    return 1;
}
std::uint32_t FX_MEMBER secondDamageRoutine(host::DamageState* /*self*/, FX_MEMBER_EDX) {
    ++gState.secondDamageCalls;
    return 0;
}
std::uint8_t FX_MEMBER getDoorStatus(host::DamageState* self, FX_MEMBER_EDX, std::int32_t door) {
    return self->doorStatus[door];
}
void FX_MEMBER setDoorStatus(host::DamageState* self, FX_MEMBER_EDX, std::int32_t door,
                             std::uint32_t status) {
    self->doorStatus[door] = static_cast<std::uint8_t>(status);
}
constexpr unsigned kLightBits = 2;
constexpr std::uint32_t kLightMask = 0x3;
std::uint8_t FX_MEMBER getLightStatus(host::DamageState* self, FX_MEMBER_EDX, std::int32_t light) {
    return static_cast<std::uint8_t>((self->lightStatus >> (kLightBits * light)) & kLightMask);
}

const void* fn(auto* function) {
    return reinterpret_cast<const void*>(function);
}

} // namespace

GameState& game() {
    return gState;
}

void installGame() {
    openHostImage();
    writeValue(addr::kSignature, addr::kSignatureValue);

    gFrameRoutine = installCallSite(addr::kGameProcessCall, fn(&gameProcess));
    gRenderwareShutdownRoutine =
        installCallSite(addr::kRenderwareShutdownCall, fn(&renderwareShutdown));
    gPoolsShutdownRoutine = installCallSite(addr::kPoolsShutdownCall, fn(&poolsShutdown));

    installRoutine(addr::kGameShutdown, fn(&gameShutdown));
    installRoutine(addr::kShutdownForRestart, fn(&shutdownForRestart));
    installRoutine(addr::kTwoBodyContact, fn(&twoBodyContact));
    installRoutine(addr::kStaticContact, fn(&staticContact));
    installRoutine(addr::kAlternateContact, fn(&alternateContact), Prologue::HotPatch);
    installRoutine(addr::kApplyComponentDamage, fn(&applyComponentDamage));
    installRoutine(addr::kSecondDamageRoutine, fn(&secondDamageRoutine));
    installRoutine(addr::kGetDoorStatus, fn(&getDoorStatus));
    installRoutine(addr::kSetDoorStatus, fn(&setDoorStatus));
    installRoutine(addr::kGetLightStatus, fn(&getLightStatus));
    installEngineGeometry();
    installVehicles();
}

namespace {
using Routine = void(FX_CDECL*)();
}

void runGameFrame() {
    reinterpret_cast<Routine>(gFrameRoutine)();
}
void runRenderwareShutdown() {
    reinterpret_cast<Routine>(gRenderwareShutdownRoutine)();
}
void runPoolsShutdown() {
    reinterpret_cast<Routine>(gPoolsShutdownRoutine)();
}

std::uint8_t callTwoBodyContact(void* self, void* other, host::ColPoint* point, float* impulseA,
                                float* impulseB) {
    using Fn =
        std::uint8_t(FX_MEMBER*)(void*, FX_MEMBER_EDX, void*, host::ColPoint*, float*, float*);
    return reinterpret_cast<Fn>(addr::kTwoBodyContact)(self, nullptr, other, point, impulseA,
                                                       impulseB);
}
std::uint8_t callStaticContact(void* self, host::ColPoint* point, float* impulse) {
    using Fn = std::uint8_t(FX_MEMBER*)(void*, FX_MEMBER_EDX, host::ColPoint*, float*);
    return reinterpret_cast<Fn>(addr::kStaticContact)(self, nullptr, point, impulse);
}
std::uint8_t callAlternateContact(void* self, void* arg, host::ColPoint* point, float* impulse,
                                  std::int32_t extraA, std::int32_t extraB) {
    using Fn = std::uint8_t(FX_MEMBER*)(void*, FX_MEMBER_EDX, void*, host::ColPoint*, float*,
                                        std::int32_t, std::int32_t);
    return reinterpret_cast<Fn>(addr::kAlternateContact)(self, nullptr, arg, point, impulse, extraA,
                                                         extraB);
}
std::int32_t callGameShutdown() {
    using Fn = std::int32_t(FX_CDECL*)();
    return reinterpret_cast<Fn>(addr::kGameShutdown)();
}
void callShutdownForRestart() {
    reinterpret_cast<Routine>(addr::kShutdownForRestart)();
}

} // namespace testbed
