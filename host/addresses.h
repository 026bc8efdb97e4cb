#pragma once
// Every fixed address of the host executable (Vice City 1.0 English, image base
// 0x400000) that the plug-in reads, writes, calls or patches.
#include <cstdint>

namespace host::addr {

// Identity of the executable.
inline constexpr std::uintptr_t kImageBase = 0x400000;
inline constexpr std::uintptr_t kSignature = 0x667BF0;
inline constexpr std::uint32_t kSignatureValue = 0x53E58955; // 55 89 E5 53 in memory

// Call sites redirected at start-up (each holds E8 rel32).
inline constexpr std::uintptr_t kRenderwareShutdownCall = 0x4A5B8E;
inline constexpr std::uintptr_t kPoolsShutdownCall = 0x4A4AE4;
inline constexpr std::uintptr_t kGameProcessCall = 0x4A5DA0;

// Routines hooked on the first frame.
inline constexpr std::uintptr_t kTwoBodyContact = 0x4B6600;
inline constexpr std::uintptr_t kStaticContact = 0x4B8AA0;
inline constexpr std::uintptr_t kAlternateContact = 0x4B5DB0;
inline constexpr std::uintptr_t kGameShutdown = 0x4A49E0;
inline constexpr std::uintptr_t kShutdownForRestart = 0x4A47B0;
inline constexpr std::uintptr_t kApplyComponentDamage = 0x5A9650;
inline constexpr std::uintptr_t kSecondDamageRoutine = 0x5A9890;

// Host functions called through game::.
inline constexpr std::uintptr_t kForAllAtomics = 0x640D00;
inline constexpr std::uintptr_t kVehicleByRef = 0x4BFFC0;
inline constexpr std::uintptr_t kVehicleRef = 0x4BFFE0;
inline constexpr std::uintptr_t kPlayerVehicle = 0x4BC1E0;
inline constexpr std::uintptr_t kPlayerPed = 0x4BC120;
inline constexpr std::uintptr_t kCreateGeometry = 0x64CDB0;
inline constexpr std::uintptr_t kDestroyGeometry = 0x64CFE0;
inline constexpr std::uintptr_t kSetGeometry = 0x640ED0;
inline constexpr std::uintptr_t kLockGeometry = 0x64CCD0;
inline constexpr std::uintptr_t kUnlockGeometry = 0x64CD00;
inline constexpr std::uintptr_t kFrameLTM = 0x644D80;
inline constexpr std::uintptr_t kFrameName = 0x580600;
inline constexpr std::uintptr_t kGeometrySkin = 0x649960;
inline constexpr std::uintptr_t kTriangleVertices = 0x64CC00;
inline constexpr std::uintptr_t kTriangleMaterial = 0x64CC30;
inline constexpr std::uintptr_t kGetDoorStatus = 0x5A9810;
inline constexpr std::uintptr_t kSetDoorStatus = 0x5A9820;
inline constexpr std::uintptr_t kGetLightStatus = 0x5A9870;

// Host data.
inline constexpr std::uintptr_t kVehiclePool = 0xA0FDE4;      // pointer, 0 when none
inline constexpr std::uintptr_t kRwEngineInstance = 0x7870C0; // must be non-zero
inline constexpr std::uintptr_t kUpdateSuspendA = 0xA10B36;   // bit 0 suspends the update
inline constexpr std::uintptr_t kUpdateSuspendB = 0xA10B76;   // bit 0 suspends the update
inline constexpr std::uintptr_t kGameClockMs = 0x974B2C;
inline constexpr std::uintptr_t kModelInfoArray =
    0x40B824; // address of the model-info pointer array

// The whole range above, for a host image that must cover it.
inline constexpr std::uintptr_t kLowest = kModelInfoArray;
inline constexpr std::uintptr_t kHighest = kUpdateSuspendB;

} // namespace host::addr
